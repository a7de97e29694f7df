// The bridge's watch over its devices: a chosen port that goes away during a
// session (unplugged, or its program ended) is reported once and opened again,
// by its entry in the lists, as soon as it is back.
#include "link/device_lists.h"
#include "link/midi_bridge.h"
#include "link/reporter.h"

namespace strandlink::link {

namespace {

void reportGone(Reporter& reporter, midi::MidiService& service, const QString& what) {
  const QString text = what + QString::fromStdString(service.errorText(midi::kMidiDeviceGone)) +
                       QStringLiteral(" It is opened again as soon as it is back.");
  reporter.report(what, BoxIcon::Exclamation, QStringLiteral("Device Error"), text);
}

}  // namespace

void MidiBridge::checkDevices() {
  checkInput();
  checkOutput();
}

void MidiBridge::checkInput() {
  if (!input_ && !inputGone_) return;
  const bool present = service_.inputPresent(inputPosition_);
  if (!present && !inputGone_) {
    // Set before the box: its nested event loop runs this check again.
    inputGone_ = true;
    reportGone(reporter_, service_, QStringLiteral("Midi Input: ") + lists_.inputName(inputPosition_) +
                                        QStringLiteral(" :  "));
  } else if (present && inputGone_ && reopenInput()) {
    inputGone_ = false;
  }
}

void MidiBridge::checkOutput() {
  if (!output_ && !outputGone_) return;
  const bool present = service_.outputPresent(outputPosition_);
  if (!present && !outputGone_) {
    outputGone_ = true;
    reportGone(reporter_, service_, QStringLiteral("Midi Output: ") + lists_.outputName(outputPosition_) +
                                        QStringLiteral(" :  "));
  } else if (present && outputGone_ && reopenOutput()) {
    outputGone_ = false;
  }
}

// The old port is closed first: it was connected to the port that went away.
bool MidiBridge::reopenInput() {
  if (input_) {
    input_->stop();
    input_->close();
    input_.reset();
  }
  if (openInput() == midi::kMidiOk) return true;
  input_.reset();
  return false;
}

// The MIDI thread may be playing thru on the old output right now: the new port
// is published first, the old one closed (a send racing with the close is
// dropped) and kept until the input is closed.
bool MidiBridge::reopenOutput() {
  std::unique_ptr<midi::MidiOutput> fresh;
  if (openOutput(fresh) != midi::kMidiOk) return false;
  liveOutput_.store(fresh.get(), std::memory_order_release);
  if (output_) {
    output_->close();
    retiredOutputs_.push_back(std::move(output_));
  }
  output_ = std::move(fresh);
  // The device came back fresh: nothing of ours sounds on it.
  held_.forget();
  return true;
}

}  // namespace strandlink::link
