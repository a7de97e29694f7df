// The status line: a few words of what the link does, coloured by its state so
// that it can be told from across a stage, and the whole of it in the tooltip.
#pragma once

#include <QColor>
#include <QFont>

#include "link/status_text.h"

class QLabel;

namespace strandlink::ui {

// Amber: waiting for a peer, or linked without all of our own side.
inline const QColor kWarningColour{0xf9, 0xa8, 0x25};
inline const QColor kGoodColour{0x2e, 0x7d, 0x32};
inline const QColor kBadColour{0xc6, 0x28, 0x28};
inline const QColor kIdleTextColour{0x70, 0x70, 0x70};

// The label's smallest font for words that do not fit at its own size; past it
// a name in the words is cut short, "…" showing where.
inline constexpr double kSmallestStatusPoints = 7.0;

// Shows the words in the label's own font (base), smaller or cut where they would
// not fit; figures, when there are any, go under the detail in the tooltip.
void showStatusLine(QLabel& label, const QFont& base, const link::StatusWords& words, const QString& figures);

}  // namespace strandlink::ui
