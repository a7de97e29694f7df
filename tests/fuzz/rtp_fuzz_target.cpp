// libFuzzer entry for the RTP-MIDI decoders (built and run by scripts/fuzz_rtp.sh).
// One input is a run of datagrams, each after one octet giving its length, fed to
// one assembler so that SysEx segments meet across packets. Each datagram gets a
// heap block of exactly its size, so a read past its end stops the run.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/rtp_decode_all.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  strandlink::protocol::rtp::SysExAssembler assembler(4096);
  std::size_t at = 0;
  while (at < size) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    ++at;
    const auto datagram = std::make_unique<std::uint8_t[]>(length);
    std::copy(data + at, data + at + length, datagram.get());
    strandlink::protocol::rtp::fuzz::decodeAll({datagram.get(), length}, assembler);
    at += length;
  }
  return 0;
}
