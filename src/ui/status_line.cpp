#include "ui/status_line.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>

#include "ui/help_widgets.h"
#include "ui/tool_tips.h"

namespace strandlink::ui {

namespace {

void colour(QLabel& label, link::StatusTone tone) {
  QPalette p = QApplication::palette(&label);
  const bool filled = tone != link::StatusTone::Idle;
  switch (tone) {
    case link::StatusTone::Idle: p.setColor(QPalette::WindowText, kIdleTextColour); break;
    case link::StatusTone::Good: p.setColor(QPalette::Window, kGoodColour); break;
    case link::StatusTone::Waiting: p.setColor(QPalette::Window, kWarningColour); break;
    case link::StatusTone::Bad: p.setColor(QPalette::Window, kBadColour); break;
  }
  if (filled) p.setColor(QPalette::WindowText, tone == link::StatusTone::Waiting ? Qt::black : Qt::white);
  label.setAutoFillBackground(filled);
  label.setPalette(p);
}

}  // namespace

void showStatusLine(QLabel& label, const QFont& base, const link::StatusWords& words, const QString& figures) {
  const int room = label.contentsRect().width() - 4;
  label.setFont(base);
  fitFont(&label, words.text, room, kSmallestStatusPoints);
  label.setText(QFontMetrics(label.font()).elidedText(words.text, Qt::ElideRight, room));
  QString tip = words.detail;
  if (!figures.isEmpty()) tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + figures;
  label.setToolTip(tip.isEmpty() ? QString() : wrappedToolTip(tip));
  colour(label, words.tone);
}

}  // namespace strandlink::ui
