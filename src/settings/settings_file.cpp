#include "settings/settings_file.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <array>

#include "net/addresses.h"
#include "settings/field_reader.h"

namespace strandlink::settings {

namespace {

const QString kRemoteHost = QStringLiteral("REMOTEIP:");
const QString kRemotePort = QStringLiteral("REMOTEPORT:");
const QString kLocalHost = QStringLiteral("LOCALIP:");
const QString kLocalPort = QStringLiteral("LOCALPORT:");
const QString kOutput = QStringLiteral("MIDIOUT:");
const QString kInput = QStringLiteral("MIDIIN:");
const QString kPriority = QStringLiteral("PRIORITY:");
const QString kTrue = QStringLiteral("#TRUE#");
const QString kFalse = QStringLiteral("#FALSE#");

// A settings file holds seven short lines; anything far larger is not one, and
// reading it whole would only stall the window.
constexpr qint64 kMaxFileSize = 1 << 20;

// A list position: a signed 16-bit number from -1 to the list's last position.
std::optional<int> toPosition(const Field& f, int count) {
  bool ok = false;
  const qlonglong v = f.text.trimmed().toLongLong(&ok);
  if (!ok || v < -32768 || v > 32767) return std::nullopt;
  if (v < -1 || v >= count) return std::nullopt;
  return int(v);
}

std::optional<bool> toBoolean(const Field& f) {
  if (f.quoted) return std::nullopt;
  if (f.text == kTrue) return true;
  if (f.text == kFalse) return false;
  return std::nullopt;
}

// Applies one record; false when its value is not valid for its key. Unknown keys
// are skipped.
bool applyRecord(SettingsChanges& c, const Field& key, const Field& value, int outputCount, int inputCount) {
  const QString& k = key.text;
  const bool host = k == kRemoteHost || k == kLocalHost;
  const bool port = k == kRemotePort || k == kLocalPort;
  if ((host && !net::isAddressText(value.text)) || (port && !net::isPortText(value.text))) return false;
  if (k == kRemoteHost) c.remoteHost = value.text;
  if (k == kRemotePort) c.remotePort = value.text;
  if (k == kLocalHost) c.localHost = value.text;
  if (k == kLocalPort) c.localPort = value.text;
  if (k == kOutput || k == kInput) {
    const auto position = toPosition(value, k == kOutput ? outputCount : inputCount);
    if (!position) return false;
    (k == kOutput ? c.outputPosition : c.inputPosition) = *position;
  }
  if (k == kPriority) {
    const auto high = toBoolean(value);
    if (!high) return false;
    c.highPriority = *high;
  }
  return true;
}

// Quotes a text value. A quote inside is written twice: this reader takes "" as
// one quote and gets the value back exactly, and a reader that ends the field at
// the first quote loses only the rest of this value, never the records after it.
// A line break cannot come from a one-line box; it is written as a blank so that
// the record stays on its line.
QString quoteValue(QString value) {
  value.replace(u'"', QStringLiteral("\"\""));
  value.replace(u'\r', u' ');
  value.replace(u'\n', u' ');
  return u'"' + value + u'"';
}

// One byte per character; characters outside ISO 8859-1 become "?" (one per
// character, also for those that take two UTF-16 units).
QByteArray toLatin1PerCharacter(const QString& text) {
  QByteArray out;
  out.reserve(text.size());
  for (const char32_t c : text.toUcs4()) out.append(c <= 0xFF ? char(c) : '?');
  return out;
}

// Unbuffered, each write reaches the file at once: a short write is retried, so
// that a full disk ends in a failed call with its reason, and QSaveFile, which
// remembers failed writes, then refuses to commit.
bool writeAll(QSaveFile& file, const QByteArray& content) {
  qsizetype done = 0;
  while (done < content.size()) {
    const qint64 n = file.write(content.constData() + done, content.size() - done);
    if (n <= 0) return false;
    done += qsizetype(n);
  }
  return true;
}

}  // namespace

ReadResult parseSettings(const QByteArray& bytes, int outputCount, int inputCount) {
  ReadResult r;
  // An editor may put a UTF-8 byte-order mark first; it is no part of the first key.
  const QByteArray bom("\xEF\xBB\xBF");
  FieldReader reader(QString::fromLatin1(bytes.startsWith(bom) ? bytes.mid(bom.size()) : bytes));
  while (!reader.atEnd()) {
    const int line = reader.line();
    const auto key = reader.next();
    const auto value = key ? reader.next() : std::nullopt;
    if (!value || !applyRecord(r.changes, *key, *value, outputCount, inputCount)) {
      r.outcome = ReadResult::Outcome::BadRecord;
      r.badLine = line;
      return r;
    }
  }
  return r;
}

ReadResult readSettingsFile(const QString& path, int outputCount, int inputCount) {
  const QFileInfo info(path);
  if (!info.exists()) return {ReadResult::Outcome::Missing, {}, 0};
  if (info.isDir()) return {ReadResult::Outcome::Directory, {}, 0};
  if (!info.isFile()) return {ReadResult::Outcome::NotRegular, {}, 0};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) return {ReadResult::Outcome::Unreadable, {}, 0};
  const QByteArray bytes = file.read(kMaxFileSize + 1);
  if (bytes.size() > kMaxFileSize) return {ReadResult::Outcome::Unreadable, {}, 0};
  return parseSettings(bytes, outputCount, inputCount);
}

QString keepDamagedCopy(const QString& path) {
  const QString copy = path + QStringLiteral(".bad");
  QFile::remove(copy);
  QFile original(path);
  return original.copy(copy) ? QString() : original.errorString();
}

QByteArray settingsText(const Settings& s) {
  const std::array<std::pair<QString, QString>, 7> records{{
      {kRemoteHost, quoteValue(s.remoteHost)},
      {kRemotePort, quoteValue(s.remotePort)},
      {kLocalHost, quoteValue(s.localHost)},
      {kLocalPort, quoteValue(s.localPort)},
      {kOutput, QString::number(s.outputPosition)},
      {kInput, QString::number(s.inputPosition)},
      {kPriority, s.highPriority ? kTrue : kFalse},
  }};
  QString out;
  for (const auto& [key, value] : records) out += quoteValue(key) + u',' + value + QStringLiteral("\r\n");
  return toLatin1PerCharacter(out);
}

QString writeSettingsFile(const QString& path, const Settings& s) {
  // QSaveFile writes a temporary file beside the target and renames it over the
  // old one on commit; the temporary file goes with it on failure.
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && writeAll(file, settingsText(s)) && file.commit()) {
    return QString();
  }
  return file.errorString();
}

QString defaultSettingsPathFor(const QString& applicationDir) {
  // access() rather than the permission bits: it also answers for a read-only mount.
  if (!applicationDir.isEmpty() && ::access(QFile::encodeName(applicationDir).constData(), W_OK) == 0) {
    return QDir(applicationDir).filePath(QStringLiteral("default.stn"));
  }
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (config.isEmpty() || QDir::isRelativePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
  return QDir(config).filePath(QStringLiteral("strandlink/default.stn"));
}

QString defaultSettingsPath() { return defaultSettingsPathFor(QCoreApplication::applicationDirPath()); }

}  // namespace strandlink::settings
