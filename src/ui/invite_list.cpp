#include "ui/invite_list.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "ui/popup_placement.h"

namespace strandlink::ui {

ListedRemotes listedRemotes(const QString& text, quint16 usualPort, std::size_t max) {
  static const QRegularExpression separators(QStringLiteral("[\\n,]"));
  ListedRemotes listed;
  for (const QString& raw : text.split(separators)) {
    const QString entry = raw.trimmed();
    if (entry.isEmpty()) continue;
    if (listed.remotes.size() == max) {
      listed.leftOut = true;
      break;
    }
    // The start check judges host and port, with the messages of any remote.
    const qsizetype colon = entry.lastIndexOf(u':');
    if (colon < 0) listed.remotes.push_back({entry, QString::number(usualPort)});
    else listed.remotes.push_back({entry.left(colon).trimmed(), entry.mid(colon + 1).trimmed()});
  }
  return listed;
}

QStringList remoteLines(const std::vector<protocol::RemoteText>& remotes) {
  QStringList lines;
  for (const protocol::RemoteText& r : remotes) lines << r.host + u':' + r.port;
  return lines;
}

InviteList::InviteList(std::size_t max, QWidget* parent) : QFrame(parent, Qt::Popup), max_(max) {
  setObjectName(QStringLiteral("inviteList"));
  setFrameStyle(QFrame::Box | QFrame::Plain);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  auto* caption = new QLabel(QStringLiteral("Also invite, one peer per line (HOST or HOST:PORT):"), this);
  caption->setWordWrap(true);
  editor_ = new QPlainTextEdit(this);
  editor_->setObjectName(QStringLiteral("inviteEditor"));
  editor_->setTabChangesFocus(true);
  state_ = new QLabel(this);
  state_->setObjectName(QStringLiteral("inviteState"));
  state_->setWordWrap(true);
  layout->addWidget(caption);
  layout->addWidget(editor_);
  layout->addWidget(state_);
  connect(editor_, &QPlainTextEdit::textChanged, this, &InviteList::take);
}

void InviteList::open(const std::vector<protocol::RemoteText>& remotes, quint16 usualPort, QWidget* anchor) {
  usualPort_ = usualPort;
  setFont(anchor->font());  // a window of its own: the window's font does not reach it
  {
    const QSignalBlocker quiet(editor_);
    editor_->setPlainText(remoteLines(remotes).join(u'\n'));
  }
  take();
  showUnder(*this, *anchor, editor_->fontMetrics().lineSpacing() * 6 + 80);
  editor_->setFocus(Qt::PopupFocusReason);
  editor_->moveCursor(QTextCursor::End);
}

QString InviteList::stateText() const { return state_->text(); }

void InviteList::take() {
  const ListedRemotes listed = listedRemotes(editor_->toPlainText(), usualPort_, max_);
  const std::size_t n = listed.remotes.size();
  QString state = n == 1 ? QStringLiteral("1 more peer is invited at Start")
                         : QStringLiteral("%1 more peers are invited at Start").arg(n);
  if (n == 0) state = QStringLiteral("None: the session invites only the remote");
  if (listed.leftOut)
    state = QStringLiteral("%1 more peers at most in one session: the lines below are left out").arg(max_);
  state_->setText(state);
  emit edited(listed.remotes);
}

}  // namespace strandlink::ui
