// The classic peer protocol: short messages in three-byte datagrams (seven in
// steady timing) on the MIDI port P, chat lines and the connection check's
// one-byte probe and reply on P + 1. It carries no SysEx. With a shared key every
// datagram carries a tag and a counter (datagram_seal.h), and what lacks them, or
// came before, is dropped and counted.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "net/atomic_address.h"
#include "protocol/classic/connection_monitor.h"
#include "protocol/classic/datagram_seal.h"
#include "protocol/classic/oversize_notice.h"
#include "protocol/classic/udp_endpoints.h"
#include "protocol/other_wire.h"
#include "protocol/peer_protocol.h"

namespace strandlink::protocol::classic {

class ClassicProtocol final : public PeerProtocol, public ChatChannel {
 public:
  explicit ClassicProtocol(const PeerContext& context);
  ~ClassicProtocol() override;
  ClassicProtocol(const ClassicProtocol&) = delete;
  ClassicProtocol& operator=(const ClassicProtocol&) = delete;

  [[nodiscard]] StartOutcome start(const PeerStart& start) override;
  void stop() override;
  bool running() const override { return endpoints_.isOpen(); }

  [[nodiscard]] SendResult send(midi::MidiEventView event, std::int64_t playedMicros) noexcept override;
  net::SocketError lastSendError() const override { return sendError_.load(std::memory_order_relaxed); }

  protocol::LinkStatus status() const override { return monitor_.status(); }
  void tick() override;
  LinkFigures figures() override;

  ChatChannel* chat() override { return this; }
  bool sendChatLine(std::span<const std::uint8_t> line) override;

  // The longest datagram each port reads; a longer one is counted, not used. The
  // chat's is the longest line the front ends send (link::kChatLineLimit).
  static constexpr int kMidiReadLength = 200;
  static constexpr int kChatReadLength = 2000;

 private:
  void readMidi();
  void readChat();
  // The filter first: what a stranger sends is never reported. False when the
  // datagram is not to be used (refused, empty, too long, or a failed read).
  bool take(const net::Transfer& read, const sockaddr_in& from, OversizeNotice& oversize);
  // With a key: the message inside the datagram, or false when it is to be
  // dropped (untagged, a wrong key, or seen before). Without: as it is. An
  // untagged datagram that otherWire finds plainly another protocol's is told
  // of as that.
  using OtherWireTest = std::optional<Wire> (*)(std::span<const std::uint8_t>);
  bool unseal(std::optional<DatagramOpener>& opener, std::span<const std::uint8_t>& datagram, const sockaddr_in& from,
              OtherWireTest otherWire);
  void sendControl(std::uint8_t byte, Operation operation);

  PeerContext context_;
  UdpEndpoints endpoints_;
  ConnectionMonitor monitor_;
  OversizeNotice midiOversize_;
  OversizeNotice chatOversize_;
  OtherWireNotice otherWire_{settings::Protocol::Classic};
  // The session's key, when it has one. Every sealer lives as long as the
  // protocol: an input that would not close may still be sealing with an old one.
  DatagramSealer* ownSealer_ = nullptr;
  std::vector<std::unique_ptr<DatagramSealer>> sealers_;
  std::optional<DatagramOpener> midiOpener_;
  std::optional<DatagramOpener> chatOpener_;
  bool toldKeyMissing_ = false;
  std::uint64_t untagged_ = 0;
  std::uint64_t replayed_ = 0;
  // Read by the MIDI thread.
  std::atomic<int> socket_{-1};
  net::AtomicAddress peer_;
  std::atomic<bool> stamping_{false};
  std::atomic<DatagramSealer*> sealer_{nullptr};
  // Written by the MIDI thread.
  std::atomic<net::SocketError> sendError_{net::SocketError::Ok};
};

}  // namespace strandlink::protocol::classic
