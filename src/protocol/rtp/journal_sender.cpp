#include "protocol/rtp/journal_sender.h"

#include <algorithm>

#include "protocol/rtp/journal_codec.h"

namespace strandlink::protocol::rtp {

namespace {

constexpr std::uint64_t kCycle = 0x10000;
constexpr std::int64_t kFirstGuardMs = 20, kLastGuardIntervalMs = 1000;
constexpr std::size_t kSectionHeader = kRtpHeaderSize;  // when there is no padding, CSRC or extension
// A journal made up to this long ago still serves: its note-ons marked to sound late
// are that much older, well within what a late note may be.
constexpr std::int64_t kPreparedServesMs = 10;

// A channel's part says its length in 10 bits: past 1,023 octets its oldest
// parameter logs give way (a receiver that lost them keeps its own values) rather
// than the whole journal. Its other chapters take at most about 770 octets.
void fitParameters(ChannelJournal& c) {
  constexpr std::size_t kMaxChannel = 0x3FF, kAllButParameters = 770, kLargestLog = 5;
  if (kAllButParameters + 3 + kLargestLog * c.parameters.size() <= kMaxChannel) return;
  const auto logSize = [](const ParameterValue& p) {
    return 3 + std::size_t(p.entryMsb.has_value() + p.entryLsb.has_value());
  };
  ChannelJournal rest = c;
  rest.parameters.clear(), rest.pendingParameter.reset();
  std::vector<std::uint8_t> bytes;
  (void)encodeJournal(RecoveryJournal{0, std::nullopt, {rest}}, bytes);
  std::size_t size = bytes.size() - 3 + 2 + c.pendingParameter.has_value();  // its journal header out, chapter M's in
  for (const ParameterValue& p : c.parameters) size += logSize(p);
  std::size_t drop = 0;
  while (size > kMaxChannel && drop + 1 < c.parameters.size()) size -= logSize(c.parameters[drop++]);
  c.parameters.erase(c.parameters.begin(), c.parameters.begin() + std::ptrdiff_t(drop));
}

void withEntries(ParameterValue& v, const ParameterState& p, std::uint64_t resetStamp) {
  if (p.entryMsb.value >= 0)
    v.entryMsb = std::uint8_t(p.entryMsb.value), v.entryMsbReset = resetStamp > p.entryMsb.stamp;
  if (p.entryLsb.value >= 0)
    v.entryLsb = std::uint8_t(p.entryLsb.value), v.entryLsbReset = resetStamp > p.entryLsb.stamp;
}

ParameterValue parameterValue(ParameterKey key) {
  ParameterValue v;
  v.nonRegistered = key & 0x4000;
  v.number = key & 0x3FFF;
  return v;
}

}  // namespace

std::uint64_t JournalSender::extend(std::uint16_t sequence) const {
  if (!last_) return kCycle + sequence;  // never 0, the stamp of "never set"
  std::uint64_t candidate = (*last_ & ~(kCycle - 1)) | sequence;
  if (candidate + kCycle / 2 < *last_) candidate += kCycle;
  else if (candidate > *last_ + kCycle / 2 && candidate >= 2 * kCycle) candidate -= kCycle;
  return candidate;
}

void JournalSender::sending(std::uint64_t sequence, std::int64_t nowMs) {
  // The packet before the first: feedback on the first packet is then past it.
  if (!last_) checkpoint_ = sequence - 1;
  last_ = std::max(last_.value_or(0), sequence);
  if (marks_.empty() || nowMs - marks_.back().second >= 1000) marks_.emplace_back(sequence, nowMs);
  // The newest mark at least historyMs old: the packets after it may be younger.
  while (marks_.size() > 1 && marks_[1].second <= nowMs - historyMs_) marks_.pop_front();
  if (marks_.front().second <= nowMs - historyMs_) checkpoint_ = std::max(checkpoint_, marks_.front().first);
}

const JournalSender::Prepared& JournalSender::prepare(std::uint64_t sequence, std::int64_t nowMs) {
  Prepared& p = prepared_;
  if (p.valid && p.sequence == sequence && nowMs - p.madeMs <= kPreparedServesMs) return p;
  sending(sequence, nowMs);
  p.bytes.clear();
  const RecoveryJournal journal = journalFor(static_cast<std::uint16_t>(sequence), nowMs);
  p.fits = sendable(journal) && encodeJournal(journal, p.bytes);
  p.valid = true, p.sequence = sequence, p.madeMs = nowMs;
  return p;
}

std::size_t JournalSender::reserve(std::uint16_t sequence, std::int64_t nowMs) {
  const Prepared& p = prepare(extend(sequence), nowMs);
  return p.fits ? p.bytes.size() : 0;
}

bool JournalSender::attach(std::vector<std::uint8_t>& packet, std::int64_t nowMs) {
  MidiPacket decoded;
  if (decodeMidiPacket(packet, decoded) != DecodeError::None || decoded.hadJournal) return false;
  if (packet[0] & 0x3F) return false;  // padding, an extension or CSRCs: not the encoder's packet
  const std::uint64_t sequence = extend(decoded.header.sequence);
  const bool fits = prepare(sequence, nowMs).fits;
  if (fits) {
    packet[kSectionHeader] |= 0x40;  // J
    packet.insert(packet.end(), prepared_.bytes.begin(), prepared_.bytes.end());
  }
  prepared_.valid = false;
  for (const TimedCommand& command : decoded.commands) state_.apply(command.bytes.view(), sequence, nowMs);
  return fits;
}

std::vector<std::uint8_t> JournalSender::guardPacket(const RtpHeader& header, std::int64_t nowMs) {
  prepared_.valid = false;
  sending(extend(header.sequence), nowMs);  // when none goes, the next packet takes its number
  const RecoveryJournal journal = journalFor(header.sequence, nowMs);
  if (!sendable(journal)) return {};
  std::vector<std::uint8_t> packet;
  appendRtpHeader(packet, header);
  packet.push_back(0x40);  // J, and an empty MIDI list
  if (!encodeJournal(journal, packet)) packet.back() = 0x00;
  return packet;
}

void JournalSender::receiverHas(std::uint16_t sequence) {
  prepared_.valid = false;  // made for the checkpoint before
  if (!last_) return;
  const std::uint64_t has = extend(sequence);
  if (has > *last_) return;  // feedback about packets never sent: not believed
  if (has > checkpoint_) peerReadsJournals_ = true;
  checkpoint_ = std::max(checkpoint_, has + 1);
}

// Some receivers (rtpmidid) read every journal they get, loss or not, and misread
// it: they take the system part for a channel's, read one channel fewer than the
// journal has and play the note bits of those they read as note-offs elsewhere.
// They never read a journal's last channel, nor anything of one without channels,
// and their feedback only echoes our checkpoint. So until the peer has shown that
// it reads journals, a journal of two channels or more is left out.
bool JournalSender::sendable(const RecoveryJournal& journal) const {
  return peerReadsJournals_ || journal.channels.size() <= 1;
}

RecoveryJournal JournalSender::journalFor(std::uint16_t sequence, std::int64_t nowMs) const {
  const std::uint64_t self = extend(sequence);
  const std::uint64_t from = std::min(checkpoint_, self);
  RecoveryJournal journal;
  journal.checkpoint = static_cast<std::uint16_t>(from);
  if (from == self) return journal;  // nothing the receiver may lack
  journal.system = systemJournal(state_.system(), from, self);
  for (int c = 0; c < 16; ++c) {
    if (state_.channel(c).latestStamp() < from) continue;  // untouched since the checkpoint
    ChannelJournal channel = channelJournal(c, self, nowMs);
    if (channel.program || !channel.controllers.empty() || !channel.parameters.empty() || channel.pendingParameter ||
        channel.pitchWheel || channel.hasNotes() || channel.channelPressure || !channel.notePressures.empty())
      journal.channels.push_back(std::move(channel));
  }
  return journal;
}

ChannelJournal JournalSender::channelJournal(int channel, std::uint64_t self, std::int64_t nowMs) const {
  const ChannelState& c = state_.channel(channel);
  const std::uint64_t from = checkpoint_, previous = self - 1;
  ChannelJournal j;
  j.channel = static_cast<std::uint8_t>(channel);
  if (c.program.within(from, self)) {
    j.program.emplace();
    j.program->program = std::uint8_t(c.program.value);
    j.program->recent = c.program.stamp == previous;
    // A bank MSB alone (as many devices take it) is a bank select too.
    if (c.bankMsbAtProgram.value >= 0 || c.bankLsbAtProgram.value >= 0)
      j.program->bankMsb = std::uint8_t(std::max<int>(c.bankMsbAtProgram.value, 0)),
      j.program->bankLsb = std::uint8_t(std::max<int>(c.bankLsbAtProgram.value, 0));
  }
  for (std::uint8_t n = 0; n < 128 && c.controllersStamp >= from; ++n) {
    const StampedValue& v = c.controllers[n];
    if (v.within(from, self) && !isParameterController(n) && !isModeController(n))
      j.controllers.push_back({n, std::uint8_t(v.value), v.stamp == previous});
  }
  j.parameters = parameterLogs(c, self);
  if (c.selectedMsb().value >= 0 && c.selectedLsb().value < 0 && c.selectionStamp >= from && c.selectionStamp < self)
    j.pendingParameter =
        PendingParameter{c.selectionNonRegistered, std::uint8_t(c.selectedMsb().value), c.selectionStamp == previous};
  if (c.pitchWheel.within(from, self))
    j.pitchWheel = RecentValue<std::uint16_t>{std::uint16_t(c.pitchWheel.value), c.pitchWheel.stamp == previous};
  for (std::uint8_t n = 0; n < 128 && c.notesStamp >= from; ++n) {
    const NoteState& note = c.notes[n];
    if (note.stamp < from || note.stamp >= self) continue;
    if (note.velocity)
      j.notesOn.push_back({n, note.velocity, nowMs - note.onMs <= recentNoteMs_, note.stamp == previous});
    else j.notesOff.set(n), j.notesOffRecent = j.notesOffRecent || note.stamp == previous;
  }
  if (c.channelPressure.within(from, self))
    j.channelPressure =
        RecentValue<std::uint8_t>{std::uint8_t(c.channelPressure.value), c.channelPressure.stamp == previous};
  for (std::uint8_t n = 0; n < 128 && c.notePressuresStamp >= from; ++n)
    if (c.notePressures[n].within(from, self))
      j.notePressures.push_back({n, std::uint8_t(c.notePressures[n].value), c.notePressures[n].stamp == previous,
                                 c.allNotesOffStamp > c.notePressures[n].stamp});
  fitParameters(j);  // last: it weighs the other chapters
  j.selectedLast = !j.parameters.empty() &&
                   c.selected() == parameterKey(j.parameters.back().nonRegistered, j.parameters.back().number);
  return j;
}

// Every parameter given a value or selected since the checkpoint, oldest first, so
// that the one selected now comes last (also when it has no value yet).
std::vector<ParameterValue> JournalSender::parameterLogs(const ChannelState& c, std::uint64_t self) const {
  std::vector<std::pair<std::uint64_t, ParameterValue>> logs;
  const auto selected = c.selected();
  for (const auto& [key, p] : c.parameters) {
    if (p.stamp < checkpoint_ || p.stamp >= self) continue;
    if (selected == key && c.selectionStamp >= checkpoint_) continue;  // added last, below
    ParameterValue v = parameterValue(key);
    v.recent = p.stamp == self - 1;
    withEntries(v, p, c.resetStamp);
    logs.emplace_back(p.stamp, v);
  }
  std::stable_sort(logs.begin(), logs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ParameterValue> out;
  for (auto& log : logs) out.push_back(log.second);
  if (selected && c.selectionStamp >= checkpoint_ && c.selectionStamp < self) {
    ParameterValue v = parameterValue(*selected);
    const auto it = c.parameters.find(*selected);
    if (it != c.parameters.end()) {
      withEntries(v, it->second, c.resetStamp);
    }
    v.recent = std::max(c.selectionStamp, it != c.parameters.end() ? it->second.stamp : 0) == self - 1;
    out.push_back(v);
  }
  return out;
}

void GuardSchedule::midiSent(std::int64_t nowMs) {
  interval_ = kFirstGuardMs;
  due_ = nowMs + interval_;
}

void GuardSchedule::guardSent(std::int64_t nowMs) {
  if (interval_ >= kLastGuardIntervalMs) {
    due_.reset();
    return;
  }
  interval_ = std::min(interval_ * 2, kLastGuardIntervalMs);
  due_ = nowMs + interval_;
}

}  // namespace strandlink::protocol::rtp
