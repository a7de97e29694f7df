#include "midi/devices.h"

#include "midi/midi_path.h"
#include "midi/midi_service.h"
#include "session/session.h"

namespace strandlink::midi {

QString DeviceName(const std::vector<std::string>& caps, std::int64_t index) {
  if (index < 0 || index >= static_cast<std::int64_t>(caps.size())) return QString();
  const std::string& name = caps[static_cast<std::size_t>(index)];
  return QString::fromStdString(listedPortName(name));
}


void ListMidiDevices(Session& s, const std::function<void()>& afterMapper) {
  auto& st = s.state;
  st.MidiOutCaps = s.midi.outputNames();
  if (!st.MidiOutCaps.empty()) {
    for (std::size_t k = 0; k < st.MidiOutCaps.size(); ++k) {
      s.view.addListItem(ListControl::OutputDevCombo, DeviceName(st.MidiOutCaps, std::int64_t(k)));
      if (k == 0 && afterMapper) afterMapper();
    }
    st.MidiOutDeviceId = -1;
    s.view.setListIndex(ListControl::OutputDevCombo, 0);
  }
  st.MidiInCaps = s.midi.inputNames();
  if (!st.MidiInCaps.empty()) {
    for (std::size_t k = 0; k < st.MidiInCaps.size(); ++k)
      s.view.addListItem(ListControl::InputDevCombo, DeviceName(st.MidiInCaps, std::int64_t(k)));
    st.MidiInDeviceId = 0;
    s.view.setListIndex(ListControl::InputDevCombo, 0);
  }
}

void InputDevCombo_LostFocus(Session& s) {
  s.state.MidiInDeviceId = s.view.listIndex(ListControl::InputDevCombo);
}

void OutputDevCombo_LostFocus(Session& s) {
  s.state.MidiOutDeviceId = s.view.listIndex(ListControl::OutputDevCombo) - 1;
}

bool OpenMidiDevices(Session& s) {
  auto& st = s.state;
  bool failed = false;

  int r = s.midi.openInput(st.MidiInDeviceId, s, s.midiIn);
  st.LastApiResult = r;
  if (r != 0) {
    ReportMidiInError(s, r, st.MidiInDeviceId);
    failed = true;
  } else {
    st.hMidiIn.store(s.midiIn.get());
    r = s.midiIn->start();
    st.LastApiResult = r;
    if (r != 0) {
      ReportMidiInError(s, r, st.MidiInDeviceId);
      failed = true;
    }
  }

  // Tried even when the input failed, so one Start reports both devices.
  r = s.midi.openOutput(st.MidiOutDeviceId + 1, s.midiOut);
  st.LastApiResult = r;
  if (r != 0) {
    ReportMidiOutError(s, r, st.MidiOutDeviceId);
    failed = true;
  } else {
    st.hMidiOut.store(s.midiOut.get(), std::memory_order_release);
  }

  if (failed) {
    CloseMidiInput(s, true);
    CloseMidiOutput(s);
  }
  return failed;
}

void CloseMidiInput(Session& s, bool withReset) {
  MidiInput* in = s.state.hMidiIn.load();
  if (in == nullptr) return;
  const std::int32_t id = s.state.MidiInDeviceId;
  if (int r = in->stop()) ReportMidiInError(s, r, id);
  (void)withReset;
  if (int r = in->close()) {
    ReportMidiInError(s, r, id);
    return;
  }
  s.state.hMidiIn.store(nullptr);
  s.midiIn.reset();
}

void CloseMidiOutput(Session& s) {
  MidiOutput* out = s.state.hMidiOut.load();
  if (out == nullptr) return;
  if (int r = out->close()) {
    ReportMidiOutError(s, r, s.state.MidiOutDeviceId);
    return;
  }
  // Only the window's thread plays on the output once the input is closed.
  s.state.hMidiOut.store(nullptr, std::memory_order_release);
  s.midiOut.reset();
}

void ReportMidiInError(Session& s, int code, std::int32_t device) {
  const QString text = QStringLiteral("Midi Input: ") + DeviceName(s.state.MidiInCaps, device) +
                       QStringLiteral(" :  ") + QString::fromStdString(s.midi.errorText(code));
  s.state.LastApiResult = s.reporter.report(text, BoxIcon::Exclamation, QStringLiteral("Device Error"), text);
}

void ReportMidiOutError(Session& s, int code, std::int32_t device) {
  const QString text = QStringLiteral("Midi Output: ") + DeviceName(s.state.MidiOutCaps, std::int64_t(device) + 1) +
                       QString::fromStdString(s.midi.errorText(code));
  s.state.LastApiResult = s.reporter.report(text, BoxIcon::Exclamation, QStringLiteral("Device Error"), text);
}

}  // namespace strandlink::midi
