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

void QtMessageBoxes::post(BoxIcon icon, const QString& title, const QString& text) {
  if (!posted_) {
    posted_ = new QMessageBox(parent_.data());
    posted_->setAttribute(Qt::WA_DeleteOnClose);
    posted_->setStandardButtons(QMessageBox::Ok);
    posted_->setTextFormat(Qt::PlainText);
  }
  posted_->setIcon(toQtIcon(icon));
  posted_->setWindowTitle(title);
  posted_->setText(text);
  // Modal to the window, but nothing waits for it to close.
  if (!posted_->isVisible()) posted_->open();
  // Low over the window, clear of the status line that says what is missing.
  if (QWidget* owner = parent_.data(); owner != nullptr && owner->isVisible()) {
    posted_->adjustSize();
    const QPoint corner((owner->width() - posted_->width()) / 2, owner->height() - posted_->height() - 8);
    posted_->move(owner->mapToGlobal(corner));
  }
}

void QtMessageBoxes::closePosted() {
  if (posted_) posted_->close();
}

}  // namespace strandlink::ui
