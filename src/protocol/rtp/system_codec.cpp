#include "protocol/rtp/system_codec.h"

#include <algorithm>
#include <utility>

#include "protocol/rtp/delta_time.h"

namespace strandlink::protocol::rtp {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSimple = 0x40, kActiveSense = 0x20, kSequencer = 0x10, kTimeCode = 0x08, kSysEx = 0x04;
constexpr std::size_t kMaxLength = 0x3FF;

std::uint8_t withS(bool recent, unsigned rest) { return static_cast<std::uint8_t>((recent ? 0 : 0x80) | rest); }
std::uint8_t single(const RecentValue<std::uint8_t>& v) { return withS(v.recent, v.value & 0x7F); }

void writeSimple(const SimpleSystemCommands& d, Bytes& out) {
  out.push_back(withS(d.recent, (d.resets ? 0x40 : 0) | (d.tuneRequests ? 0x20 : 0) | (d.song ? 0x10 : 0)));
  for (const auto& field : {d.resets, d.tuneRequests, d.song})
    if (field) out.push_back(single(*field));
}

void writeSequencer(const SequencerState& q, Bytes& out) {
  const std::uint32_t position = q.position.value_or(0) & 0x7FFFF;
  // D (the second flag after S) is left 0: this side gives no meaning to it.
  out.push_back(
      withS(q.recent, (q.running ? 0x40 : 0) | (q.position ? 0x10 | position >> 16 : 0) | (q.timeTools ? 0x08 : 0)));
  if (q.position) appendBigEndian(out, static_cast<std::uint16_t>(position));
  if (q.timeTools)
    for (const int shift : {16, 8, 0}) out.push_back(static_cast<std::uint8_t>(*q.timeTools >> shift));
}

void writeTimeCode(const TimeCodeState& f, Bytes& out) {
  out.push_back(withS(f.recent, (f.complete ? 0x40 : 0) | (f.partial ? 0x20 : 0) | (f.quarterFrames ? 0x10 : 0) |
                                    (f.backward ? 0x08 : 0) | (f.point & 0x07)));
  if (f.complete) appendBigEndian(out, *f.complete);
  if (f.partial) appendBigEndian(out, *f.partial);
}

void writeSysEx(const SysExLog& x, bool recent, Bytes& out) {
  const bool data = x.data && !x.data->empty();
  out.push_back(withS(recent, (x.typeCount ? 0x40 : 0) | (x.count ? 0x20 : 0) | (x.first ? 0x10 : 0) |
                                  (data ? 0x08 : 0) | (x.status & 0x03)));
  if (x.typeCount) out.push_back(*x.typeCount);
  if (x.count) out.push_back(*x.count);
  if (x.first) appendDeltaTime(out, *x.first);
  if (!data) return;
  for (const std::uint8_t octet : *x.data) out.push_back(octet & 0x7F);
  out.back() |= 0x80;  // the last one
}

// --- reading ---

bool readValue(ByteReader& in, std::optional<RecentValue<std::uint8_t>>& out) {
  std::uint8_t octet = 0;
  if (!in.read(octet)) return false;
  out = RecentValue<std::uint8_t>{std::uint8_t(octet & 0x7F), !(octet & 0x80)};
  return true;
}

// Two kinds of log this side does not apply, for the undefined system commands:
// both say their own length, header included.
bool skipLongLog(ByteReader& in) {
  std::uint8_t a = 0, b = 0;
  if (!in.read(a) || !in.read(b)) return false;
  const std::size_t length = std::size_t(a & 0x03) << 8 | b;
  return length >= 2 && in.skip(length - 2);
}

bool skipShortLog(ByteReader& in) {
  std::uint8_t a = 0;
  if (!in.read(a)) return false;
  const std::size_t length = a & 0x1F;
  return length >= 1 && in.skip(length - 1);
}

bool readSimple(ByteReader& in, SystemJournal& out) {
  std::uint8_t header = 0;
  if (!in.read(header)) return false;
  SimpleSystemCommands& d = out.simple.emplace();
  d.recent = !(header & 0x80);
  if ((header & 0x40) && !readValue(in, d.resets)) return false;
  if ((header & 0x20) && !readValue(in, d.tuneRequests)) return false;
  if ((header & 0x10) && !readValue(in, d.song)) return false;
  if ((header & 0x08) && !skipLongLog(in)) return false;
  if ((header & 0x04) && !skipLongLog(in)) return false;
  if ((header & 0x02) && !skipShortLog(in)) return false;
  return !(header & 0x01) || skipShortLog(in);
}

bool readSequencer(ByteReader& in, SystemJournal& out) {
  std::uint8_t header = 0;
  if (!in.read(header)) return false;
  SequencerState q;
  q.recent = !(header & 0x80);
  q.running = header & 0x40;
  if (header & 0x10) {
    std::uint16_t clock = 0;
    if (!in.read(clock)) return false;
    q.position = std::uint32_t(header & 0x07) << 16 | clock;
  }
  if (header & 0x08) {
    std::uint32_t tools = 0;
    for (int i = 0; i < 3; ++i) {
      std::uint8_t octet = 0;
      if (!in.read(octet)) return false;
      tools = tools << 8 | octet;
    }
    q.timeTools = tools;
  }
  out.sequencer = q;
  return true;
}

bool readTimeCode(ByteReader& in, SystemJournal& out) {
  std::uint8_t header = 0;
  if (!in.read(header)) return false;
  TimeCodeState f;
  f.recent = !(header & 0x80);
  f.quarterFrames = header & 0x10;
  f.backward = header & 0x08;
  f.point = header & 0x07;
  std::uint32_t value = 0;
  if (header & 0x40) {
    if (!in.read(value)) return false;
    f.complete = value;
  }
  if (header & 0x20) {
    if (!in.read(value)) return false;
    f.partial = value;
  }
  out.timeCode = f;
  return true;
}

bool readSysExLog(ByteReader& in, SysExLog& x, bool& kept) {
  std::uint8_t header = 0;
  if (!in.read(header)) return false;
  x.recent = !(header & 0x80);
  x.status = header & 0x03;
  std::uint8_t octet = 0;
  if (header & 0x40) {
    if (!in.read(octet)) return false;
    x.typeCount = octet;
  }
  if (header & 0x20) {
    if (!in.read(octet)) return false;
    x.count = octet;
  }
  if (header & 0x10) {
    std::uint32_t first = 0;
    if (readDeltaTime(in, first) != DecodeError::None) return false;
    x.first = first;
  }
  if (header & 0x08) {
    auto& data = x.data.emplace();
    do {
      if (!in.read(octet)) return false;
      data.push_back(octet & 0x7F);
    } while (!(octet & 0x80));
  }
  // L: a log laid out as any other, which this side reads past and does not apply.
  kept = !(header & 0x04);
  return true;
}

bool readSysEx(ByteReader& in, SystemJournal& out) {
  std::vector<std::pair<SysExLog, bool>> logs;  // each with whether this side keeps it
  bool read = true;
  while (read && in.remaining() > 0) {
    logs.emplace_back();
    read = readSysExLog(in, logs.back().first, logs.back().second);
    if (!read) logs.pop_back();
  }
  // The first log's S bit is the list's: the log itself counts as recent only
  // when the one after it is too.
  if (logs.size() > 1) logs[0].first.recent = logs[0].first.recent && logs[1].first.recent;
  for (auto& [log, kept] : logs)
    if (kept) out.sysEx.push_back(std::move(log));
  return read;
}

bool readChapters(ByteReader& in, std::uint8_t flags, SystemJournal& out) {
  if ((flags & kSimple) && !readSimple(in, out)) return false;
  if ((flags & kActiveSense) && !readValue(in, out.activeSense)) return false;
  if ((flags & kSequencer) && !readSequencer(in, out)) return false;
  if ((flags & kTimeCode) && !readTimeCode(in, out)) return false;
  return !(flags & kSysEx) || readSysEx(in, out);
}

}  // namespace

bool encodeSystemJournal(const SystemJournal& journal, Bytes& out) {
  const std::size_t start = out.size();
  out.resize(start + 2);
  std::uint8_t flags = 0;
  if (journal.simple) flags |= kSimple, writeSimple(*journal.simple, out);
  if (journal.activeSense) flags |= kActiveSense, out.push_back(single(*journal.activeSense));
  if (journal.sequencer) flags |= kSequencer, writeSequencer(*journal.sequencer, out);
  if (journal.timeCode) flags |= kTimeCode, writeTimeCode(*journal.timeCode, out);
  if (!journal.sysEx.empty()) flags |= kSysEx;
  // The logs have no header of their own: the first one's S bit stands for them all.
  const bool anyRecent =
      std::any_of(journal.sysEx.begin(), journal.sysEx.end(), [](const SysExLog& x) { return x.recent; });
  for (std::size_t i = 0; i < journal.sysEx.size(); ++i)
    writeSysEx(journal.sysEx[i], i == 0 ? anyRecent : journal.sysEx[i].recent, out);
  const std::size_t length = out.size() - start;
  if (length > kMaxLength) {
    out.resize(start);
    return false;
  }
  out[start] = withS(journal.recent, flags | unsigned(length >> 8));
  out[start + 1] = static_cast<std::uint8_t>(length);
  return true;
}

DecodeError decodeSystemJournal(ByteReader& in, SystemJournal& out) {
  out = SystemJournal{};
  const auto rest = in.rest();
  if (rest.size() < 2) return DecodeError::Truncated;
  const std::size_t length = std::size_t(rest[0] & 0x03) << 8 | rest[1];
  if (length < 2) return DecodeError::BadJournal;
  if (!in.skip(length)) return DecodeError::Truncated;
  out.recent = !(rest[0] & 0x80);
  ByteReader chapters(rest.subspan(2, length - 2));
  out.complete = readChapters(chapters, rest[0], out);
  return DecodeError::None;
}

}  // namespace strandlink::protocol::rtp
