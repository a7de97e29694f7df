// The MIDI device lists as start-up takes them (they are never taken again while
// the program runs, so settings files can keep list positions), and the reports
// of a device that failed.
#pragma once

#include <QString>

#include <string>
#include <vector>

namespace strandlink::midi {
class MidiService;
}

namespace strandlink::link {

class Reporter;

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

// The "Device Error" boxes: "Midi Input: NAME :  TEXT" and "Midi Output: NAMETEXT".
void reportInputError(Reporter& reporter, const DeviceLists& lists, int position, const QString& text);
void reportOutputError(Reporter& reporter, const DeviceLists& lists, int position, const QString& text);

}  // namespace strandlink::link
