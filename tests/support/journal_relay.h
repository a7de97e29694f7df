// A relay between two RTP-MIDI ends on loopback (protocols, or copies of the
// program) that loses A's MIDI packets (seeded: at random or in bursts) and, on
// cue, the packets with a phrase's last note-offs. Shared by the relay tests and
// the wire benchmark (bench/journal_wire.cpp).
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

// Sockets 0 and 1 face A (they are its remote port pair, `port`), 2 and 3 face B
// (`portForB`, B's remote when it names one): each side hears the other from the
// address it named. Everything is forwarded but MIDI from A's data port, which
// the lossy channel may drop, and on cue the next one with commands or all of them;
// and, on cue, B's receiver feedback (RS), as from a peer that never sends it.
class LossyRelay {
 public:
  LossyRelay(int atA, int atB, Loss loss, unsigned seed)
      : port(freePortPair()), portForB(freePortPair()), at_{atA, atB}, channel_(loss, seed) {
    for (int i = 0; i < 4; ++i) {
      p_[i] = {::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), POLLIN, 0};
      const sockaddr_in at = net::makeAddress(htonl(INADDR_LOOPBACK), std::uint16_t((i < 2 ? port : portForB) + i % 2));
      ::bind(p_[i].fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    }
    thread_ = std::thread([this] { while (!stop_) if (::poll(p_, 4, 5) > 0) forward(); });
  }
  ~LossyRelay() {
    stop_ = true;
    thread_.join();
    for (const pollfd& p : p_) ::close(p.fd);
  }

  const int port, portForB;
  std::atomic<bool> dropNextMidi{false};  // the next packet from A with commands
  std::atomic<bool> dropAllMidi{false};   // every one, however A cut a phrase into packets
  std::atomic<bool> dropFeedback{false};
  std::atomic<int> dropped{0};
  // Of the last packet from A with commands and a journal: how many packets back
  // its journal's checkpoint lies (what B is not yet known to have).
  std::atomic<int> checkpointLag{-1};

 private:
  void forward() {
    std::uint8_t buffer[65536];  // a packet with a large journal may be larger than the payload bound
    for (int i = 0; i < 4; ++i) {
      const auto n = (p_[i].revents & POLLIN) ? ::recv(p_[i].fd, buffer, sizeof buffer, 0) : 0;
      if (n <= 0 || (i == 1 && loses({buffer, std::size_t(n)}))) continue;
      if (i == 2 && dropFeedback && n >= 4 && buffer[2] == 'R' && buffer[3] == 'S') continue;
      const sockaddr_in to = net::makeAddress(htonl(INADDR_LOOPBACK), std::uint16_t(at_[i < 2 ? 1 : 0] + i % 2));
      ::sendto(p_[i ^ 2].fd, buffer, std::size_t(n), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
  }
  bool loses(std::span<const std::uint8_t> d) {
    if (d.size() <= kRtpHeaderSize || protocol::rtp::isSessionPacket(d)) return false;
    const bool hasCommands = d[kRtpHeaderSize] & 0x8F;  // B, or a short length
    if (hasCommands) noteCheckpoint(d);
    if (!(hasCommands && (dropAllMidi || dropNextMidi.exchange(false))) && !channel_.drops()) return false;
    return ++dropped, true;
  }

  void noteCheckpoint(std::span<const std::uint8_t> d) {
    const std::uint8_t flags = d[kRtpHeaderSize];
    if (!(flags & 0x40)) return;  // no journal
    const bool longLength = flags & 0x80;
    const std::size_t commands = longLength ? (std::size_t(flags & 0x0F) << 8 | d[kRtpHeaderSize + 1]) : flags & 0x0F;
    const std::size_t journal = kRtpHeaderSize + (longLength ? 2 : 1) + commands;
    if (journal + 3 > d.size()) return;
    const auto sequence = std::uint16_t(d[2] << 8 | d[3]);
    const auto checkpoint = std::uint16_t(d[journal + 1] << 8 | d[journal + 2]);
    checkpointLag = std::uint16_t(sequence - checkpoint);
  }

  pollfd p_[4];
  int at_[2];  // A's and B's own port pairs
  LossyChannel channel_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace strandlink::test
