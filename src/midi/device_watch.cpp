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

// The MIDI thread may be playing thru on the old output right now: the new port
// is published first, the old one closed (a send racing with the close is
// dropped) and kept until the input is closed at Stop.
bool reopenOutput(Session& s) {
  std::unique_ptr<MidiOutput> fresh;
  if (s.midi.openOutput(s.state.MidiOutDeviceId + 1, fresh) != kMidiOk) return false;
  if (MidiOutput* old = s.state.hMidiOut.exchange(fresh.get(), std::memory_order_acq_rel)) old->close();
  if (s.midiOut) s.retiredOutputs.push_back(std::move(s.midiOut));
  s.midiOut = std::move(fresh);
  // The device came back fresh: nothing of ours sounds on it.
  s.held = HeldNotes{};
  return true;
}

}  // namespace

void CheckMidiDevices(Session& s) {
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
