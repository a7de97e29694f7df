// Big-endian reading and writing of the fixed-width fields of both wires. The
// reader never looks past the span it was given: a read past the end fails and
// leaves the reader where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace strandlink::protocol::rtp {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t position() const { return position_; }
  std::size_t remaining() const { return bytes_.size() - position_; }
  std::span<const std::uint8_t> rest() const { return bytes_.subspan(position_); }

  [[nodiscard]] bool peek(std::uint8_t& out) const {
    if (remaining() < 1) return false;
    out = bytes_[position_];
    return true;
  }
  [[nodiscard]] bool skip(std::size_t count) {
    if (remaining() < count) return false;
    position_ += count;
    return true;
  }
  template <typename T>
  [[nodiscard]] bool read(T& out) {
    if (remaining() < sizeof(T)) return false;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>((value << 8) | bytes_[position_ + i]);
    position_ += sizeof(T);
    out = value;
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

template <typename T>
void appendBigEndian(std::vector<std::uint8_t>& out, T value) {
  for (std::size_t i = sizeof(T); i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace strandlink::protocol::rtp
