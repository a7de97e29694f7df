// Calls a handler on the thread that made it (the window's) whenever a socket has
// a datagram or an error waiting. The handler reads one datagram per call and is
// called again while more wait.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace strandlink::net {

class ReadNotifier {
 public:
  ReadNotifier(int fd, std::function<void()> onReadable);
  ~ReadNotifier();
  ReadNotifier(const ReadNotifier&) = delete;
  ReadNotifier& operator=(const ReadNotifier&) = delete;

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace strandlink::net
