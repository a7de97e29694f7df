#include "link/loop_wake.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace strandlink::link {

LoopWake::LoopWake(std::function<void(std::uint32_t)> onWake) : onWake_(std::move(onWake)) {
  fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_ >= 0) {
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
  }
}

LoopWake::~LoopWake() {
  notifier_.reset();
  if (fd_ >= 0) ::close(fd_);
}

void LoopWake::post(std::uint32_t bits) noexcept {
  // Only the first poster after a drain pays for the system call.
  if (pending_.fetch_or(bits, std::memory_order_acq_rel) == 0 && fd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
  }
}

void LoopWake::drain() {
  if (fd_ >= 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(fd_, &count, sizeof count);
  }
  const std::uint32_t bits = pending_.exchange(0, std::memory_order_acq_rel);
  if (bits != 0 && onWake_) onWake_(bits);
}

}  // namespace strandlink::link
