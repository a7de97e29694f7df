#include "link/settings_files.h"

#include <QDir>
#include <QFileInfo>

#include "link/device_lists.h"
#include "link/priority.h"
#include "net/addresses.h"
#include "net/own_address.h"
#include "report/reporter.h"
#include "report/visible_text.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"

namespace strandlink::link {

namespace {

// Load and save boxes share one context so that they never stack.
const QString kContext = QStringLiteral("settings");

QString shownPath(const QString& file) { return report::quotedValue(QDir::toNativeSeparators(file)); }

// Why a file gave nothing at all (a named one that is missing, a directory, a FIFO), or empty.
QString unusableReason(settings::ReadResult::Outcome outcome) {
  using Outcome = settings::ReadResult::Outcome;
  switch (outcome) {
    case Outcome::Missing: return QStringLiteral("there is no such file");
    case Outcome::Directory: return QStringLiteral("it is a directory");
    case Outcome::NotRegular: return QStringLiteral("it is not a regular file");
    default: return {};
  }
}

// Where to look and what still holds, on lines of their own below the message.
QString stoppedDetail(const QString& file, const settings::ReadResult& read, SettingsFileRole role) {
  QString detail = read.badLine > 0 ? QStringLiteral("\nLine %1 of %2 is not valid; the lines before it were applied.")
                                          .arg(read.badLine)
                                          .arg(shownPath(file))
                                    : QStringLiteral("\n%1 could not be read.").arg(shownPath(file));
  if (role == SettingsFileRole::Default) {
    const QString reason = settings::keepDamagedCopy(file);
    detail += reason.isEmpty()
                  ? QStringLiteral("\nThe file as it was is kept as %1.bad.").arg(shownPath(file))
                  : QStringLiteral("\nIt could not be kept as %1.bad (%2) and will be written over at exit.")
                        .arg(shownPath(file), report::quotedValue(reason));
  }
  return detail;
}

}  // namespace

settings::SettingsChanges loadSettingsFile(report::Reporter& reporter, const QString& path, const DeviceLists& lists,
                                           SettingsFileRole role) {
  const QString file = path.isEmpty() ? settings::defaultSettingsPath() : path;
  // Without a MIDI service both lists are empty (with one, each lists our own
  // port): the stored devices are no fault of the file.
  const bool noService = lists.inputs.empty() && lists.outputs.empty();
  constexpr int kAnyPosition = 32768;
  const auto read = settings::readSettingsFile(file, noService ? kAnyPosition : int(lists.outputs.size()),
                                               noService ? kAnyPosition : int(lists.inputs.size()));
  settings::SettingsChanges changes = read.changes;
  using Outcome = settings::ReadResult::Outcome;
  if (read.outcome == Outcome::Missing && role == SettingsFileRole::Default) {
    // The first run.
    reporter.report(kContext, report::BoxIcon::Exclamation, report::kAppTitle,
                    QStringLiteral("Could not load last session parameters"));
    changes.remotePort = QStringLiteral("4000");
    changes.localPort = QStringLiteral("4000");
  } else if (const QString reason = unusableReason(read.outcome); !reason.isEmpty()) {
    reporter.report(kContext, report::BoxIcon::Exclamation, report::kAppTitle,
                    QStringLiteral("Could not load the settings file %1: %2").arg(shownPath(file), reason));
  } else if (read.outcome != Outcome::Read) {
    reporter.report(kContext, report::BoxIcon::None, report::kAppTitle,
                    QStringLiteral("Error while restoring parameters -- continue with empty settings") +
                        stoppedDetail(file, read, role));
  }
  return changes;
}

void reportUnusablePreferences(report::Reporter& reporter) {
  if (settings::preferencesUsable()) return;
  reporter.report(kContext, report::BoxIcon::Exclamation, report::kAppTitle,
                  QStringLiteral("%1 is not a regular file: the choices it keeps between runs are neither read "
                                 "nor written")
                      .arg(shownPath(settings::preferencesPath())));
}

bool saveSettingsFile(report::Reporter& reporter, const QString& path, const settings::Settings& s) {
  const QString file = path.isEmpty() ? settings::defaultSettingsPath() : path;
  // The configuration directory may not exist yet; a chosen name's directory must.
  if (path.isEmpty()) QDir().mkpath(QFileInfo(file).absolutePath());
  const QString reason = settings::writeSettingsFile(file, s);
  if (reason.isEmpty()) return true;
  reporter.report(
      kContext, report::BoxIcon::Exclamation, report::kAppTitle,
      QStringLiteral("Could not save the settings to %1: %2").arg(shownPath(file), report::quotedValue(reason)));
  return false;
}

void applyPriorityChange(bool wasHigh, bool nowHigh) {
  if (!nowHigh) {
    setProcessPriority(Priority::Realtime);
  } else if (!wasHigh) {
    setProcessPriority(Priority::High);
  }
}

QString localAddressText(report::Reporter& reporter) {
  const net::HostName host = net::localHostName();
  if (net::failed(host.error)) reporter.socketError(host.error, QStringLiteral("Tried to get LocalHostName:  "));
  return net::formatAddress(net::ownAddress(host.name).address);
}

}  // namespace strandlink::link
