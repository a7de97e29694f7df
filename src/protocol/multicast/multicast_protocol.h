// Raw MIDI to a multicast group, as the multicast MIDI gateways of a LAN speak it:
// every copy in the group hears every other, so a band shares one MIDI bus. There
// is no probe and no goodbye, and the gateways send nothing while idle: silence
// is no member leaving. The link counts as connected while the group is joined,
// the status line says how many members were heard, and a member's sounding notes
// are released once it has been silent so long that it is surely gone. Raw bytes
// carry no stamp, so steady timing plays at arrival plus the delay. No chat.
//
// The peer filter is not applied: a group has no one peer address to compare a
// sender with, and the group address is never a sender's.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/read_notifier.h"
#include "protocol/multicast/group_receiver.h"
#include "protocol/multicast/multicast_socket.h"
#include "protocol/other_wire.h"
#include "protocol/peer_protocol.h"

namespace strandlink::protocol::multicast {

class MulticastProtocol final : public PeerProtocol {
 public:
  explicit MulticastProtocol(const PeerContext& context);
  ~MulticastProtocol() override;

  [[nodiscard]] StartOutcome start(const PeerStart& start) override;
  void stop() override;
  bool running() const override { return running_; }

  [[nodiscard]] SendResult send(midi::MidiEventView event, std::int64_t playedMicros) noexcept override;
  net::SocketError lastSendError() const override { return lastSendError_.load(std::memory_order_relaxed); }

  protocol::LinkStatus status() const override { return status_; }
  std::optional<std::size_t> groupMembersHeard() const override {
    return running_ ? std::optional(members_) : std::nullopt;
  }
  void heldNotesReleased() override { receiver_.forgetHeld(); }
  void tick() override;
  LinkFigures figures() override;

  // The group joined; meaningful while running.
  const MulticastSocket& socket() const { return socket_; }
  // Every stream's counters in this session, garbage included.
  midi::StreamCounters received() const { return receiver_.totals(); }

  // A member silent this long is surely gone: what it left sounding is released,
  // and it is no longer counted. A held organ chord is silence too.
  static constexpr std::int64_t kMemberGoneMicros = 30'000'000;
  // The figures list a sender while it was heard within this long.
  static constexpr std::int64_t kPeerListedMicros = 60'000'000;

 private:
  void readDatagrams();
  void take(const sockaddr_in& from, std::span<const std::uint8_t> payload, std::int64_t arrivalMicros);
  void setStatus(protocol::LinkStatus status);
  void countMembers(std::int64_t nowMicros);
  void tellGarbage(std::int64_t nowMicros);

  PeerContext context_;
  MulticastSocket socket_;
  std::unique_ptr<net::ReadNotifier> notifier_;
  GroupReceiver receiver_;
  std::vector<std::uint8_t> buffer_;  // one datagram of any size
  bool running_ = false;
  protocol::LinkStatus status_ = protocol::LinkStatus::NotConnected;
  std::size_t members_ = 0;  // heard within kMemberGoneMicros, as last told
  std::uint64_t datagramsIn_ = 0;
  std::uint64_t garbageTold_ = 0;
  std::int64_t garbageToldAt_ = 0;
  OtherWireNotice otherWire_{settings::Protocol::Multicast};

  // The MIDI thread's: the descriptor it sends on (-1 while stopped) and its counts.
  std::atomic<int> sendFd_{-1};
  std::atomic<std::uint64_t> datagramsOut_{0};
  std::atomic<std::uint64_t> messagesOut_{0};
  std::atomic<net::SocketError> lastSendError_{net::SocketError::Ok};
};

}  // namespace strandlink::protocol::multicast
