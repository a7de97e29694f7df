#include "link/midi_bridge.h"

#include <algorithm>
#include <chrono>
#include <span>

#include "link/device_lists.h"
#include "link/reporter.h"
#include "net/udp_socket.h"

namespace strandlink::link {

namespace {

QString midiErrorText(midi::MidiService& service, midi::MidiError error) {
  return QString::fromStdString(service.errorText(error));
}

// The clock of the input's moments (CLOCK_MONOTONIC), in µs.
std::int64_t monotonicMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

MidiBridge::MidiBridge(midi::MidiService& service, const DeviceLists& lists, Reporter& reporter)
    : service_(service), lists_(lists), reporter_(reporter), wake_([this](std::uint32_t bits) { onWake(bits); }) {}

// The MIDI thread uses the output, the socket and the wake until the input is
// closed, so the input goes first, whatever state the link is in.
MidiBridge::~MidiBridge() {
  // Nobody is left to tell of a failure now.
  if (input_) {
    static_cast<void>(input_->stop());
    static_cast<void>(input_->close());
    input_.reset();
  }
  liveOutput_.store(nullptr);
  retiredOutputs_.clear();
  if (output_) static_cast<void>(output_->close());
  output_.reset();
}

void MidiBridge::setDestination(int socketFd, const sockaddr_in& peer) {
  peer_.store(peer);
  socket_.store(socketFd, std::memory_order_release);
}

void MidiBridge::setTiming(settings::Timing timing, int delayMs) {
  steady_ = timing == settings::Timing::Steady;
  stamping_.store(steady_, std::memory_order_relaxed);
  delayMicros_ = std::int64_t(delayMs) * 1000;
  schedule_.reset();
}

// The MIDI thread. The loop's work (an error box) is handed over through the
// wake: this thread never waits on the window.
void MidiBridge::onMidiMessage(midi::MidiEventView event, std::int64_t timeMicros) {
  if (event.isSysEx()) return passSysEx(event);
  const auto message = midi::ShortMessage::fromBytes(event.bytes());
  // Three bytes whatever the message's size (the bytes it does not use are 0),
  // and in steady timing the moment it was played.
  const auto datagram = stampedDatagram(message, timeMicros);
  const std::size_t size = stamping_.load(std::memory_order_relaxed) ? kStampedDatagramSize : kPlainDatagramSize;
  const net::Transfer sent =
      net::sendDatagram(socket_.load(std::memory_order_acquire), std::span(datagram).first(size), peer_.load());
  sent_.fetch_add(1, std::memory_order_relaxed);
  if (sent.ok()) {
    sentHeld_.track(message);
  } else {
    sendError_.store(sent.error, std::memory_order_relaxed);
    wake_.post(kSendFailed);
  }
  // The network first, then the local thru.
  if (thru_.load(std::memory_order_relaxed)) {
    midi::MidiOutput* out = liveOutput_.load(std::memory_order_acquire);
    if (out != nullptr && out->send(message) == midi::MidiError::Ok) thruHeld_.track(message);
  }
}

void MidiBridge::onWake(std::uint32_t bits) {
  if (bits & kSendFailed) {
    reporter_.socketError(sendError_.load(std::memory_order_relaxed), QStringLiteral("Tried to send MIDI data:  "),
                          Reporter::Flood::Throttle);
  }
  if (bits & kSysExNotSent)
    noteOnce(sysExNoted_, QStringLiteral("SysEx from the MIDI input is not sent to the peer: the classic peer "
                                         "protocol carries short messages only. Midi Thru still plays it here."));
  if (bits & kInputDropped)
    noteOnce(dropNoted_, QStringLiteral("A SysEx message longer than 64 KiB, or broken off before its end, "
                                        "reached the MIDI input and was dropped."));
}

// The MIDI thread. Counted and said once; the thru plays it as any other message.
void MidiBridge::passSysEx(midi::MidiEventView event) {
  sysExNotSent_.fetch_add(1, std::memory_order_relaxed);
  if (!sysExSeen_.exchange(true, std::memory_order_relaxed)) wake_.post(kSysExNotSent);
  if (thru_.load(std::memory_order_relaxed)) {
    if (midi::MidiOutput* out = liveOutput_.load(std::memory_order_acquire)) static_cast<void>(out->send(event));
  }
}

void MidiBridge::onMidiDropped() { wake_.post(kInputDropped); }

void MidiBridge::noteOnce(bool& said, const QString& text) {
  if (said) return;
  said = true;
  reporter_.report(BoxIcon::Information, kAppTitle, text);
}

bool MidiBridge::open(int inputPosition, int outputPosition) {
  inputPosition_ = inputPosition;
  outputPosition_ = outputPosition;
  sysExNoted_ = dropNoted_ = false;
  sysExSeen_.store(false, std::memory_order_relaxed);
  inputGone_ = outputGone_ = serviceDown_ = false;
  bool failed = false;
  if (const midi::MidiError r = openInput(); midi::failed(r)) {
    if (r == midi::MidiError::NoService) {
      // No device opens without a service: one box names what is missing.
      reportMissingService(reporter_, midiErrorText(service_, r));
      close();
      return false;
    }
    reportInputError(reporter_, lists_, inputPosition_, midiErrorText(service_, r));
    failed = true;
  }
  std::unique_ptr<midi::MidiOutput> out;
  if (const midi::MidiError r = openOutput(out); midi::failed(r)) {
    reportOutputError(reporter_, lists_, outputPosition_, midiErrorText(service_, r));
    failed = true;
  } else {
    output_ = std::move(out);
    liveOutput_.store(output_.get(), std::memory_order_release);
  }
  if (failed) close();
  return !failed;
}

// Opened and started; a port that would not start is closed again.
midi::MidiError MidiBridge::openInput() {
  std::unique_ptr<midi::MidiInput> in;
  if (const midi::MidiError r = service_.openInput(inputPosition_, *this, in); midi::failed(r)) return r;
  input_ = std::move(in);
  return input_->start();
}

midi::MidiError MidiBridge::openOutput(std::unique_ptr<midi::MidiOutput>& port) {
  return service_.openOutput(outputPosition_, port);
}

// The input first, so that no thru note starts after the release; then every
// note still sounding is released while the output is open.
void MidiBridge::close() {
  closeInput();
  releaseHeld();
  closeOutputs();
  wake_.drain();  // whatever the MIDI thread handed over before its input closed
}

void MidiBridge::closeInput() {
  if (!input_) return;
  if (const midi::MidiError r = input_->stop(); midi::failed(r))
    reportInputError(reporter_, lists_, inputPosition_, midiErrorText(service_, r));
  if (const midi::MidiError r = input_->close(); midi::failed(r)) {
    reportInputError(reporter_, lists_, inputPosition_, midiErrorText(service_, r));
    return;
  }
  input_.reset();
}

// Once the input is closed only the loop's thread plays on the outputs.
void MidiBridge::closeOutputs() {
  if (input_) return;  // its thread may still play thru on them
  retiredOutputs_.clear();
  if (!output_) return;
  if (const midi::MidiError r = output_->close(); midi::failed(r)) {
    reportOutputError(reporter_, lists_, outputPosition_, midiErrorText(service_, r));
    return;
  }
  liveOutput_.store(nullptr, std::memory_order_release);
  output_.reset();
}

bool MidiBridge::play(const midi::ShortMessage& message, std::optional<std::int64_t> atMicros) {
  // The receiving side packs data 1 into a signed 16-bit half: from 128 on, the
  // message cannot be played at all.
  if (message.bytes[1] >= 128 || !output_) return false;
  const midi::MidiError r = atMicros ? output_->sendAt(message, *atMicros) : output_->send(message);
  if (r != midi::MidiError::Ok) return false;
  held_.track(message);
  return true;
}

// The schedule gives the moment; the output can still place a message into a
// cycle only before that cycle begins, so each is written one period of the
// output after its moment, into the first cycle that can still take it. A
// message that is not played (a datagram anyone could have sent) teaches the
// schedule nothing.
bool MidiBridge::playReceived(const midi::ShortMessage& message, std::optional<std::uint32_t> stamp,
                              std::int64_t arrivalMicros) {
  if (!steady_ || !output_) return play(message);
  const std::int64_t period = output_->periodMicros();
  const std::int64_t delay = std::max(delayMicros_, period);
  const SteadySchedule before = schedule_;
  const std::int64_t moment =
      stamp ? schedule_.stamped(*stamp, arrivalMicros, delay) : schedule_.unstamped(arrivalMicros, delay);
  if (play(message, moment + period)) return true;
  schedule_ = before;
  return false;
}

Released MidiBridge::releaseHeld() {
  HeldSet sounding = held_.take();
  sounding.merge(thruHeld_.take());
  // Without an output nothing of ours can be sounding any more.
  if (!output_) return {};
  return sounding.release([this](const midi::ShortMessage& m) { static_cast<void>(output_->send(m)); });
}

void MidiBridge::forgetHeld() {
  held_.forget();
  thruHeld_.forget();
}

// The loop's thread, beside the MIDI thread's sends on the same socket (each
// datagram is sent whole). Stamped with now in steady timing, like a message
// just played.
int MidiBridge::releaseSent() {
  const int socket = socket_.load(std::memory_order_acquire);
  const HeldSet held = sentHeld_.take();
  if (socket < 0) return 0;
  const std::size_t size = stamping_.load(std::memory_order_relaxed) ? kStampedDatagramSize : kPlainDatagramSize;
  const Released sent = held.release([&](const midi::ShortMessage& m) {
    const auto datagram = stampedDatagram(m, monotonicMicros());
    net::sendDatagram(socket, std::span(datagram).first(size), peer_.load());
  });
  return sent.notes;
}

}  // namespace strandlink::link
