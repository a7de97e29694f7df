// The main window's keyboard and mouse: the key filters of the address and port
// boxes, Enter in the chat box and its prompt, and the animation with its hint.
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

#include <cmath>

#include "net/addresses.h"
#include "ui/main_window.h"
#include "ui/twips.h"

namespace strandlink::ui {

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: return filterKey(watched, static_cast<QKeyEvent*>(event));
    case QEvent::FocusIn:
      // Typing must never extend the prompt into the first line sent.
      if (watched == chatInput_ && !chatPromptCleared_) {
        chatPromptCleared_ = true;
        if (chatInput_->text() == QLatin1String(kChatPrompt)) chatInput_->clear();
      }
      break;
    case QEvent::MouseMove:
      if (watched == hintBox_) hideHint();
      for (QLabel* picture : pictures_) {
        if (watched == picture) pointerOverAnimation(static_cast<QMouseEvent*>(event)->position());
      }
      break;
    case QEvent::MouseButtonPress:
      // The animation is a way into the information window while no link runs.
      for (QLabel* picture : pictures_) {
        if (watched == picture && startButton_->isEnabled()) openInfo();
      }
      break;
    default: break;
  }
  return QMainWindow::eventFilter(watched, event);
}

// Refuses characters a box does not take; Enter in the chat box sends the line.
// Keys that move the focus, Delete, arrows and shortcuts (Ctrl+C, Ctrl+V) are not
// typed characters and act as usual: what a paste brings is filtered by the
// box's validator.
bool MainWindow::filterKey(QObject* watched, QKeyEvent* key) {
  if (key->text().isEmpty() || (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) return false;
  if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab || key->key() == Qt::Key_Delete) return false;
  bool (*allowed)(char16_t) = nullptr;
  if (watched == remoteAddressBox_ || watched == localAddressBox_) allowed = net::addressKeyAllowed;
  if (watched == remotePortBox_ || watched == localPortBox_) allowed = net::portKeyAllowed;
  bool swallowed = false;
  for (const QChar c : key->text()) {
    if (watched == chatInput_ && c == u'\r') {
      sendChatLine();
      swallowed = true;
    } else if (allowed != nullptr && !allowed(c.unicode())) {
      swallowed = true;
    }
  }
  return swallowed;
}

// The frames lie on top of each other, on the place of the last one.
void MainWindow::stackAnimationFrames() {
  for (std::size_t i = 0; i + 1 < pictures_.size(); ++i) pictures_[i]->setGeometry(pictures_[7]->geometry());
}

void MainWindow::nextAnimationFrame() {
  if (nextFrame_ < 0 || nextFrame_ > 7) nextFrame_ = 0;
  QLabel* now = pictures_[std::size_t(nextFrame_)];
  // No nested event processing here: it would run socket handlers inside a timer
  // tick. The raise is painted with the next frame anyway.
  now->raise();
  now->show();
  pictures_[nextFrame_ == 0 ? 7 : std::size_t(nextFrame_ - 1)]->hide();
  ++nextFrame_;
}

// The hint pops up left of the pointer while no link runs, for two seconds.
void MainWindow::pointerOverAnimation(QPointF position) {
  if (!startButton_->isEnabled()) return;
  hintTimer_->start();
  hintBox_->show();
  const double leftTwips =
      position.x() * kTwipsPerPixel - hintBox_->width() * kTwipsPerPixel + animationFrame_->x() * kTwipsPerPixel - 200;
  hintBox_->move(int(std::lround(leftTwips / kTwipsPerPixel)), int(std::lround(position.y())));
}

void MainWindow::hideHint() {
  hintBox_->hide();
  hintTimer_->stop();
}

}  // namespace strandlink::ui
