// The receiver's repair from a system journal: the resets, song, sequencer, time
// code and state SysEx this side missed, each played once and only where this
// side's own state differs.
#include <algorithm>
#include <array>

#include "protocol/rtp/journal_repair.h"

namespace strandlink::protocol::rtp {

namespace {

std::vector<std::uint8_t> wholeSysEx(std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> message(data.size() + 2, 0xF0);
  std::copy(data.begin(), data.end(), message.begin() + 1);
  message.back() = 0xF7;
  return message;
}

// A full frame's bytes between F0 and F7, for its hours, minutes, seconds and frames.
std::array<std::uint8_t, 8> fullFrameData(std::uint32_t t) {
  std::array<std::uint8_t, 8> data{0x7F, 0x7F, 0x01, 0x01};
  for (std::size_t k = 0; k < 4; ++k) data[4 + k] = std::uint8_t(t >> (24 - 8 * k) & 0x7F);
  return data;
}

// The last whole log of this kind, and where it stands in the list.
const SysExLog* lastOf(const std::vector<SysExLog>& logs, StateSysEx kind, std::size_t& at) {
  for (std::size_t i = logs.size(); i-- > 0;)
    if (logs[i].whole() && classifySysEx(wholeSysEx(*logs[i].data)) == kind) return at = i, &logs[i];
  return nullptr;
}

}  // namespace

void JournalRepair::addSysEx(std::vector<midi::MidiEvent>& out, std::span<const std::uint8_t> data) {
  out.push_back(midi::MidiEvent::fromBytes(wholeSysEx(data)));
  state_.apply(out.back().view());
}

void JournalRepair::restart() {
  highest_.reset();
  SystemState& s = state_.system();
  s.resets.value = s.tuneRequests.value = s.activeSense.value = -1;
  s.reset.count = 0;
}

// A packet that followed its predecessor without a gap: this side has played all
// that the journal covers, so its counts are the sender's. Taking them keeps the
// two in step after a gap no journal repaired, and with a peer that counts in
// its own way.
void JournalRepair::takeCounts(const SystemJournal& j) {
  SystemState& s = state_.system();
  if (j.simple && j.simple->resets) s.resets.value = j.simple->resets->value;
  if (j.simple && j.simple->tuneRequests) s.tuneRequests.value = j.simple->tuneRequests->value;
  if (j.activeSense) s.activeSense.value = j.activeSense->value;
  std::size_t at = 0;
  if (const SysExLog* reset = lastOf(j.sysEx, StateSysEx::Reset, at); reset && reset->typeCount)
    s.reset.count = *reset->typeCount;
}

void JournalRepair::repairSystem(const SystemJournal& j, std::vector<midi::MidiEvent>& out) {
  SystemState& s = state_.system();
  const SimpleSystemCommands d = j.simple.value_or(SimpleSystemCommands{});
  // Resets first, one of each at most: a second in a row does nothing more.
  if (d.resets && s.resets.value != d.resets->value) {
    add(out, 0xFF);
    s.resets.value = d.resets->value;
    ++counts_.valuesRestored;
  }
  repairSysEx(j, out);
  if (d.tuneRequests && s.tuneRequests.value != d.tuneRequests->value) {
    add(out, 0xF6);
    s.tuneRequests.value = d.tuneRequests->value;
    ++counts_.valuesRestored;
  }
  if (d.song && s.song.value != d.song->value) {
    add(out, 0xF3, d.song->value);
    ++counts_.valuesRestored;
  }
  if (j.sequencer) repairSequencer(*j.sequencer, out);
  // A full frame locates the receiving device, where it stands elsewhere (played,
  // it is this side's too, so the same journal does not send it again). Running
  // time code, a series whole or under way, is not sent late: quarter frames out of
  // their time, or a locate, would throw a device that chases the code, and it
  // keeps its own time over a gap until the next whole series puts it right.
  if (const auto& f = j.timeCode; f && f->complete && !f->quarterFrames && !f->partial &&
                                  (s.timeCode.completeFromQuarterFrames() || s.timeCode.complete() != f->complete)) {
    addSysEx(out, fullFrameData(*f->complete));
    ++counts_.valuesRestored;
  }
  if (j.activeSense) s.activeSense.value = j.activeSense->value;  // a keep-alive: nothing to play
}

// The last device reset the journal lists, if this side missed it (the count of
// its kind differs, or without that count its bytes), then the master volume set
// after it. COUNT, of every SysEx the peer sent, does not tell which reset this
// side has played.
void JournalRepair::repairSysEx(const SystemJournal& j, std::vector<midi::MidiEvent>& out) {
  SystemState& s = state_.system();
  std::size_t resetAt = 0, volumeAt = 0;
  const SysExLog* reset = lastOf(j.sysEx, StateSysEx::Reset, resetAt);
  if (reset && (reset->typeCount ? *reset->typeCount != s.reset.count : *reset->data != s.reset.data)) {
    addSysEx(out, *reset->data);
    if (reset->typeCount) s.reset.count = *reset->typeCount;
    ++counts_.valuesRestored;
  }
  const SysExLog* volume = lastOf(j.sysEx, StateSysEx::MasterVolume, volumeAt);
  if (volume && (!reset || volumeAt > resetAt) && *volume->data != s.masterVolume.data) {
    addSysEx(out, *volume->data);
    ++counts_.valuesRestored;
  }
}

// Start, Continue or Stop where the run state differs, and a Song Position Pointer
// where a stopped sequencer stands elsewhere (to the sixteenth note it can say).
// Lost clocks are not sent: the clocks that follow carry the tempo on.
void JournalRepair::repairSequencer(const SequencerState& q, std::vector<midi::MidiEvent>& out) {
  const SystemState& s = state_.system();
  const bool moved = q.position && *q.position / 6 != s.position / 6;
  const auto locate = [&] {
    const std::uint32_t beats = std::min<std::uint32_t>(*q.position / 6, 0x3FFF);
    add(out, 0xF2, beats & 0x7F, std::uint8_t(beats >> 7));
  };
  if (q.running && !s.running) {
    if (q.position == 0u) {
      add(out, 0xFA);
    } else {
      if (moved) locate();
      add(out, 0xFB);
    }
    ++counts_.valuesRestored;
  } else if (!q.running && (s.running || moved)) {
    if (s.running) add(out, 0xFC);
    if (moved) locate();
    ++counts_.valuesRestored;
  }
}

}  // namespace strandlink::protocol::rtp
