// The MIDI side of one link: the chosen input and output, what flows between them
// and the network, the counters, the thru, the notes the peer left sounding and
// the watch over devices that go away and come back.
//
// Captured messages are forwarded on the MIDI service's thread, inside its
// callback: to the peer protocol's send() (for classic, one datagram: a sendto),
// then, with thru on, the local output. No lock, no queue, no wait on the loop's
// thread. Everything else runs on the
// loop's thread (the window's, or the window-less run's main thread).
#pragma once

#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "link/loop_wake.h"
#include "link/status_text.h"
#include "link/steady_timing.h"
#include "midi/held_notes.h"
#include "midi/midi_service.h"
#include "net/socket_errors.h"
#include "protocol/peer_protocol.h"
#include "settings/preferences.h"

namespace strandlink::protocol {
class PeerProtocol;
}

namespace strandlink::report {
class Reporter;
}  // namespace strandlink::report

namespace strandlink::link {

struct DeviceLists;

class MidiBridge final : public midi::MidiInputHandler {
 public:
  MidiBridge(midi::MidiService& service, const DeviceLists& lists, report::Reporter& reporter);
  ~MidiBridge();
  MidiBridge(const MidiBridge&) = delete;
  MidiBridge& operator=(const MidiBridge&) = delete;

  // Where captured messages go: a running protocol, set before open(); it stays
  // running until the input is closed, after which the bridge lets go of it. Its
  // name is the one the notes of what it did not carry give it.
  void setProtocol(protocol::PeerProtocol* peer, const QString& name) {
    protocolName_ = name;
    protocol_.store(peer, std::memory_order_release);
  }
  void setThru(bool on) { thru_.store(on, std::memory_order_relaxed); }
  // Steady timing stamps what is sent and plays what is received at its moment;
  // delayMs 0 is one period of the output. Set before open().
  void setTiming(settings::Timing timing, int delayMs);

  // Opens and starts the input, then opens the output (tried even when the input
  // failed, so one Start reports both). True when both are open; otherwise every
  // failure has been reported and whatever opened is closed again.
  bool open(int inputPosition, int outputPosition);
  // The input first, then the outputs, each on its own, with their errors
  // reported. An input that will not close stays (a later close tries again).
  void close();
  bool inputOpen() const { return input_ != nullptr; }

  // The MIDI service's thread: one captured message, to the peer and the thru. A
  // SysEx the protocol cannot carry is counted and said once.
  void onMidiMessage(midi::MidiEventView event, std::int64_t timeMicros) override;
  void onMidiDropped() override;

  // A message received from the peer, played on the output at once, or at a
  // moment of the monotonic clock (µs). False when nothing took it (no output, or
  // not playable).
  bool play(const midi::ShortMessage& message, std::optional<std::int64_t> atMicros = std::nullopt);
  // A message from the peer (with the moment it was played, if the wire carried
  // one) that arrived at arrivalMicros: played at once in immediate timing, at its
  // moment in steady timing. A SysEx is played whole.
  bool playReceived(midi::MidiEventView event, std::optional<std::uint32_t> stamp, std::int64_t arrivalMicros,
                    std::size_t source = 0);
  // Releases every note our output holds, whatever played it there (the peer or
  // the thru); what that sent.
  midi::Released releaseHeld();
  // Releases these notes of the peer's now, as if it had sent their note-offs.
  void release(const midi::HeldSet& sounding);
  // Sends the peer the note-offs (and pedal up, pitch bend to centre) for what the
  // input sent it and still holds; how many note-offs that were.
  int releaseSent();
  // What the running session lacks right now.
  Missing missing() const;

  // Once a second while a session runs: reports a chosen device that went away
  // (once per disappearance) and opens it again as soon as it is back.
  void checkDevices();

  std::uint64_t sentCount() const { return sent_.load(std::memory_order_relaxed); }

 private:
  enum WakeBits : std::uint32_t {
    kSendFailed = 1u << 0,
    kSysExNotSent = 1u << 1,
    kInputDropped = 1u << 2,
    kNotWholeNotSent = 1u << 3,
  };
  void onWake(std::uint32_t bits);
  void forward(protocol::PeerProtocol& peer, midi::MidiEventView event, std::int64_t timeMicros);
  void playThru(midi::MidiEventView event);
  bool playEvent(midi::MidiEventView event, std::optional<std::int64_t> atMicros);
  // Each said once a session, the first time it happens.
  void noteOnce(bool& said, const QString& text);
  midi::MidiError openInput();
  midi::MidiError openOutput(std::unique_ptr<midi::MidiOutput>& port);
  void closeInput();
  // Stops and closes the input and says nothing of a failure: for when no one
  // could act on it.
  void dropInput();
  void closeOutputs();
  bool reopenInput();
  bool reopenOutput();
  bool serviceAway();
  void checkInput();
  void checkOutput();
  // The output's device started afresh: nothing of ours sounds on it.
  void forgetHeld();
  // One side's watch: reports the device gone once, reopens it when it is back.
  void followDevice(bool& gone, bool present, const QString& device, bool (MidiBridge::*reopen)());

  midi::MidiService& service_;
  const DeviceLists& lists_;
  report::Reporter& reporter_;
  LoopWake wake_;

  // Read by the MIDI thread.
  std::atomic<protocol::PeerProtocol*> protocol_{nullptr};
  std::atomic<bool> thru_{false};
  std::atomic<midi::MidiOutput*> liveOutput_{nullptr};
  // Written by the MIDI thread.
  std::atomic<std::uint64_t> sent_{0};
  std::atomic<net::SocketError> sendError_{net::SocketError::Ok};
  std::atomic<bool> sysExSeen_{false};  // this session
  bool sysExNoted_ = false;
  bool dropNoted_ = false;
  QString protocolName_;

  int inputPosition_ = -1;
  int outputPosition_ = -1;
  std::unique_ptr<midi::MidiInput> input_;
  std::unique_ptr<midi::MidiOutput> output_;
  // Outputs replaced while the input ran (the MIDI thread may still hold one);
  // destroyed once the input is closed.
  std::vector<std::unique_ptr<midi::MidiOutput>> retiredOutputs_;
  bool steady_ = false;
  std::int64_t delayMicros_ = 0;
  // One per participant of a session: each sender's stamps run on its own clock.
  std::array<SteadySchedule, protocol::kMaxSources> schedules_{};
  bool inputGone_ = false;
  bool outputGone_ = false;
  bool serviceDown_ = false;
  // What sounds on the output because of the peer (loop's thread) and of the thru
  // (MIDI thread), and what the input sent the peer (MIDI thread).
  midi::HeldNotes held_;
  midi::HeldNotes thruHeld_;
  midi::HeldNotes sentHeld_;
};

}  // namespace strandlink::link
