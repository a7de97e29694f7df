// What one message costs on each path through the bridge, measured on this
// machine: the MIDI thread's path (the input handler, the classic protocol's send
// up to and including the datagram's sendto, and the counter) and the loop
// thread's path (one datagram: the recvfrom, its decoding and the send into our
// JACK client's output queue).
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
#include <span>
#include <array>

#include "headless/headless_run.h"
#include "headless/line_output.h"
#include "link/device_lists.h"
#include "link/midi_bridge.h"
#include "midi/midi_service.h"
#include "net/udp_socket.h"
#include "protocol/admission.h"
#include "protocol/classic/classic_codec.h"
#include "protocol/classic/classic_protocol.h"
#include "protocol/peer_filter.h"
#include "report/reporter.h"

using namespace strandlink;
using Clock = std::chrono::steady_clock;

namespace {

// The protocol's reports go nowhere: only its sending is measured.
struct QuietSink : protocol::PeerSink {
  void peerEvent(midi::MidiEventView, std::optional<std::uint32_t>, std::int64_t, std::size_t) override {}
  void peerStatus(protocol::LinkStatus) override {}
  void peerChatLine(const QString&) override {}
  void peerNotice(const protocol::PeerNotice&) override {}
  void peerProblem(const protocol::PeerProblem&) override {}
  void peerFiguresChanged() override {}
};

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

// The MIDI thread's path, called here on the main thread the way the service calls it.
double sendPath(link::MidiBridge& bridge, int peerFd, long messages) {
  std::uint8_t sink[16];
  Clock::duration spent{};
  for (long done = 0; done < messages;) {
    const auto t0 = Clock::now();
    for (int i = 0; i < 100 && done < messages; ++i, ++done) {
      const std::uint8_t note[3] = {0x90, std::uint8_t(done & 0x7F), 0x64};
      bridge.onMidiMessage(midi::MidiEventView(note), 0);
    }
    spent += Clock::now() - t0;
    // Keep the peer's buffer from filling (outside the timed part), as its reader would.
    while (::recv(peerFd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
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

// One datagram read and played, with the datagrams already waiting.
double receivePath(link::MidiBridge& bridge, const net::UdpSocket& socket, int senderFd, std::uint16_t port,
                   long messages) {
  const sockaddr_in to = net::makeAddress(htonl(INADDR_LOOPBACK), port);
  const std::uint8_t note[3] = {0x90, 0x3C, 0x64};
  Clock::duration spent{};
  for (long done = 0; done < messages;) {
    const int batch = 200;
    for (int i = 0; i < batch; ++i) {
      ::sendto(senderFd, note, 3, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    const auto t0 = Clock::now();
    for (int i = 0; i < batch; ++i) {
      std::array<std::uint8_t, 200> buffer{};
      sockaddr_in from{};
      const net::Transfer read = socket.receiveFrom(buffer, from);
      if (read.bytes <= 0) continue;
      const auto received = protocol::classic::decodeMidi(std::span(buffer).first(std::size_t(read.bytes)));
      bridge.playReceived(midi::MidiEventView(received.message.bytes), received.stamp, 0);
    }
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
  headless::LineOutput errors(STDERR_FILENO);
  headless::StreamBoxes boxes(errors);
  report::Reporter reporter(boxes);
  link::DeviceLists lists{service->inputNames(), service->outputNames()};
  link::MidiBridge bridge(*service, lists, reporter);

  const std::uint16_t local = 24610, remote = 24620, sending = 24640;
  const int peerFd = boundUdp(remote);
  const int senderFd = boundUdp(24630);
  net::SocketError error = net::SocketError::Ok;
  net::UdpSocket socket = net::UdpSocket::create(error);
  if (net::failed(error) || net::failed(socket.bind(net::makeAddress(htonl(INADDR_LOOPBACK), local)))) return 1;
  // The send path's sockets are the protocol's own, on ports of their own.
  QuietSink sink;
  protocol::PeerFilter filter;
  protocol::Admission admission;
  protocol::classic::ClassicProtocol classic({sink, filter, admission});
  protocol::PeerStart start;
  start.settings.localHost = start.settings.remoteHost = QStringLiteral("127.0.0.1");
  start.settings.localPort = QString::number(sending);
  start.settings.remotePort = QString::number(remote);
  if (!classic.start(start).running()) return 1;
  bridge.setProtocol(&classic, QStringLiteral("classic"));
  if (!bridge.open(0, 0)) {
    std::fprintf(stderr, "path_cost: no MIDI ports (is a JACK server running?)\n");
    return 1;
  }

  std::printf("messages per path: %ld\n", messages);
  std::printf("bare sendto of 3 bytes (the floor):        %.0f ns per message\n",
              bareSend(senderFd, peerFd, remote, messages));
  std::printf("send path (handler to sendto and count):  %.0f ns per message\n", sendPath(bridge, peerFd, messages));
  std::printf("receive path (recvfrom to output call):   %.0f ns per message\n",
              receivePath(bridge, socket, senderFd, local, messages / 10));
  bridge.close();
  classic.stop();
  return 0;
}
