#include "protocol/rtp/system_state.h"

#include <algorithm>

namespace strandlink::protocol::rtp {

namespace {

constexpr std::uint32_t kPositionMask = 0x7FFFF;

bool matches(std::span<const std::uint8_t> message, std::initializer_list<int> pattern) {
  if (message.size() != pattern.size()) return false;
  // -1 stands for the device number, which any value may take.
  return std::equal(pattern.begin(), pattern.end(), message.begin(),
                    [](int want, std::uint8_t got) { return want < 0 || want == got; });
}

void count(StampedValue& v, std::uint64_t stamp) { v.set((std::max<int>(v.value, 0) + 1) & 0x7F, stamp); }

void record(SysExState& s, std::span<const std::uint8_t> message, std::uint64_t stamp) {
  s.data.assign(message.begin() + 1, message.end() - 1);
  ++s.count;
  s.stamp = stamp;
}

}  // namespace

StateSysEx classifySysEx(std::span<const std::uint8_t> m) {
  if (m.size() < 2 || m.front() != 0xF0 || m.back() != 0xF7) return StateSysEx::Other;
  if (matches(m, {0xF0, 0x7E, -1, 0x09, -1, 0xF7}) && m[4] >= 1 && m[4] <= 3) return StateSysEx::Reset;
  if (matches(m, {0xF0, 0x41, -1, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})) return StateSysEx::Reset;
  if (matches(m, {0xF0, 0x43, -1, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}) && (m[2] & 0xF0) == 0x10)
    return StateSysEx::Reset;
  if (matches(m, {0xF0, 0x7F, -1, 0x04, 0x01, -1, -1, 0xF7})) return StateSysEx::MasterVolume;
  if (matches(m, {0xF0, 0x7F, -1, 0x01, 0x01, -1, -1, -1, -1, 0xF7})) return StateSysEx::FullFrame;
  return StateSysEx::Other;
}

bool SystemState::apply(midi::MidiEventView event, std::uint64_t stamp) {
  const auto bytes = event.bytes();
  switch (event.status()) {
    case 0xF0:
      switch (classifySysEx(bytes)) {
        case StateSysEx::Reset:
          record(reset, bytes, stamp);
          masterVolume.data.clear();
          return true;
        case StateSysEx::MasterVolume: record(masterVolume, bytes, stamp); break;
        case StateSysEx::FullFrame:
          timeCode.fullFrame(std::uint32_t(bytes[5]) << 24 | std::uint32_t(bytes[6]) << 16 | bytes[7] << 8 | bytes[8],
                             stamp);
          break;
        case StateSysEx::Other: break;
      }
      return false;
    case 0xF1:
      if (bytes.size() >= 2) timeCode.quarterFrame(bytes[1], stamp);
      return false;
    case 0xF2:
      if (bytes.size() < 3) return false;
      position = std::uint32_t(bytes[2] << 7 | bytes[1]) * 6;
      sequencerStamp = stamp;
      return false;
    case 0xF3:
      if (bytes.size() >= 2) song.set(bytes[1] & 0x7F, stamp);
      return false;
    case 0xF6: count(tuneRequests, stamp); return false;
    case 0xF8:
      if (running) position = (position + 1) & kPositionMask, sequencerStamp = stamp;
      return false;
    case 0xFA: running = true, position = 0, sequencerStamp = stamp; return false;
    case 0xFB: running = true, sequencerStamp = stamp; return false;
    case 0xFC: running = false, sequencerStamp = stamp; return false;
    case 0xFE: count(activeSense, stamp); return false;
    case 0xFF:
      // The device as at power-up: stopped at the start, no master volume set.
      count(resets, stamp);
      running = false, position = 0, sequencerStamp = stamp;
      masterVolume.data.clear();
      return true;
    default: return false;
  }
}

namespace {

std::optional<RecentValue<std::uint8_t>> valueIn(const StampedValue& v, std::uint64_t from, std::uint64_t self) {
  if (!v.within(from, self)) return std::nullopt;
  return RecentValue<std::uint8_t>{std::uint8_t(v.value), v.stamp + 1 == self};
}

void addSysEx(const SysExState& s, std::uint64_t from, std::uint64_t self, SystemJournal& j) {
  if (s.data.empty() || s.stamp < from || s.stamp >= self) return;
  SysExLog log;
  log.typeCount = s.count;
  log.data = s.data;
  log.recent = s.stamp + 1 == self;
  j.sysEx.push_back(std::move(log));
}

}  // namespace

std::optional<SystemJournal> systemJournal(const SystemState& s, std::uint64_t from, std::uint64_t self) {
  SystemJournal j;
  SimpleSystemCommands d;
  d.resets = valueIn(s.resets, from, self);
  d.tuneRequests = valueIn(s.tuneRequests, from, self);
  d.song = valueIn(s.song, from, self);
  if (d.resets || d.tuneRequests || d.song) {
    d.recent = (d.resets && d.resets->recent) || (d.tuneRequests && d.tuneRequests->recent) ||
               (d.song && d.song->recent);
    j.simple = d;
  }
  j.activeSense = valueIn(s.activeSense, from, self);
  if (s.sequencerStamp >= from && s.sequencerStamp < self)
    j.sequencer = SequencerState{s.running, s.position, std::nullopt, s.sequencerStamp + 1 == self};
  j.timeCode = s.timeCode.journal(from, self);
  addSysEx(s.reset, from, self, j);  // a reset clears the master volume: it comes after
  addSysEx(s.masterVolume, from, self, j);
  if (j.empty()) return std::nullopt;
  j.recent = (j.simple && j.simple->recent) || (j.activeSense && j.activeSense->recent) ||
             (j.sequencer && j.sequencer->recent) || (j.timeCode && j.timeCode->recent) ||
             std::any_of(j.sysEx.begin(), j.sysEx.end(), [](const SysExLog& x) { return x.recent; });
  return j;
}

}  // namespace strandlink::protocol::rtp
