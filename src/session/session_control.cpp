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
  midi::CloseMidiInput(s, true);
  s.retiredOutputs.clear();
  midi::CloseMidiOutput(s);
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
    midi::CloseMidiInput(s, false);
    s.retiredOutputs.clear();
    midi::CloseMidiOutput(s);
  }
  s.tmrDeviceCheck.stop();
  s.tmrCeckConnection.stop();
  net::CloseUdpEndpoints(s);
  s.state.LastApiResult = net::WSACleanup();
  if (saveDefault) settings::SaveSettings(s, QString());
}

}  // namespace strandlink
