#include "protocol/rtp/sysex_assembler.h"

namespace strandlink::protocol::rtp {

namespace {

bool isSegmentHead(std::uint8_t status) { return status == 0xF0 || status == 0xF7; }

}  // namespace

std::optional<midi::MidiEvent> SysExAssembler::push(const midi::MidiEvent& command) {
  const auto bytes = command.bytes();
  if (bytes.empty()) return std::nullopt;
  if (isSegmentHead(bytes[0]) && bytes.size() >= 2) return pushSegment(bytes);
  // Real-time bytes may stand between segments; nothing else may.
  if (!command.isRealTime() && state_ != State::Idle) abandon();
  if (command.wellFormed()) return command;
  ++dropped_;
  return std::nullopt;
}

void SysExAssembler::reset() { abandon(); }

std::optional<midi::MidiEvent> SysExAssembler::pushSegment(std::span<const std::uint8_t> bytes) {
  const std::uint8_t head = bytes.front(), tail = bytes.back();
  if (head == 0xF0) {
    if (state_ != State::Idle) abandon();
    state_ = State::Collecting;
    buffer_.assign({0xF0});
  } else if (tail == 0xF4) {  // cancel
    if (state_ == State::Collecting) ++cancelled_;
    state_ = State::Idle;
    buffer_.clear();
    return std::nullopt;
  } else if (state_ == State::Idle) {  // its first segment never came
    ++dropped_;
    state_ = tail == 0xF0 ? State::Discarding : State::Idle;
    return std::nullopt;
  }
  if (state_ == State::Collecting) {
    if (buffer_.size() + bytes.size() - 2 >= maxSize_) {
      abandon();
      state_ = State::Discarding;
    } else {
      buffer_.insert(buffer_.end(), bytes.begin() + 1, bytes.end() - 1);
    }
  }
  if (tail == 0xF0) return std::nullopt;  // more to come
  return finish();                        // F7, or F5 for an F7 the source left out
}

std::optional<midi::MidiEvent> SysExAssembler::finish() {
  const bool collected = state_ == State::Collecting;
  state_ = State::Idle;
  if (!collected) return std::nullopt;
  buffer_.push_back(0xF7);
  auto message = midi::MidiEvent::fromBytes(buffer_);
  buffer_.clear();
  if (message.wellFormed()) return message;
  ++dropped_;
  return std::nullopt;
}

void SysExAssembler::abandon() {
  if (state_ == State::Collecting) ++dropped_;
  state_ = State::Idle;
  buffer_.clear();
}

}  // namespace strandlink::protocol::rtp
