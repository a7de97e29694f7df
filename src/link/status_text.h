// The short texts both front ends show of a running session: the status line
// (whether the peer answers, and what of our own side is missing, so that a link
// that cannot play is never called healthy), the link's figures and what a Panic
// released.
#pragma once

#include <QString>

#include <cstddef>

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

// "3 notes released", and with notes sent to the peer "3 notes released, 2 on the peer".
QString panicText(const midi::Released& released);

}  // namespace strandlink::link
