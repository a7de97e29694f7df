#include "protocol/rtp/decode_error.h"

namespace strandlink::protocol::rtp {

std::string_view describe(DecodeError error) {
  switch (error) {
    case DecodeError::None: return "no error";
    case DecodeError::Truncated: return "the packet is shorter than its fields say";
    case DecodeError::BadSignature: return "a session packet without the 0xFFFF signature";
    case DecodeError::UnknownCommand: return "an unknown session command";
    case DecodeError::NameUnterminated: return "a session name without its terminating NUL";
    case DecodeError::BadSyncCount: return "a clock sync count other than 0, 1 or 2";
    case DecodeError::BadRtpVersion: return "an RTP version other than 2";
    case DecodeError::BadPadding: return "RTP padding longer than the packet";
    case DecodeError::BadDeltaTime: return "a delta time longer than four octets";
    case DecodeError::MissingStatus: return "a MIDI command without a status byte";
    case DecodeError::BadCommand: return "a status byte where none may stand";
    case DecodeError::BadSysExSegment: return "a SysEx segment with a wrong head or tail";
    case DecodeError::BadJournal: return "a recovery journal whose lengths do not add up";
  }
  return "unknown error";
}

}  // namespace strandlink::protocol::rtp
