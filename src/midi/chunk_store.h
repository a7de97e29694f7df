// Preallocated storage for long messages (SysEx) on their way from any thread to
// the real-time thread: fixed chunks, chained, taken from and given back to a
// lock-free free list. Storing may fail (not enough free chunks) but never waits,
// and reading and releasing neither allocate nor lock, so the JACK process
// callback can play what any thread stored, and store itself (thru).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "midi/word_queue.h"

namespace strandlink::midi {

class ChunkStore {
 public:
  static constexpr std::size_t kChunkBytes = 512;
  // 2 MiB: thirty-two SysEx of the longest an input delivers, waiting at once.
  static constexpr std::size_t kChunks = 4096;
  using Index = std::uint16_t;

  ChunkStore() : chunks_(std::make_unique<Chunk[]>(kChunks)) {
    for (std::size_t i = 0; i < kChunks; ++i) free_.push(Index(i));
  }
  ChunkStore(const ChunkStore&) = delete;
  ChunkStore& operator=(const ChunkStore&) = delete;

  // Any thread. Copies the bytes into a chain of chunks and says where it starts;
  // false when too few chunks are free (nothing is kept then).
  bool store(std::span<const std::uint8_t> bytes, Index& first) {
    const std::size_t count = std::max<std::size_t>(1, (bytes.size() + kChunkBytes - 1) / kChunkBytes);
    Index previous = 0;
    for (std::size_t k = 0; k < count; ++k) {
      Index chunk = 0;
      if (!free_.pop(chunk)) {
        if (k != 0) release(first, k * kChunkBytes);
        return false;
      }
      const std::size_t from = k * kChunkBytes;
      const std::size_t n = std::min(kChunkBytes, bytes.size() - from);
      std::copy_n(bytes.begin() + std::ptrdiff_t(from), n, chunks_[chunk].bytes.begin());
      if (k == 0) first = chunk;
      else chunks_[previous].next = chunk;
      previous = chunk;
    }
    return true;
  }

  // The consumer. Copies size bytes from offset into the message starting at first.
  void read(Index first, std::size_t offset, std::span<std::uint8_t> out) const {
    Index chunk = first;
    for (std::size_t skip = offset / kChunkBytes; skip > 0; --skip) chunk = chunks_[chunk].next;
    std::size_t at = offset % kChunkBytes;
    for (std::size_t done = 0; done < out.size();) {
      const std::size_t n = std::min(kChunkBytes - at, out.size() - done);
      std::copy_n(chunks_[chunk].bytes.begin() + std::ptrdiff_t(at), n, out.begin() + std::ptrdiff_t(done));
      done += n;
      at = 0;
      chunk = chunks_[chunk].next;
    }
  }

  // The consumer. Gives back the chunks of a message of size bytes.
  void release(Index first, std::size_t size) {
    const std::size_t count = std::max<std::size_t>(1, (size + kChunkBytes - 1) / kChunkBytes);
    Index chunk = first;
    for (std::size_t k = 0; k < count; ++k) {
      const Index next = chunks_[chunk].next;
      free_.push(chunk);
      chunk = next;
    }
  }

 private:
  struct Chunk {
    std::array<std::uint8_t, kChunkBytes> bytes{};
    Index next = 0;
  };
  std::unique_ptr<Chunk[]> chunks_;
  WordQueue<kChunks, Index> free_;
};

}  // namespace strandlink::midi
