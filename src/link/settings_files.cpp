#include "link/settings_files.h"

#include <QDir>
#include <QFileInfo>

#include "link/device_lists.h"
#include "link/priority.h"
#include "link/reporter.h"
#include "net/addresses.h"
#include "settings/settings_file.h"

namespace strandlink::link {

namespace {

// Load and save boxes share one context so that they never stack.
const QString kContext = QStringLiteral("settings");

}  // namespace

settings::SettingsChanges loadSettingsFile(Reporter& reporter, const QString& path, const DeviceLists& lists) {
  const QString file = path.isEmpty() ? settings::defaultSettingsPath() : path;
  // Without a MIDI service both lists are empty (with one, each lists our own
  // port): the stored devices are no fault of the file.
  const bool noService = lists.inputs.empty() && lists.outputs.empty();
  constexpr int kAnyPosition = 32768;
  const auto read = settings::readSettingsFile(file, noService ? kAnyPosition : int(lists.outputs.size()),
                                               noService ? kAnyPosition : int(lists.inputs.size()));
  settings::SettingsChanges changes = read.changes;
  using Outcome = settings::ReadResult::Outcome;
  if (read.outcome == Outcome::Missing) {
    reporter.report(kContext, BoxIcon::Exclamation, kAppTitle, QStringLiteral("Could not load last session parameters"));
    changes.remotePort = QStringLiteral("4000");
    changes.localPort = QStringLiteral("4000");
  } else if (read.outcome != Outcome::Read) {
    // The records before the bad one did apply: the file and line show where to look.
    QString where = QStringLiteral(" (file ") + QDir::toNativeSeparators(file);
    if (read.badLine > 0) where += QStringLiteral(", line %1").arg(read.badLine);
    reporter.report(kContext, BoxIcon::None, kAppTitle,
                    QStringLiteral("Error while restoring parameters -- continue with empty settings") + where + u')');
  }
  return changes;
}

bool saveSettingsFile(Reporter& reporter, const QString& path, const settings::Settings& s) {
  const QString file = path.isEmpty() ? settings::defaultSettingsPath() : path;
  // The configuration directory may not exist yet; a chosen name's directory must.
  if (path.isEmpty()) QDir().mkpath(QFileInfo(file).absolutePath());
  const QString reason = settings::writeSettingsFile(file, s);
  if (reason.isEmpty()) return true;
  reporter.report(kContext, BoxIcon::Exclamation, kAppTitle,
                  QStringLiteral("Could not save the settings to %1: %2").arg(QDir::toNativeSeparators(file), reason));
  return false;
}

void applyPriorityChange(bool wasHigh, bool nowHigh) {
  if (!nowHigh) {
    setProcessPriority(Priority::Realtime);
  } else if (!wasHigh) {
    setProcessPriority(Priority::High);
  }
}

QString localAddressText(Reporter& reporter) {
  const net::HostName host = net::localHostName();
  if (host.error != 0) reporter.socketError(host.error, QStringLiteral("Tried to get LocalHostName:  "));
  return net::formatAddress(net::resolveAddress(QString::fromLatin1(host.name.c_str())).address);
}

}  // namespace strandlink::link
