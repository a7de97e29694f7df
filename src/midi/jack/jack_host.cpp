#include "midi/jack/jack_host.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>

#include "base/quiet_threads.h"
#include "midi/midi_service.h"

namespace strandlink::midi::jack {

namespace {

// libjack's own complaints go nowhere: a server that is not there is an ordinary
// answer (the device check asks once a second while it is away), and a server
// that goes away is reported once, by us.
void dropJackMessage(const char*) {}

}  // namespace

bool JackHost::open() {
  close();
  // What the last server took away is wanted back; what was lost before and is
  // not back yet stays wanted.
  for (Connection& c : seenConnections_)
    if (std::find(lostConnections_.begin(), lostConnections_.end(), c) == lostConnections_.end())
      lostConnections_.push_back(std::move(c));
  seenConnections_.clear();
  jack_set_error_function(&dropJackMessage);
  jack_set_info_function(&dropJackMessage);
  // libjack's threads (its notifications, the process cycle) start in here.
  const QuietThreads quiet;
  client_ = jack_client_open(requestedName_.c_str(), JackNoStartServer, nullptr);
  if (client_ == nullptr) return false;
  shutDown_.store(false);
  jack_set_process_callback(client_, &JackHost::onProcess, this);
  // JACK calls the first, PipeWire's JACK (0.3.65) only the second.
  jack_on_info_shutdown(client_, &JackHost::onShutdown, this);
  jack_on_shutdown(client_, &JackHost::onPlainShutdown, this);
  jack_set_port_registration_callback(client_, &JackHost::onPortRegistration, this);
  portsChanged_.store(true);
  // Nothing the cycle did for a lost server is played to the new one.
  cycle_.dropQueued();
  if (!registerPorts() || jack_activate(client_) != 0) {
    close();
    return false;
  }
  cycle_.setServing(true);
  // A device not back yet is no failure of the service: the device watch finds
  // it missing and connects it when it returns.
  if (!inputSource_.empty()) static_cast<void>(connect(inputSource_, inputName_));
  if (!outputTarget_.empty()) static_cast<void>(connect(outputName_, outputTarget_));
  connectLostConnections();
  return true;
}

bool JackHost::registerPorts() {
  jack_port_t* in = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  jack_port_t* out = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (in == nullptr || out == nullptr) return false;
  inputName_ = jack_port_name(in);
  outputName_ = jack_port_name(out);
  in_.store(in);
  out_.store(out);
  cycleClient_.store(client_);
  return true;
}

// Deactivated first: no process cycle runs once that returns, so closing (which
// frees the ports and their buffers) cannot pull anything from under one.
void JackHost::close() {
  if (client_ == nullptr) return;
  cycle_.setServing(false);
  // libjack's close gives the calling thread the signal mask it had at open,
  // which was a quiet one: this thread's own comes back afterwards.
  const QuietThreads quiet;
  jack_deactivate(client_);
  jack_client_close(client_);
  client_ = nullptr;
  cycleClient_.store(nullptr);
  in_.store(nullptr);
  out_.store(nullptr);
}

// Real-time thread. libjack ends this thread with pthread_cancel when the client
// is deactivated; a cancellation point inside the cycle (the handler's sendto)
// would end it half way through, so the cycle runs to its end first.
int JackHost::onProcess(jack_nframes_t frames, void* self) {
  int cancelState = 0;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
  auto& host = *static_cast<JackHost*>(self);
  jack_port_t* in = host.in_.load(std::memory_order_acquire);
  jack_port_t* out = host.out_.load(std::memory_order_acquire);
  jack_client_t* client = host.cycleClient_.load(std::memory_order_acquire);
  if (in != nullptr && out != nullptr && client != nullptr) host.cycle_.process(client, in, out, frames);
  pthread_setcancelstate(cancelState, nullptr);
  return 0;
}

// libjack's thread (or PipeWire's), when the server has gone, perhaps twice: from
// now on the client may only be closed.
void JackHost::onShutdown(jack_status_t, const char*, void* self) {
  auto& host = *static_cast<JackHost*>(self);
  host.cycle_.setServing(false);
  host.shutDown_.store(true);
}

void JackHost::onPlainShutdown(void* self) { onShutdown(JackFailure, "", self); }

// libjack's notification thread: a flag for the window's thread to read.
void JackHost::onPortRegistration(jack_port_id_t, int, void* self) {
  static_cast<JackHost*>(self)->portsChanged_.store(true);
}

void JackHost::followOtherConnections() {
  if (!alive()) return;
  connectLostConnections();
  seenConnections_.clear();
  addOtherConnections(in_.load(), inputName_, inputSource_, false);
  addOtherConnections(out_.load(), outputName_, outputTarget_, true);
}

void JackHost::connectLostConnections() {
  std::erase_if(lostConnections_, [this](const Connection& c) {
    if (!portExists(c.source) || !portExists(c.destination)) return false;
    jack_connect(client_, c.source.c_str(), c.destination.c_str());
    return true;
  });
}

void JackHost::addOtherConnections(jack_port_t* port, const std::string& own, const std::string& device,
                                   bool ownIsSource) {
  if (port == nullptr) return;
  const char** names = jack_port_get_all_connections(client_, port);
  if (names == nullptr) return;
  for (const char** p = names; *p != nullptr; ++p) {
    if (device == *p) continue;
    seenConnections_.push_back(ownIsSource ? Connection{own, *p} : Connection{*p, own});
  }
  jack_free(names);
}

std::vector<std::string> JackHost::otherPorts(unsigned long flags) const {
  std::vector<std::string> names;
  if (!alive()) return names;
  const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
  if (ports == nullptr) return names;
  const std::string own = std::string(jack_get_client_name(client_)) + ":";
  for (const char** p = ports; *p != nullptr; ++p)
    if (std::string_view(*p).substr(0, own.size()) != own) names.emplace_back(*p);
  jack_free(ports);
  return names;
}

bool JackHost::portExists(const std::string& fullName) const {
  return alive() && jack_port_by_name(client_, fullName.c_str()) != nullptr;
}

MidiError JackHost::connect(const std::string& source, const std::string& destination) {
  if (!alive()) return MidiError::NoService;
  const int r = jack_connect(client_, source.c_str(), destination.c_str());
  if (r == 0 || r == EEXIST) return MidiError::Ok;
  // The device went between the look-up and the connection.
  return portExists(source) && portExists(destination) ? MidiError::ServiceError : MidiError::DeviceGone;
}

MidiError JackHost::connectInput(const std::string& source) {
  return connectDevice(source, source, inputName_, inputSource_);
}

void JackHost::disconnectInput() {
  if (!inputSource_.empty() && alive()) jack_disconnect(client_, inputSource_.c_str(), inputName_.c_str());
  inputSource_.clear();
}

MidiError JackHost::connectOutput(const std::string& target) {
  return connectDevice(target, outputName_, target, outputTarget_);
}

MidiError JackHost::connectDevice(const std::string& device, const std::string& source, const std::string& destination,
                                  std::string& remembered) {
  if (!device.empty()) {
    if (!portExists(device)) return alive() ? MidiError::DeviceGone : MidiError::NoService;
    if (const MidiError r = connect(source, destination); failed(r)) return r;
  }
  remembered = device;
  return MidiError::Ok;
}

void JackHost::disconnectOutput() {
  if (!outputTarget_.empty() && alive()) jack_disconnect(client_, outputName_.c_str(), outputTarget_.c_str());
  outputTarget_.clear();
}

}  // namespace strandlink::midi::jack
