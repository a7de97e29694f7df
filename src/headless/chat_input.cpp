#include "headless/chat_input.h"

#include <unistd.h>

#include <QString>

namespace strandlink::headless {

ChatInput::ChatInput(int fd, std::function<void(const QString&)> sendLine)
    : fd_(fd), sendLine_(std::move(sendLine)), notifier_(fd, QSocketNotifier::Read) {
  QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { readSome(); });
}

void ChatInput::readSome() {
  char chunk[4096];
  const ssize_t n = ::read(fd_, chunk, sizeof chunk);
  if (n <= 0) {
    notifier_.setEnabled(false);
    return;
  }
  pending_.append(chunk, n);
  qsizetype end;
  while ((end = pending_.indexOf('\n')) >= 0) {
    QByteArray line = pending_.left(end);
    pending_.remove(0, end + 1);
    if (line.endsWith('\r')) line.chop(1);
    sendLine_(QString::fromLocal8Bit(line));
  }
}

}  // namespace strandlink::headless
