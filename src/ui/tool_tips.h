// Tooltips in lines of about 60 characters: a plain-text tooltip is one line as
// wide as its text, which runs off a small screen.
#pragma once

#include <QString>

namespace strandlink::ui {

inline constexpr int kToolTipWidth = 60;

// The text broken at blanks into lines of at most width characters (a longer
// word keeps a line of its own); line breaks already there stay.
QString wrappedToolTip(const QString& text, int width = kToolTipWidth);

}  // namespace strandlink::ui
