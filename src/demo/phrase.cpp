#include "demo/phrase.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace strandlink::demo {

namespace {

constexpr std::uint8_t kNoteOn = 0x90, kNoteOff = 0x80, kControl = 0xB0, kBend = 0xE0;
constexpr std::uint8_t kModulation = 1;

QString noteName(int note) {
  static const std::array<const char*, 12> names{"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  return QString::fromLatin1(names[std::size_t(note % 12)]) + QString::number(note / 12 - 1);
}

QString systemMessage(const midi::ShortMessage& m) {
  switch (m.status()) {
    case 0xF1: return QStringLiteral("time code  %1").arg(m.bytes[1]);
    case 0xF2: return QStringLiteral("song position  %1").arg(m.bytes[1] | (m.bytes[2] << 7));
    case 0xF3: return QStringLiteral("song select  %1").arg(m.bytes[1]);
    case 0xF6: return QStringLiteral("tune request");
    case 0xF8: return QStringLiteral("clock");
    case 0xFA: return QStringLiteral("start");
    case 0xFB: return QStringLiteral("continue");
    case 0xFC: return QStringLiteral("stop");
    case 0xFE: return QStringLiteral("active sensing");
    case 0xFF: return QStringLiteral("reset");
    default: return QStringLiteral("system");
  }
}

QString meaning(const midi::ShortMessage& m) {
  const QString ch = QStringLiteral("ch %1").arg((m.status() & 0x0F) + 1);
  const int d1 = m.bytes[1], d2 = m.bytes[2];
  switch (m.status() & 0xF0) {
    case 0x80: return QStringLiteral("note off %1  %2  vel %3").arg(ch, noteName(d1)).arg(d2);
    case 0x90: return QStringLiteral("note on  %1  %2  vel %3").arg(ch, noteName(d1)).arg(d2);
    case 0xA0: return QStringLiteral("poly pressure  %1  %2  %3").arg(ch, noteName(d1)).arg(d2);
    case 0xB0: return QStringLiteral("control  %1  cc %2  value %3").arg(ch).arg(d1).arg(d2);
    case 0xC0: return QStringLiteral("program  %1  %2").arg(ch).arg(d1);
    case 0xD0: return QStringLiteral("pressure  %1  %2").arg(ch).arg(d1);
    case 0xE0: {
      const int bend = (d1 | (d2 << 7)) - 8192;
      return QStringLiteral("pitch bend  %1  %2%3").arg(ch, bend > 0 ? QStringLiteral("+") : QString()).arg(bend);
    }
    default: return systemMessage(m);
  }
}

}  // namespace

std::vector<PhraseEvent> demoPhrase() {
  std::vector<PhraseEvent> p;
  const auto add = [&p](int atMs, std::uint8_t status, int d1, int d2) {
    p.push_back({atMs, midi::ShortMessage::withStatusSize(status, std::uint8_t(d1), std::uint8_t(d2))});
  };
  const auto note = [&add](int atMs, int lengthMs, int key, int velocity) {
    add(atMs, kNoteOn, key, velocity);
    add(atMs + lengthMs, kNoteOff, key, 0);
  };
  // C, A minor, F, G: half a second each, the melody in quarter seconds above.
  const std::array<std::array<int, 3>, 5> chords{
      {{48, 52, 55}, {45, 48, 52}, {41, 45, 48}, {43, 47, 50}, {48, 52, 55}}};
  const std::array<int, 8> melody{76, 74, 72, 76, 81, 79, 77, 74};
  for (int k = 0; k < 4; ++k) {
    for (int key : chords[std::size_t(k)]) note(k * 500, 480, key, 70);
    note(k * 500, 240, melody[std::size_t(2 * k)], 100);
    note(k * 500 + 250, 240, melody[std::size_t(2 * k + 1)], 100);
  }
  for (int key : chords[4]) note(2000, 1000, key, 70);
  note(2000, 1000, 72, 100);
  // The bend rises over 0.4 s to a whole tone (+4096 of 8191) and falls back to rest.
  for (int step = 1; step <= 8; ++step) {
    const int bend = 8192 + 1024 * (step <= 4 ? step : 8 - step);
    add(2000 + 100 * step, kBend, bend & 0x7F, bend >> 7);
  }
  for (int step = 0; step <= 7; ++step) add(2050 + 100 * step, kControl, kModulation, std::min(127, 18 * step + 1));
  add(2900, kControl, kModulation, 0);
  std::stable_sort(p.begin(), p.end(), [](const PhraseEvent& a, const PhraseEvent& b) { return a.atMs < b.atMs; });
  return p;
}

QString describeMessage(const midi::ShortMessage& m) {
  QStringList bytes;
  for (std::uint8_t b : m.wireBytes()) bytes << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
  if (bytes.isEmpty()) bytes << QStringLiteral("%1").arg(m.status(), 2, 16, QLatin1Char('0'));
  return bytes.join(u' ').leftJustified(8) + QStringLiteral("  ") + meaning(m);
}

}  // namespace strandlink::demo
