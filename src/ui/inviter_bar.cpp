#include "ui/inviter_bar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

#include "report/visible_text.h"

namespace strandlink::ui {

InviterBar::InviterBar(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("inviterBar"));
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(4, 2, 4, 2);
  question_ = new QLabel(this);
  question_->setObjectName(QStringLiteral("inviterQuestion"));
  question_->setTextFormat(Qt::PlainText);
  question_->setWordWrap(true);  // a long name takes a second line rather than the end of the question
  row->addWidget(question_, 1);
  const std::pair<const char*, protocol::InviterAnswer> buttons[] = {
      {"Allow once", protocol::InviterAnswer::AllowOnce},
      {"Always", protocol::InviterAnswer::AllowAlways},
      {"Refuse", protocol::InviterAnswer::Refuse}};
  for (const auto& [text, given] : buttons) {
    auto* button = new QPushButton(QString::fromLatin1(text), this);
    button->setObjectName(QStringLiteral("inviter") + QString::fromLatin1(text).remove(u' '));
    connect(button, &QPushButton::clicked, this, [this, given] { answer(given); });
    row->addWidget(button);
  }
  hide();
}

void InviterBar::ask(const protocol::Inviter& inviter) {
  if (std::ranges::find(waiting_, inviter) != waiting_.end()) return;
  waiting_.push_back(inviter);
  showFirst();  // the first, or the count of those behind it
}

void InviterBar::clear() {
  waiting_.clear();
  hide();
}

void InviterBar::answer(protocol::InviterAnswer given) {
  if (waiting_.empty()) return;
  const protocol::Inviter inviter = waiting_.front();
  waiting_.pop_front();
  showFirst();
  emit answered(inviter, given);
}

// The name as the inviter gave it, escaped: it comes from anyone on the network.
void InviterBar::showFirst() {
  if (waiting_.empty()) return hide();
  const protocol::Inviter& first = waiting_.front();
  const QString name = first.name.empty() ? QStringLiteral("(no name)")
                                          : report::visibleName(QString::fromStdString(first.name));
  QString text = QStringLiteral("“%1” at %2 asks to link").arg(name, QString::fromStdString(first.host));
  if (waiting_.size() > 1) text += QStringLiteral(" (%1 more waiting)").arg(waiting_.size() - 1);
  question_->setText(text);
  question_->setToolTip(text);
  show();
  raise();
}

}  // namespace strandlink::ui
