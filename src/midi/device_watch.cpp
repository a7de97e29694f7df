#include "midi/device_watch.h"

#include "midi/devices.h"
#include "midi/midi_path.h"
#include "session/session.h"

namespace strandlink::midi {

namespace {

const QString kBackText = QStringLiteral(" It is opened again as soon as it is back.");

void reportGone(Session& s, const QString& what) {
  const QString text = what + QString::fromStdString(s.midi.errorText(kMidiDeviceGone)) + kBackText;
  s.reporter.report(what, BoxIcon::Exclamation, QStringLiteral("Device Error"), text);
}

// The old port is closed first: it was connected to the port that went away.
bool reopenInput(Session& s) {
  if (MidiInput* old = s.state.hMidiIn.exchange(nullptr)) {
    old->stop();
    old->close();
    s.midiIn.reset();
  }
  if (s.midi.openInput(s.state.MidiInDeviceId, s, s.midiIn) != kMidiOk) return false;
  s.state.hMidiIn.store(s.midiIn.get());
  return s.midiIn->start() == kMidiOk;
}

// The MIDI thread may be playing thru on the old output right now: it is closed
// first (a service may have one output open at a time; a send racing with the
// close is dropped) and kept until the input is closed at Stop.
bool reopenOutput(Session& s) {
  if (MidiOutput* old = s.state.hMidiOut.exchange(nullptr, std::memory_order_acq_rel)) old->close();
  if (s.midiOut) s.retiredOutputs.push_back(std::move(s.midiOut));
  if (s.midi.openOutput(s.state.MidiOutDeviceId + 1, s.midiOut) != kMidiOk) return false;
  s.state.hMidiOut.store(s.midiOut.get(), std::memory_order_release);
  // The device came back fresh: nothing of ours sounds on it.
  s.held = HeldNotes{};
  return true;
}

// The service itself went away or came back: one report for all devices.
bool serviceChanged(Session& s) {
  const QString context = QStringLiteral("Midi Service:  ");
  switch (s.midi.checkService()) {
    case ServiceState::Up:
      return false;
    case ServiceState::Lost:
      s.reporter.report(context, BoxIcon::Exclamation, QStringLiteral("Device Error"),
                        context + QString::fromStdString(s.midi.errorText(kMidiServiceLost)) +
                            QStringLiteral(" Its ports and connections are made again as soon as it is back."));
      return true;
    case ServiceState::Down:
      return true;
    case ServiceState::Restored:
      // Everything behind the output started afresh: nothing of ours sounds on it.
      s.held = HeldNotes{};
      s.reporter.report(context, BoxIcon::Information, kAppTitle,
                        context + QStringLiteral("The MIDI service is back; its ports and connections are made again."));
      return true;
  }
  return false;
}

}  // namespace

void CheckMidiDevices(Session& s) {
  if (serviceChanged(s)) return;
  auto& st = s.state;
  if (st.hMidiIn.load() != nullptr || s.inputGone) {
    const bool present = s.midi.inputPresent(st.MidiInDeviceId);
    if (!present && !s.inputGone) {
      // Set before the box: its nested event loop runs this check again.
      s.inputGone = true;
      reportGone(s, QStringLiteral("Midi Input: ") + DeviceName(st.MidiInCaps, st.MidiInDeviceId) +
                        QStringLiteral(" :  "));
    } else if (present && s.inputGone && reopenInput(s)) {
      s.inputGone = false;
    }
  }
  if (st.hMidiOut.load() != nullptr || s.outputGone) {
    const bool present = s.midi.outputPresent(st.MidiOutDeviceId + 1);
    if (!present && !s.outputGone) {
      s.outputGone = true;
      reportGone(s, QStringLiteral("Midi Output: ") +
                        DeviceName(st.MidiOutCaps, std::int64_t(st.MidiOutDeviceId) + 1) + QStringLiteral(" :  "));
    } else if (present && s.outputGone && reopenOutput(s)) {
      s.outputGone = false;
    }
  }
}

}  // namespace strandlink::midi
