// How a link talks to its peer: one interface, one implementation per protocol in
// a folder of its own (classic/, rtp/, multicast/). The link core and the front
// ends see MIDI events, a connection state, figures and chat lines; never a byte
// of the wire. Steady timing, the held-note release, Panic, the peer filter and
// the counters live above this seam and work the same for every protocol.
//
// Threads. start(), stop(), sendChatLine(), tick() and the sink's calls run on
// the loop's thread (the window's, or the window-less run's main thread). send()
// runs on the MIDI service's thread, inside its real-time callback, and on the
// loop's thread at the same time: it never waits, locks or allocates. A protocol
// whose sending needs more (packet building, a journal) queues the event there and
// does that work on a thread of its own.
#pragma once

#include <netinet/in.h>

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/monotonic_clock.h"
#include "midi/midi_event.h"
#include "net/socket_errors.h"
#include "protocol/link_figures.h"
#include "protocol/peer_notice.h"
#include "protocol/peer_problem.h"
#include "settings/preferences.h"
#include "settings/settings.h"

namespace strandlink::midi {
class HeldSet;
}  // namespace strandlink::midi

namespace strandlink::protocol {

class Admission;
class PeerFilter;

// The most peers one session takes at once, each with a clock of its own.
inline constexpr std::size_t kMaxSources = 16;

// What a protocol hands up to the link; the loop's thread only.
class PeerSink {
 public:
  virtual ~PeerSink() = default;
  // One whole message from the peer. stampMicros: the moment the sender played
  // it, as the low 32 bits of the sender's monotonic clock in µs, when the wire
  // carries one; arrivalMicros: when it arrived, on our monotonic clock (µs);
  // source: which of the session's participants sent it (below kMaxSources), so
  // that each one's stamps are read against its own clock.
  virtual void peerEvent(midi::MidiEventView event, std::optional<std::uint32_t> stampMicros,
                         std::int64_t arrivalMicros, std::size_t source) = 0;
  // "Connected" or "Not Connected" changed, or the count of a group's members
  // heard did. The link releases what the peer left sounding when it falls.
  virtual void peerStatus(LinkStatus status) = 0;
  // One member of a group is surely gone while the others stay: the link
  // releases what it left sounding.
  virtual void peerMemberGone(const midi::HeldSet& sounding) { static_cast<void>(sounding); }
  virtual void peerChatLine(const QString& line) = 0;
  // Something for the user that needs no box; the link words it as a line.
  virtual void peerNotice(const PeerNotice& notice) = 0;
  // Something went wrong; the link says it, in a box or a line. During start()
  // every problem is handed up before it returns.
  virtual void peerProblem(const PeerProblem& problem) = 0;
  // The figures changed in a way worth showing at once (a probe was answered).
  virtual void peerFiguresChanged() = 0;
};

// What a protocol needs from the link; all outlive the protocol.
struct PeerContext {
  PeerSink& sink;
  PeerFilter& filter;
  // Who may invite this side, for a protocol that takes invitations.
  Admission& admission;
  // The clock of the protocol's timeouts (tests move it on); arrivals keep the
  // kernel's times.
  std::function<std::int64_t()> now = monotonicMicros;
};

// The choices of a session that reach the protocol.
// A peer's host and port as the user gave them, before they are checked.
struct RemoteText {
  QString host;
  QString port;
  friend bool operator==(const RemoteText&, const RemoteText&) = default;
};

struct PeerStart {
  settings::Settings settings;  // the addresses and ports as the user gave them
  settings::Timing timing = settings::Timing::Immediate;
  QString name;  // the session name offered to peers (--name, or the host name)
  int ttl = 1;   // for protocols that send to a group
  // The shared key of a classic link (settings/key_file.h); empty: none, and the
  // wire as it always was.
  std::vector<std::uint8_t> key{};
  // What proves this side to a peer that asks (Network MIDI 2.0): a shared
  // secret, or with a user the user's password. Empty: nothing to prove.
  QString user{};
  QString secret{};
  // A host's users and their passwords; none: the secret alone, or no one is asked.
  std::map<std::string, std::string> users{};
  // Further peers to invite beside the settings' remote (RTP-MIDI), as given.
  std::vector<RemoteText> moreRemotes{};
};

// How a Start went. On failure every problem has been handed up and nothing is
// left open; refused names the value to take the user to.
struct StartOutcome {
  enum class Result { Running, Refused, CannotCreateSocket };
  Result result = Result::Running;
  SettingsField refused = SettingsField::None;
  bool running() const { return result == Result::Running; }
};

// One message handed to send(): whether it left, and why not.
enum class SendResult : std::uint8_t {
  Sent,        // on the wire, or queued for it
  NotCarried,  // the protocol has no way to carry it (SysEx on classic)
  Failed,      // the send failed: lastSendError() says why
};

// Chat lines beside the MIDI, for a protocol that carries them.
class ChatChannel {
 public:
  virtual ~ChatChannel() = default;
  // Sends one chat line, already cut and encoded as the peer reads it; false
  // when nothing was sent.
  virtual bool sendChatLine(std::span<const std::uint8_t> line) = 0;
};

class PeerProtocol {
 public:
  virtual ~PeerProtocol() = default;

  // Opens the sockets and begins the connection check.
  [[nodiscard]] virtual StartOutcome start(const PeerStart& start) = 0;
  // Says goodbye where the protocol has a way to, and closes everything.
  virtual void stop() = 0;
  virtual bool running() const = 0;

  // One message, played at playedMicros (our monotonic clock): captured, on the
  // MIDI thread, or sent by the link itself (Panic's note-offs) on the loop's, at
  // the same time. Never waits, locks or allocates.
  [[nodiscard]] virtual SendResult send(midi::MidiEventView event, std::int64_t playedMicros) noexcept = 0;
  // The socket error of the last send that failed (net/socket_errors.h).
  virtual net::SocketError lastSendError() const = 0;

  // The loop's thread: the link ended every note its output held (Panic, or the
  // link's fall), so a protocol that keeps what the peer left sounding may forget it.
  virtual void heldNotesReleased() {}
  // The user answered an inviter the admission asked about: a protocol that
  // keeps the inviter waiting rather than waiting for its next try acts on it now.
  virtual void inviterAnswered() {}

  virtual LinkStatus status() const = 0;
  // While the session runs, for a protocol that has no one peer to check: the
  // members of its group heard lately, which the status line tells instead of
  // "Connected" or "Not Connected". None: it has one peer.
  virtual std::optional<std::size_t> groupMembersHeard() const { return std::nullopt; }
  // Once a second while running: the connection check and the figures' clock.
  virtual void tick() = 0;
  // The figures of the last minute, and of the session so far.
  virtual LinkFigures figures() = 0;

  // The protocol's chat, for one that has one; the front ends offer none without.
  virtual ChatChannel* chat() { return nullptr; }
};

// A protocol that has none: the link's before its first Start, so that it never
// holds a null protocol.
class IdleProtocol final : public PeerProtocol {
 public:
  StartOutcome start(const PeerStart&) override { return {StartOutcome::Result::Refused}; }
  void stop() override {}
  bool running() const override { return false; }
  SendResult send(midi::MidiEventView, std::int64_t) noexcept override { return SendResult::NotCarried; }
  net::SocketError lastSendError() const override { return net::SocketError::Ok; }
  LinkStatus status() const override { return LinkStatus::NotConnected; }
  void tick() override {}
  LinkFigures figures() override { return {}; }
};

}  // namespace strandlink::protocol
