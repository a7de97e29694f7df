// What the recovery journal buys and costs, on the pure sender-to-receiver run of
// tests/support/journal_loss_run.h (no sockets): hanging notes and wrong final
// values at several losses with and without the journal, the journal's size per
// packet, and the time the sender and receiver spend on it per packet.
//   strandlink_bench_journal [RUNS per setting, default 10] [apart: each message a packet]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "support/journal_loss_run.h"

using strandlink::test::Loss;
using strandlink::test::Outcome;
using strandlink::test::play;

namespace {

double secondsFor(Loss loss, bool journal, unsigned runs, bool apart) {
  const auto start = std::chrono::steady_clock::now();
  for (unsigned seed = 1; seed <= runs; ++seed) (void)play(loss, journal, seed, apart);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned runs = argc > 1 ? unsigned(std::atoi(argv[1])) : 10;
  const bool apart = argc > 2 && std::string_view(argv[2]) == "apart";
  const Loss losses[] = {{"1 % random", 0.01, 1},
                         {"5 % random", 0.05, 1},
                         {"10 % random", 0.10, 1},
                         {"5 % bursts (mean 3)", 0.05, 3},
                         {"10 % bursts (mean 3)", 0.10, 3}};
  std::printf("%u runs of 1,000 note pairs per setting, the last packet lost in each, %s\n", runs,
              apart ? "each message a packet" : "each step a packet");
  std::printf(
      "| loss | journal | hanging notes | wrong values | note-on over a sounding note | gaps | packets lost | faults "
      "|\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const Loss& loss : losses) {
    for (const bool journal : {false, true}) {
      Outcome sum;
      for (unsigned seed = 1; seed <= runs; ++seed) {
        const Outcome o = play(loss, journal, seed, apart);
        sum.hanging += o.hanging, sum.wrongValues += o.wrongValues, sum.playedTwice += o.playedTwice;
        sum.faults += o.faults, sum.counts.gaps += o.counts.gaps, sum.counts.packetsLost += o.counts.packetsLost;
      }
      std::printf("| %s | %s | %d | %d | %d | %llu | %llu | %d |\n", loss.name, journal ? "yes" : "no", sum.hanging,
                  sum.wrongValues, sum.playedTwice, (unsigned long long)sum.counts.gaps,
                  (unsigned long long)sum.counts.packetsLost, sum.faults);
    }
  }
  const Outcome steady = play({"none", 0, 1}, true, 1, apart);
  std::printf(
      "journal size without loss, feedback every second: %.1f octets a packet on average, %llu at most (%llu "
      "packets)\n",
      double(steady.journalBytes) / double(steady.packets), (unsigned long long)steady.largestJournal,
      (unsigned long long)steady.packets);
  const double bare = secondsFor({"none", 0, 1}, false, runs, apart),
               journaled = secondsFor({"none", 0, 1}, true, runs, apart);
  std::printf("sender and receiver time per packet: %.2f us without the journal, %.2f us with it\n",
              1e6 * bare / double(runs * steady.packets), 1e6 * journaled / double(runs * steady.packets));
  return 0;
}
