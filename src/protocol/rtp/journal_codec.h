// The recovery journal's bytes: the 3-octet journal header, the system journal
// when there is one (system_codec.h), then a channel journal per channel (a 3-octet
// header and its chapters in the fixed order program, controllers, parameters,
// pitch wheel, notes, note extras, channel pressure, poly pressure).
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/rtp/byte_io.h"
#include "protocol/rtp/decode_error.h"
#include "protocol/rtp/journal_chapters.h"

namespace strandlink::protocol::rtp {

// Appends the journal's bytes. False, with nothing appended, when the system part or
// a channel's part would be longer than its 10-bit length can say (1023 octets).
[[nodiscard]] bool encodeJournal(const RecoveryJournal& journal, std::vector<std::uint8_t>& out);

// Reads one journal from `in`, never past its end. Lengths that do not add up fail
// the whole journal (BadJournal or Truncated). Inside a channel's part, which its
// own length bounds, a chapter that cannot be read ends that channel's reading:
// the channel is marked incomplete and the next channel is read as usual. So too
// for the system part, which its own length bounds likewise.
DecodeError decodeJournal(ByteReader& in, RecoveryJournal& out);

}  // namespace strandlink::protocol::rtp
