#include "protocol/rtp/midi_list.h"

#include "midi/short_message.h"
#include "protocol/rtp/byte_io.h"
#include "protocol/rtp/delta_time.h"

namespace strandlink::protocol::rtp {

namespace {

bool isStatus(std::uint8_t byte) { return byte & 0x80; }

// Data bytes from `in` up to the next status byte, which is read into `tail`.
DecodeError readSysExBody(ByteReader& in, std::vector<std::uint8_t>& bytes, std::uint8_t& tail) {
  for (;;) {
    std::uint8_t byte = 0;
    if (!in.read(byte)) return DecodeError::Truncated;
    bytes.push_back(byte);
    if (isStatus(byte)) {
      tail = byte;
      return DecodeError::None;
    }
  }
}

// A SysEx command or segment, or an undefined system common command (F4/F5 ... F7).
DecodeError readUntilTail(ByteReader& in, std::uint8_t head, midi::MidiEvent& out) {
  std::vector<std::uint8_t> bytes{head};
  std::uint8_t tail = 0;
  if (const DecodeError e = readSysExBody(in, bytes, tail); e != DecodeError::None) return e;
  const bool empty = bytes.size() == 2;
  bool tailFits = false;
  switch (head) {
    case 0xF0: tailFits = tail == 0xF0 || tail == 0xF7 || tail == 0xF5; break;
    case 0xF7: tailFits = tail == 0xF0 || tail == 0xF7 || tail == 0xF5 || (tail == 0xF4 && empty); break;
    default: tailFits = tail == 0xF7; break;  // F4, F5
  }
  if (!tailFits) return head == 0xF0 || head == 0xF7 ? DecodeError::BadSysExSegment : DecodeError::BadCommand;
  out = midi::MidiEvent::fromBytes(bytes);
  return DecodeError::None;
}

DecodeError readShortCommand(ByteReader& in, std::uint8_t status, midi::MidiEvent& out) {
  std::uint8_t bytes[3] = {status, 0, 0};
  const int length = midi::shortMessageLength(status);
  for (int i = 1; i < length; ++i) {
    if (!in.read(bytes[i])) return DecodeError::Truncated;
    if (isStatus(bytes[i])) return DecodeError::BadCommand;
  }
  out = midi::MidiEvent::fromBytes(std::span(bytes, std::size_t(length)));
  return DecodeError::None;
}

// One command. Channel messages set the running status, system common messages
// and SysEx clear it, real-time bytes leave it alone.
DecodeError readCommand(ByteReader& in, std::uint8_t& runningStatus, midi::MidiEvent& out) {
  std::uint8_t first = 0;
  if (!in.peek(first)) return DecodeError::Truncated;
  if (!isStatus(first)) {
    if (runningStatus == 0) return DecodeError::MissingStatus;
    return readShortCommand(in, runningStatus, out);
  }
  (void)in.skip(1);
  if (first >= 0xF8) return readShortCommand(in, first, out);
  runningStatus = first < 0xF0 ? first : 0;
  switch (first) {
    case 0xF0:
    case 0xF4:
    case 0xF5:
    case 0xF7: return readUntilTail(in, first, out);
    default: return readShortCommand(in, first, out);
  }
}

}  // namespace

DecodeError decodeMidiList(std::span<const std::uint8_t> list, bool firstHasDeltaTime, std::vector<TimedCommand>& out) {
  ByteReader in(list);
  std::uint32_t offset = 0;
  std::uint8_t runningStatus = 0;
  for (bool first = true; in.remaining() > 0; first = false) {
    if (!first || firstHasDeltaTime) {
      std::uint32_t delta = 0;
      if (const DecodeError e = readDeltaTime(in, delta); e != DecodeError::None) return e;
      offset += delta;
      if (in.remaining() == 0) break;  // a delta time alone closes the list
    }
    TimedCommand command{offset, {}};
    if (const DecodeError e = readCommand(in, runningStatus, command.bytes); e != DecodeError::None) return e;
    out.push_back(std::move(command));
  }
  return DecodeError::None;
}

}  // namespace strandlink::protocol::rtp
