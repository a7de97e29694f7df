// What one message costs on each path through the bridge, measured on this
// machine: the MIDI thread's path (the input callback up to and including the
// datagram's sendto) and the window thread's path (one read notification: the
// recvfrom, the counter and the send into our JACK client's output queue).
//
// Run against a JACK server (bench/run.sh starts one):
//   path_cost [messages]
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "midi/midi_path.h"
#include "midi/midi_service.h"
#include "net/endpoints.h"
#include "net/midi_datagrams.h"
#include "session/field_view.h"
#include "session/headless.h"
#include "session/session.h"

using namespace strandlink;
using Clock = std::chrono::steady_clock;

namespace {

int boundUdp(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::exit(1);
  const int big = 8 << 20;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  return fd;
}

double nsPerCall(Clock::duration d, long calls) {
  return double(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count()) / double(calls);
}

// The MIDI thread's path, called here on the main thread the way the backend calls it.
double sendPath(Session& s, int peerFd, long messages, bool stats) {
  s.state.StatsEnabled = stats;
  std::uint8_t sink[16];
  Clock::duration spent{};
  for (long done = 0; done < messages;) {
    const auto t0 = Clock::now();
    for (int i = 0; i < 100 && done < messages; ++i, ++done) {
      s.onMidiMessage(midi::ShortMessage::fromBytes(std::array<std::uint8_t, 3>{0x90, std::uint8_t(done & 0x7F), 0x64}), 0);
    }
    spent += Clock::now() - t0;
    // Keep the peer's buffer from filling (outside the timed part), as its reader would.
    while (::recv(peerFd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    s.wake.drain();
  }
  return nsPerCall(spent, messages);
}

// The floor of the send path: a bare sendto of the same three bytes.
double bareSend(int fromFd, int peerFd, std::uint16_t port, long messages) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::uint8_t note[3] = {0x90, 0x3C, 0x64};
  std::uint8_t sink[16];
  Clock::duration spent{};
  for (long done = 0; done < messages;) {
    const auto t0 = Clock::now();
    for (int i = 0; i < 100 && done < messages; ++i, ++done) {
      ::sendto(fromFd, note, 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    spent += Clock::now() - t0;
    while (::recv(peerFd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
  }
  return nsPerCall(spent, messages);
}

// One read notification per datagram, with the datagrams already waiting.
double receivePath(Session& s, int senderFd, std::uint16_t port, long messages) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::uint8_t note[3] = {0x90, 0x3C, 0x64};
  Clock::duration spent{};
  for (long done = 0; done < messages;) {
    const int batch = 200;
    for (int i = 0; i < batch; ++i) {
      ::sendto(senderFd, note, 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    const auto t0 = Clock::now();
    for (int i = 0; i < batch; ++i) net::txtReceiveWindow_MouseUp(s);
    spent += Clock::now() - t0;
    done += batch;
    // Let the JACK cycle take what was written, as it would between notifications.
    ::usleep(3000);
  }
  return nsPerCall(spent, messages);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const long messages = argc > 1 ? std::atol(argv[1]) : 200000;
  auto service = midi::makeMidiService("PathCost");
  SessionState state;
  FieldView view;
  StreamBoxes boxes(stderr);
  Session s(state, view, boxes, *service);

  const std::uint16_t local = 24610, remote = 24620;
  const int peerFd = boundUdp(remote);
  const int senderFd = boundUdp(24630);
  view.setText(TextControl::txtIPAddress, "127.0.0.1");
  view.setText(TextControl::txtRemotePort, QString::number(remote));
  view.setText(TextControl::txtIPLocal, "127.0.0.1");
  view.setText(TextControl::txtPortLocal, QString::number(local));
  if (net::OpenUdpEndpoints(s)) return 1;
  if (service->openOutput(0, s.midiOut) != 0) {  // our own output port
    std::fprintf(stderr, "path_cost: no MIDI output (is a JACK server running?)\n");
    return 1;
  }
  state.hMidiOut = s.midiOut.get();

  std::printf("messages per path: %ld\n", messages);
  std::printf("bare sendto of 3 bytes (the floor):              %.0f ns per message\n",
              bareSend(senderFd, peerFd, remote, messages));
  std::printf("send path (callback to sendto), statistics off: %.0f ns per message\n",
              sendPath(s, peerFd, messages, false));
  std::printf("send path (callback to sendto), statistics on:  %.0f ns per message\n",
              sendPath(s, peerFd, messages, true));
  std::printf("receive path (notification to output call):      %.0f ns per message\n",
              receivePath(s, senderFd, local, messages / 10));
  s.midiOut->close();
  net::CloseUdpEndpoints(s);
  return 0;
}
