// Where the window's drop-down lists (Find, the further peers) open: under their
// anchor, twice as wide, their right edges in line, since the anchor sits at the
// window's right.
#pragma once

class QWidget;

namespace strandlink::ui {

void showUnder(QWidget& popup, const QWidget& anchor, int height);

}  // namespace strandlink::ui
