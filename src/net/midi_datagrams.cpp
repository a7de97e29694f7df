#include "net/midi_datagrams.h"

#include <array>

#include "midi/midi_path.h"
#include "net/peer_filter.h"
#include "net/socket_service.h"
#include "net/wsksock.h"
#include "session/session.h"

namespace strandlink::net {

namespace {

constexpr int kMidiReadLength = 200;

// A counter written by one thread only: a plain load and store, no read-modify-write.
void step(std::atomic<double>& counter) {
  counter.store(counter.load(std::memory_order_relaxed) + 1.0, std::memory_order_relaxed);
}

}  // namespace

// MIDI thread. The window's work (the sent count, an error box) is handed over
// through the wake channel: the callback never waits on the window.
void SendMidiMessage(Session& s, const std::uint8_t message[3]) {
  const sockaddr_in to = s.state.MidiRemoteAddr.load();
  const int result = sendTo(s.state.hSocketMidiData.load(std::memory_order_acquire), message, 3, to);
  s.state.LastApiResult.store(result, std::memory_order_relaxed);
  std::uint32_t wake = 0;
  if (result == -1) {
    const int error = WSAGetLastError();
    s.state.LastSocketError.store(error, std::memory_order_relaxed);
    s.midiSendError.store(error, std::memory_order_relaxed);
    wake |= kWakeSendError;
  }
  step(s.state.MidiEventsSent);
  if (s.state.StatsEnabled.load(std::memory_order_relaxed)) wake |= kWakeSentCount;
  if (wake != 0) s.wake.post(wake);
}

void txtReceiveWindow_MouseUp(Session& s) {
  // Zeros stand in for the bytes a short datagram did not have.
  std::array<std::uint8_t, 2048> buffer{};
  const int fd = s.state.hSocketMidiData.load(std::memory_order_relaxed);
  if (fd <= 0) return;
  const int n = recvFrom(fd, buffer.data(), kMidiReadLength, s.state.RecvFromAddr);
  if (n == -1) {
    const int error = WSAGetLastError();
    s.state.LastSocketError.store(error, std::memory_order_relaxed);
    // A port-unreachable answer to one of our probes is no fault of a read; the
    // connection check already shows it.
    if (error != 10061 && error != 10054) {
      ReportNetworkError(s, error, QStringLiteral("Tried to read MidiSocketRecvBuffer:  "),
                         Reporter::Flood::Throttle);
    }
  }
  if (n < 1 || !AcceptFromSender(s)) return;
  step(s.state.MidiEventsReceived);
  if (midi::PlayMidiMessage(s, buffer.data())) s.held.track(buffer.data());
  if (s.state.StatsEnabled.load(std::memory_order_relaxed)) s.showCountsSoon(false, true);
}

}  // namespace strandlink::net
