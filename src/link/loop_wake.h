// Hands work from the MIDI thread to the thread that runs the link's event loop
// (the window's, or the window-less run's main thread) without a lock, an
// allocation or a wait: the MIDI thread sets bits and, when it set the first one,
// writes an eventfd; the loop's thread reads the eventfd and takes the bits. A
// burst of events thus costs the loop one wake-up.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace strandlink::link {

class LoopWake {
 public:
  // onWake runs on the thread that made this object with the bits collected since.
  explicit LoopWake(std::function<void(std::uint32_t bits)> onWake);
  ~LoopWake();
  LoopWake(const LoopWake&) = delete;
  LoopWake& operator=(const LoopWake&) = delete;

  // Any thread. Never blocks.
  void post(std::uint32_t bits) noexcept;

  // The loop's thread: runs onWake for whatever is pending now (used before a
  // Stop finishes).
  void drain();

 private:
  int fd_ = -1;
  std::atomic<std::uint32_t> pending_{0};
  std::function<void(std::uint32_t)> onWake_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace strandlink::link
