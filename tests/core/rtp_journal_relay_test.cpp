// Two RTP-MIDI protocols on loopback with a relay between them that loses A's MIDI
// packets (seeded, in bursts) and, on cue, the packet with a phrase's last note-offs:
// with the journal B ends every note, holds A's values and plays nothing twice.
#include <gtest/gtest.h>
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
namespace {

// Faces A on one port pair and B on another; forwards everything, but drops MIDI
// from A's data port as the lossy channel says.
class LossyRelay {
 public:
  LossyRelay(int towardB, Loss loss, unsigned seed) : port(freePortPair()), toB_(towardB), channel_(loss, seed) {
    for (int i = 0; i < 4; ++i) {
      fds_[i] = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      const sockaddr_in at = net::makeAddress(htonl(INADDR_LOOPBACK), std::uint16_t(i < 2 ? port + i : 0));
      ::bind(fds_[i], reinterpret_cast<const sockaddr*>(&at), sizeof at);
    }
    thread_ = std::thread([this] { run(); });
  }
  ~LossyRelay() {
    stop_ = true;
    thread_.join();
    for (int fd : fds_) ::close(fd);
  }

  const int port;                     // A's remote port
  std::atomic<bool> dropNextMidi{false};  // the next A->B packet with commands
  std::atomic<int> dropped{0};

 private:
  // fds_[0..1]: A's side (control, data); fds_[2..3]: B's side.
  void run() {
    pollfd p[4];
    for (int i = 0; i < 4; ++i) p[i] = {fds_[i], POLLIN, 0};
    std::uint8_t buffer[2048];
    while (!stop_) {
      if (::poll(p, 4, 5) <= 0) continue;
      for (int i = 0; i < 4; ++i) {
        if (!(p[i].revents & POLLIN)) continue;
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const auto n = ::recvfrom(fds_[i], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &size);
        if (n <= 0) continue;
        if (i < 2) fromA_[i] = from;
        if (i == 1 && losesMidi({buffer, std::size_t(n)})) continue;
        const sockaddr_in to = i < 2 ? net::makeAddress(htonl(INADDR_LOOPBACK), std::uint16_t(toB_ + i)) : fromA_[i - 2];
        ::sendto(fds_[i < 2 ? i + 2 : i - 2], buffer, std::size_t(n), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      }
    }
  }
  bool losesMidi(std::span<const std::uint8_t> d) {
    if (d.size() <= kRtpHeaderSize || protocol::rtp::isSessionPacket(d)) return false;
    const std::uint8_t h = d[kRtpHeaderSize];
    const bool hasCommands = (h & 0x80) || (h & 0x0F);
    if ((hasCommands && dropNextMidi.exchange(false)) || channel_.drops()) return ++dropped, true;
    return false;
  }

  int fds_[4];
  sockaddr_in fromA_[2]{};
  int toB_;
  LossyChannel channel_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct Heard {
  MidiState state;
  int playedTwice = 0;
  int hanging() const {
    int n = 0;
    for (int c = 0; c < 16; ++c)
      for (int k = 0; k < 128; ++k) n += state.channel(c).notes[std::size_t(k)].velocity > 0;
    return n;
  }
};

Heard hear(const std::vector<Received>& events) {
  Heard h;
  for (const Received& r : events) {
    const MidiEvent e = MidiEvent::fromBytes(r.bytes);
    const auto m = e.shortMessage();
    if (m && (m->status() & 0xF0) == 0x90 && m->bytes[2] && h.state.channel(m->status() & 0x0F).notes[m->bytes[1]].velocity)
      ++h.playedTwice;
    h.state.apply(e.view());
  }
  return h;
}

struct RelayRun {
  Heard heard;
  int wrongValues = 0;
  int dropped = 0;
  RepairCounts counts;
};

// The phrase of 1,000 note pairs, a step every 1 ms or so (stamped 10 ms apart), through
// 5 % loss in bursts; its last packet lost.
RelayRun playThroughRelay(bool journal, unsigned seed) {
  End a(freePortPair()), b(freePortPair());
  LossyRelay relay(b.port, {"5 % in bursts", 0.05, 3}, seed);
  a.rtp.setSendsJournal(journal);
  EXPECT_TRUE(b.start(std::nullopt));
  EXPECT_TRUE(a.start(relay.port));
  EXPECT_TRUE(waitFor([&] { return a.connected() && b.connected(); }, 5000));
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
      EXPECT_EQ(a.rtp.sendFromLoop(midi::MidiEventView(m), std::int64_t(n) * 10'000), protocol::SendResult::Sent);
    }
    settle(1);
  }
  // The guard packets come at 20 ms, 40 ms ... after the last MIDI.
  waitFor([&] { return journal && hear(b.sink.events).hanging() == 0; }, 3000);
  RelayRun run{hear(b.sink.events), 0, relay.dropped, b.rtp.repairs()};
  run.wrongValues = differences(truth, run.heard.state);
  EXPECT_TRUE(b.rtp.figuresText().contains(QStringLiteral("values restored"))) << b.rtp.figuresText().toStdString();
  return run;
}

TEST(RtpJournalRelay, WithTheJournalNoNoteHangsValuesMatchAndNothingSoundsTwice) {
  const RelayRun r = playThroughRelay(true, 7);
  EXPECT_GT(r.dropped, 20);
  EXPECT_EQ(r.heard.hanging(), 0);
  EXPECT_EQ(r.wrongValues, 0);
  EXPECT_EQ(r.heard.playedTwice, 0);
  EXPECT_GT(r.counts.gaps, 0u);
  EXPECT_GT(r.counts.notesEnded, 0u);
  EXPECT_EQ(r.counts.unrepaired, 0u);
}

TEST(RtpJournalRelay, WithoutTheJournalNotesHang) {
  const RelayRun r = playThroughRelay(false, 7);
  EXPECT_GT(r.heard.hanging(), 0);
  EXPECT_GT(r.wrongValues, 0);
  EXPECT_EQ(r.counts.notesEnded, 0u);
}

}  // namespace
}  // namespace strandlink::test
