#include "protocol/rtp/journal_repair.h"

namespace strandlink::protocol::rtp {

JournalRepair::Outcome JournalRepair::arrived(std::uint16_t sequence, const RecoveryJournal* journal) {
  Outcome out;
  if (journal) peerSendsJournals_ = true;
  if (!highest_) {
    highest_ = sequence;
    // The first packet heard: a journal that reaches back before it tells of
    // packets this side never got (the first ones lost, or it joined late).
    if (journal && journal->checkpoint != sequence) repair(*journal, out.repairs);
    return out;
  }
  const auto step = static_cast<std::int16_t>(static_cast<std::uint16_t>(sequence - *highest_));
  if (step <= 0) {
    // A duplicate, or one that came after a later packet whose journal already
    // stood in for it: played now it would undo the repair or play twice.
    out.playCommands = step < 0 && !peerSendsJournals_;
    return out;
  }
  const std::uint16_t firstMissing = static_cast<std::uint16_t>(*highest_ + 1);
  highest_ = sequence;
  if (step == 1) {
    if (journal && journal->system) takeCounts(*journal->system);
    return out;
  }
  ++counts_.gaps;
  counts_.packetsLost += static_cast<std::uint64_t>(step - 1);
  if (!journal) {
    ++counts_.unrepaired;
    return out;
  }
  // A checkpoint after the first missing packet: the journal no longer covers it.
  if (static_cast<std::int16_t>(static_cast<std::uint16_t>(journal->checkpoint - firstMissing)) > 0)
    ++counts_.unrepaired;
  repair(*journal, out.repairs);
  return out;
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
    if (s.program.value != p->program ||
        (bank && (s.bankMsbAtProgram.value != *p->bankMsb || s.bankLsbAtProgram.value != *p->bankLsb))) {
      const std::int16_t msbBefore = s.controllers[0].value, lsbBefore = s.controllers[32].value;
      if (bank) add(out, 0xB0 | ch, 0, *p->bankMsb), add(out, 0xB0 | ch, 32, *p->bankLsb);
      add(out, 0xC0 | ch, p->program);
      // The bank select that chose the program need not be the one in force now.
      if (bank && msbBefore >= 0 && msbBefore != *p->bankMsb) add(out, 0xB0 | ch, 0, std::uint8_t(msbBefore));
      if (bank && lsbBefore >= 0 && lsbBefore != *p->bankLsb) add(out, 0xB0 | ch, 32, std::uint8_t(lsbBefore));
      ++counts_.valuesRestored;
    }
  }
  for (const ControllerValue& c : j.controllers) {
    if (isParameterController(c.number) || isModeController(c.number) || s.controllers[c.number].value == c.value)
      continue;
    add(out, 0xB0 | ch, c.number, c.value);
    ++counts_.valuesRestored;
  }
  repairParameters(j, out);
  if (j.pitchWheel && s.pitchWheel.value != j.pitchWheel->value) {
    add(out, 0xE0 | ch, j.pitchWheel->value & 0x7F, std::uint8_t(j.pitchWheel->value >> 7));
    ++counts_.valuesRestored;
  }
  repairNotes(j, out);
  if (j.channelPressure && s.channelPressure.value != j.channelPressure->value) {
    add(out, 0xD0 | ch, j.channelPressure->value);
    ++counts_.valuesRestored;
  }
  for (const NotePressure& p : j.notePressures) {
    if (p.notesOffAfter || s.notePressures[p.note].value == p.pressure) continue;
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
  for (const ParameterValue& p : j.parameters) {
    const auto it = s.parameters.find(parameterKey(p.nonRegistered, p.number));
    const std::int16_t msb = it == s.parameters.end() ? -1 : it->second.entryMsb.value;
    const std::int16_t lsb = it == s.parameters.end() ? -1 : it->second.entryLsb.value;
    const bool msbDiffers = p.entryMsb && msb != *p.entryMsb, lsbDiffers = p.entryLsb && lsb != *p.entryLsb;
    if (!msbDiffers && !lsbDiffers) continue;
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
    // would come in the wrong place of the music.
    if (s.notes[note.note].velocity || !note.playIfLost) continue;
    add(out, 0x90 | ch, note.note, note.velocity);
    ++counts_.lateNotes;
  }
}

}  // namespace strandlink::protocol::rtp
