// The MIDI device lists as start-up takes them (the window takes them again while
// no session runs and ports come or go; a session keeps the lists it started
// with, whose positions name its devices), and the reports of a device that failed.
#pragma once

#include <QString>

#include <string>
#include <vector>

#include "settings/preferences.h"

namespace strandlink::midi {
class MidiService;
}

namespace strandlink::report {
class Reporter;
}  // namespace strandlink::report

namespace strandlink::link {

struct DeviceLists {
  // Full port names. Entry 0 of each is our own port.
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;

  // The name a list shows for a position; empty when there is no such entry.
  QString inputName(int position) const;
  QString outputName(int position) const;
};

// Whether thru between these two positions would feed the output back into the
// input: the two entries show the same device name.
bool thruWouldLoop(const DeviceLists& lists, int inputPosition, int outputPosition);

// A device opened by its remembered name instead of the one at the stored position.
struct DeviceMove {
  bool input = true;
  int from = -1;  // the stored position
  int to = -1;    // where the remembered port is listed now
};

// The position to open for a stored one. The remembered port wins when it was
// remembered at this very position, the port listed there now has another name,
// and the remembered name is listed elsewhere (a reboot or a re-plug listed the
// ports in another order). Otherwise the stored position stands: a position that
// differs from the remembered one was chosen since. Entry 0, our own port, never
// moves and is never moved to.
int followRememberedName(const std::vector<std::string>& names, int position,
                         const settings::RememberedPort& remembered);
// "Midi Input: NAME, chosen at the last Start, is at position N of the list now; ..."
QString deviceMoveText(const DeviceLists& lists, const DeviceMove& move);

// The "Device Error" boxes: "Midi Input: NAME :  TEXT" and "Midi Output: NAMETEXT".
void reportInputError(report::Reporter& reporter, const DeviceLists& lists, int position, const QString& text);
void reportOutputError(report::Reporter& reporter, const DeviceLists& lists, int position, const QString& text);
// Neither list can open anything: the box says which service is missing, not a device.
void reportMissingService(report::Reporter& reporter, const QString& text);

}  // namespace strandlink::link
