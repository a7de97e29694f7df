#include "headless/chat_input.h"

#include <unistd.h>

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/link.h"

namespace strandlink::headless {

ChatInput::ChatInput(int fd, std::function<void(const QString&)> sendLine, std::function<void(const QString&)> tell)
    : fd_(fd), sendLine_(std::move(sendLine)), tell_(std::move(tell)), notifier_(fd, QSocketNotifier::Read) {
  QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { readSome(); });
  resume_.setSingleShot(true);
  resume_.setInterval(kPauseMs);
  QObject::connect(&resume_, &QTimer::timeout, [this] { notifier_.setEnabled(true); });
}

void ChatInput::readSome() {
  char chunk[kChunkBytes];
  const ssize_t n = ::read(fd_, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    notifier_.setEnabled(false);
    return;
  }
  take(chunk, std::size_t(n));
  if (cutting_) {
    notifier_.setEnabled(false);
    resume_.start();
  }
}

// Only the bytes just read are searched for line ends.
void ChatInput::take(const char* bytes, std::size_t size) {
  while (size > 0) {
    const char* end = static_cast<const char*>(std::memchr(bytes, '\n', size));
    const std::size_t length = end != nullptr ? std::size_t(end - bytes) : size;
    const std::size_t room = std::size_t(link::kChatLineLimit) - std::size_t(pending_.size());
    if (length > room && !cutting_) {
      cutting_ = true;
      tell_(QStringLiteral("Chat line cut to its first %1 bytes").arg(link::kChatLineLimit));
    }
    pending_.append(bytes, qsizetype(std::min(length, room)));
    if (end == nullptr) return;
    endLine();
    bytes = end + 1;
    size -= length + 1;
  }
}

void ChatInput::endLine() {
  if (pending_.endsWith('\r')) pending_.chop(1);
  sendLine_(QString::fromLocal8Bit(pending_));
  pending_.clear();
  cutting_ = false;
}

}  // namespace strandlink::headless
