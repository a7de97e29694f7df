#include "settings/preferences.h"

#include <QSettings>

#include <algorithm>

namespace strandlink::settings {

namespace {

const QString kPeerFilter = QStringLiteral("link/peerFilter");
const QString kTiming = QStringLiteral("link/timing");
const QString kDelayMs = QStringLiteral("link/delayMs");
const QString kLastFolder = QStringLiteral("files/lastFolder");
const QString kSteady = QStringLiteral("steady");
const QString kImmediate = QStringLiteral("immediate");

QSettings store() {
  // The native format on Linux is an INI file named .conf.
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("strandlink"),
                   QStringLiteral("strandlink"));
}

QString optionKey(WindowOption option) {
  switch (option) {
    case WindowOption::MidiThru: return QStringLiteral("window/midiThru");
    case WindowOption::UpdateStatistic: return QStringLiteral("window/updateStatistic");
    case WindowOption::PopUpOnChat: return QStringLiteral("window/popUpOnChat");
  }
  return {};
}

RememberedPort loadPort(const QSettings& s, const QString& side) {
  bool number = false;
  const int position = s.value(side + QStringLiteral("/position")).toInt(&number);
  const QString name = s.value(side + QStringLiteral("/name")).toString();
  if (!number || position < 0 || name.isEmpty()) return {};
  return {position, name};
}

void savePort(QSettings& s, const QString& side, const RememberedPort& port) {
  if (port.position < 0 || port.name.isEmpty()) {
    s.remove(side);
    return;
  }
  s.setValue(side + QStringLiteral("/position"), port.position);
  s.setValue(side + QStringLiteral("/name"), port.name);
}

}  // namespace

bool loadPeerFilter() { return store().value(kPeerFilter, false).toBool(); }

void savePeerFilter(bool on) {
  QSettings s = store();
  s.setValue(kPeerFilter, on);
}

bool loadWindowOption(WindowOption option) { return store().value(optionKey(option), false).toBool(); }

void saveWindowOption(WindowOption option, bool on) {
  QSettings s = store();
  s.setValue(optionKey(option), on);
}

QString loadLastFolder() { return store().value(kLastFolder).toString(); }

void saveLastFolder(const QString& folder) {
  QSettings s = store();
  s.setValue(kLastFolder, folder);
}

Timing loadTiming() { return store().value(kTiming).toString() == kSteady ? Timing::Steady : Timing::Immediate; }

void saveTiming(Timing timing) {
  QSettings s = store();
  s.setValue(kTiming, timing == Timing::Steady ? kSteady : kImmediate);
}

int loadDelayMs() { return std::clamp(store().value(kDelayMs, 0).toInt(), 0, kMaxDelayMs); }

void saveDelayMs(int ms) {
  QSettings s = store();
  s.setValue(kDelayMs, std::clamp(ms, 0, kMaxDelayMs));
}

RememberedPorts loadRememberedPorts() {
  const QSettings s = store();
  return {loadPort(s, QStringLiteral("input")), loadPort(s, QStringLiteral("output"))};
}

void saveRememberedPorts(const RememberedPorts& ports) {
  QSettings s = store();
  savePort(s, QStringLiteral("input"), ports.input);
  savePort(s, QStringLiteral("output"), ports.output);
}

}  // namespace strandlink::settings
