// The RTP-MIDI link: an AppleMIDI session on two UDP ports (control P, even, and
// data P + 1), MIDI both ways as RTP-MIDI packets. The session's state machine
// runs on the loop's thread, woken by a timer at its next deadline and by the two
// sockets; sending MIDI runs on a thread of its own (see PacketSender).
#pragma once

#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "net/read_notifier.h"
#include "net/udp_socket.h"
#include "protocol/other_wire.h"
#include "protocol/peer_protocol.h"
#include "protocol/rtp/drop_notice.h"
#include "protocol/rtp/journal_repair.h"
#include "protocol/rtp/packet_sender.h"
#include "protocol/rtp/refusal_notice.h"
#include "protocol/rtp/session.h"
#include "protocol/rtp/sysex_assembler.h"

namespace strandlink::protocol::rtp {

// The socket's form of an address the session speaks of.
sockaddr_in socketAddressOf(const PeerAddress& a);

class RtpProtocol final : public PeerProtocol {
 public:
  explicit RtpProtocol(const PeerContext& context);
  ~RtpProtocol() override;

  [[nodiscard]] StartOutcome start(const PeerStart& start) override;
  void stop() override;
  bool running() const override { return session_ != nullptr; }

  [[nodiscard]] SendResult send(midi::MidiEventView event, std::int64_t playedMicros) noexcept override {
    return sender_.queue(event, playedMicros);
  }
  net::SocketError lastSendError() const override { return sender_.lastError(); }

  void heldNotesReleased() override;
  protocol::LinkStatus status() const override { return status_; }
  void tick() override;
  LinkFigures figures() override;

  // For tests and the figures: the session while one runs.
  const Session* session() const { return session_.get(); }
  const RepairCounts& repairs() const { return repair_.counts(); }
  const PacketSender& sender() const { return sender_; }
  // For tests and measurement only, never a user's choice: send packets without the
  // recovery journal (and no guard packets) from the next start. The environment
  // variable STRANDLINK_NO_JOURNAL=1 does the same for a whole run.
  void setSendsJournal(bool on) { sendsJournal_ = on; }

 private:
  StartOutcome openSockets(const sockaddr_in& localControl);
  void readDatagram(SessionPort port);
  bool admitted(const sockaddr_in& from);
  KeptOut keptOutBy(const Inviter& inviter) const;
  void refuseFiltered(SessionPort port, const PeerAddress& from, std::span<const std::uint8_t> bytes);
  InviterRefused refusalOf(const SessionEvent& event) const;
  void takeSessionPacket(SessionPort port, const PeerAddress& from, std::span<const std::uint8_t> bytes);
  void takeMidiPacket(const PeerAddress& from, std::span<const std::uint8_t> bytes, std::int64_t arrival);
  void deliver(const MidiPacket& packet, std::int64_t arrival);
  bool play(midi::MidiEventView event, std::uint32_t ticks, std::int64_t arrival);
  void dropped(const PeerAddress& from, DecodeError error);
  void serviceSession();
  void sendSessionPackets();
  bool takeSessionEvents();
  void armTimer();
  void closeAll();

  PeerContext context_;
  net::UdpSocket control_;
  net::UdpSocket data_;
  std::unique_ptr<net::ReadNotifier> controlNotifier_;
  std::unique_ptr<net::ReadNotifier> dataNotifier_;
  std::unique_ptr<Session> session_;
  std::optional<sockaddr_in> remote_;
  PacketSender sender_;
  SysExAssembler assembler_;
  JournalRepair repair_;
  bool sendsJournal_;
  DropNotice malformed_;
  RefusalNotice refusals_;
  OtherWireNotice otherWire_{settings::Protocol::Rtp};
  QTimer wakeup_;
  std::optional<Micros> armedFor_;  // when wakeup_ fires
  std::vector<std::uint8_t> buffer_;
  std::uint64_t lostBefore_ = 0;
  std::uint64_t reportedSendFailures_ = 0;
  std::optional<SyncSample> shownClock_;  // the figures as last said changed
  bool refusalSaid_ = false;
  protocol::LinkStatus status_ = protocol::LinkStatus::NotConnected;
};

}  // namespace strandlink::protocol::rtp
