#include "settings/preferences.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <memory>

namespace strandlink::settings {

namespace {

const QString kPeerFilter = QStringLiteral("link/peerFilter");
const QString kTiming = QStringLiteral("link/timing");
const QString kDelayMs = QStringLiteral("link/delayMs");
const QString kProtocol = QStringLiteral("link/protocol");
const QString kAdmission = QStringLiteral("link/admit");
const QString kAllowed = QStringLiteral("link/allow");
const QString kInviteAlso = QStringLiteral("link/inviteAlso");
const QString kInstanceId = QStringLiteral("link/productInstanceId");
const QString kLastFolder = QStringLiteral("files/lastFolder");
const QString kSteady = QStringLiteral("steady");
const QString kImmediate = QStringLiteral("immediate");

// The one file, named in full: QSettings would otherwise also read fallback files
// in system directories, each of which could be a FIFO that blocks the start.
// Nothing when the file is there but no regular file.
std::unique_ptr<QSettings> store() {
  if (!preferencesUsable()) return nullptr;
  return std::make_unique<QSettings>(preferencesPath(), QSettings::IniFormat);
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

QVariant load(const QString& key, const QVariant& fallback = {}) {
  const auto s = store();
  return s ? s->value(key, fallback) : fallback;
}

void save(const QString& key, const QVariant& value) {
  if (const auto s = store()) s->setValue(key, value);
}

}  // namespace

QString preferencesPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/strandlink/strandlink.conf");
}

bool preferencesUsable() {
  const QFileInfo info(preferencesPath());
  return !info.exists() || info.isFile();
}

bool loadWindowOption(WindowOption option) { return load(optionKey(option), false).toBool(); }

void saveWindowOption(WindowOption option, bool on) { save(optionKey(option), on); }

QString loadLastFolder() { return load(kLastFolder).toString(); }

void saveLastFolder(const QString& folder) { save(kLastFolder, folder); }

bool loadPeerFilter() { return load(kPeerFilter, false).toBool(); }

void savePeerFilter(bool on) { save(kPeerFilter, on); }

QString admissionName(Admission admission) {
  switch (admission) {
    case Admission::Anyone: return QStringLiteral("anyone");
    case Admission::Listed: return QStringLiteral("listed");
    case Admission::Ask: return QStringLiteral("ask");
  }
  return {};
}

std::optional<Admission> admissionFromName(const QString& name) {
  for (const Admission a : {Admission::Anyone, Admission::Listed, Admission::Ask})
    if (name == admissionName(a)) return a;
  return std::nullopt;
}

std::optional<Admission> loadAdmission() { return admissionFromName(load(kAdmission).toString()); }

void saveAdmission(Admission admission) { save(kAdmission, admissionName(admission)); }

namespace {
// A hand-edited file may hold a single value or blanks: each entry is trimmed, empty ones go.
QStringList loadList(const QString& key) {
  QStringList entries;
  for (const QString& entry : load(key).toStringList())
    if (!entry.trimmed().isEmpty()) entries.append(entry.trimmed());
  return entries;
}
}  // namespace

QStringList loadAllowed() { return loadList(kAllowed); }

void saveAllowed(const QStringList& allowed) { save(kAllowed, allowed); }

QStringList loadInviteAlso() { return loadList(kInviteAlso); }

void saveInviteAlso(const QStringList& remotes) { save(kInviteAlso, remotes); }

Timing loadTiming() { return load(kTiming).toString() == kSteady ? Timing::Steady : Timing::Immediate; }

void saveTiming(Timing timing) { save(kTiming, timing == Timing::Steady ? kSteady : kImmediate); }

QString loadProtocolName() { return load(kProtocol).toString(); }

void saveProtocolName(const QString& name) { save(kProtocol, name); }

QString productInstanceId() {
  const QString kept = load(kInstanceId).toString();
  const bool usable = !kept.isEmpty() && kept.size() <= 42 &&
                      std::ranges::all_of(kept, [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
  if (usable) return kept;
  // Where nothing can be kept, one id for the whole run at least.
  static const QString made =
      QStringLiteral("strandlink-%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
  save(kInstanceId, made);
  return made;
}

int loadDelayMs() { return std::clamp(load(kDelayMs, 0).toInt(), 0, kMaxDelayMs); }

void saveDelayMs(int ms) { save(kDelayMs, std::clamp(ms, 0, kMaxDelayMs)); }

RememberedPorts loadRememberedPorts() {
  const auto s = store();
  if (!s) return {};
  return {loadPort(*s, QStringLiteral("input")), loadPort(*s, QStringLiteral("output"))};
}

void saveRememberedPorts(const RememberedPorts& ports) {
  const auto s = store();
  if (!s) return;
  savePort(*s, QStringLiteral("input"), ports.input);
  savePort(*s, QStringLiteral("output"), ports.output);
}

}  // namespace strandlink::settings
