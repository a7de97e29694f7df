// The figures of a running link as numbers: each peer's, and the link's as a
// whole. A protocol fills what it measures and leaves the rest at zero; the link
// puts them in words (link/figures_text.cpp), so that every text of them is
// written in one place.
#pragma once

#include <netinet/in.h>

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace strandlink::protocol {

// Whether the peer answers: what the status line says, "Connected" or "Not Connected".
enum class LinkStatus { NotConnected, Connected };

// How a protocol measures its link, and so which of the figures below it fills.
enum class Measure : std::uint8_t {
  Probes,    // one peer, probed once a second (classic)
  Session,   // one peer in a session: clock exchanges, sequence numbers, journals (RTP)
  Group,     // the members of a group, heard but never asked (multicast)
  Sessions,  // up to eight peers in sessions of their own, kept alive by pings (Network MIDI 2.0)
};

struct PeerFigures {
  QString name;                                  // the name the peer goes by, where it gives one
  sockaddr_in address{};                         // where it sends from; zero while unknown
  LinkStatus status = LinkStatus::NotConnected;  // a group member's: heard lately enough to count
  // The latest answered probe's (Probes), the best clock exchange's (Session);
  // none before the first.
  std::optional<double> roundTripMs;
  double medianRoundTripMs = 0;  // Probes: over the answered probes of the last minute
  double jitterMs = 0;           // Probes: the mean change between consecutive round trips
  double clockOffsetMs = 0;      // Session: added to our clock, it reads the peer's
  // Losses, as each protocol can tell them: the probes of the last minute,
  // unanswered ones counted from the first answer on (Probes); the peer's packets
  // that never came (Session); what this member sent that was garbage (Group).
  int probesAnswered = 0;
  int probesLost = 0;
  std::uint64_t packetsLost = 0;
  std::uint64_t dropped = 0;
  std::uint64_t datagramsIn = 0;  // Group: heard from this member in the session
  std::uint64_t messagesIn = 0;
};

// What the recovery journals of the packets after gaps put right (Session).
struct Repairs {
  std::uint64_t gaps = 0;
  std::uint64_t packetsLost = 0;  // in those gaps
  std::uint64_t notesEnded = 0;
  std::uint64_t valuesRestored = 0;
};

struct WholeLink {
  // Whether a peer answers; a group's, whether any member was heard lately.
  LinkStatus status = LinkStatus::NotConnected;
  std::uint64_t refused = 0;  // datagrams the peer filter refused (Probes, Session)
  // With a shared key (Probes): datagrams dropped for a missing or wrong tag, and
  // tagged ones that came before.
  std::uint64_t untagged = 0;
  std::uint64_t replayed = 0;
  Repairs repairs;
  // Group: in and out in this session, and the bytes and messages dropped as garbage.
  std::uint64_t datagramsIn = 0;
  std::uint64_t messagesIn = 0;
  std::uint64_t datagramsOut = 0;
  std::uint64_t messagesOut = 0;
  std::uint64_t dropped = 0;
  // Sessions: the peers' commands that never came, not even when asked for again;
  // those made good by the copies in later datagrams; our requests to send again
  // and the commands they brought; the peers' requests, answered.
  std::uint64_t commandsLost = 0;
  std::uint64_t fromCopies = 0;
  std::uint64_t asked = 0;
  std::uint64_t cameWhenAsked = 0;
  std::uint64_t answered = 0;
};

struct LinkFigures {
  Measure measure = Measure::Probes;
  std::vector<PeerFigures> peers;  // a group's: heard in the last minute, most recently heard first
  WholeLink link;
};

}  // namespace strandlink::protocol
