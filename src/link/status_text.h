// The short texts both front ends show of a running session: the status line
// (whether the peer answers, and what of our own side is missing, so that a link
// that cannot play is never called healthy) and what a Panic released.
#pragma once

#include <QString>

#include <cstddef>

#include "midi/held_notes.h"
#include "protocol/classic/connection_monitor.h"

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

// "3 notes released", and with notes sent to the peer "3 notes released, 2 on the peer".
QString panicText(const midi::Released& released);

}  // namespace strandlink::link
