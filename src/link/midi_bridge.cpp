#include "link/midi_bridge.h"

#include <algorithm>
#include <span>

#include "base/monotonic_clock.h"
#include "link/device_lists.h"
#include "protocol/peer_protocol.h"
#include "report/reporter.h"

namespace strandlink::link {

namespace {

QString midiErrorText(midi::MidiService& service, midi::MidiError error) {
  return QString::fromStdString(service.errorText(error));
}

}  // namespace

MidiBridge::MidiBridge(midi::MidiService& service, const DeviceLists& lists, report::Reporter& reporter)
    : service_(service), lists_(lists), reporter_(reporter), wake_([this](std::uint32_t bits) { onWake(bits); }) {}

// The MIDI thread uses the output, the socket and the wake until the input is
// closed, so the input goes first, whatever state the link is in.
MidiBridge::~MidiBridge() {
  // Nobody is left to tell of a failure now.
  dropInput();
  liveOutput_.store(nullptr);
  retiredOutputs_.clear();
  if (output_) static_cast<void>(output_->close());
  output_.reset();
}

void MidiBridge::setTiming(settings::Timing timing, int delayMs) {
  steady_ = timing == settings::Timing::Steady;
  delayMicros_ = std::int64_t(delayMs) * 1000;
  for (SteadySchedule& schedule : schedules_) schedule.reset();
}

// The MIDI thread. The loop's work (an error box) is handed over through the
// wake: this thread never waits on the window.
void MidiBridge::onMidiMessage(midi::MidiEventView event, std::int64_t timeMicros) {
  if (protocol::PeerProtocol* peer = protocol_.load(std::memory_order_acquire)) forward(*peer, event, timeMicros);
  // The network first, then the local thru.
  if (thru_.load(std::memory_order_relaxed)) playThru(event);
}

void MidiBridge::forward(protocol::PeerProtocol& peer, midi::MidiEventView event, std::int64_t timeMicros) {
  switch (peer.send(event, timeMicros)) {
    case protocol::SendResult::Sent:
      sent_.fetch_add(1, std::memory_order_relaxed);
      if (!event.isSysEx()) sentHeld_.track(midi::ShortMessage::fromBytes(event.bytes()));
      break;
    case protocol::SendResult::NotCarried:
      if (!sysExSeen_.exchange(true, std::memory_order_relaxed))
        wake_.post(event.isSysEx() ? kSysExNotSent : kNotWholeNotSent);
      break;
    case protocol::SendResult::Failed:
      sent_.fetch_add(1, std::memory_order_relaxed);
      sendError_.store(peer.lastSendError(), std::memory_order_relaxed);
      wake_.post(kSendFailed);
      break;
  }
}

void MidiBridge::playThru(midi::MidiEventView event) {
  midi::MidiOutput* out = liveOutput_.load(std::memory_order_acquire);
  if (out == nullptr) return;
  if (event.isSysEx()) {
    static_cast<void>(out->send(event));  // a SysEx holds no note
    return;
  }
  const auto message = midi::ShortMessage::fromBytes(event.bytes());
  if (out->send(message) == midi::MidiError::Ok) thruHeld_.track(message);
}

void MidiBridge::onWake(std::uint32_t bits) {
  if (bits & kSendFailed) {
    reporter_.socketError(sendError_.load(std::memory_order_relaxed), QStringLiteral("Tried to send MIDI data:  "),
                          report::Reporter::Flood::Throttle);
  }
  if (bits & kSysExNotSent)
    noteOnce(sysExNoted_, QStringLiteral("SysEx from the MIDI input is not sent to the peer: the %1 peer "
                                         "protocol carries short messages only. Midi Thru still plays it here.")
                              .arg(protocolName_));
  if (bits & kNotWholeNotSent)
    noteOnce(sysExNoted_, QStringLiteral("A message from the MIDI input is not sent to the peer: the %1 peer "
                                         "protocol takes whole MIDI messages only.")
                              .arg(protocolName_));
  if (bits & kInputDropped)
    noteOnce(dropNoted_, QStringLiteral("A SysEx message longer than 64 KiB or broken off before its end, or an "
                                        "event that is no whole MIDI message, reached the MIDI input and was "
                                        "dropped."));
}

void MidiBridge::onMidiDropped() { wake_.post(kInputDropped); }

void MidiBridge::noteOnce(bool& said, const QString& text) {
  if (said) return;
  said = true;
  reporter_.report(report::BoxIcon::Information, report::kAppTitle, text);
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

// The protocol is let go of once no capture can reach it any more.
void MidiBridge::closeInput() {
  if (!input_) {
    protocol_.store(nullptr, std::memory_order_release);
    return;
  }
  if (const midi::MidiError r = input_->stop(); midi::failed(r))
    reportInputError(reporter_, lists_, inputPosition_, midiErrorText(service_, r));
  if (const midi::MidiError r = input_->close(); midi::failed(r)) {
    reportInputError(reporter_, lists_, inputPosition_, midiErrorText(service_, r));
    return;
  }
  input_.reset();
  protocol_.store(nullptr, std::memory_order_release);
}

void MidiBridge::dropInput() {
  if (!input_) return;
  static_cast<void>(input_->stop());
  static_cast<void>(input_->close());
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
bool MidiBridge::playReceived(midi::MidiEventView event, std::optional<std::uint32_t> stamp,
                              std::int64_t arrivalMicros, std::size_t source) {
  if (!steady_ || !output_) return playEvent(event, std::nullopt);
  const std::int64_t period = output_->periodMicros();
  const std::int64_t delay = std::max(delayMicros_, period);
  SteadySchedule& schedule = schedules_[std::min(source, schedules_.size() - 1)];
  const SteadySchedule before = schedule;
  const std::int64_t moment = stamp ? schedule.stamped(*stamp, arrivalMicros, delay)
                                    : schedule.unstamped(arrivalMicros, delay);
  if (playEvent(event, moment + period)) return true;
  schedule = before;
  return false;
}

// A SysEx from the peer is played whole; it holds no note.
bool MidiBridge::playEvent(midi::MidiEventView event, std::optional<std::int64_t> atMicros) {
  if (!event.isSysEx()) return play(midi::ShortMessage::fromBytes(event.bytes()), atMicros);
  if (!output_) return false;
  return (atMicros ? output_->sendAt(event, *atMicros) : output_->send(event)) == midi::MidiError::Ok;
}

midi::Released MidiBridge::releaseHeld() {
  midi::HeldSet sounding = held_.take();
  sounding.merge(thruHeld_.take());
  // Without an output nothing of ours can be sounding any more.
  if (!output_) return {};
  return sounding.release([this](const midi::ShortMessage& m) { static_cast<void>(output_->send(m)); });
}

void MidiBridge::release(const midi::HeldSet& sounding) {
  static_cast<void>(
      sounding.release([this](const midi::ShortMessage& m) { static_cast<void>(play(m, std::nullopt)); }));
}

void MidiBridge::forgetHeld() {
  held_.forget();
  thruHeld_.forget();
}

// The loop's thread, beside the MIDI thread's sends. Timed now, like a message
// just played.
int MidiBridge::releaseSent() {
  protocol::PeerProtocol* peer = protocol_.load(std::memory_order_acquire);
  const midi::HeldSet held = sentHeld_.take();
  if (peer == nullptr) return 0;
  const midi::Released sent = held.release([&](const midi::ShortMessage& m) {
    static_cast<void>(peer->send(midi::MidiEventView(m.wireBytes()), monotonicMicros()));
  });
  return sent.notes;
}

}  // namespace strandlink::link
