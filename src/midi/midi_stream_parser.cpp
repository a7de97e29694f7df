#include "midi/midi_stream_parser.h"

#include <algorithm>

#include "midi/short_message.h"

namespace strandlink::midi {

namespace {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;

bool isRealTime(std::uint8_t status) { return status >= 0xF8; }
bool isUndefinedCommon(std::uint8_t status) { return status == 0xF4 || status == 0xF5; }

}  // namespace

MidiStreamParser::MidiStreamParser(std::size_t maxSysEx) : sysex_(std::max<std::size_t>(maxSysEx, 2)) {}

std::span<const std::uint8_t> MidiStreamParser::next(std::span<const std::uint8_t>& chunk) {
  while (!chunk.empty()) {
    const std::uint8_t byte = chunk.front();
    chunk = chunk.subspan(1);
    const auto message = byte >= 0x80 ? onStatus(byte) : onData(byte);
    if (!message.empty()) return message;
  }
  return {};
}

void MidiStreamParser::reset() {
  dropOpenMessage();
  runningStatus_ = 0;
}

void MidiStreamParser::endEvent() {
  if (shortHave_ > 0) ++counters_.cutShort;
  shortHave_ = 0;
  runningStatus_ = 0;
}

// Real-time bytes may fall anywhere, even inside another message: they pass at
// once and leave the message around them, and the running status, as they were.
// Every other status byte ends what was open.
std::span<const std::uint8_t> MidiStreamParser::onStatus(std::uint8_t status) {
  if (isRealTime(status)) {
    realTime_ = status;
    return delivered(&realTime_, 1);
  }
  if (status == kSysExEnd && inSysEx_) return onSysExByte(status);
  dropOpenMessage();
  if (status < 0xF0) {
    runningStatus_ = status;
    return startMessage(status);
  }
  // SysEx and system common messages cancel running status.
  runningStatus_ = 0;
  if (status == kSysExStart) {
    inSysEx_ = true;
    sysex_[0] = status;
    sysexHave_ = 1;
  } else if (status == kSysExEnd) {
    ++counters_.strayEnds;
  } else if (isUndefinedCommon(status)) {
    ++counters_.undefinedStatus;
  } else {
    return startMessage(status);
  }
  return {};
}

std::span<const std::uint8_t> MidiStreamParser::onData(std::uint8_t data) {
  if (inSysEx_) return onSysExByte(data);
  if (shortHave_ == 0) {
    if (runningStatus_ == 0) {
      ++counters_.strayDataBytes;
      return {};
    }
    startMessage(runningStatus_);  // a running status message is never whole at its status
  }
  short_[shortHave_++] = data;
  return completeIfWhole();
}

// A data byte or the closing F7 of an open SysEx. One longer than the buffer is
// read on to its end and dropped there, so its tail cannot pass for messages.
std::span<const std::uint8_t> MidiStreamParser::onSysExByte(std::uint8_t byte) {
  if (byte == kSysExEnd) {
    const bool tooLong = sysexTooLong_;
    const std::size_t size = sysexHave_ + 1;
    inSysEx_ = sysexTooLong_ = false;
    sysexHave_ = 0;
    if (tooLong) {
      ++counters_.oversizedSysEx;
      return {};
    }
    sysex_[size - 1] = byte;
    return delivered(sysex_.data(), size);
  }
  // Room is kept for the F7.
  if (sysexHave_ + 2 > sysex_.size()) sysexTooLong_ = true;
  if (!sysexTooLong_) sysex_[sysexHave_++] = byte;
  return {};
}

std::span<const std::uint8_t> MidiStreamParser::startMessage(std::uint8_t status) {
  short_[0] = status;
  shortHave_ = 1;
  shortNeed_ = static_cast<std::uint8_t>(shortMessageLength(status));
  return completeIfWhole();
}

std::span<const std::uint8_t> MidiStreamParser::completeIfWhole() {
  if (shortHave_ < shortNeed_) return {};
  const std::size_t size = shortHave_;
  shortHave_ = 0;
  return delivered(short_.data(), size);
}

void MidiStreamParser::dropOpenMessage() {
  if (shortHave_ > 0) ++counters_.cutShort;
  shortHave_ = 0;
  if (inSysEx_) ++(sysexTooLong_ ? counters_.oversizedSysEx : counters_.cutShort);
  inSysEx_ = sysexTooLong_ = false;
  sysexHave_ = 0;
}

std::span<const std::uint8_t> MidiStreamParser::delivered(const std::uint8_t* bytes, std::size_t size) {
  ++counters_.messages;
  return {bytes, size};
}

}  // namespace strandlink::midi
