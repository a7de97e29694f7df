// A bounded lock-free queue of small values (32-bit words by default) for any
// number of threads on either side (the cell-sequence ring of D. Vyukov). The
// output ports park packed messages in it, so that a thread never waits for
// another thread's send.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace strandlink::midi {

template <std::size_t Capacity, class Word = std::uint32_t>
class WordQueue {
  static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "a power of two");

 public:
  WordQueue() {
    for (std::size_t i = 0; i < Capacity; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
  }
  WordQueue(const WordQueue&) = delete;
  WordQueue& operator=(const WordQueue&) = delete;

  // False when the queue is full.
  bool push(const Word& word) {
    std::size_t pos = tail_.load(std::memory_order_relaxed);
    for (;;) {
      Cell& cell = cells_[pos & (Capacity - 1)];
      const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
      const auto diff = static_cast<std::ptrdiff_t>(seq - pos);
      if (diff == 0) {
        if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
          cell.word = word;
          // seq_cst, like ready(): see there.
          cell.sequence.store(pos + 1, std::memory_order_seq_cst);
          return true;
        }
      } else if (diff < 0) {
        return false;
      } else {
        pos = tail_.load(std::memory_order_relaxed);
      }
    }
  }

  // False when no word is ready (empty, or the oldest push is not finished yet).
  bool pop(Word& word) {
    std::size_t pos = head_.load(std::memory_order_relaxed);
    for (;;) {
      Cell& cell = cells_[pos & (Capacity - 1)];
      const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
      const auto diff = static_cast<std::ptrdiff_t>(seq - (pos + 1));
      if (diff == 0) {
        if (head_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
          word = cell.word;
          cell.sequence.store(pos + Capacity, std::memory_order_release);
          return true;
        }
      } else if (diff < 0) {
        return false;
      } else {
        pos = head_.load(std::memory_order_relaxed);
      }
    }
  }

  // Whether a finished push waits to be popped. Sequentially consistent with
  // push(), so that "push, then test a flag" on one thread and "clear the flag, then
  // ready()" on another cannot both miss each other.
  bool ready() const {
    const std::size_t pos = head_.load(std::memory_order_seq_cst);
    return cells_[pos & (Capacity - 1)].sequence.load(std::memory_order_seq_cst) == pos + 1;
  }

 private:
  struct Cell {
    std::atomic<std::size_t> sequence{0};
    Word word{};
  };
  std::array<Cell, Capacity> cells_;
  alignas(64) std::atomic<std::size_t> tail_{0};
  alignas(64) std::atomic<std::size_t> head_{0};
};

}  // namespace strandlink::midi
