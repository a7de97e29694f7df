#include "ui/qt_message_boxes.h"

#include <QMessageBox>

namespace strandlink::ui {

using report::BoxIcon;

namespace {

QMessageBox::Icon toQtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Exclamation: return QMessageBox::Warning;
    case BoxIcon::Information: return QMessageBox::Information;
    case BoxIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

int QtMessageBoxes::show(BoxIcon icon, const QString& title, const QString& text) {
  QMessageBox box(toQtIcon(icon), title, text, QMessageBox::Ok, parent_.data());
  // Device names and received text are shown as they are, never as markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
  return 1;
}

}  // namespace strandlink::ui
