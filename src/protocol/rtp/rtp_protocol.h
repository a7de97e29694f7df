// The RTP-MIDI link: an AppleMIDI session on two UDP ports (control P, even, and
// data P + 1), MIDI both ways as RTP-MIDI packets, with up to 16 participants. A
// copy that is invited takes each newcomer into a session of its own (a listener
// always waits for the next one); a copy with a remote invites it. What our input
// plays goes to every participant; what any of them plays is merged into our
// output as it arrives. Each participant has its own session state, journal
// repair and held notes, so one that leaves or is lost takes only its own notes
// with it. The sessions' state machines run on the loop's thread, woken by a
// timer at the earliest deadline and by the two sockets; sending MIDI runs on a
// thread of its own (see PacketSender).
#pragma once

#include <QTimer>

#include <array>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "net/read_notifier.h"
#include "net/udp_socket.h"
#include "protocol/member_notes.h"
#include "protocol/other_wire.h"
#include "protocol/peer_protocol.h"
#include "protocol/rtp/drop_notice.h"
#include "protocol/rtp/journal_repair.h"
#include "protocol/rtp/packet_sender.h"
#include "protocol/rtp/refusal_notice.h"
#include "protocol/rtp/session.h"
#include "protocol/rtp/sysex_assembler.h"

namespace strandlink::protocol::rtp {

// The socket's form of an address the session speaks of, and back.
sockaddr_in socketAddressOf(const PeerAddress& a);
PeerAddress peerAddressOf(const sockaddr_in& a);

class RtpProtocol final : public PeerProtocol {
 public:
  explicit RtpProtocol(const PeerContext& context);
  ~RtpProtocol() override;

  [[nodiscard]] StartOutcome start(const PeerStart& start) override;
  void stop() override;
  bool running() const override { return running_; }

  [[nodiscard]] SendResult send(midi::MidiEventView event, std::int64_t playedMicros) noexcept override {
    return sender_.queue(event, playedMicros);
  }
  net::SocketError lastSendError() const override { return sender_.lastError(); }

  void heldNotesReleased() override;
  protocol::LinkStatus status() const override { return status_; }
  void tick() override;
  LinkFigures figures() override;

  // For tests and the figures: the first participant's session while one runs
  // (the listener's while none is engaged), and how many are linked.
  const Session* session() const;
  std::size_t participantsLinked() const;
  RepairCounts repairs() const;
  const PacketSender& sender() const { return sender_; }
  // For tests and measurement only, never a user's choice: send packets without the
  // recovery journal (and no guard packets) from the next start. The environment
  // variable STRANDLINK_NO_JOURNAL=1 does the same for a whole run.
  void setSendsJournal(bool on) { sendsJournal_ = on; }

 private:
  // One peer in the session, and what is kept of it alone.
  struct Participant {
    Participant(SessionConfig config, std::size_t laneIndex) : session(std::move(config)), lane(laneIndex) {}
    Session session;
    std::size_t lane;  // its lane of the sender, and the source its messages are played as
    SysExAssembler assembler;
    JournalRepair repair;
    std::string peerName;  // as it came up: its session forgets it as it falls
    std::uint64_t lostBefore = 0;
    std::optional<SyncSample> shownClock;  // the figures as last said changed
    bool refusalSaid = false;
  };

  StartOutcome openSockets(const sockaddr_in& localControl);
  SessionConfig sessionConfig(const std::optional<sockaddr_in>& remote) const;
  Participant* addParticipant(const std::optional<sockaddr_in>& remote = std::nullopt);
  void keepListener();
  void dropIdle();
  Participant* claimant(SessionPort port, const PeerAddress& from, const SessionPacket& packet);
  void refuseFull(const PeerAddress& from, const SessionPacket& packet);
  void readDatagram(SessionPort port);
  bool admitted(const sockaddr_in& from);
  void refuseFiltered(SessionPort port, const PeerAddress& from, std::span<const std::uint8_t> bytes);
  InviterRefused refusalOf(const Participant& p, const SessionEvent& event) const;
  void takeSessionPacket(SessionPort port, const PeerAddress& from, std::span<const std::uint8_t> bytes);
  void takeMidiPacket(const PeerAddress& from, std::span<const std::uint8_t> bytes, std::int64_t arrival);
  void deliver(Participant& p, const MidiPacket& packet, std::int64_t arrival);
  bool play(Participant& p, midi::MidiEventView event, std::uint32_t ticks, std::int64_t arrival);
  void dropped(const PeerAddress& from, DecodeError error);
  void tickSessions();
  void serviceSessions();
  void sendSessionPackets(Session& session);
  bool takeSessionEvents(Participant& p);
  bool participantUp(Participant& p);
  bool participantDown(Participant& p, const SessionEvent& event);
  bool handUpStatus();
  void armTimer();
  void closeAll();

  PeerContext context_;
  net::UdpSocket control_;
  net::UdpSocket data_;
  std::unique_ptr<net::ReadNotifier> controlNotifier_;
  std::unique_ptr<net::ReadNotifier> dataNotifier_;
  std::vector<std::unique_ptr<Participant>> participants_;
  std::array<bool, kMaxParticipants> laneUsed_{};
  std::vector<sockaddr_in> remotes_;  // each invited; none: invited, as a listener
  std::string name_;                  // offered to peers
  std::uint32_t ssrc_ = 0;
  PacketSender sender_;
  MemberNotes held_;             // what each participant (by lane) left sounding
  RepairCounts retiredRepairs_;  // of the participants gone
  bool running_ = false;
  bool sendsJournal_;
  DropNotice malformed_;
  RefusalNotice refusals_;
  OtherWireNotice otherWire_{settings::Protocol::Rtp};
  QTimer wakeup_;
  std::optional<Micros> armedFor_;  // when wakeup_ fires
  std::vector<std::uint8_t> buffer_;
  std::uint64_t reportedSendFailures_ = 0;
  std::size_t linkedShown_ = 0;  // participants linked, as last handed up
  protocol::LinkStatus status_ = protocol::LinkStatus::NotConnected;
};

}  // namespace strandlink::protocol::rtp
