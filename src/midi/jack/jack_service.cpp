#include "midi/jack/jack_service.h"

#include <cstdlib>

#include "midi/jack/jack_ports.h"

namespace strandlink::midi::jack {

std::unique_ptr<JackMidiService> JackMidiService::connect(const std::string& clientName) {
  // PipeWire's JACK turns a note-on of velocity 0 that reaches our input into a
  // note-off of velocity 64 unless its client is told otherwise; the link carries
  // every message as it was played. Set at start-up, before our first client,
  // and only where the user has not set the variable; JACK itself ignores it.
  ::setenv("PIPEWIRE_PROPS", "{ jack.fix-midi-events = false }", 0);
  auto host = std::make_shared<JackHost>(clientName);
  if (!host->open()) return nullptr;
  return std::unique_ptr<JackMidiService>(new JackMidiService(std::move(host)));
}

// At exit: the client is deactivated and closed here, whoever still holds a port.
JackMidiService::~JackMidiService() { host_->close(); }

std::vector<std::string> JackMidiService::inputNames() {
  return listPorts(JackPortIsOutput, inputPorts_, host_->inputName());
}

std::vector<std::string> JackMidiService::outputNames() {
  return listPorts(JackPortIsInput, outputPorts_, host_->outputName());
}

std::vector<std::string> JackMidiService::listPorts(unsigned long flags, std::vector<std::string>& ports,
                                                    const std::string& own) {
  ports.assign(1, std::string());
  for (std::string& name : host_->otherPorts(flags)) ports.push_back(std::move(name));
  std::vector<std::string> names = ports;
  names[0] = own;
  return names;
}

bool JackMidiService::serverAnswers() {
  if (host_->alive()) return true;
  return host_->open();  // closes a dead client first
}

MidiError JackMidiService::openInput(int entry, MidiInputHandler& handler, std::unique_ptr<MidiInput>& port) {
  if (entry < 0 || std::size_t(entry) >= inputPorts_.size()) return MidiError::BadDevice;
  if (!serverAnswers()) return MidiError::NoService;
  if (!host_->cycle().attach(handler)) return MidiError::Allocated;
  if (const MidiError r = host_->connectInput(inputPorts_[std::size_t(entry)]); failed(r)) {
    host_->cycle().detach();
    return r;
  }
  port = std::make_unique<JackInput>(host_);
  return MidiError::Ok;
}

MidiError JackMidiService::openOutput(int entry, std::unique_ptr<MidiOutput>& port) {
  if (entry < 0 || std::size_t(entry) >= outputPorts_.size()) return MidiError::BadDevice;
  if (!serverAnswers()) return MidiError::NoService;
  if (!host_->cycle().takeOutput()) return MidiError::Allocated;
  if (const MidiError r = host_->connectOutput(outputPorts_[std::size_t(entry)]); failed(r)) {
    host_->cycle().releaseOutput();
    return r;
  }
  port = std::make_unique<JackOutput>(host_);
  return MidiError::Ok;
}

// Asked of the server each time: our own port is gone too when the server is. A
// server on its way out takes every port with it, ours too, around the moment
// libjack tells us it is gone: that is the service's loss, which checkService()
// reports once, and no device's, so then a port's absence says nothing.
bool JackMidiService::present(const std::vector<std::string>& ports, int entry, const std::string& own) {
  if (entry < 0 || std::size_t(entry) >= ports.size()) return false;
  const std::string& name = ports[std::size_t(entry)];
  if (host_->portExists(name.empty() ? own : name)) return true;
  return !host_->alive() || !host_->portExists(own);
}

bool JackMidiService::inputPresent(int entry) { return present(inputPorts_, entry, host_->inputName()); }

bool JackMidiService::outputPresent(int entry) { return present(outputPorts_, entry, host_->outputName()); }

bool JackMidiService::portsChanged() {
  if (!serverAnswers()) return false;
  return host_->takePortsChanged();
}

ServiceState JackMidiService::checkService() {
  host_->followOtherConnections();
  if (host_->alive()) {
    if (!restoredUnsaid_) return ServiceState::Up;
    restoredUnsaid_ = false;
    return ServiceState::Restored;
  }
  if (host_->lost()) {
    // The dead client goes at once; a server that is already back gets a new one.
    host_->close();
    restoredUnsaid_ = host_->open();
    return ServiceState::Lost;
  }
  return host_->open() ? ServiceState::Restored : ServiceState::Down;
}

}  // namespace strandlink::midi::jack
