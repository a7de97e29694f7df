#include "midi/thru.h"

#include "midi/devices.h"
#include "session/session.h"

namespace strandlink::midi {

void chkMidiThru_Click(Session& s) {
  if (s.view.checked(CheckControl::chkMidiThru)) {
    if (CheckFeedbackLoop(s)) {
      s.state.MidiThruEnabled = true;
    } else {
      s.view.setChecked(CheckControl::chkMidiThru, false);
      s.state.MidiThruEnabled = false;
    }
  } else {
    s.state.MidiThruEnabled = false;
  }
  s.view.setThruLinesVisible(s.view.checked(CheckControl::chkMidiThru));
}

bool CheckFeedbackLoop(Session& s) {
  const int outPos = s.view.listIndex(ListControl::OutputDevCombo);
  const int inPos = s.view.listIndex(ListControl::InputDevCombo);
  // With nothing selected on either side there is no pair of devices to join.
  if (outPos < 0 || inPos < 0) return true;
  if (DeviceName(s.state.MidiOutCaps, outPos) != DeviceName(s.state.MidiInCaps, inPos)) return true;
  const QString text = QStringLiteral(
      "You will create a feedback loop...Change Midi Port settings or uncheck \"MidiThru\"");
  s.state.LastApiResult =
      s.reporter.report(text, BoxIcon::Exclamation, QStringLiteral("Strandlink Warning"), text);
  return false;
}

}  // namespace strandlink::midi
