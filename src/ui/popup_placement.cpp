#include "ui/popup_placement.h"

#include <QWidget>

#include <algorithm>

namespace strandlink::ui {

void showUnder(QWidget& popup, const QWidget& anchor, int height) {
  const int width = std::max(anchor.width() * 2, 260);
  popup.resize(width, height);
  popup.move(anchor.mapToGlobal(QPoint(anchor.width() - width, anchor.height())));
  popup.show();
}

}  // namespace strandlink::ui
