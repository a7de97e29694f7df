#include "protocol/classic/udp_endpoints.h"

#include <arpa/inet.h>

#include "protocol/create_socket.h"

namespace strandlink::protocol::classic {

namespace {

// One socket, created, armed and bound; the caller reads what went wrong from
// the outcome, and a failed bind's error from bindError. Steady timing measures
// the MIDI socket's arrivals: the kernel's time leaves out our own wake-up.
UdpEndpoints::Outcome openOne(net::UdpSocket& socket, std::unique_ptr<net::ReadNotifier>& notifier,
                              const sockaddr_in& local, PeerSink& sink, Operation create, Operation bind,
                              std::function<void()> onReadable, net::SocketError& bindError,
                              bool stampArrivals = false) {
  if (!createSocket(socket, sink, create)) return UdpEndpoints::Outcome::CannotCreate;
  // Before the bind: nothing can arrive before the kernel was asked for its times.
  if (stampArrivals) {
    socket.stampArrivals();
    socket.widenReceiveBuffer();
  }
  // Read notifications are armed with the socket; a notifier cannot fail on a
  // valid descriptor.
  notifier = std::make_unique<net::ReadNotifier>(socket.descriptor(), std::move(onReadable));
  if (const net::SocketError e = socket.bind(local); net::failed(e)) {
    // The reason alone does not say which of the two ports it is about, and the
    // chat port is one the user never typed: the port goes with it.
    sink.peerProblem(SocketFailure{bind, e, false, ntohs(local.sin_port)});
    if (!net::failed(bindError)) bindError = e;
    return UdpEndpoints::Outcome::BindFailed;
  }
  return UdpEndpoints::Outcome::Open;
}

}  // namespace

UdpEndpoints::Outcome UdpEndpoints::open(const LinkAddresses& a, PeerSink& sink, std::function<void()> onMidiReadable,
                                         std::function<void()> onChatReadable) {
  midiRemote_ = net::makeAddress(a.remoteAddress, a.remotePort);
  chatRemote_ = net::makeAddress(a.remoteAddress, static_cast<std::uint16_t>(a.remotePort + 1));
  bindError_ = net::SocketError::Ok;
  const Outcome midi = openOne(midi_, midiNotifier_, net::makeAddress(a.localAddress, a.localPort), sink,
                               Operation::CreateMidiSocket, Operation::BindMidiSocket, std::move(onMidiReadable),
                               bindError_, true);
  // One box per Start: a refused MIDI port is all the user needs to mend.
  if (midi != Outcome::Open) {
    close();
    return midi;
  }
  const Outcome chat =
      openOne(chat_, chatNotifier_, net::makeAddress(a.localAddress, static_cast<std::uint16_t>(a.localPort + 1)), sink,
              Operation::CreateChatSocket, Operation::BindChatSocket, std::move(onChatReadable), bindError_);
  // A socket left bound would make every later Start on this port fail.
  if (chat != Outcome::Open) close();
  return chat;
}

void UdpEndpoints::close() {
  midiNotifier_.reset();
  chatNotifier_.reset();
  midi_.close();
  chat_.close();
}

}  // namespace strandlink::protocol::classic
