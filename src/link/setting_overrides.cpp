#include "link/setting_overrides.h"

#include <QStringList>

#include <vector>

#include "link/device_lists.h"
#include "midi/midi_service.h"
#include "report/visible_text.h"

namespace strandlink::link {

namespace {

struct Found {
  int position = -1;
  QString error;
};

// A position in the list, or the one entry whose name is the text, or else the
// one entry whose name contains it (ignoring case).
Found findPort(const std::vector<std::string>& names, const QString& wanted, const QString& flag, const QString& kind) {
  bool number = false;
  const int position = wanted.toInt(&number);
  if (number && !wanted.isEmpty() && wanted.front().isDigit()) {
    if (position < int(names.size())) return {position, {}};
    return {-1, QStringLiteral("%1: there is no MIDI %2 %3 (%4; see --list-devices)")
                    .arg(flag, kind, wanted,
                         names.empty() ? QStringLiteral("the list is empty")
                                       : QStringLiteral("the list runs from 0 to %1").arg(names.size() - 1))};
  }
  std::vector<int> partial;
  for (std::size_t k = 0; k < names.size(); ++k) {
    const QString full = QString::fromStdString(names[k]);
    const QString listed = QString::fromStdString(midi::listedPortName(names[k]));
    if (full == wanted || listed == wanted) return {int(k), {}};
    if (full.contains(wanted, Qt::CaseInsensitive)) partial.push_back(int(k));
  }
  if (partial.size() == 1) return {partial.front(), {}};
  if (partial.empty()) {
    return {-1, QStringLiteral("%1: no MIDI %2 is named '%3' (see --list-devices)")
                    .arg(flag, kind, report::quotedValue(wanted))};
  }
  QStringList candidates;
  for (int k : partial) candidates << report::quotedValue(QString::fromStdString(names[std::size_t(k)]));
  return {-1, QStringLiteral("%1: '%2' matches %3 MIDI %4s: %5; give more of the name or its position")
                  .arg(flag, report::quotedValue(wanted))
                  .arg(partial.size())
                  .arg(kind, candidates.join(QStringLiteral(", ")))};
}

}  // namespace

ResolvedOverrides resolveOverrides(const SettingOverrides& o, const DeviceLists& lists) {
  ResolvedOverrides r;
  settings::SettingsChanges& c = r.changes;
  c.localHost = o.localHost;
  c.localPort = o.localPort;
  c.remoteHost = o.remoteHost;
  c.remotePort = o.remotePort;
  c.highPriority = o.highPriority;
  for (const bool input : {true, false}) {
    const std::optional<QString>& wanted = input ? o.input : o.output;
    if (!wanted) continue;
    const Found found = findPort(input ? lists.inputs : lists.outputs, *wanted,
                                 input ? QStringLiteral("--input") : QStringLiteral("--output"),
                                 input ? QStringLiteral("input") : QStringLiteral("output"));
    if (!found.error.isEmpty()) return {{}, found.error};
    (input ? c.inputPosition : c.outputPosition) = found.position;
  }
  return r;
}

}  // namespace strandlink::link
