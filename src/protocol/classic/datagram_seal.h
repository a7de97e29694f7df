// The classic wire with a shared key: every datagram, on either port, ends in a
// trailer of 48 bytes, the sender's id (8 random bytes a run), its counter (8
// bytes, big-endian, one more for each datagram it sends) and the HMAC-SHA-256
// of the port it is sent to (one byte) and everything before the tag (32 bytes).
// The counter of a run starts at the wall clock in µs, so a restarted sender
// goes on above its last run; the id tells our own datagrams sent back to us
// from the peer's. Each port keeps a replay window of its own, since the two are
// read apart, and the port in the tag keeps a datagram from passing on the other.
//
// HMAC-SHA-256 (libsodium's) because it is the standard keyed MAC with published
// vectors, takes a key of any length and costs a microsecond on a short datagram.
#pragma once

#include <sodium.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/peer_notice.h"

namespace strandlink::protocol::classic {

inline constexpr std::size_t kSenderIdSize = 8;
inline constexpr std::size_t kCounterSize = 8;
inline constexpr std::size_t kTagSize = crypto_auth_hmacsha256_BYTES;
inline constexpr std::size_t kSealSize = kSenderIdSize + kCounterSize + kTagSize;

using SenderId = std::array<std::uint8_t, kSenderIdSize>;
using Tag = std::array<std::uint8_t, kTagSize>;

// HMAC-SHA-256 under one key, its inner and outer pads worked out once.
class DatagramKey {
 public:
  explicit DatagramKey(std::span<const std::uint8_t> key);
  ~DatagramKey();
  DatagramKey(const DatagramKey&) = delete;
  DatagramKey& operator=(const DatagramKey&) = delete;

  // Of prefix, then bytes. Any thread: no lock, no allocation.
  Tag tag(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> prefix = {}) const noexcept;

 private:
  crypto_auth_hmacsha256_state prepared_{};
};

// The wall clock in µs: where a run's counter starts, above every earlier run's
// that sent less than one datagram a µs.
std::uint64_t wallClockMicros();

// The sending side: one per session, shared by the MIDI thread and the loop's.
class DatagramSealer {
 public:
  explicit DatagramSealer(std::span<const std::uint8_t> key, std::uint64_t firstCounter = wallClockMicros());

  // Writes message and its trailer for the peer's port to out, which has room for
  // both (message.size() + kSealSize); the length written. Any thread: no lock,
  // no allocation.
  std::size_t seal(ClassicPort to, std::span<const std::uint8_t> message, std::span<std::uint8_t> out) noexcept;
  const SenderId& id() const { return id_; }

 private:
  DatagramKey key_;
  SenderId id_{};
  std::atomic<std::uint64_t> next_;
};

// The receiving side of one port; the loop's thread only. It keeps the highest
// counter taken and which of the 64 below it came, so a datagram late by a few is
// still played.
class DatagramOpener {
 public:
  // ownId: our sealer's, whose datagrams are never the peer's.
  DatagramOpener(std::span<const std::uint8_t> key, const SenderId& ownId, ClassicPort port);

  enum class Verdict { Fresh, Untagged, Replayed };
  struct Opened {
    Verdict verdict = Verdict::Untagged;
    std::span<const std::uint8_t> message;  // the datagram without its trailer, when fresh
  };
  Opened open(std::span<const std::uint8_t> datagram);

  static constexpr std::uint64_t kWindow = 64;

 private:
  DatagramKey key_;
  SenderId ownId_;
  std::uint8_t port_;
  bool any_ = false;
  std::uint64_t highest_ = 0;
  std::uint64_t seen_ = 0;  // bit i: highest_ - i was taken
};

}  // namespace strandlink::protocol::classic
