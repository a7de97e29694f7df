#include "settings/settings_file.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <array>
#include <optional>

#include "session/priority.h"
#include "session/session.h"

namespace strandlink::settings {

namespace {

const QString kRemoteIp = QStringLiteral("REMOTEIP:");
const QString kRemotePort = QStringLiteral("REMOTEPORT:");
const QString kLocalIp = QStringLiteral("LOCALIP:");
const QString kLocalPort = QStringLiteral("LOCALPORT:");
const QString kMidiOut = QStringLiteral("MIDIOUT:");
const QString kMidiIn = QStringLiteral("MIDIIN:");
const QString kPriority = QStringLiteral("PRIORITY:");
const QString kTrue = QStringLiteral("#TRUE#");
const QString kFalse = QStringLiteral("#FALSE#");

const QString kDefaultName = QStringLiteral("default.stn");
// Load and save boxes share one context so that they never stack.
const QString kBoxContext = QStringLiteral("settings");

// A settings file holds seven short lines; anything far larger is not one, and
// reading it whole would only stall the window.
constexpr qint64 kMaxFileSize = 1 << 20;

struct Field {
  QString text;
  bool quoted = false;
};

// Reads a settings file as a stream of comma-separated fields. Lines may end in
// CR LF, LF or CR; blanks around unquoted fields are dropped. A quoted field runs
// to its closing quote ("" inside stands for one quote, see quoteValue) or, when
// that is missing, to the end of its line, so that a stray quote in a hand-edited
// file spoils only its own line; whatever follows a closing quote up to the next
// delimiter is ignored.
class FieldReader {
 public:
  explicit FieldReader(QString text) : text_(std::move(text)) {}

  // True when only blanks and line ends are left.
  bool atEnd() const {
    for (qsizetype i = pos_; i < text_.size(); ++i) {
      if (!isBlank(text_[i]) && !isLineEnd(text_[i])) return false;
    }
    return true;
  }

  // The next field, or nothing when the file ends before one starts.
  std::optional<Field> next() {
    skipBlanks(!afterComma_);
    if (pos_ >= text_.size()) {
      if (!afterComma_) return std::nullopt;
      afterComma_ = false;  // "KEY", at the very end: an empty value
      return Field{};
    }
    Field f;
    if (text_[pos_] == u'"') {
      f.quoted = true;
      ++pos_;
      while (pos_ < text_.size() && !isLineEnd(text_[pos_])) {
        const QChar c = text_[pos_++];
        if (c != u'"') {
          f.text += c;
        } else if (pos_ < text_.size() && text_[pos_] == u'"') {
          f.text += c;
          ++pos_;
        } else {
          break;
        }
      }
      while (pos_ < text_.size() && text_[pos_] != u',' && !isLineEnd(text_[pos_])) ++pos_;
    } else {
      const qsizetype start = pos_;
      while (pos_ < text_.size() && text_[pos_] != u',' && !isLineEnd(text_[pos_])) ++pos_;
      f.text = text_.mid(start, pos_ - start).trimmed();
    }
    consumeDelimiter();
    return f;
  }

 private:
  static bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
  static bool isLineEnd(QChar c) { return c == u'\r' || c == u'\n'; }

  // After a comma the field starts on the same line (an empty line end is an empty
  // field); otherwise empty lines before a field are skipped.
  void skipBlanks(bool lineEndsToo) {
    while (pos_ < text_.size() && (isBlank(text_[pos_]) || (lineEndsToo && isLineEnd(text_[pos_])))) ++pos_;
  }

  void consumeDelimiter() {
    afterComma_ = false;
    if (pos_ >= text_.size()) return;
    if (text_[pos_] == u',') {
      afterComma_ = true;
      ++pos_;
      return;
    }
    if (text_[pos_] == u'\r') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == u'\n') ++pos_;
  }

  QString text_;
  qsizetype pos_ = 0;
  bool afterComma_ = false;
};

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

// Set optHigh to b, optReal to its opposite; each option that becomes selected
// applies its class as its click would; Realtime is then requested once more.
void applyPriority(Session& s, bool high) {
  const bool wasHigh = s.view.highPrioritySelected();
  s.view.setHighPrioritySelected(high);
  const bool nowHigh = s.view.highPrioritySelected();
  if (nowHigh && !wasHigh) SetProcessPriority(s, kHighPriorityClass);
  if (!nowHigh && wasHigh) SetProcessPriority(s, kRealtimePriorityClass);
  if (!nowHigh) SetProcessPriority(s, kRealtimePriorityClass);
}

// Applies one record; false when its value is not valid for its key.
bool applyRecord(Session& s, const Field& key, const Field& value) {
  const QString& k = key.text;
  if (k == kRemoteIp) {
    s.view.setText(TextControl::txtIPAddress, value.text);
  } else if (k == kRemotePort) {
    s.view.setText(TextControl::txtRemotePort, value.text);
  } else if (k == kLocalIp) {
    s.view.setText(TextControl::txtIPLocal, value.text);
  } else if (k == kLocalPort) {
    s.view.setText(TextControl::txtPortLocal, value.text);
  } else if (k == kMidiOut || k == kMidiIn) {
    const ListControl list = k == kMidiOut ? ListControl::OutputDevCombo : ListControl::InputDevCombo;
    const auto position = toPosition(value, s.view.listCount(list));
    if (!position) return false;
    s.view.setListIndex(list, *position);
    const int readBack = s.view.listIndex(list);
    if (list == ListControl::OutputDevCombo) {
      s.state.MidiOutDeviceId = readBack - 1;  // position 0 is the mapper, device -1
    } else {
      s.state.MidiInDeviceId = readBack;
    }
  } else if (k == kPriority) {
    const auto high = toBoolean(value);
    if (!high) return false;
    applyPriority(s, *high);
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

QByteArray settingsText(Session& s) {
  const auto text = [&](TextControl c) { return quoteValue(s.view.text(c)); };
  const auto position = [&](ListControl c) { return QString::number(s.view.listIndex(c)); };
  const std::array<std::pair<QString, QString>, 7> records{{
      {kRemoteIp, text(TextControl::txtIPAddress)},
      {kRemotePort, text(TextControl::txtRemotePort)},
      {kLocalIp, text(TextControl::txtIPLocal)},
      {kLocalPort, text(TextControl::txtPortLocal)},
      {kMidiOut, position(ListControl::OutputDevCombo)},
      {kMidiIn, position(ListControl::InputDevCombo)},
      {kPriority, s.view.highPrioritySelected() ? kTrue : kFalse},
  }};
  QString out;
  for (const auto& [key, value] : records) out += quoteValue(key) + u',' + value + QStringLiteral("\r\n");
  return toLatin1PerCharacter(out);
}

// Unbuffered, each write reaches the file at once: a short write is retried, so
// that a full disk ends in a failed call with its reason, and QSaveFile, which
// remembers failed writes, then refuses to commit. (Through its buffer, a failed
// flush left neither a reason nor a refusal: the half-written file was renamed.)
bool writeAll(QSaveFile& file, const QByteArray& content) {
  qsizetype done = 0;
  while (done < content.size()) {
    const qint64 n = file.write(content.constData() + done, content.size() - done);
    if (n <= 0) return false;
    done += qsizetype(n);
  }
  return true;
}

void reportLoadError(Session& s) {
  s.state.LastApiResult = s.reporter.report(
      kBoxContext, BoxIcon::None, kAppTitle,
      QStringLiteral("Error while restoring parameters -- continue with empty settings"));
}

}  // namespace

QString defaultSettingsPathFor(const QString& applicationDir) {
  // access() rather than the permission bits: it also answers for a read-only mount.
  if (!applicationDir.isEmpty() && ::access(QFile::encodeName(applicationDir).constData(), W_OK) == 0) {
    return QDir(applicationDir).filePath(kDefaultName);
  }
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (config.isEmpty() || QDir::isRelativePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
  return QDir(config).filePath(QStringLiteral("strandlink/") + kDefaultName);
}

QString defaultSettingsPath() { return defaultSettingsPathFor(QCoreApplication::applicationDirPath()); }

void LoadSettings(Session& s, const QString& fileName) {
  const QString path = fileName.isEmpty() ? defaultSettingsPath() : fileName;
  if (!QFileInfo(path).isFile()) {
    s.state.LastApiResult = s.reporter.report(kBoxContext, BoxIcon::Exclamation, kAppTitle,
                                              QStringLiteral("Could not load last session parameters"));
    s.view.setText(TextControl::txtRemotePort, QStringLiteral("4000"));
    s.view.setText(TextControl::txtPortLocal, QStringLiteral("4000"));
    return;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) {
    reportLoadError(s);
    return;
  }
  const QByteArray bytes = file.read(kMaxFileSize + 1);
  file.close();
  if (bytes.size() > kMaxFileSize) {
    reportLoadError(s);
    return;
  }

  FieldReader reader(QString::fromLatin1(bytes));
  while (!reader.atEnd()) {
    const auto key = reader.next();
    const auto value = key ? reader.next() : std::nullopt;
    if (!value || !applyRecord(s, *key, *value)) {
      reportLoadError(s);
      return;
    }
  }
}

bool SaveSettings(Session& s, const QString& fileName) {
  const QString path = fileName.isEmpty() ? defaultSettingsPath() : fileName;
  // The configuration directory may not exist yet; a chosen name's directory must.
  if (fileName.isEmpty()) QDir().mkpath(QFileInfo(path).absolutePath());

  // QSaveFile writes a temporary file beside the target and renames it over the old
  // one on commit, so a failed write leaves the old file as it was.
  QSaveFile file(path);
  const bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && writeAll(file, settingsText(s)) &&
                  file.commit();
  if (ok) return true;

  // The temporary file goes with `file`; the old file was never touched.
  const QString reason = file.errorString();
  s.state.LastApiResult = s.reporter.report(
      kBoxContext, BoxIcon::Exclamation, kAppTitle,
      QStringLiteral("Could not save the settings to %1: %2").arg(QDir::toNativeSeparators(path), reason));
  return false;
}

}  // namespace strandlink::settings
