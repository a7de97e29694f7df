// The recovery journal that may follow a MIDI list. Until this side acts on it,
// it is only stepped over, by the lengths its own headers give, never past the
// datagram's end.
#pragma once

#include "protocol/rtp/byte_io.h"
#include "protocol/rtp/decode_error.h"

namespace strandlink::protocol::rtp {

// Steps `in` past one journal: its 3-octet header, the system journal when Y is
// set and TOTCHAN + 1 channel journals when A is set.
DecodeError skipJournal(ByteReader& in);

}  // namespace strandlink::protocol::rtp
