// The system journal's bytes: a 2-octet header (S, a flag per chapter, and the
// length of the whole system journal), then its chapters in the fixed order simple
// commands, active sense, sequencer, time code and SysEx; the SysEx logs take the
// rest up to the length.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/rtp/byte_io.h"
#include "protocol/rtp/decode_error.h"
#include "protocol/rtp/system_journal.h"

namespace strandlink::protocol::rtp {

// Appends the system journal's bytes. False, with nothing appended, when it would
// be longer than its 10-bit length can say (1023 octets).
[[nodiscard]] bool encodeSystemJournal(const SystemJournal& journal, std::vector<std::uint8_t>& out);

// Reads one system journal, never past `in`'s end nor its own length, and leaves
// `in` just after it. A length that does not fit fails (BadJournal or Truncated);
// a chapter that cannot be read inside it only marks the journal incomplete.
DecodeError decodeSystemJournal(ByteReader& in, SystemJournal& out);

}  // namespace strandlink::protocol::rtp
