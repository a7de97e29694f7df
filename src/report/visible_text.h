// Text that came from outside (a peer's chat line, a value from a file or the
// command line) made safe to show: on a terminal, in a log, in a box.
#pragma once

#include <QString>

namespace strandlink::report {

// Every control character as \xNN and a backslash as \\, so that a received text
// can neither act on a terminal (escape sequences) nor fake a line of ours (line
// breaks), nor pass for one of these escapes; a tab stays.
QString visibleControls(const QString& text);

// A value quoted back in a message: its control characters made visible as above,
// and cut to its first kQuotedValueLimit characters followed by "..." when longer.
QString quotedValue(const QString& text);
inline constexpr qsizetype kQuotedValueLimit = 200;

}  // namespace strandlink::report
