#include "protocol/rtp/journal.h"

namespace strandlink::protocol::rtp {

namespace {

// Steps over one structure whose 10-bit LENGTH (header included) sits in the low
// two bits of the octet at `lengthOctet` and all of the next one.
DecodeError skipByLength(ByteReader& in, std::size_t lengthOctet, std::size_t headerSize) {
  const auto rest = in.rest();
  if (rest.size() < headerSize) return DecodeError::Truncated;
  const std::size_t length = (std::size_t(rest[lengthOctet] & 0x03) << 8) | rest[lengthOctet + 1];
  if (length < headerSize) return DecodeError::BadJournal;
  return in.skip(length) ? DecodeError::None : DecodeError::Truncated;
}

}  // namespace

DecodeError skipJournal(ByteReader& in) {
  std::uint8_t flags = 0;
  std::uint16_t checkpoint = 0;
  if (!in.read(flags) || !in.read(checkpoint)) return DecodeError::Truncated;
  const bool hasSystemJournal = flags & 0x40;
  const bool hasChannelJournals = flags & 0x20;
  if (hasSystemJournal) {
    // S D V Q F X, then LENGTH.
    if (const DecodeError e = skipByLength(in, 0, 2); e != DecodeError::None) return e;
  }
  if (hasChannelJournals) {
    const int channels = (flags & 0x0F) + 1;
    for (int i = 0; i < channels; ++i) {
      // S, CHAN, H, then LENGTH; the table of contents follows.
      if (const DecodeError e = skipByLength(in, 0, 3); e != DecodeError::None) return e;
    }
  }
  return DecodeError::None;
}

}  // namespace strandlink::protocol::rtp
