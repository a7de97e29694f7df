// The statistics switch and the display of the two counters.
#pragma once

#include <QString>

namespace strandlink {

class Session;

void chkUpdateStats_Click(Session& s);
// A counter as a plain decimal integer: no separators, no fraction.
QString formatCount(double count);

}  // namespace strandlink
