// A place in a multicast MIDI group for the interoperation test, built on the
// product's own multicast socket, wire and receiver:
//
//   multicast_peer send   --interface ADDR [--gap-ms G]  < messages
//   multicast_peer record --interface ADDR --count N [--deadline-ms D]
//
// "send" sends each line of standard input ("90 3C 64", hex bytes of one whole
// message) to 225.0.0.37:21928, G ms apart. "record" prints "ready", then each
// whole message another sender sends, one line each in the same form, until N came
// and a moment passed without more, or the deadline passed.
//
// Exit status: 0 done (record: nothing was dropped as garbage; the caller judges
// what came), 1 not so, 2 bad usage or no socket.
#include <arpa/inet.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "midi/midi_event.h"
#include "net/socket_errors.h"
#include "protocol/multicast/group_receiver.h"
#include "protocol/multicast/multicast_socket.h"

using namespace strandlink::protocol::multicast;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
  std::string mode, interface;
  long count = 0, gapMs = 2, deadlineMs = 20000;
};

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr,
               "multicast peer: %s\n"
               "usage: multicast_peer send --interface ADDR [--gap-ms G] < messages\n"
               "       multicast_peer record --interface ADDR --count N [--deadline-ms D]\n",
               why);
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  if (argc < 2) usage("no mode");
  o.mode = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string a = argv[i], v = argv[i + 1];
    if (a == "--interface") o.interface = v;
    else if (a == "--count") o.count = std::atol(v.c_str());
    else if (a == "--gap-ms") o.gapMs = std::atol(v.c_str());
    else if (a == "--deadline-ms") o.deadlineMs = std::atol(v.c_str());
    else usage(("unknown option " + a).c_str());
  }
  if (o.mode != "send" && o.mode != "record") usage("the mode is send or record");
  if (o.interface.empty() || (o.mode == "record" && o.count <= 0)) usage("--interface (and for record --count) needed");
  return o;
}

MulticastSocket join(const Options& o) {
  GroupOptions options;
  if (inet_pton(AF_INET, o.interface.c_str(), &options.interfaceAddress) != 1) usage("--interface is no IPv4 address");
  strandlink::net::SocketError error{};
  MulticastSocket socket = MulticastSocket::open(options, error);
  if (strandlink::net::failed(error)) usage(strandlink::net::socketErrorText(error).toUtf8().constData());
  return socket;
}

std::string hex(std::span<const std::uint8_t> bytes) {
  std::string s;
  char b[4];
  for (std::uint8_t byte : bytes) {
    std::snprintf(b, sizeof b, "%s%02X", s.empty() ? "" : " ", byte);
    s += b;
  }
  return s;
}

int send(const Options& o) {
  const MulticastSocket socket = join(o);
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream in(line);
    std::vector<std::uint8_t> bytes;
    for (unsigned value = 0; in >> std::hex >> value;) bytes.push_back(std::uint8_t(value));
    const auto event = strandlink::midi::MidiEvent::fromBytes(bytes);
    bool sent = true;
    forEachDatagram(event, [&](std::span<const std::uint8_t> d) { sent = sent && socket.send(d).ok(); });
    if (!sent || !event.wellFormed()) {
      std::fprintf(stderr, "multicast peer: could not send '%s'\n", line.c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(o.gapMs));
  }
  return 0;
}

int record(const Options& o) {
  const MulticastSocket socket = join(o);
  std::printf("ready\n");
  std::fflush(stdout);
  GroupReceiver receiver;
  std::vector<std::uint8_t> buffer(65536);
  long got = 0;
  const auto print = [&](std::span<const std::uint8_t> m) {
    std::printf("%s\n", hex(m).c_str());
    ++got;
  };
  // Until the count came and then half a second without more, or the deadline.
  const auto end = Clock::now() + std::chrono::milliseconds(o.deadlineMs);
  for (auto quietSince = Clock::now(); Clock::now() < end;) {
    if (got >= o.count && Clock::now() - quietSince > std::chrono::milliseconds(500)) break;
    pollfd p{socket.receiveDescriptor(), POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    sockaddr_in from{};
    const auto t = socket.receive(buffer, from);
    if (t.ok()) receiver.receive(from, std::span(buffer.data(), std::size_t(t.bytes)), 0, print);
    quietSince = Clock::now();
  }
  std::fflush(stdout);
  const auto dropped = receiver.totals().dropped();
  if (dropped > 0) std::fprintf(stderr, "multicast peer: %llu dropped as garbage\n", (unsigned long long)dropped);
  return dropped == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  return o.mode == "send" ? send(o) : record(o);
}
