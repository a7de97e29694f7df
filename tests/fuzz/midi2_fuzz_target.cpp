// libFuzzer entry for the Network MIDI 2.0 decoders (built and run by
// scripts/fuzz_midi2.sh). One input is a run of datagrams, each after two octets
// giving its length, read by a host and by a client session (commands, their
// lengths, invitations, proofs, retransmit requests) and the UMP Data they let
// through by one UMP reader, so that SysEx meets across datagrams. Each datagram
// gets a heap block of exactly its size, so a read past its end stops the run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "protocol/midi2/session.h"
#include "protocol/midi2/ump_convert.h"

using namespace strandlink::protocol::midi2;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Endpoint hostAt{0x7F000001, 5673};
  Session host({{"host", "h1"}, std::nullopt});
  Session client({{"guest", "g1"}, hostAt});
  client.start(0);
  UmpReader reader(4096);
  Micros now = 0;
  for (std::size_t at = 0; at + 2 <= size;) {
    const std::size_t length = std::min<std::size_t>(std::size_t(data[at]) << 8 | data[at + 1], size - at - 2);
    at += 2;
    const auto datagram = std::make_unique<std::uint8_t[]>(length);
    std::copy(data + at, data + at + length, datagram.get());
    at += length;
    // Two clients' addresses, so that a second session and a restart are reached too.
    host.receive({0x7F000002, std::uint16_t(1000 + (length & 1))}, {datagram.get(), length}, now);
    client.receive(hostAt, {datagram.get(), length}, now);
    for (Session* s : {&host, &client}) {
      for (const SessionEvent& e : s->takeEvents())
        if (e.kind == EventKind::Data)
          reader.read(e.words, [](std::span<const std::uint8_t>) {}, [](std::span<const std::uint32_t, 4>) {});
      (void)s->takeOutgoing();
      s->tick(now);
    }
    now += 30'000;
  }
  return 0;
}
