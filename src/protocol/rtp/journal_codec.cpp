#include "protocol/rtp/journal_codec.h"

#include <algorithm>

#include "protocol/rtp/system_codec.h"

namespace strandlink::protocol::rtp {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kProgram = 0x80, kControllers = 0x40, kParameters = 0x20, kWheel = 0x10, kNotes = 0x08,
                       kNoteExtras = 0x04, kPressure = 0x02, kNotePressure = 0x01;
constexpr std::size_t kMaxLength = 0x3FF;

std::uint8_t octet(bool flag, unsigned low7) { return static_cast<std::uint8_t>((flag ? 0x80 : 0) | (low7 & 0x7F)); }
std::uint8_t single(bool recent, unsigned low7) { return octet(!recent, low7); }

template <typename T>
bool anyRecent(const std::vector<T>& items) {
  return std::any_of(items.begin(), items.end(), [](const T& item) { return item.recent; });
}

bool parametersRecent(const ChannelJournal& c) {
  return anyRecent(c.parameters) || (c.pendingParameter && c.pendingParameter->recent);
}

bool channelRecent(const ChannelJournal& c) {
  return (c.program && c.program->recent) || anyRecent(c.controllers) || parametersRecent(c) ||
         (c.pitchWheel && c.pitchWheel->recent) || anyRecent(c.notesOn) || c.notesOffRecent ||
         (c.channelPressure && c.channelPressure->recent) || anyRecent(c.notePressures);
}

void writeProgram(const ProgramState& p, Bytes& out) {
  const bool bank = p.bankMsb && p.bankLsb;
  out.push_back(single(p.recent, p.program));
  out.push_back(octet(bank, bank ? *p.bankMsb : 0));
  out.push_back(octet(false, bank ? *p.bankLsb : 0));  // X: no reset after the bank select
}

void writeControllers(const std::vector<ControllerValue>& logs, Bytes& out) {
  out.push_back(single(anyRecent(logs), unsigned(logs.size() - 1)));
  for (const ControllerValue& c : logs) {
    out.push_back(single(c.recent, c.number));
    out.push_back(octet(false, c.value));  // A = 0: the value itself
  }
}

void writeParameters(const ChannelJournal& c, Bytes& out) {
  const std::size_t start = out.size();
  out.resize(start + 2);  // S P E U W Z and the length, filled in below
  if (const auto& pending = c.pendingParameter) out.push_back(octet(pending->nonRegistered, pending->msb));
  for (const ParameterValue& p : c.parameters) {
    out.push_back(single(p.recent, p.number & 0x7F));
    out.push_back(octet(p.nonRegistered, p.number >> 7));
    // V with the data entry fields: they hold the parameter's value itself.
    out.push_back(static_cast<std::uint8_t>((p.entryMsb ? 0x80 : 0) | (p.entryLsb ? 0x40 : 0) |
                                            (p.entryMsb || p.entryLsb ? 0x02 : 0)));
    if (p.entryMsb) out.push_back(octet(p.entryMsbReset, *p.entryMsb));
    if (p.entryLsb) out.push_back(octet(p.entryLsbReset, *p.entryLsb));
  }
  const std::size_t length = out.size() - start;
  out[start] = static_cast<std::uint8_t>((parametersRecent(c) ? 0 : 0x80) | (c.pendingParameter ? 0x40 : 0) |
                                         (c.selectedLast && !c.parameters.empty() ? 0x20 : 0) | (length >> 8));
  out[start + 1] = static_cast<std::uint8_t>(length);
}

void writeNotes(const ChannelJournal& c, Bytes& out) {
  const std::size_t logs = c.notesOn.size();
  int low = 15, high = logs == 127 ? 1 : 0;  // no off bits
  if (c.notesOff.any()) {
    low = 15, high = 0;
    for (int i = 0; i < 128; ++i)
      if (c.notesOff[i]) low = std::min(low, i / 8), high = std::max(high, i / 8);
  }
  out.push_back(octet(!c.notesOffRecent, unsigned(logs == 128 ? 127 : logs)));
  out.push_back(static_cast<std::uint8_t>(low << 4 | high));
  for (const HeldNote& n : c.notesOn) {
    out.push_back(single(n.recent, n.note));
    out.push_back(octet(n.playIfLost, n.velocity));
  }
  for (int octetIndex = low; octetIndex <= high; ++octetIndex) {
    std::uint8_t bits = 0;
    for (int i = 0; i < 8; ++i)
      if (c.notesOff[octetIndex * 8 + i]) bits |= std::uint8_t(0x80 >> i);
    out.push_back(bits);
  }
}

void writeNotePressures(const std::vector<NotePressure>& logs, Bytes& out) {
  out.push_back(single(anyRecent(logs), unsigned(logs.size() - 1)));
  for (const NotePressure& p : logs) {
    out.push_back(single(p.recent, p.note));
    out.push_back(octet(p.notesOffAfter, p.pressure));
  }
}

bool writeChannel(const ChannelJournal& c, Bytes& out) {
  const std::size_t start = out.size();
  out.resize(start + 3);
  std::uint8_t toc = 0;
  if (c.program) toc |= kProgram, writeProgram(*c.program, out);
  if (!c.controllers.empty()) toc |= kControllers, writeControllers(c.controllers, out);
  if (!c.parameters.empty() || c.pendingParameter) toc |= kParameters, writeParameters(c, out);
  if (c.pitchWheel) {
    toc |= kWheel;
    out.push_back(single(c.pitchWheel->recent, c.pitchWheel->value & 0x7F));
    out.push_back(octet(false, c.pitchWheel->value >> 7));
  }
  if (c.hasNotes()) toc |= kNotes, writeNotes(c, out);
  if (c.channelPressure) toc |= kPressure, out.push_back(single(c.channelPressure->recent, c.channelPressure->value));
  if (!c.notePressures.empty()) toc |= kNotePressure, writeNotePressures(c.notePressures, out);
  const std::size_t length = out.size() - start;
  if (length > kMaxLength) return false;
  out[start] = static_cast<std::uint8_t>((channelRecent(c) ? 0 : 0x80) | (c.channel & 0x0F) << 3 | length >> 8);
  out[start + 1] = static_cast<std::uint8_t>(length);
  out[start + 2] = toc;
  return true;
}

// --- reading ---

// Reads `count` two-octet logs through `take`; false when they run past the end.
template <typename Take>
bool readPairs(ByteReader& in, std::size_t count, Take take) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t a = 0, b = 0;
    if (!in.read(a) || !in.read(b)) return false;
    take(a, b);
  }
  return true;
}

bool readProgram(ByteReader& in, ChannelJournal& c) {
  std::uint8_t a = 0, b = 0, x = 0;
  if (!in.read(a) || !in.read(b) || !in.read(x)) return false;
  ProgramState p;
  p.program = a & 0x7F;
  p.recent = !(a & 0x80);
  if (b & 0x80) p.bankMsb = b & 0x7F, p.bankLsb = x & 0x7F;
  c.program = p;
  return true;
}

bool readControllers(ByteReader& in, ChannelJournal& c) {
  std::uint8_t header = 0;
  if (!in.read(header)) return false;
  return readPairs(in, std::size_t(header & 0x7F) + 1, [&](std::uint8_t a, std::uint8_t b) {
    // A = 1 codes a toggle or count rather than a value: this side restores values only.
    if (!(b & 0x80)) c.controllers.push_back({std::uint8_t(a & 0x7F), std::uint8_t(b & 0x7F), !(a & 0x80)});
  });
}

// How a peer's parameter logs name their parameter: each with both octets, or (the
// short form) with the low one only, all RPNs or all NRPNs.
enum class ParameterForm { Full, ShortRegistered, ShortNonRegistered };

bool readParameterLog(ByteReader& in, ParameterForm form, ChannelJournal& c) {
  std::uint8_t lsb = 0, msb = 0, toc = 0;
  if (!in.read(lsb) || (form == ParameterForm::Full && !in.read(msb)) || !in.read(toc)) return false;
  ParameterValue p;
  p.nonRegistered = form == ParameterForm::Full ? bool(msb & 0x80) : form == ParameterForm::ShortNonRegistered;
  p.number = static_cast<std::uint16_t>((msb & 0x7F) << 7 | (lsb & 0x7F));
  p.recent = !(lsb & 0x80);
  std::uint8_t value = 0;
  if (toc & 0x80) {
    if (!in.read(value)) return false;
    p.entryMsb = value & 0x7F, p.entryMsbReset = value & 0x80;
  }
  if (toc & 0x40) {
    if (!in.read(value)) return false;
    p.entryLsb = value & 0x7F, p.entryLsbReset = value & 0x80;
  }
  // Increment and decrement buttons (two octets each) and a count: read past.
  const std::size_t rest = (toc & 0x20 ? 2 : 0) + (toc & 0x10 ? 2 : 0) + (toc & 0x08 ? 1 : 0);
  if (!in.skip(rest)) return false;
  c.parameters.push_back(p);
  return true;
}

bool readParameters(ByteReader& in, ChannelJournal& c) {
  std::uint8_t a = 0, b = 0;
  if (!in.read(a) || !in.read(b)) return false;
  const std::size_t length = std::size_t(a & 0x03) << 8 | b;
  if (length < 2 || in.remaining() < length - 2) return false;
  ByteReader logs(in.rest().first(length - 2));
  (void)in.skip(length - 2);
  std::uint8_t pending = 0;
  if (a & 0x40) {  // P: a parameter number whose MSB came without its LSB yet
    if (!logs.read(pending)) return false;
    c.pendingParameter = PendingParameter{bool(pending & 0x80), std::uint8_t(pending & 0x7F), false};
  }
  c.selectedLast = a & 0x20;  // E
  ParameterForm form = ParameterForm::Full;
  // Z: the short form, whose kind U or W says. Neither or both: the logs' kind
  // cannot be told, so they are read past (the chapters after them are found by
  // the length as usual).
  const bool told = !(a & 0x04) || (a & 0x10) != (a & 0x08) << 1;
  if (a & 0x04) form = (a & 0x10) ? ParameterForm::ShortRegistered : ParameterForm::ShortNonRegistered;
  while (told && logs.remaining() > 0)
    if (!readParameterLog(logs, form, c)) return false;
  // S = 0 says something here came in the packet before; a log says so itself.
  if (c.pendingParameter) c.pendingParameter->recent = !(a & 0x80) && !anyRecent(c.parameters);
  return true;
}

bool readNotes(ByteReader& in, ChannelJournal& c) {
  std::uint8_t header = 0, range = 0;
  if (!in.read(header) || !in.read(range)) return false;
  const int low = range >> 4, high = range & 0x0F;
  std::size_t logs = header & 0x7F;
  if (logs == 127 && low == 15 && high == 0) logs = 128;
  c.notesOffRecent = !(header & 0x80);
  const bool ok = readPairs(in, logs, [&](std::uint8_t a, std::uint8_t b) {
    if (b & 0x7F) c.notesOn.push_back({std::uint8_t(a & 0x7F), std::uint8_t(b & 0x7F), bool(b & 0x80), !(a & 0x80)});
  });
  if (!ok) return false;
  for (int octetIndex = low; octetIndex <= high; ++octetIndex) {
    std::uint8_t bits = 0;
    if (!in.read(bits)) return false;
    for (int i = 0; i < 8; ++i)
      if (bits & (0x80 >> i)) c.notesOff.set(std::size_t(octetIndex * 8 + i));
  }
  return true;
}

bool readNotePressures(ByteReader& in, ChannelJournal& c) {
  std::uint8_t header = 0;
  if (!in.read(header)) return false;
  return readPairs(in, std::size_t(header & 0x7F) + 1, [&](std::uint8_t a, std::uint8_t b) {
    c.notePressures.push_back({std::uint8_t(a & 0x7F), std::uint8_t(b & 0x7F), !(a & 0x80), bool(b & 0x80)});
  });
}

bool readChapters(ByteReader& in, std::uint8_t toc, ChannelJournal& c) {
  std::uint8_t a = 0, b = 0;
  if ((toc & kProgram) && !readProgram(in, c)) return false;
  if ((toc & kControllers) && !readControllers(in, c)) return false;
  if ((toc & kParameters) && !readParameters(in, c)) return false;
  if (toc & kWheel) {
    if (!in.read(a) || !in.read(b)) return false;
    c.pitchWheel = RecentValue<std::uint16_t>{std::uint16_t((b & 0x7F) << 7 | (a & 0x7F)), !(a & 0x80)};
  }
  if ((toc & kNotes) && !readNotes(in, c)) return false;
  if (toc & kNoteExtras) {  // read past: repeated note-ons this side does not restore
    if (!in.read(a) || !in.skip(2 * (std::size_t(a & 0x7F) + 1))) return false;
  }
  if (toc & kPressure) {
    if (!in.read(a)) return false;
    c.channelPressure = RecentValue<std::uint8_t>{std::uint8_t(a & 0x7F), !(a & 0x80)};
  }
  return !(toc & kNotePressure) || readNotePressures(in, c);
}

DecodeError readChannel(ByteReader& in, RecoveryJournal& out) {
  const auto rest = in.rest();
  if (rest.size() < 3) return DecodeError::Truncated;
  const std::size_t length = std::size_t(rest[0] & 0x03) << 8 | rest[1];
  if (length < 3) return DecodeError::BadJournal;
  if (!in.skip(length)) return DecodeError::Truncated;
  ChannelJournal c;
  c.channel = (rest[0] >> 3) & 0x0F;
  ByteReader chapters(rest.subspan(3, length - 3));
  c.complete = readChapters(chapters, rest[2], c);
  out.channels.push_back(std::move(c));
  return DecodeError::None;
}

}  // namespace

bool encodeJournal(const RecoveryJournal& journal, std::vector<std::uint8_t>& out) {
  if (journal.channels.size() > 16) return false;
  const std::size_t start = out.size();
  const bool recent = (journal.system && journal.system->recent) ||
                      std::any_of(journal.channels.begin(), journal.channels.end(), channelRecent);
  const bool channels = !journal.channels.empty();
  out.push_back(static_cast<std::uint8_t>((recent ? 0 : 0x80) | (journal.system ? 0x40 : 0) | (channels ? 0x20 : 0) |
                                          (channels ? journal.channels.size() - 1 : 0)));
  appendBigEndian(out, journal.checkpoint);
  bool fits = !journal.system || encodeSystemJournal(*journal.system, out);
  for (std::size_t i = 0; fits && i < journal.channels.size(); ++i) fits = writeChannel(journal.channels[i], out);
  if (!fits) out.resize(start);
  return fits;
}

DecodeError decodeJournal(ByteReader& in, RecoveryJournal& out) {
  out = RecoveryJournal{};
  std::uint8_t flags = 0;
  if (!in.read(flags) || !in.read(out.checkpoint)) return DecodeError::Truncated;
  if (flags & 0x40) {
    if (const DecodeError e = decodeSystemJournal(in, out.system.emplace()); e != DecodeError::None) return e;
  }
  if (flags & 0x20) {
    for (int i = 0; i <= (flags & 0x0F); ++i)
      if (const DecodeError e = readChannel(in, out); e != DecodeError::None) return e;
  }
  return DecodeError::None;
}

}  // namespace strandlink::protocol::rtp
