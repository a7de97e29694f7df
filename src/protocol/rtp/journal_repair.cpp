#include "protocol/rtp/journal_repair.h"

#include <algorithm>
#include <map>

namespace strandlink::protocol::rtp {

namespace {

// The packets a journal stands in for: from its checkpoint to the one before its
// own packet. None or fewer for a checkpoint at or after that packet, which no
// sender writes for a history it has.
std::int16_t packetsCovered(std::uint16_t sequence, const RecoveryJournal& journal) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(sequence - journal.checkpoint));
}

// Which entries of a list to act on: the last for each key. A history leaves one
// value for a controller, a note's pressure or a parameter; a list that names one
// several times, and would have it played back and forth, is taken at its last.
template <typename Entry, typename KeyOf>
std::vector<bool> lastOfEach(const std::vector<Entry>& list, KeyOf keyOf) {
  std::map<std::uint16_t, std::size_t> last;
  for (std::size_t i = 0; i < list.size(); ++i) last[keyOf(list[i])] = i;
  std::vector<bool> keep(list.size());
  for (const auto& entry : last) keep[entry.second] = true;
  return keep;
}

}  // namespace

JournalRepair::Outcome JournalRepair::arrived(std::uint16_t sequence, const RecoveryJournal* journal) {
  Outcome out;
  if (journal) peerSendsJournals_ = true;
  if (!highest_) {
    highest_ = sequence;
    // The first packet heard: a journal that reaches back before it tells of
    // packets this side never got (the first ones lost, or it joined late).
    if (journal && packetsCovered(sequence, *journal) > 0) {
      budget_ = std::size_t(packetsCovered(sequence, *journal)) * kChangesPerLostPacket;
      repair(*journal, out.repairs);
    }
    return out;
  }
  const auto step = static_cast<std::int16_t>(static_cast<std::uint16_t>(sequence - *highest_));
  if (step <= 0) {
    // A duplicate, or one that came after a later packet whose journal already
    // stood in for it: played now it would undo the repair or play twice.
    out.playCommands = step < 0 && !peerSendsJournals_;
    return out;
  }
  highest_ = sequence;
  if (step == 1) {
    if (journal && journal->system) takeCounts(*journal->system);
    return out;
  }
  const auto lost = static_cast<std::int16_t>(step - 1);
  ++counts_.gaps;
  counts_.packetsLost += static_cast<std::uint64_t>(lost);
  const std::int16_t covered = journal ? packetsCovered(sequence, *journal) : 0;
  // No journal, or one whose checkpoint is not before its own packet: nothing to
  // act upon. A checkpoint after the first missing packet: the journal no longer
  // covers all of the gap, but what it has still holds.
  if (covered <= 0) {
    ++counts_.unrepaired;
    return out;
  }
  if (covered < lost) ++counts_.unrepaired;
  budget_ = std::size_t(std::min(covered, lost)) * kChangesPerLostPacket;
  repair(*journal, out.repairs);
  return out;
}

bool JournalRepair::change() {
  if (budget_ == 0) return ++counts_.unbelieved, false;
  --budget_;
  return true;
}

// The system first: a reset it plays clears the channels, which the channel
// journals then fill again with what was set after it.
void JournalRepair::repair(const RecoveryJournal& journal, std::vector<midi::MidiEvent>& out) {
  if (journal.system) repairSystem(*journal.system, out);
  for (const ChannelJournal& channel : journal.channels) repairChannel(channel, out);
}

void JournalRepair::add(std::vector<midi::MidiEvent>& out, std::uint8_t status, std::uint8_t a, std::uint8_t b) {
  out.push_back(midi::MidiEvent::fromShort(midi::ShortMessage::withStatusSize(status, a, b)));
  state_.apply(out.back().view());
}

void JournalRepair::repairChannel(const ChannelJournal& j, std::vector<midi::MidiEvent>& out) {
  const std::uint8_t ch = j.channel & 0x0F;
  const ChannelState& s = state_.channel(ch);
  if (const auto& p = j.program) {
    const bool bank = p->bankMsb && p->bankLsb;
    if ((s.program.value != p->program ||
         (bank && (s.bankMsbAtProgram.value != *p->bankMsb || s.bankLsbAtProgram.value != *p->bankLsb))) &&
        change()) {
      const std::int16_t msbBefore = s.controllers[0].value, lsbBefore = s.controllers[32].value;
      if (bank) add(out, 0xB0 | ch, 0, *p->bankMsb), add(out, 0xB0 | ch, 32, *p->bankLsb);
      add(out, 0xC0 | ch, p->program);
      // The bank select that chose the program need not be the one in force now.
      if (bank && msbBefore >= 0 && msbBefore != *p->bankMsb) add(out, 0xB0 | ch, 0, std::uint8_t(msbBefore));
      if (bank && lsbBefore >= 0 && lsbBefore != *p->bankLsb) add(out, 0xB0 | ch, 32, std::uint8_t(lsbBefore));
      ++counts_.valuesRestored;
    }
  }
  const auto lastController = lastOfEach(j.controllers, [](const ControllerValue& c) { return c.number; });
  for (std::size_t i = 0; i < j.controllers.size(); ++i) {
    const ControllerValue& c = j.controllers[i];
    if (!lastController[i] || isParameterController(c.number) || isModeController(c.number) ||
        s.controllers[c.number].value == c.value || !change())
      continue;
    add(out, 0xB0 | ch, c.number, c.value);
    ++counts_.valuesRestored;
  }
  repairParameters(j, out);
  if (j.pitchWheel && s.pitchWheel.value != j.pitchWheel->value && change()) {
    add(out, 0xE0 | ch, j.pitchWheel->value & 0x7F, std::uint8_t(j.pitchWheel->value >> 7));
    ++counts_.valuesRestored;
  }
  repairNotes(j, out);
  if (j.channelPressure && s.channelPressure.value != j.channelPressure->value && change()) {
    add(out, 0xD0 | ch, j.channelPressure->value);
    ++counts_.valuesRestored;
  }
  const auto lastPressure = lastOfEach(j.notePressures, [](const NotePressure& p) { return p.note; });
  for (std::size_t i = 0; i < j.notePressures.size(); ++i) {
    const NotePressure& p = j.notePressures[i];
    if (!lastPressure[i] || p.notesOffAfter || s.notePressures[p.note].value == p.pressure || !change()) continue;
    add(out, 0xA0 | ch, p.note, p.pressure);
    ++counts_.valuesRestored;
  }
}

void JournalRepair::repairParameters(const ChannelJournal& j, std::vector<midi::MidiEvent>& out) {
  const std::uint8_t ch = j.channel & 0x0F;
  const ChannelState& s = state_.channel(ch);
  const auto before = s.selected();
  const auto select = [&](ParameterKey key) {
    if (s.selected() == key) return;
    const bool nonRegistered = key & 0x4000;
    add(out, 0xB0 | ch, nonRegistered ? 99 : 101, std::uint8_t(key >> 7 & 0x7F));
    add(out, 0xB0 | ch, nonRegistered ? 98 : 100, key & 0x7F);
  };
  const auto lastParameter =
      lastOfEach(j.parameters, [](const ParameterValue& p) { return parameterKey(p.nonRegistered, p.number); });
  for (std::size_t i = 0; i < j.parameters.size(); ++i) {
    const ParameterValue& p = j.parameters[i];
    if (!lastParameter[i]) continue;
    const auto it = s.parameters.find(parameterKey(p.nonRegistered, p.number));
    const std::int16_t msb = it == s.parameters.end() ? -1 : it->second.entryMsb.value;
    const std::int16_t lsb = it == s.parameters.end() ? -1 : it->second.entryLsb.value;
    const bool msbDiffers = p.entryMsb && msb != *p.entryMsb, lsbDiffers = p.entryLsb && lsb != *p.entryLsb;
    if ((!msbDiffers && !lsbDiffers) || !change()) continue;
    select(parameterKey(p.nonRegistered, p.number));
    if (msbDiffers) add(out, 0xB0 | ch, 6, *p.entryMsb);
    if (lsbDiffers) add(out, 0xB0 | ch, 38, *p.entryLsb);
    ++counts_.valuesRestored;
  }
  // The sender's selection, when the list says it is its last, or a number half
  // chosen after it: data entry that follows goes there. Else this side's own.
  if (!j.parameters.empty() && j.selectedLast)
    select(parameterKey(j.parameters.back().nonRegistered, j.parameters.back().number));
  else if (before) select(*before);
  if (const auto& p = j.pendingParameter;
      p && (s.selectionNonRegistered != p->nonRegistered || s.selectedMsb().value != p->msb))
    add(out, 0xB0 | ch, p->nonRegistered ? 99 : 101, p->msb);
}

void JournalRepair::repairNotes(const ChannelJournal& j, std::vector<midi::MidiEvent>& out) {
  const std::uint8_t ch = j.channel & 0x0F;
  const ChannelState& s = state_.channel(ch);
  for (std::uint8_t n = 0; n < 128; ++n) {
    if (!j.notesOff[n] || !s.notes[n].velocity) continue;
    add(out, 0x80 | ch, n, 0);
    ++counts_.notesEnded;
  }
  for (const HeldNote& note : j.notesOn) {
    // A lost note-on sounds late only while it is still held and recent; an old one
    // would come in the wrong place of the music. One the journal also ends is not
    // held: no history leaves a note both sounding and ended.
    if (s.notes[note.note].velocity || !note.playIfLost || j.notesOff[note.note] || !change()) continue;
    add(out, 0x90 | ch, note.note, note.velocity);
    ++counts_.lateNotes;
  }
}

}  // namespace strandlink::protocol::rtp
