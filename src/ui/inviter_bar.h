// The question about an inviter this side does not know, as a bar over the foot
// of the Receive box: never a modal box, so Panic and Stop always work while it
// waits. One question at a time, in the order they came; the others wait behind it.
#pragma once

#include <QFrame>

#include <deque>

#include "protocol/admission.h"

class QLabel;

namespace strandlink::ui {

class InviterBar : public QFrame {
  Q_OBJECT
 public:
  explicit InviterBar(QWidget* parent);

  // Shows the inviter's question, or queues it behind the one shown.
  void ask(const protocol::Inviter& inviter);
  // The session ended: its questions with it.
  void clear();
  bool asking() const { return !waiting_.empty(); }

 signals:
  void answered(const strandlink::protocol::Inviter& inviter, strandlink::protocol::InviterAnswer answer);

 private:
  void answer(protocol::InviterAnswer answer);
  void showFirst();

  std::deque<protocol::Inviter> waiting_;
  QLabel* question_ = nullptr;
};

}  // namespace strandlink::ui
