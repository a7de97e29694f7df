#include "session/session.h"

#include <cstdlib>

#include "midi/device_watch.h"
#include "midi/midi_path.h"
#include "net/connection_check.h"
#include "net/wsksock.h"
#include "session/statistics.h"

namespace strandlink {

Session::Session(SessionState& s, SessionView& v, MessageBoxes& boxes, midi::MidiService& m)
    : state(s), view(v), reporter(boxes), midi(m), wake([this](std::uint32_t bits) { onWake(bits); }) {
  tmrCeckConnection.setInterval(1000);
  QObject::connect(&tmrCeckConnection, &QTimer::timeout, [this] { net::tmrCeckConnection_Timer(*this); });
  tmrDeviceCheck.setInterval(1000);
  QObject::connect(&tmrDeviceCheck, &QTimer::timeout, [this] { midi::CheckMidiDevices(*this); });
  fatalExit = [] { std::exit(1); };
  countsRefresh_.setSingleShot(true);
  countsRefresh_.setInterval(kCountsRefreshMs);
  QObject::connect(&countsRefresh_, &QTimer::timeout, [this] { showPendingCounts(); });
}

Session::~Session() = default;

void Session::onMidiMessage(const midi::ShortMessage& message, std::int64_t) {
  midi::MidiInProc(*this, message);
}

void Session::onWake(std::uint32_t bits) {
  // The switch may have gone off since the MIDI thread asked; it emptied the box then.
  if (bits & kWakeSentCount) showCountsSoon(true, false);
  if (bits & kWakeSendError) {
    net::ReportNetworkError(*this, midiSendError.load(), QStringLiteral("Tried to send MIDI data:  "),
                            Reporter::Flood::Throttle);
  }
}

void Session::showCountsSoon(bool sent, bool received) {
  sentPending_ |= sent;
  receivedPending_ |= received;
  if (!countsRefresh_.isActive()) countsRefresh_.start();
}

void Session::forgetPendingCounts() {
  countsRefresh_.stop();
  sentPending_ = receivedPending_ = false;
}

void Session::showPendingCounts() {
  // The switch may have gone off since; it emptied the boxes then.
  if (state.StatsEnabled.load()) {
    if (sentPending_) view.setText(TextControl::txtSent, formatCount(state.MidiEventsSent.load()));
    if (receivedPending_) view.setText(TextControl::txtRecv, formatCount(state.MidiEventsReceived.load()));
  }
  sentPending_ = receivedPending_ = false;
}

}  // namespace strandlink
