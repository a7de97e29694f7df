#include "protocol/rtp/channel_state.h"

#include <algorithm>

namespace strandlink::protocol::rtp {

namespace {

void setNote(ChannelState& c, std::uint8_t note, std::uint8_t velocity, std::uint64_t stamp, std::int64_t nowMs) {
  c.notesStamp = stamp;
  NoteState& n = c.notes[note & 0x7F];
  n.velocity = velocity;
  n.stamp = stamp;
  if (velocity) n.onMs = nowMs;
}

void allNotesOff(ChannelState& c, std::uint64_t stamp) {
  c.notesStamp = c.allNotesOffStamp = stamp;
  for (NoteState& n : c.notes)
    if (n.velocity) n.velocity = 0, n.stamp = stamp;
}

// The parameter, made the most recently used; a new one past the bound takes the
// place of the least recently used.
ParameterState& useParameter(ChannelState& c, ParameterKey key, std::uint64_t stamp) {
  const auto [it, added] = c.parameters.try_emplace(key);
  if (added && c.parameters.size() > kMaxParametersPerChannel) {
    auto oldest = c.parameters.end();
    for (auto p = c.parameters.begin(); p != c.parameters.end(); ++p)
      if (p != it && (oldest == c.parameters.end() || p->second.used < oldest->second.used)) oldest = p;
    c.parameters.erase(oldest);
  }
  it->second.stamp = stamp;
  it->second.used = ++c.parameterUses;
  return it->second;
}

}  // namespace

std::uint64_t ChannelState::latestStamp() const {
  std::uint64_t latest = std::max({notesStamp, controllersStamp, notePressuresStamp, program.stamp, pitchWheel.stamp,
                                   channelPressure.stamp, selectionStamp});
  for (const auto& [key, p] : parameters) latest = std::max(latest, p.stamp);
  return latest;
}

std::optional<ParameterKey> ChannelState::selected() const {
  if (selectedMsb().value < 0 || selectedLsb().value < 0) return std::nullopt;
  return parameterKey(selectionNonRegistered, std::uint16_t(selectedMsb().value << 7 | selectedLsb().value));
}

bool isParameterController(std::uint8_t number) {
  return number == 6 || number == 38 || (number >= 96 && number <= 101);
}

void MidiState::apply(midi::MidiEventView event, std::uint64_t stamp, std::int64_t nowMs) {
  if (event.status() >= 0xF0) {
    if (system_.apply(event, stamp)) resetDevice(stamp);
    return;
  }
  const auto message = event.shortMessage();
  if (!message || message->status() >= 0xF0) return;
  ChannelState& c = channels_[message->status() & 0x0F];
  const std::uint8_t a = message->bytes[1], b = message->bytes[2];
  switch (message->status() & 0xF0) {
    case 0x80: setNote(c, a, 0, stamp, nowMs); break;
    case 0x90: setNote(c, a, b, stamp, nowMs); break;
    case 0xA0: c.notePressures[a].set(b, stamp), c.notePressuresStamp = stamp; break;
    case 0xB0: applyController(c, a, b, stamp); break;
    case 0xC0:
      c.program.set(a, stamp);
      c.bankMsbAtProgram.set(c.controllers[0].value, stamp);
      c.bankLsbAtProgram.set(c.controllers[32].value, stamp);
      break;
    case 0xD0: c.channelPressure.set(a, stamp); break;
    case 0xE0: c.pitchWheel.set(b << 7 | a, stamp); break;
  }
}

void MidiState::applyController(ChannelState& c, std::uint8_t number, std::uint8_t value, std::uint64_t stamp) {
  if (number == 121) return resetControllers(c, stamp);
  if (number == 120 || number >= 123) return allNotesOff(c, stamp);
  c.controllers[number].set(value, stamp);
  c.controllersStamp = stamp;
  if (number >= 98 && number <= 101) {
    c.selectionNonRegistered = number <= 99;
    (number & 1 ? c.selectionMsb : c.selectionLsb)[c.selectionNonRegistered].set(value, stamp);
    c.selectionStamp = stamp;
    if (const auto key = c.selected()) useParameter(c, *key, stamp);
  } else if (number == 6 || number == 38) {
    const auto key = c.selected();
    if (!key) return;
    ParameterState& p = useParameter(c, *key, stamp);
    (number == 6 ? p.entryMsb : p.entryLsb).set(value, stamp);
  }
}

// A device reset ends every note and sets everything else back to "never set": the
// journal then holds only what was set after the reset, and the receiver, which
// plays the reset, takes any value the journal gives as one to play.
void MidiState::resetDevice(std::uint64_t stamp) {
  for (ChannelState& c : channels_) {
    ChannelState fresh;
    fresh.notes = c.notes;
    fresh.notesStamp = c.notesStamp;
    allNotesOff(fresh, stamp);
    c = std::move(fresh);
  }
}

// What Reset All Controllers puts back, as the recommended practice lists it:
// modulation, pedals, pitch wheel and pressures to rest, expression full, and no
// parameter selected.
void MidiState::resetControllers(ChannelState& c, std::uint64_t stamp) {
  c.controllersStamp = c.notePressuresStamp = c.resetStamp = stamp;
  for (const int n : {1, 64, 65, 66, 67}) c.controllers[std::size_t(n)].set(0, stamp);
  c.controllers[11].set(127, stamp);
  c.pitchWheel.set(0x2000, stamp);
  c.channelPressure.set(0, stamp);
  for (StampedValue& p : c.notePressures)
    if (p.value > 0) p.set(0, stamp);
  for (const int n : {98, 99, 100, 101}) c.controllers[std::size_t(n)].set(127, stamp);
  for (auto* halves : {&c.selectionMsb, &c.selectionLsb})
    for (StampedValue& half : *halves) half.set(127, stamp);
  c.selectionStamp = stamp;
}

}  // namespace strandlink::protocol::rtp
