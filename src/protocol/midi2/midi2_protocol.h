// The Network MIDI 2.0 link: one UDP socket, sessions of Universal MIDI Packets.
// Without a remote this side is a host that takes up to eight clients at once;
// with one it is a client that invites that host. Our ports stay MIDI 1.0 byte
// streams: group 0 carries them. The sessions run on the loop's thread, woken by
// a timer at their next deadline and by the socket; sending MIDI runs on a thread
// of its own (see DataSender). No chat.
#pragma once

#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/read_notifier.h"
#include "net/udp_socket.h"
#include "protocol/midi2/data_sender.h"
#include "protocol/midi2/session.h"
#include "protocol/midi2/ump_convert.h"
#include "protocol/other_wire.h"
#include "protocol/member_notes.h"
#include "protocol/peer_protocol.h"
#include "protocol/rtp/refusal_notice.h"

namespace strandlink::protocol::midi2 {

inline constexpr std::uint16_t kDefaultPort = 5673;

class Midi2Protocol final : public PeerProtocol {
 public:
  explicit Midi2Protocol(const PeerContext& context);
  ~Midi2Protocol() override;

  [[nodiscard]] StartOutcome start(const PeerStart& start) override;
  void stop() override;
  bool running() const override { return session_ != nullptr; }

  [[nodiscard]] SendResult send(midi::MidiEventView event, std::int64_t) noexcept override {
    return sender_.queue(event);
  }
  net::SocketError lastSendError() const override { return sender_.lastError(); }

  void heldNotesReleased() override { held_.forgetAll(); }
  void inviterAnswered() override;
  protocol::LinkStatus status() const override { return status_; }
  void tick() override;
  LinkFigures figures() override;

  // For tests: the sessions while they run, and what the peers' packets held.
  const Session* session() const { return session_.get(); }
  UmpCounters received() const;

 private:
  void readDatagrams();
  void take(const sockaddr_in& from, std::span<const std::uint8_t> bytes, std::int64_t arrival);
  void service();
  void sendSessionDatagrams();
  bool takeEvents(std::int64_t arrival);
  void gapUnfilled(std::size_t slot);
  void inviterJudged(const SessionEvent& e);
  void clientGone(std::size_t slot);
  bool deliver(std::size_t slot, const std::vector<std::uint32_t>& words, std::int64_t arrival);
  void armTimer();
  void closeAll();

  PeerContext context_;
  net::UdpSocket socket_;
  std::unique_ptr<net::ReadNotifier> notifier_;
  std::unique_ptr<Session> session_;
  std::optional<sockaddr_in> host_;
  DataSender sender_;
  std::array<UmpReader, kMaxClients> readers_;
  UmpCounters retired_;  // of readers whose sessions ended
  MemberNotes held_;     // what each client (by slot) left sounding
  std::string name_;
  std::string instanceId_;
  OtherWireNotice otherWire_{settings::Protocol::Midi2};
  QTimer wakeup_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t datagramsIn_ = 0;
  bool refusalSaid_ = false;  // once until a session comes up
  rtp::RefusalNotice refusals_;  // the clients a host's admission kept out, each told once
  protocol::LinkStatus status_ = protocol::LinkStatus::NotConnected;
};

}  // namespace strandlink::protocol::midi2
