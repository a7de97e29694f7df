#include "midi/alsa/rtmidi_service.h"

#include <cctype>
#include <type_traits>

#include "midi/alsa/rtmidi_backend.h"

namespace strandlink::midi::alsa {

namespace {

bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// " 128:0", the client and port numbers ALSA names end with.
bool isAlsaAddress(std::string_view s) {
  if (s.empty() || s.front() != ' ') return false;
  s.remove_prefix(1);
  const std::size_t colon = s.find(':');
  return colon != std::string_view::npos && allDigits(s.substr(0, colon)) && allDigits(s.substr(colon + 1));
}

}  // namespace

bool isOwnPortName(std::string_view fullName, std::string_view clientName, std::string_view portName) {
  if (fullName.substr(0, clientName.size()) != clientName) return false;
  std::string_view rest = fullName.substr(clientName.size());
  if (rest.empty() || rest.front() != ':') return false;
  rest.remove_prefix(1);
  if (rest.substr(0, portName.size()) != portName) return false;
  rest.remove_prefix(portName.size());
  return rest.empty() || isAlsaAddress(rest);
}

RtMidiService::RtMidiService(const std::string& clientName)
    : clientName_(clientName),
      inputPortName_("in"),
      outputPortName_("out"),
      virtualInput_(std::make_shared<std::atomic<bool>>(false)),
      virtualOutput_(std::make_shared<std::atomic<bool>>(false)) {}

bool RtMidiService::isOwn(std::string_view fullName) const {
  return isOwnPortName(fullName, clientName_, inputPortName_) || isOwnPortName(fullName, clientName_, outputPortName_);
}

// A short-lived RtMidi object lists the ports, so that it does not hold our client
// name while the ports we open later want it.
template <class Backend>
std::vector<std::string> RtMidiService::listPorts(std::vector<std::string>& fullNames,
                                                  const std::string& ownEntryName) {
  fullNames.assign(1, std::string());
  std::vector<std::string> listed{ownEntryName};
  RtMidiErrors errors;
  std::unique_ptr<Backend> lister;
  std::string detail;
  if (createBackend(clientName_, errors, lister, detail) != MidiError::Ok) return listed;
  for (std::string& name : listBackendPorts(*lister)) {
    // Our own ports are reached as entry 0; listing them again would invite a loop.
    if (name.empty() || isOwn(name)) continue;
    listed.push_back(name);
    fullNames.push_back(std::move(name));
  }
  return listed;
}

bool RtMidiService::portsChanged() {
  const auto now = std::chrono::steady_clock::now();
  if (now < nextListing_) return false;
  nextListing_ = now + std::chrono::seconds(2);
  return true;
}

std::vector<std::string> RtMidiService::inputNames() {
  return listPorts<RtMidiIn>(inputPorts_, clientName_ + ":" + inputPortName_);
}

std::vector<std::string> RtMidiService::outputNames() {
  return listPorts<RtMidiOut>(outputPorts_, clientName_ + ":" + outputPortName_);
}

MidiError RtMidiService::openInput(int device, MidiInputHandler& handler, std::unique_ptr<MidiInput>& port) {
  if (device < 0 || static_cast<std::size_t>(device) >= inputPorts_.size()) return MidiError::BadDevice;
  const std::string& fullName = inputPorts_[static_cast<std::size_t>(device)];
  const PortPlace place{clientName_, fullName, inputPortName_, fullName.empty() ? virtualInput_ : nullptr};
  auto opened = std::make_unique<RtMidiInPort>(handler);
  detail_.clear();
  if (const MidiError r = opened->open(place, detail_); failed(r)) return r;
  port = std::move(opened);
  return MidiError::Ok;
}

MidiError RtMidiService::openOutput(int entry, std::unique_ptr<MidiOutput>& port) {
  if (entry < 0 || static_cast<std::size_t>(entry) >= outputPorts_.size()) return MidiError::BadDevice;
  const std::string& fullName = outputPorts_[static_cast<std::size_t>(entry)];
  const PortPlace place{clientName_, fullName, outputPortName_, fullName.empty() ? virtualOutput_ : nullptr};
  auto opened = std::make_unique<RtMidiOutPort>();
  detail_.clear();
  if (const MidiError r = opened->open(place, detail_); failed(r)) return r;
  port = std::move(opened);
  return MidiError::Ok;
}

template <class Backend>
bool RtMidiService::listedBy(Lister<Backend>& lister, const std::string& fullName) {
  std::string detail;
  if (!lister.backend && createBackend(clientName_, lister.errors, lister.backend, detail) != MidiError::Ok) {
    return false;
  }
  for (const std::string& name : listBackendPorts(*lister.backend))
    if (name == fullName) return true;
  return false;
}

// A sequencer that no longer answers lists nothing: gone.
// A port the kept client does not see is looked for once more with a new client,
// since the kept one may have lost a server that has come back since.
template <class Backend>
bool RtMidiService::listed(const std::string& fullName) {
  if (fullName.empty()) return true;
  Lister<Backend>& lister = [this]() -> Lister<Backend>& {
    if constexpr (std::is_same_v<Backend, RtMidiIn>) return inputLister_;
    else return outputLister_;
  }();
  if (listedBy(lister, fullName)) return true;
  lister.backend.reset();
  return listedBy(lister, fullName);
}

bool RtMidiService::inputPresent(int device) {
  if (device < 0 || static_cast<std::size_t>(device) >= inputPorts_.size()) return false;
  return listed<RtMidiIn>(inputPorts_[static_cast<std::size_t>(device)]);
}

bool RtMidiService::outputPresent(int entry) {
  if (entry < 0 || static_cast<std::size_t>(entry) >= outputPorts_.size()) return false;
  return listed<RtMidiOut>(outputPorts_[static_cast<std::size_t>(entry)]);
}

// The backend's own words help with a failure we have no better text for.
std::string RtMidiService::errorText(MidiError error) const {
  std::string text = midiErrorText(error);
  if (error == MidiError::ServiceError && !detail_.empty()) {
    text.pop_back();  // the full stop
    text += ": " + detail_;
  }
  if (text.size() > 255) text.resize(255);
  return text;
}

}  // namespace strandlink::midi::alsa
