#include "settings/preferences.h"

#include <QSettings>

namespace strandlink::settings {

namespace {

const QString kPeerFilter = QStringLiteral("link/peerFilter");

QSettings store() {
  // The native format on Linux is an INI file named .conf.
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("strandlink"),
                   QStringLiteral("strandlink"));
}

}  // namespace

bool loadPeerFilter() { return store().value(kPeerFilter, false).toBool(); }

void savePeerFilter(bool on) {
  QSettings s = store();
  s.setValue(kPeerFilter, on);
}

}  // namespace strandlink::settings
