// Two RTP-MIDI protocols on loopback with a relay between them that loses A's MIDI
// packets (seeded: at random or in bursts) and, on cue, the packet with a phrase's
// last note-offs. Shared by the relay test and the wire benchmark
// (bench/journal_wire.cpp).
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "net/udp_socket.h"
#include "protocol/rtp/session_packet.h"
#include "support/journal_loss_run.h"
#include "support/rtp_end.h"
#include "support/side.h"

namespace strandlink::test {

// Sockets 0 and 1 face A (its remote port pair), 2 and 3 face B. Everything is
// forwarded but MIDI from A's data port, which the lossy channel may drop.
class LossyRelay {
 public:
  LossyRelay(int towardB, Loss loss, unsigned seed) : port(freePortPair()), toB_(towardB), channel_(loss, seed) {
    for (int i = 0; i < 4; ++i) {
      p_[i] = {::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), POLLIN, 0};
      const sockaddr_in at = net::makeAddress(htonl(INADDR_LOOPBACK), std::uint16_t(i < 2 ? port + i : 0));
      ::bind(p_[i].fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    }
    thread_ = std::thread([this] { while (!stop_) if (::poll(p_, 4, 5) > 0) forward(); });
  }
  ~LossyRelay() {
    stop_ = true;
    thread_.join();
    for (const pollfd& p : p_) ::close(p.fd);
  }

  const int port;
  std::atomic<bool> dropNextMidi{false};  // the next packet from A with commands
  std::atomic<int> dropped{0};

 private:
  void forward() {
    std::uint8_t buffer[65536];  // a packet with a large journal may be larger than the payload bound
    for (int i = 0; i < 4; ++i) {
      sockaddr_in from{};
      socklen_t size = sizeof from;
      const auto n = (p_[i].revents & POLLIN) ? ::recvfrom(p_[i].fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size) : 0;
      if (n <= 0 || (i == 1 && loses({buffer, std::size_t(n)}))) continue;
      if (i < 2) fromA_[i] = from;
      const sockaddr_in to = i < 2 ? net::makeAddress(htonl(INADDR_LOOPBACK), std::uint16_t(toB_ + i)) : fromA_[i - 2];
      ::sendto(p_[i ^ 2].fd, buffer, std::size_t(n), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
  }
  bool loses(std::span<const std::uint8_t> d) {
    if (d.size() <= kRtpHeaderSize || protocol::rtp::isSessionPacket(d)) return false;
    const bool hasCommands = d[kRtpHeaderSize] & 0x8F;  // B, or a short length
    if (!(hasCommands && dropNextMidi.exchange(false)) && !channel_.drops()) return false;
    return ++dropped, true;
  }

  pollfd p_[4];
  sockaddr_in fromA_[2]{};
  int toB_;
  LossyChannel channel_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct RelayRun {
  bool connected = false;
  int unsent = 0;
  Listener heard;
  int wrongValues = 0, dropped = 0;
  RepairCounts counts;
  std::uint64_t packets = 0, journalBytes = 0;  // A's, guard packets included
  QString figures;                              // B's
};

// The phrase of 1,000 note pairs, a step every stepMs or so (stamped 10 ms apart),
// through the lossy relay; its last packet lost.
inline RelayRun playThroughRelay(bool journal, Loss loss, unsigned seed, int stepMs = 1) {
  RelayRun run;
  End a(freePortPair()), b(freePortPair());
  LossyRelay relay(b.port, loss, seed);
  a.rtp.setSendsJournal(journal);
  if (!b.start(std::nullopt) || !a.start(relay.port) || !waitFor([&] { return a.connected() && b.connected(); }, 5000))
    return run;
  Phrase phrase(seed);
  MidiState truth;
  for (int n = 0; !phrase.done(); ++n) {
    const auto step = phrase.step(n);
    if (phrase.done()) {
      settle(50);  // what went before has crossed
      relay.dropNextMidi = true;
    }
    for (const Bytes& m : step) {
      truth.apply(midi::MidiEventView(m));
      run.unsent += a.rtp.sendFromLoop(midi::MidiEventView(m), std::int64_t(n) * 10'000) != protocol::SendResult::Sent;
    }
    settle(stepMs);
  }
  const auto heard = [&] {
    Listener l;
    for (const Received& r : b.sink.events) l.hear(MidiEvent::fromBytes(r.bytes));
    return l;
  };
  // The guard packets come 20 ms, 40 ms ... after the last MIDI. B reads a datagram
  // at a time: what A sent after the packet that ended the notes may still be on its way.
  if (journal) waitFor([&] { const Listener l = heard(); return !l.hanging() && !differences(truth, l.state); }, 3000);
  else settle(300);
  run.connected = true;
  run.heard = heard();
  run.wrongValues = differences(truth, run.heard.state);
  run.dropped = relay.dropped;
  run.counts = b.rtp.repairs();
  run.packets = a.rtp.sender().packetsSent();
  run.journalBytes = a.rtp.sender().journalBytes();
  run.figures = b.rtp.figuresText();
  return run;
}

}  // namespace strandlink::test
