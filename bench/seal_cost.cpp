// What the shared key costs per classic datagram: sealing (the MIDI thread's
// share, inside the real-time callback) and opening (the loop thread's), for the
// 3-byte and 7-byte MIDI datagrams and a 200-byte chat line.
//   strandlink_bench_seal [ROUNDS, default 1000000]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "protocol/classic/datagram_seal.h"

using namespace strandlink::protocol::classic;

namespace {

double nanosEach(unsigned rounds, auto&& work) {
  const auto start = std::chrono::steady_clock::now();
  for (unsigned i = 0; i < rounds; ++i) work();
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / rounds;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned rounds = argc > 1 ? unsigned(std::atoi(argv[1])) : 1000000;
  const std::vector<std::uint8_t> key(32, 0x5a);
  DatagramSealer sealer(key), other(key);
  DatagramOpener opener(key, other.id(), strandlink::protocol::ClassicPort::Midi);
  std::printf("| datagram | seal (ns) | seal and open (ns) |\n|---|---|---|\n");
  for (const std::size_t size : {std::size_t(3), std::size_t(7), std::size_t(200)}) {
    const std::vector<std::uint8_t> message(size, 0x40);
    std::vector<std::uint8_t> out(size + kSealSize);
    unsigned fresh = 0;
    const double seal = nanosEach(
        rounds, [&] { static_cast<void>(sealer.seal(strandlink::protocol::ClassicPort::Midi, message, out)); });
    const double both = nanosEach(rounds, [&] {
      out.resize(sealer.seal(strandlink::protocol::ClassicPort::Midi, message, out));
      fresh += opener.open(out).verdict == DatagramOpener::Verdict::Fresh;
      out.resize(size + kSealSize);
    });
    std::printf("| %zu bytes | %.0f | %.0f |\n", size, seal, both);
    if (fresh != rounds) std::printf("  (only %u of %u opened fresh)\n", fresh, rounds);
  }
}
