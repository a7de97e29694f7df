// The recovery journal through the real RTP-MIDI protocol: two protocols on
// loopback with the lossy relay of tests/support/journal_relay.h between them, a
// phrase of 1,000 note pairs at each loss, with and without the journal; hanging
// notes, wrong final values and the journal's octets per packet on the wire, at a
// step a millisecond and at the phrase's own pace of 10 ms.
//   strandlink_bench_journal_wire [SEEDS per setting, default 1]
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#include "support/journal_relay.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

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
  LossyRelay relay(a.port, b.port, loss, seed);
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
      run.unsent += a.rtp.send(midi::MidiEventView(m), std::int64_t(n) * 10'000) != protocol::SendResult::Sent;
    }
    settle(stepMs);
  }
  const auto heard = [&] {
    Listener l;
    for (const Received& r : b.sink.events) l.hear(MidiEvent::fromBytes(r.bytes));
    return l;
  };
  // The guard packets come 20 ms, 40 ms ... after the last MIDI.
  // B reads a datagram at a time: what A sent after the packet that ended the
  // notes may still be on its way.
  if (journal) {
    waitFor(
        [&] {
          const Listener l = heard();
          return !l.hanging() && !differences(truth, l.state);
        },
        3000);
  } else settle(300);
  run.connected = true;
  run.heard = heard();
  run.wrongValues = differences(truth, run.heard.state);
  run.dropped = relay.dropped;
  run.counts = b.rtp.repairs();
  run.packets = a.rtp.sender().packetsSent();
  run.journalBytes = a.rtp.sender().journalBytes();
  run.figures = link::figuresText(b.rtp.figures());
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const unsigned seeds = argc > 1 ? unsigned(std::atoi(argv[1])) : 1;
  const Loss losses[] = {{"none", 0, 1},           {"1 % random", 0.01, 1},          {"5 % random", 0.05, 1},
                         {"10 % random", 0.10, 1}, {"5 % bursts (mean 3)", 0.05, 3}, {"10 % bursts (mean 3)", 0.10, 3}};
  std::printf(
      "| loss | journal | hanging notes | wrong values | note-on over a sounding note | packets dropped | journal "
      "octets a packet |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const Loss& loss : losses) {
    for (const bool journal : {false, true}) {
      int hanging = 0, wrong = 0, twice = 0, dropped = 0;
      std::uint64_t packets = 0, bytes = 0;
      for (unsigned seed = 1; seed <= seeds; ++seed) {
        const RelayRun r = playThroughRelay(journal, loss, seed);
        if (!r.connected || r.unsent) return std::fprintf(stderr, "no session, or messages not sent\n"), 1;
        hanging += r.heard.hanging(), wrong += r.wrongValues, twice += r.heard.playedTwice, dropped += r.dropped;
        packets += r.packets, bytes += r.journalBytes;
      }
      std::printf("| %s | %s | %d | %d | %d | %d | %.1f |\n", loss.name, journal ? "yes" : "no", hanging, wrong, twice,
                  dropped, packets ? double(bytes) / double(packets) : 0.0);
      std::fflush(stdout);
    }
  }
  // The size at the phrase's own pace (a step every 10 ms, feedback every second).
  const RelayRun steady = playThroughRelay(true, {"none", 0, 1}, 1, 10);
  std::printf("journal at 10 ms a step without loss: %.1f octets a packet (%llu packets, guard packets included)\n",
              steady.packets ? double(steady.journalBytes) / double(steady.packets) : 0.0,
              (unsigned long long)steady.packets);
  return 0;
}
