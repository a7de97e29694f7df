#include "session/statistics.h"

#include "session/session.h"

namespace strandlink {

void chkUpdateStats_Click(Session& s) {
  const bool on = s.view.checked(CheckControl::chkUpdateStats);
  s.state.StatsEnabled.store(on, std::memory_order_relaxed);
  if (!on) {
    s.forgetPendingCounts();
    s.view.setText(TextControl::txtSent, QString());
    s.view.setText(TextControl::txtRecv, QString());
  }
}

QString formatCount(double count) {
  return QString::number(count, 'f', 0);
}

}  // namespace strandlink
