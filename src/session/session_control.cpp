#include "session/session_control.h"

#include "midi/devices.h"
#include "midi/held_notes.h"
#include "midi/thru.h"
#include "net/addresses.h"
#include "net/endpoints.h"
#include "net/socket_service.h"
#include "session/session.h"
#include "settings/settings_file.h"

namespace strandlink {

namespace {

void closeOutput(Session& s) {
  midi::MidiOutPort* out = s.state.hMidiOut.load();
  if (out == nullptr) return;
  if (int r = out->close()) {
    midi::ReportMidiOutError(s, r, s.state.MidiOutDeviceId);
    return;
  }
  // Only the window's thread plays on the output once the input is closed.
  s.state.hMidiOut.store(nullptr, std::memory_order_release);
  s.midiOut.reset();
}

// withReset: Stop resets the input between stopping and closing; the unload does not.
void closeInput(Session& s, bool withReset) {
  midi::MidiInPort* in = s.state.hMidiIn.load();
  if (in == nullptr) return;
  const std::int32_t id = s.state.MidiInDeviceId;
  if (int r = in->stop()) midi::ReportMidiInError(s, r, id);
  if (withReset) {
    if (int r = in->reset()) midi::ReportMidiInError(s, r, id);
  }
  if (int r = in->close()) {
    midi::ReportMidiInError(s, r, id);
    return;
  }
  s.state.hMidiIn.store(nullptr);
  s.midiIn.reset();
}

}  // namespace

bool cmdStart_Click(Session& s) {
  if (net::ValidateNetworkSettings(s)) return false;
  if (s.view.checked(CheckControl::chkMidiThru) && !midi::CheckFeedbackLoop(s)) return false;
  if (net::OpenUdpEndpoints(s)) return false;
  if (midi::OpenMidiDevices(s)) {
    net::CloseUdpEndpoints(s);
    return false;
  }
  s.link.clear();
  s.rejectedDatagrams = 0;
  s.inputGone = s.outputGone = false;
  s.view.enterRunning();
  s.tmrCeckConnection.start();
  s.tmrDeviceCheck.start();
  return true;
}

void StopSession(Session& s) {
  // While the output is still open: nothing the peer started may keep sounding.
  midi::ReleaseHeldNotes(s);
  s.tmrDeviceCheck.stop();
  closeInput(s, true);
  s.retiredOutputs.clear();
  closeOutput(s);
  // Whatever the MIDI thread handed over before its input closed is shown now.
  s.wake.drain();
  s.tmrCeckConnection.stop();
  s.view.setLinkQuality(QString());
  s.view.enterIdle();
  net::CloseUdpEndpoints(s);
}

void Form_Unload(Session& s, bool saveDefault) {
  if (s.state.hMidiIn.load() != nullptr) {
    midi::ReleaseHeldNotes(s);
    closeInput(s, false);
    s.retiredOutputs.clear();
    closeOutput(s);
  }
  s.tmrDeviceCheck.stop();
  s.tmrCeckConnection.stop();
  net::CloseUdpEndpoints(s);
  s.state.LastApiResult = net::WSACleanup();
  if (saveDefault) settings::SaveSettings(s, QString());
}

}  // namespace strandlink
