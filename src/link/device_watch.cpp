// The bridge's watch over its devices: a chosen port that goes away during a
// session (unplugged, or its program ended) is reported once and opened again,
// by its entry in the lists, as soon as it is back. A MIDI service that goes
// away as a whole (a JACK server that ended) is reported once for all devices and
// makes its ports and connections again by itself when it is back.
#include "link/device_lists.h"
#include "link/midi_bridge.h"
#include "report/reporter.h"

namespace strandlink::link {

namespace {

void reportGone(report::Reporter& reporter, midi::MidiService& service, const QString& what) {
  const QString text = what + QString::fromStdString(service.errorText(midi::MidiError::DeviceGone)) +
                       QStringLiteral(" It is opened again as soon as it is back.");
  reporter.post(report::BoxIcon::Exclamation, QStringLiteral("Device Error"), text);
}

}  // namespace

// The service itself went away or came back: one report for all devices. True
// while the devices' own presence says nothing. Every check goes on at once:
// none waits for a box.
bool MidiBridge::serviceAway() {
  const QString context = QStringLiteral("Midi Service:  ");
  switch (service_.checkService()) {
    case midi::ServiceState::Up: return false;
    case midi::ServiceState::Lost:
      serviceDown_ = true;
      reporter_.post(report::BoxIcon::Exclamation, QStringLiteral("Device Error"),
                     context + QString::fromStdString(service_.errorText(midi::MidiError::ServiceLost)) +
                         QStringLiteral(" Its ports and connections are made again as soon as it is back."));
      return true;
    case midi::ServiceState::Down: serviceDown_ = true; return true;
    case midi::ServiceState::Restored:
      serviceDown_ = false;
      // Everything behind the output started afresh: nothing of ours sounds on it.
      forgetHeld();
      reporter_.post(report::BoxIcon::Information, report::kAppTitle,
                     context + QStringLiteral("The MIDI service is back; its ports and connections are made again."));
      // The devices are asked at once: those not back yet are followed from now on.
      return false;
  }
  return false;
}

void MidiBridge::checkDevices() {
  if (serviceAway()) return;
  checkInput();
  checkOutput();
}

Missing MidiBridge::missing() const { return {serviceDown_, inputGone_, outputGone_}; }

void MidiBridge::checkInput() {
  if (!input_ && !inputGone_) return;
  followDevice(inputGone_, service_.inputPresent(inputPosition_),
               QStringLiteral("Midi Input: ") + lists_.inputName(inputPosition_), &MidiBridge::reopenInput);
}

void MidiBridge::checkOutput() {
  if (!output_ && !outputGone_) return;
  followDevice(outputGone_, service_.outputPresent(outputPosition_),
               QStringLiteral("Midi Output: ") + lists_.outputName(outputPosition_), &MidiBridge::reopenOutput);
}

void MidiBridge::followDevice(bool& gone, bool present, const QString& device, bool (MidiBridge::*reopen)()) {
  if (!present && !gone) {
    gone = true;
    reportGone(reporter_, service_, device + QStringLiteral(" :  "));
  } else if (present && gone && (this->*reopen)()) {
    gone = false;
  }
}

// The old port is closed first: it was connected to the port that went away.
bool MidiBridge::reopenInput() {
  dropInput();
  if (openInput() == midi::MidiError::Ok) return true;
  input_.reset();
  return false;
}

// The MIDI thread may be playing thru on the old output right now: it is closed
// first (a service may have one output open at a time; a send racing with the
// close is dropped) and kept until the input is closed.
bool MidiBridge::reopenOutput() {
  liveOutput_.store(nullptr, std::memory_order_release);
  if (output_) {
    static_cast<void>(output_->close());
    retiredOutputs_.push_back(std::move(output_));
  }
  if (openOutput(output_) != midi::MidiError::Ok) {
    output_.reset();
    return false;
  }
  liveOutput_.store(output_.get(), std::memory_order_release);
  // The device came back fresh: nothing of ours sounds on it.
  forgetHeld();
  return true;
}

}  // namespace strandlink::link
