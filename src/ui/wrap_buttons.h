// A push button and a check box whose captions wrap over several lines within
// their fixed size, as a long caption in a small control must. The caption itself
// (text()) is unchanged, mnemonic included.
#pragma once

#include <QCheckBox>
#include <QPushButton>

namespace strandlink::ui {

class WrapPushButton : public QPushButton {
  Q_OBJECT
 public:
  using QPushButton::QPushButton;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class WrapCheckBox : public QCheckBox {
  Q_OBJECT
 public:
  using QCheckBox::QCheckBox;

  // Where the wrapped caption is drawn, for the click area and the focus frame.
  QRect captionRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  // The whole control answers a click, not only the first line of its caption.
  bool hitButton(const QPoint& pos) const override;
};

}  // namespace strandlink::ui
