// The short texts both front ends show of a running session: the status line
// (whether the peer answers, and what of our own side is missing, so that a link
// that cannot play is never called healthy), the link's figures and what a Panic
// released.
#pragma once

#include <QString>

#include <cstddef>
#include <optional>

#include "midi/held_notes.h"
#include "protocol/link_figures.h"

namespace strandlink::link {

// What a running session lacks right now: the MIDI service, or a chosen device.
struct Missing {
  bool service = false;
  bool input = false;
  bool output = false;
  bool any() const { return service || input || output; }
  friend bool operator==(const Missing&, const Missing&) = default;
};

// "Connected" or "Not Connected".
QString connectionText(protocol::LinkStatus status);
// A group's state instead: "Group joined - 2 members heard", "Group joined - no
// member heard".
QString groupStateText(std::size_t members);
// The state (connectionText() or groupStateText()), with what is missing after a
// dash: "Connected - output missing".
QString statusText(const QString& state, Missing missing);

// The figures (figures_text.cpp), each protocol's as it measures them; empty
// before there are any. "Link: rtt 0.4 ms (median 0.5 ms), jitter 0.1 ms, lost 0%"
QString figuresText(const protocol::LinkFigures& figures);
// The two figures that matter on stage, short enough for a line of the window:
// "Round trip 0.4 ms, 0% lost".
QString figuresSummary(const protocol::LinkFigures& figures);

// How the window colours the state at a glance: no session; the peer answers;
// waiting for one, or linked without all of our own side; no answer.
enum class StatusTone { Idle, Good, Waiting, Bad };

// What the status line is made from: the session and its peer as the link knows them.
struct LinkState {
  bool running = false;
  protocol::LinkStatus status = protocol::LinkStatus::NotConnected;
  bool waitingForInvitation = false;   // an RTP-MIDI session with no remote: a peer invites it
  QString ownName;                     // the name this session goes by on the network
  QString peerName;                    // the linked peer's, where it gives one
  QString peerAddress;                 // "10.0.0.2:5004"; empty while unknown
  std::optional<std::size_t> members;  // a group's members heard; none: one peer
  Missing missing;
  std::size_t linked = 0;  // participants of a session linked, where it takes several
};

// A few words for a line of the window, and the whole of it for its tooltip.
struct StatusWords {
  QString text;
  QString detail;
  StatusTone tone = StatusTone::Idle;
};
StatusWords statusWords(const LinkState& state);

// "3 notes released", and with notes sent to the peer "3 notes released, 2 on the peer".
QString panicText(const midi::Released& released);

}  // namespace strandlink::link
