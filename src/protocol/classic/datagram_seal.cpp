#include "protocol/classic/datagram_seal.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace strandlink::protocol::classic {

std::uint64_t wallClockMicros() {
  using namespace std::chrono;
  return std::uint64_t(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

DatagramKey::DatagramKey(std::span<const std::uint8_t> key) {
  // Idempotent and thread-safe. It fails only without a source of randomness,
  // and a sender id from none would be no id at all.
  if (sodium_init() < 0) std::abort();
  crypto_auth_hmacsha256_init(&prepared_, key.data(), key.size());
}

DatagramKey::~DatagramKey() { sodium_memzero(&prepared_, sizeof prepared_); }

Tag DatagramKey::tag(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> prefix) const noexcept {
  crypto_auth_hmacsha256_state state = prepared_;
  Tag tag{};
  crypto_auth_hmacsha256_update(&state, prefix.data(), prefix.size());
  crypto_auth_hmacsha256_update(&state, bytes.data(), bytes.size());
  crypto_auth_hmacsha256_final(&state, tag.data());
  sodium_memzero(&state, sizeof state);
  return tag;
}

DatagramSealer::DatagramSealer(std::span<const std::uint8_t> key, std::uint64_t firstCounter)
    : key_(key), next_(firstCounter) {
  randombytes_buf(id_.data(), id_.size());
}

std::size_t DatagramSealer::seal(ClassicPort to, std::span<const std::uint8_t> message,
                                 std::span<std::uint8_t> out) noexcept {
  const std::uint64_t counter = next_.fetch_add(1, std::memory_order_relaxed);
  auto at = std::copy(message.begin(), message.end(), out.begin());
  at = std::copy(id_.begin(), id_.end(), at);
  for (int shift = 56; shift >= 0; shift -= 8) *at++ = std::uint8_t(counter >> shift);
  const std::size_t signedLength = std::size_t(at - out.begin());
  const std::array<std::uint8_t, 1> port{std::uint8_t(to)};
  const Tag tag = key_.tag(out.first(signedLength), port);
  std::copy(tag.begin(), tag.end(), at);
  return signedLength + kTagSize;
}

DatagramOpener::DatagramOpener(std::span<const std::uint8_t> key, const SenderId& ownId, ClassicPort port)
    : key_(key), ownId_(ownId), port_(std::uint8_t(port)) {}

DatagramOpener::Opened DatagramOpener::open(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < kSealSize) return {};
  const std::size_t signedLength = datagram.size() - kTagSize;
  const Tag tag = key_.tag(datagram.first(signedLength), std::span(&port_, 1));
  if (sodium_memcmp(tag.data(), datagram.data() + signedLength, kTagSize) != 0) return {};
  const std::size_t messageLength = signedLength - kSenderIdSize - kCounterSize;
  const auto id = datagram.subspan(messageLength, kSenderIdSize);
  if (std::equal(id.begin(), id.end(), ownId_.begin())) return {Verdict::Replayed, {}};
  std::uint64_t counter = 0;
  for (const std::uint8_t b : datagram.subspan(messageLength + kSenderIdSize, kCounterSize)) counter = counter << 8 | b;
  if (!any_ || counter > highest_) {
    const std::uint64_t ahead = any_ ? counter - highest_ : kWindow;
    seen_ = ahead >= kWindow ? 1 : seen_ << ahead | 1;
    highest_ = counter;
    any_ = true;
  } else {
    const std::uint64_t behind = highest_ - counter;
    if (behind >= kWindow || (seen_ >> behind & 1) != 0) return {Verdict::Replayed, {}};
    seen_ |= std::uint64_t(1) << behind;
  }
  return {Verdict::Fresh, datagram.first(messageLength)};
}

}  // namespace strandlink::protocol::classic
