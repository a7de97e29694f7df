// The process-wide state through which the subsystems meet.
//
// The MIDI callback thread reads the socket handle, the remote MIDI address, the
// thru and statistics flags and the output handle, and writes the sent counter and
// the last results; the window's thread uses the same variables. Everything both
// threads touch is therefore atomic. The rest is window-thread only.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace strandlink::midi {
class MidiInput;
class MidiOutput;
}  // namespace strandlink::midi

namespace strandlink {

// An IPv4 socket address that two threads can share without a lock: family, port
// and address packed into one 64-bit word (lock-free on every platform we build for).
class AtomicAddress {
 public:
  void store(const sockaddr_in& a) noexcept;
  sockaddr_in load() const noexcept;

 private:
  std::atomic<std::uint64_t> packed_{0};
};

// The design's flags hold true as -1 and false as 0; here they are plain booleans.
struct SessionState {
  // Sockets: -1 while none is open (0 before the first Start).
  std::atomic<int> hSocketMidiData{0};
  std::atomic<int> hSocketChatData{0};

  AtomicAddress MidiRemoteAddr;
  sockaddr_in ChatRemoteAddr{};
  sockaddr_in MidiLocalAddr{};
  sockaddr_in ChatLocalAddr{};
  sockaddr_in RecvFromAddr{};

  std::atomic<std::int32_t> LastApiResult{0};
  std::atomic<std::int32_t> LastSocketError{0};

  // MIDI handles: null while closed. hMidiOut is read by the callback (thru).
  std::atomic<midi::MidiInput*> hMidiIn{nullptr};
  std::atomic<midi::MidiOutput*> hMidiOut{nullptr};
  std::int32_t MidiInDeviceId = 0;
  std::int32_t MidiOutDeviceId = 0;

  // Device names as listed at start-up: MidiOutCaps[0] is the mapper.
  std::vector<std::string> MidiInCaps;
  std::vector<std::string> MidiOutCaps;

  std::atomic<bool> MidiThruEnabled{false};
  std::atomic<bool> StatsEnabled{false};
  bool ReadyToProbe = false;

  // Written by one thread each (sent: MIDI thread, received: window thread).
  std::atomic<double> MidiEventsSent{0.0};
  std::atomic<double> MidiEventsReceived{0.0};
};

}  // namespace strandlink
