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

// A name another computer chose (an RTP-MIDI peer's session, a DNS-SD advert or
// its host) as it may be shown in a line, a row or a list: every control
// character, the tab too, as \xNN; what reorders or hides text (right-to-left
// overrides, zero-width and other format characters, separators, spaces other
// than the plain one, private and unassigned code points) as \u{XXXX}; a
// backslash as \\. Longer than kNameLimit characters once shown, it is cut
// there, before an escape rather than through one, and ends in "…". So a
// name cannot act on a terminal, break a line or a row, or pass for another.
QString visibleName(const QString& name);
inline constexpr qsizetype kNameLimit = 64;

}  // namespace strandlink::report
