#include "ui/wrap_buttons.h"

#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace strandlink::ui {

namespace {

int mnemonicFlag(const QWidget* w) {
  QStyleOption opt;
  opt.initFrom(w);
  return w->style()->styleHint(QStyle::SH_UnderlineShortcut, &opt, w) ? Qt::TextShowMnemonic : Qt::TextHideMnemonic;
}

}  // namespace

void WrapPushButton::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  QStyleOptionButton opt;
  initStyleOption(&opt);
  const QString caption = opt.text;
  // Bevel and focus frame from the style, the caption wrapped by hand.
  opt.text.clear();
  p.drawControl(QStyle::CE_PushButton, opt);
  QRect textRect = style()->subElementRect(QStyle::SE_PushButtonContents, &opt, this);
  if (isDown() || isChecked()) {
    textRect.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &opt, this),
                       style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &opt, this));
  }
  p.drawItemText(textRect, Qt::AlignCenter | Qt::TextWordWrap | mnemonicFlag(this), palette(), isEnabled(), caption,
                 QPalette::ButtonText);
}

QRect WrapCheckBox::captionRect() const {
  QStyleOptionButton opt;
  initStyleOption(&opt);
  const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, this);
  const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &opt, this);
  return QRect(indicator.right() + 1 + spacing, 0, width() - indicator.right() - 1 - spacing, height());
}

void WrapCheckBox::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  QStyleOptionButton opt;
  initStyleOption(&opt);
  QStyleOptionButton indicator = opt;
  indicator.rect = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, this);
  p.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);

  const QRect area = captionRect();
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | mnemonicFlag(this);
  p.drawItemText(area, flags, palette(), isEnabled(), text(), QPalette::WindowText);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = fontMetrics().boundingRect(area, flags, text()).adjusted(-1, 0, 1, 0).intersected(rect());
    p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

bool WrapCheckBox::hitButton(const QPoint& pos) const { return rect().contains(pos); }

}  // namespace strandlink::ui
