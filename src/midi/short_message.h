// The packed short-message word and the bytes it stands for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace strandlink::midi {

// How many bytes a message with this status byte has (1 to 3), or 0 when the byte
// starts no short message (a data byte, SysEx 0xF0/0xF7, the undefined 0xF4/0xF5).
int shortMessageLength(std::uint8_t status);

// Unpacks a word (status in bits 0-7, data 1 in 8-15, data 2 in 16-23; bits 24-31
// ignored) into the bytes its status calls for. Returns their number, or 0 when the
// word is no valid short message (bad status, or a sent data byte with bit 7 set).
int unpackShortMessage(std::uint32_t packed, std::uint8_t bytes[3]);

// Packs a message of 1 to 3 bytes as it came from the backend; missing bytes are 0.
std::uint32_t packShortMessage(const std::uint8_t* bytes, std::size_t size);

}  // namespace strandlink::midi
