// Standard input as chat: every complete line is sent; the end of input is not a
// stop (a link at boot has no terminal). A line longer than a peer reads is cut,
// and said so; input without newlines (say, < /dev/zero) costs neither memory nor
// a core: each byte is looked at once, and the rest of a cut line is read slowly.
#pragma once

#include <QByteArray>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>

namespace strandlink::headless {

class ChatInput {
 public:
  // sendLine gets each line; tell gets the one line that says a line was cut.
  ChatInput(int fd, std::function<void(const QString&)> sendLine, std::function<void(const QString&)> tell);

  // While the rest of a cut line is read: at most this much per pause.
  static constexpr int kChunkBytes = 64 * 1024;
  static constexpr int kPauseMs = 50;

 private:
  void readSome();
  void take(const char* bytes, std::size_t size);
  void endLine();

  int fd_;
  std::function<void(const QString&)> sendLine_;
  std::function<void(const QString&)> tell_;
  QSocketNotifier notifier_;
  QTimer resume_;
  QByteArray pending_;
  bool cutting_ = false;  // the line so far was cut: the rest of it is dropped
};

}  // namespace strandlink::headless
