// The sessions of a Network MIDI 2.0 link, with no socket: datagrams and the time
// go in, datagrams to send and what happened come out as data. A host takes up to
// kMaxClients invitations at once; a client invites its one host and invites again
// when refused, unanswered or dropped. The timers are those a Windows peer keeps,
// so that neither side gives up on the other first: a ping every 2 s (a Windows
// peer pings after 2 s of silence; ours also time the round trip), the session's
// end after 5 pings in a row with nothing heard, an invitation every 2 s five
// times, and up to 2 minutes for a host that says it is pending. The loop's
// thread only.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/midi2/authentication.h"
#include "protocol/midi2/command_codec.h"
#include "protocol/rtp/session_output.h"
#include "protocol/verdict.h"

namespace strandlink::protocol::midi2 {

using Micros = std::int64_t;

// An IPv4 address and port, both in host byte order.
struct Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

inline constexpr Micros kSecond = 1'000'000;
inline constexpr std::size_t kMaxClients = 8;
inline constexpr Micros kWatchdogMicros = 2'000'000;
inline constexpr int kPingsUnanswered = 5;
inline constexpr int kInvitationAttempts = 5;
// A gap of UMP Data commands is asked for again after this, then after twice as
// long each time, kResendAsks requests in all: the first sooner than the 100 ms
// other peers wait, since a sender keeps only its last few dozen commands, and at
// a thousand a second 100 ms is past them. What came after a gap waits for it, so
// that nothing is played out of order (a note-off before its note-on would leave
// the note hanging), up to kHoldMicros; then the gap is given up.
inline constexpr Micros kResendAgainMicros = 25'000;
inline constexpr int kResendAsks = 4;
inline constexpr Micros kHoldMicros = 400'000;
inline constexpr Micros kPendingMicros = 120'000'000;
// A client's pause before it invites again after a refusal, silence or a Bye.
inline constexpr Micros kReinviteMicros = 10'000'000;
// After a failed proof an address's next one is judged only once a delay has
// passed, doubling from the first to the longest, so guessing a secret is slow;
// forgotten after a success or once the address has failed none for a while.
inline constexpr Micros kFirstProofDelay = 1'000'000;
inline constexpr Micros kLongestProofDelay = 30'000'000;
inline constexpr Micros kProofFailuresForgotten = 120'000'000;

struct SessionConfig {
  Identity us;
  std::optional<Endpoint> host;  // none: we are the host
  // Empty: no authentication. A host with a secret admits only clients that prove
  // it (with a user: that user's name and the secret as its password); a client
  // proves it when asked.
  std::string user{};
  std::string secret{};
  // A host's users and their passwords: then it asks for a user, not the secret.
  std::map<std::string, std::string> users{};
  // A host's judgement of an inviting client by its address and the name it
  // gives, before any proof; none: every client may try.
  std::function<Verdict(const Endpoint& from, const std::string& name)> admits{};
};

// Why a client's invitation went nowhere.
enum class Refusal : std::uint8_t { None, NoAnswer, Declined, Busy, WantsAuthentication, AuthenticationFailed };

enum class EventKind : std::uint8_t {
  Up,         // a session came up in slot
  Down,       // the session in slot ended (reason)
  Data,       // a UMP Data command of slot's peer, new and in order: words
  Resend,     // the peer of slot wants our commands from sequence on (count, 0: all)
  ResetSent,  // the peer of slot numbers what it hears from 0 again: so must we
  Refused,    // our invitation got nowhere (refusal)
  // A host turned away the client at from (peerName): a wrong proof, or one that
  // came early, before the delay of a failure passed; the next is judged after wait.
  ProofRefused,
  InviterRefused,  // a host's admission kept out the client at from (peerName)
  InviterWaits,    // the client at from (peerName) is told to wait for the user's answer
  // Commands of slot's peer were given up: what they held or ended is unknown, so
  // what the peer left sounding goes. The commands after them follow as Data.
  GapUnfilled,
};

struct SessionEvent {
  EventKind kind = EventKind::Up;
  std::size_t slot = 0;
  rtp::DownReason reason = rtp::DownReason::None;
  Refusal refusal = Refusal::None;
  std::uint16_t sequence = 0;
  std::uint16_t count = 0;
  std::vector<std::uint32_t> words;
  std::string peerName;  // Up, Down, ProofRefused: the name the peer goes by
  Endpoint from{};
  bool early = false;
  Micros wait = 0;
};

struct Outgoing {
  Endpoint to;
  std::vector<std::uint8_t> datagram;
};

// What the sessions dropped, for the figures.
struct SessionCounters {
  std::uint64_t malformed = 0;   // datagrams or commands that lie about their lengths or sizes
  std::uint64_t unexpected = 0;  // commands that make no sense where they came
  std::uint64_t repeats = 0;     // UMP Data commands heard before (copies, resends)
  std::uint64_t lost = 0;        // UMP Data commands missed when a later one came
  std::uint64_t recovered = 0;   // of those, heard after all (sent again on request)
  std::uint64_t unfilled = 0;    // of those, given up
  std::uint64_t fromCopies = 0;  // first heard as a copy in a later datagram
  std::uint64_t asked = 0;       // our requests to send commands again
  std::uint64_t requests = 0;    // the peers' requests, each answered
  std::uint64_t naks = 0;        // NAKs the peers sent us
  std::uint64_t refusedInvitations = 0;
};

class Session {
 public:
  explicit Session(SessionConfig config);

  // A client invites its host.
  void start(Micros now);
  // Says goodbye to every peer; the sessions end without waiting for replies.
  void stop();

  void receive(const Endpoint& from, std::span<const std::uint8_t> datagram, Micros now);
  void tick(Micros now);
  std::optional<Micros> nextWakeup() const;

  std::vector<Outgoing> takeOutgoing();
  std::vector<SessionEvent> takeEvents();

  bool isHost() const { return !config_.host.has_value(); }
  // A host judges the clients told to wait again, once the user has answered
  // (and on each tick): those let in go on as if invited now.
  void reconsider(Micros now);

  // Sessions up (a client: 0 or 1).
  std::size_t established() const;
  // The peer of an established slot, and who it says it is.
  std::optional<Endpoint> peerOf(std::size_t slot) const;
  const Identity& identityOf(std::size_t slot) const { return slots_[slot].identity; }
  // From our latest answered ping to its reply; none before the first.
  std::optional<Micros> roundTripOf(std::size_t slot) const { return slots_[slot].roundTrip; }
  const SessionCounters& counters() const { return counters_; }

 private:
  enum class State : std::uint8_t { Idle, Inviting, Pending, Established, Waiting };
  static constexpr int kMissedWindow = 256;
  // A command heard after one that is missed, waiting for it.
  struct HeldCommand {
    Micros since = 0;
    std::vector<std::uint32_t> words;
  };
  // What came of a peer's UMP Data commands. Each one from next up to expected is
  // either missed or held; next is missed unless it is expected.
  struct Incoming {
    std::uint16_t expected = 0;         // one past the latest heard
    std::uint16_t next = 0;             // the first not yet handed on
    std::bitset<kMissedWindow> missed;  // by their number's low bits
    std::array<HeldCommand, kMissedWindow> held{};
    bool resends = true;  // false once the peer said it cannot send again
    // A request can be lost, or its answer: asked again while commands are
    // missed, kResendAsks times in all for one gap.
    Micros askAgainAt = 0;  // 0: nothing asked
    Micros askGap = 0;
    int asks = 0;
    bool holding() const { return next != expected; }
    std::uint16_t firstHeld() const;
    // The peer numbers from 0 again; whether it can send again stays.
    void renumber() {
      const bool could = resends;
      *this = Incoming{};
      resends = could;
    }
  };
  struct Slot {
    State state = State::Idle;
    Endpoint peer;
    Identity identity;
    Micros deadline = 0;  // the next retry, ping or give-up
    Micros pendingSince = 0;
    int attempts = 0;    // invitations sent, or pings unanswered
    bool heard = false;  // anything arrived since the watchdog last woke
    std::uint32_t pingId = 0;
    Micros pingSent = 0;
    std::optional<Micros> roundTrip;
    Incoming in;
    bool proved = false;  // a client: our digest went to the host
  };
  // A host's question to a client that has not yet proved the secret.
  struct Challenge {
    Endpoint from;
    Identity identity;
    Nonce nonce{};
    int attempts = 0;
    Micros asked = 0;
  };
  // A client told that its invitation is pending while the user decides.
  struct Waiter {
    Endpoint from;
    Identity identity;
    Micros since = 0;  // 0: a free place
  };
  struct ProofFailures {
    std::uint32_t address = 0;
    int count = 0;
    Micros last = 0;  // 0: none
    Micros notBefore = 0;
  };

  void take(const Endpoint& from, const Command& command, Micros now);
  void takeAsHost(const Endpoint& from, const Command& command, Micros now);
  void takeAsClient(const Command& command, Micros now);
  void takeInvitation(const Endpoint& from, const Command& command, Micros now);
  Verdict judge(const Endpoint& from, const std::string& name) const;
  static SessionEvent eventOf(EventKind kind, std::size_t slot = 0);
  static SessionEvent eventAbout(EventKind kind, const Endpoint& from, const std::string& name);
  bool admitted(const Endpoint& from, const Identity& who, Micros now);
  void letIn(const Endpoint& from, Identity who, Micros now);
  void refuseInviter(const Endpoint& from, const std::string& name, Micros now);
  void admit(const Endpoint& from, Identity who, Micros now);
  void challenge(const Endpoint& from, Identity who, int attempts, Micros now);
  void takeProof(const Endpoint& from, const Command& command, Micros now);
  ProofFailures* failuresOf(std::uint32_t address, Micros now);
  ProofFailures& failed(std::uint32_t address, Micros now);
  bool asksUser() const;
  bool asksProof() const;
  std::optional<std::string> passwordOf(const std::string& user) const;
  void prove(const Command& command, Micros now);
  void takeSessionCommand(std::size_t slot, const Command& command, Micros now);
  void takeData(std::size_t slot, const Command& command, Micros now);
  bool arrived(std::size_t slot, std::uint16_t sequence, Micros now);
  void handOn(std::size_t slot);
  void handOnHeld(std::size_t slot, std::uint16_t sequence);
  void giveUp(std::size_t slot, std::uint16_t upTo);
  void giveUpExpired(std::size_t slot, Micros now);
  void takeRetransmitError(std::size_t slot, const Command& command);
  void askAgain(Slot& s, Micros now);
  void notInSession(const Endpoint& from, Micros now);
  void invite(Micros now);
  void refused(Refusal refusal, Micros now);
  void end(std::size_t slot, rtp::DownReason reason, Micros now);
  void watch(std::size_t slot, Micros now);
  std::optional<std::size_t> slotOf(const Endpoint& from) const;
  std::vector<std::uint8_t>& to(const Endpoint& peer);
  bool mayAnswerStranger(const Endpoint& from, Micros now);
  void event(SessionEvent e) { events_.push_back(std::move(e)); }

  SessionConfig config_;
  std::array<Slot, kMaxClients> slots_;
  std::vector<Outgoing> outgoing_;
  std::vector<SessionEvent> events_;
  std::vector<Command> commands_;
  bool askedThisDatagram_ = false;
  const Command* newestData_ = nullptr;  // the datagram's last UMP Data command: the rest are copies
  std::array<Challenge, kMaxClients> challenges_{};
  std::array<Waiter, kMaxClients> waiters_{};
  std::array<ProofFailures, 16> failures_{};
  SessionCounters counters_;
  // Strangers told that they have no session: each at most once a second, and
  // all of them at most kStrangerAnswers a second, so a flood gets few answers.
  static constexpr int kStrangerAnswers = 50;
  std::array<std::pair<Endpoint, Micros>, 16> strangers_{};
  std::size_t nextStranger_ = 0;
  Micros answersSecond_ = 0;
  int answersThisSecond_ = 0;
};

}  // namespace strandlink::protocol::midi2
