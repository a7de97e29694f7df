// Lines for standard output or standard error, written by a thread of their own,
// so that the loop (MIDI from the peer, the connection check) never waits on a
// terminal held by Ctrl+S or a pipe whose reader has stopped. The queue is
// bounded: when it is full, lines are dropped and counted, and once the output
// takes lines again a line says how many.
#pragma once

#include <QString>

#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>

namespace strandlink::headless {

class LineOutput {
 public:
  explicit LineOutput(int fd);
  // Waits a moment for what is queued (unless an earlier wait gave up), then leaves
  // a writer that is still stuck to the end of the process.
  ~LineOutput();
  LineOutput(const LineOutput&) = delete;
  LineOutput& operator=(const LineOutput&) = delete;

  // Queues one line (a newline is added); never waits on the output.
  void write(const QString& line);
  // Waits until everything queued is written, at most until the deadline; false
  // when the output did not take it in time (and later waits return at once).
  bool drain(std::chrono::milliseconds deadline = kDrainDeadline);

  static constexpr std::size_t kMaxLines = 1000;
  static constexpr std::size_t kMaxBytes = 1 << 20;
  static constexpr std::chrono::milliseconds kDrainDeadline{1000};

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::thread writer_;
  bool gaveUp_ = false;
};

}  // namespace strandlink::headless
