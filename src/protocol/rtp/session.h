// One AppleMIDI session with one peer, as a state machine without sockets, threads
// or clocks of its own: the owner feeds it the session packets that arrive, the
// headers of RTP packets that arrive, and the time (tick() at nextWakeup() or
// sooner), then sends what takeOutgoing() lists and acts on takeEvents().
//
// With a remote it invites (IN on the control port, then on the data port after
// OK), retrying every second 12 times, then every 5 s while started. It accepts
// invitations that the admission check lets in and refuses the rest with NO. When
// both sides invite each other at once, the side with the lower SSRC stays the
// inviter and ignores the other's invitation, and the other accepts: one session.
// Once up, the session is bound to its peer: data, receiver feedback, clock syncs
// and BY count only from the address and port learned in the handshake (the
// control port's for what comes to our control port, the data port's for the
// rest) and with the peer's SSRC, since anyone on the LAN can forge a source host.
// A BY (on either port) ends the session and lets the peer straight back in. An
// invitation with a new SSRC from the peer's address, or from another port of its
// host under the same name (a restart), is a candidate that replaces the session
// only once it has answered a clock sync of ours, echoing a random time that a
// forger who cannot see our replies cannot know. A half-open handshake holds for its
// limit from the first invitation, and any other inviter may replace it; a NO
// carries a throwaway SSRC, never the session's. The inviter syncs clocks (a burst,
// then every 10 s). Either side asks with a clock sync of its own once the peer
// has been quiet for a moment, since peers sync seldom (rtpmidid every 25 s, and
// its server drops a peer only after 60 s), and the peers answer a CK0 from either
// side (rtpmidid, the npm rtpmidi package, our own): three asks that bring no word
// back end the session 4.5 s after the peer's last packet. One thread owns a
// Session: it holds no lock.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/admission.h"
#include "protocol/rtp/clock_sync.h"
#include "protocol/rtp/midi_packet.h"
#include "protocol/rtp/sequence_tracker.h"
#include "protocol/rtp/session_output.h"

namespace strandlink::protocol::rtp {

inline constexpr Micros kInviteRetryFast = 1'000'000;
inline constexpr Micros kInviteRetrySlow = 5'000'000;
inline constexpr int kFastInviteRetries = 12;
inline constexpr Micros kQuietBeforeAsking = 1'500'000;
// A slow peer's late answer still counts: only three asks with no word at all in
// between, the last one this old, end a session.
inline constexpr Micros kAnswerWait = 1'000'000;
inline constexpr int kUnansweredLimit = 3;
// After a BY from the peer's own port that names no SSRC of the session (the peer
// restarted and knows us no more, or a forger): ask at once and wait this long
// for each answer. A live peer answers in a moment; a restarted one falls in
// under a second, not after the whole silence.
inline constexpr Micros kHurriedAnswerWait = 250'000;
inline constexpr Micros kHandshakeLimit = 10'000'000;
inline constexpr Micros kFeedbackInterval = 1'000'000;
// A responder whose peer has not begun a clock sync for this long begins one itself
// (sooner while it has no estimate yet).
inline constexpr Micros kResponderSyncProbe = 25'000'000;
inline constexpr Micros kResponderFirstSync = 2'000'000;

struct SessionConfig {
  std::uint32_t ssrc = 0;             // this side's, random per run
  std::uint32_t token = 0;            // of the first invitation, random per run
  std::string name;                   // offered to peers
  std::optional<PeerAddress> remote;  // the peer's control port; none: only accept
  // Who may invite this side, by address and the session name it gives; with a
  // remote, only the remote. Unset: anyone.
  std::function<Verdict(const PeerAddress&, const std::string& name)> admits;
};

enum class SessionState { Stopped, Listening, InvitingControl, InvitingData, AwaitingData, Up };
enum class SessionRole { None, Initiator, Responder };

class Session {
 public:
  explicit Session(SessionConfig config);

  void start(Micros now);
  void stop();  // says BY to a peer that knows this side
  void receive(SessionPort port, const PeerAddress& from, const SessionPacket& packet, Micros now);
  // Whether an RTP packet belongs to the session, and so is to be played.
  bool acceptData(const PeerAddress& from, const RtpHeader& header, Micros now);
  // Whether a session packet belongs to this session (from its peer or remote, a
  // candidate to replace the peer, or the peer restarted elsewhere) rather than to
  // the listener that takes newcomers: one of several sessions on the same ports.
  // A session that listens claims nothing.
  bool claims(SessionPort port, const PeerAddress& from, const SessionPacket& packet) const;
  // An invitation from another port of the peer's host under its name, with a new
  // SSRC: the peer restarted, or a second program of that name on the host. The
  // owner gives it a session of its own when it can and has this one doubt its
  // peer: asked at once, a live peer answers and stays, a restarted one falls
  // within a second as restarted.
  bool restartedBy(const PeerAddress& from, const SessionPacket& packet) const;
  void doubtPeer(Micros now);
  // Inviting, in a handshake or up: not free for a newcomer.
  bool engaged() const { return state_ != SessionState::Stopped && state_ != SessionState::Listening; }
  void tick(Micros now);
  std::optional<Micros> nextWakeup() const;

  std::vector<Outgoing> takeOutgoing() { return std::exchange(outgoing_, {}); }
  std::vector<SessionEvent> takeEvents() { return std::exchange(events_, {}); }
  // The last packet of ours the peer said it has (RS), once.
  std::optional<std::uint16_t> takePeerFeedback() { return std::exchange(peerHas_, std::nullopt); }

  SessionState state() const { return state_; }
  SessionRole role() const { return role_; }
  bool connected() const { return state_ == SessionState::Up && synced_; }
  std::optional<PeerAddress> peerDataAddress() const;
  std::uint32_t peerSsrc() const { return peer_ ? peer_->ssrc : 0; }
  std::string peerName() const { return peer_ ? peer_->name : std::string{}; }
  std::uint32_t ssrc() const { return config_.ssrc; }
  const std::optional<PeerAddress>& remote() const { return config_.remote; }
  std::uint32_t token() const { return peer_ ? peer_->token : 0; }
  std::optional<SyncSample> clock() const { return estimate_.best(); }
  const SequenceTracker& sequences() const { return sequences_; }

 private:
  struct Peer {
    PeerAddress control;
    std::optional<PeerAddress> data;
    std::uint32_t ssrc = 0;
    std::uint32_t token = 0;  // the session's, chosen by whoever invited
    std::string name;
  };

  void onInvitation(SessionPort port, const PeerAddress& from, const Exchange& in, Micros now);
  void onDataInvitation(const PeerAddress& from, const Exchange& in, Micros now);
  void onAccept(SessionPort port, const PeerAddress& from, const Exchange& ok, Micros now);
  void onReject(const PeerAddress& from, const Exchange& no, Micros now);
  void onEnd(SessionPort port, const PeerAddress& from, const Exchange& bye, Micros now);
  void onClockSync(SessionPort port, const PeerAddress& from, const ClockSync& ck, Micros now);
  void onCandidateSync(SessionPort port, const PeerAddress& from, const ClockSync& ck, Micros now);
  bool replacesSession(const PeerAddress& from, const Exchange& in) const;
  void takeCandidate(const PeerAddress& from, const Exchange& in, Micros now);
  void challengeCandidate();

  void acceptInvitation(const PeerAddress& from, const Exchange& in, Micros now);
  void beginInviting(Micros now);
  void sendInvitation(Micros now);
  void sessionUp(Micros now);
  void sessionDown(DownReason reason);
  void startExchange(Micros now);
  void addSample(std::optional<SyncSample> sample);
  void tickUp(Micros now);
  void heard(Micros now);
  Micros askTime() const;
  bool peerGone(Micros now) const;
  void refuse(const PeerAddress& from, const Exchange& in);
  bool restartedElsewhere(const PeerAddress& from, const Exchange& in) const;
  Micros responderSyncWait() const;

  bool fromPeer(const PeerAddress& from) const;
  // From the peer's port that sends to our port: what the handshake bound.
  bool fromPeerTo(SessionPort port, const PeerAddress& from) const;
  std::uint32_t strangerSsrc();
  bool fromRemote(const PeerAddress& from) const;
  Verdict verdictOn(const PeerAddress& from, const std::string& name) const;
  bool admitted(const PeerAddress& from, const std::string& name) const { return verdictOn(from, name) == Verdict::Admit; }
  void turnAway(const PeerAddress& from, const Exchange& in);
  bool winsGlare(const Exchange& theirs) const;
  Exchange exchange(ExchangeCommand command, std::uint32_t token);
  void send(SessionPort port, const PeerAddress& to, SessionPacket packet);

  SessionConfig config_;
  SessionState state_ = SessionState::Stopped;
  SessionRole role_ = SessionRole::None;
  std::optional<Peer> peer_;
  // An inviter that would replace the live session, until its first clock sync.
  struct Candidate {
    Peer peer;
    Micros began = 0;
    std::uint64_t challenge = 0;            // our CK0's time, random: to be echoed
    std::optional<std::uint64_t> answered;  // our time in the CK1 we answered with
    std::optional<SyncSample> sample;       // from the candidate's own exchange
  };
  std::optional<Candidate> candidate_;
  Micros handshakeBegan_ = 0;  // the half-open handshake's first invitation
  std::uint32_t nextToken_;
  int invitationsSent_ = 0;
  Micros nextInvitation_ = 0;
  Micros lastHeard_ = 0;
  Micros lastAsked_ = 0;     // our latest CK0
  int asked_ = 0;            // CK0s since the peer was last heard
  bool hurried_ = false;     // asking at once after a BY the session could not take
  bool doubted_ = false;     // asking at once after what looked like the peer's restart
  Micros hurriedAt_ = -kAnswerWait;
  Micros lastPeerSync_ = 0;  // when the peer last began an exchange
  Micros nextFeedback_ = 0;
  bool feedbackPending_ = false;
  bool synced_ = false;
  std::optional<std::uint64_t> openExchange_;  // our CK0's time, awaiting CK1
  SyncSchedule schedule_;
  ClockEstimate estimate_;
  SequenceTracker sequences_;
  std::optional<std::uint16_t> peerHas_;
  std::vector<Outgoing> outgoing_;
  std::vector<SessionEvent> events_;
};

}  // namespace strandlink::protocol::rtp
