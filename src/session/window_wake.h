// Hands work from the MIDI callback thread to the window's thread without a lock,
// an allocation or a wait: the callback sets bits and, when it set the first one,
// writes an eventfd; the window's thread reads the eventfd and takes the bits.
// A burst of events thus costs the window one wake-up.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace strandlink {

class WindowWake {
 public:
  // onWake runs on the thread that made this object with the bits collected since.
  explicit WindowWake(std::function<void(std::uint32_t bits)> onWake);
  ~WindowWake();
  WindowWake(const WindowWake&) = delete;
  WindowWake& operator=(const WindowWake&) = delete;

  // Any thread. Never blocks.
  void post(std::uint32_t bits) noexcept;

  // Window thread: runs onWake for whatever is pending now (used before a Stop
  // finishes, and by tests that do not spin an event loop).
  void drain();

 private:
  int fd_ = -1;
  std::atomic<std::uint32_t> pending_{0};
  std::function<void(std::uint32_t)> onWake_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace strandlink
