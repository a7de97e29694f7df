// Standard input as chat: every complete line is sent; the end of input is not a
// stop (a link at boot has no terminal).
#pragma once

#include <QByteArray>
#include <QSocketNotifier>

#include <functional>

namespace strandlink::headless {

class ChatInput {
 public:
  ChatInput(int fd, std::function<void(const QString&)> sendLine);

 private:
  void readSome();

  int fd_;
  std::function<void(const QString&)> sendLine_;
  QSocketNotifier notifier_;
  QByteArray pending_;
};

}  // namespace strandlink::headless
