// What is wrong with a datagram an RTP-MIDI peer sent: one typed value per kind of
// fault; the link words them.
#pragma once

namespace strandlink::protocol::rtp {

enum class [[nodiscard]] DecodeError{
    None,
    Truncated,         // shorter than its fixed fields, or a length that runs past the end
    BadSignature,      // a session packet without 0xFFFF in front
    UnknownCommand,    // a session command this side does not speak
    NameUnterminated,  // a session name without its NUL
    BadSyncCount,      // a clock sync whose count is not 0, 1 or 2
    BadRtpVersion,     // an RTP header whose version is not 2
    BadPadding,        // RTP padding longer than the packet
    BadDeltaTime,      // a delta time longer than four octets
    MissingStatus,     // a data byte with no running status to stand for
    BadCommand,        // a status byte where none may stand, or an unpaired 0xF7
    BadSysExSegment,   // a SysEx segment with a wrong head or tail
    BadJournal,        // a recovery journal whose lengths do not add up
};

}  // namespace strandlink::protocol::rtp
