#include "session/session.h"

#include <QCoreApplication>

#include <cstdlib>

namespace strandlink {

Session::Session(SessionState& s, SessionView& v, MessageBoxes& boxes, midi::MidiService& m)
    : state(s), view(v), reporter(boxes), midi(m), wake([this](std::uint32_t bits) { onWake(bits); }) {
  tmrCeckConnection.setInterval(1000);
  fatalExit = [] { std::exit(1); };
}

Session::~Session() = default;

void Session::onWake(std::uint32_t bits) {
  (void)bits;  // filled in by the MIDI datagram path
}

}  // namespace strandlink
