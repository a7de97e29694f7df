// The further peers an RTP-MIDI session invites beside the remote: a list the
// user edits under the remote address, one peer per line, kept between runs.
#pragma once

#include <QFrame>

#include <cstddef>
#include <vector>

#include "protocol/peer_protocol.h"

class QLabel;
class QPlainTextEdit;

namespace strandlink::ui {

// One peer per line or between commas, HOST or HOST:PORT; one without a port
// takes usualPort. Blank entries go; past max the rest is left out.
struct ListedRemotes {
  std::vector<protocol::RemoteText> remotes;
  bool leftOut = false;
};
ListedRemotes listedRemotes(const QString& text, quint16 usualPort, std::size_t max);
// "HOST:PORT" each, as the list shows them and strandlink.conf keeps them.
QStringList remoteLines(const std::vector<protocol::RemoteText>& remotes);

class InviteList : public QFrame {
  Q_OBJECT
 public:
  InviteList(std::size_t max, QWidget* parent);

  // Shows remotes for editing under anchor, its right edges in line.
  void open(const std::vector<protocol::RemoteText>& remotes, quint16 usualPort, QWidget* anchor);
  QPlainTextEdit* editor() const { return editor_; }
  QString stateText() const;

 signals:
  // Each change, as the list now reads.
  void edited(const std::vector<protocol::RemoteText>& remotes);

 private:
  void take();

  std::size_t max_;
  quint16 usualPort_ = 0;
  QPlainTextEdit* editor_ = nullptr;
  QLabel* state_ = nullptr;
};

}  // namespace strandlink::ui
