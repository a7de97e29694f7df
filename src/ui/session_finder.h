// The Find list: the sessions published on the network for the chosen protocol,
// kept up to date while it is open, dropped down under the remote address. A
// pick hands over the session's address and port.
#pragma once

#include <QFrame>

#include <memory>

#include "settings/preferences.h"

class QLabel;
class QListWidget;
class QListWidgetItem;

namespace strandlink::discovery {
class Browser;
struct FoundService;
}  // namespace strandlink::discovery

namespace strandlink::link {
class SessionDiscovery;
}

namespace strandlink::ui {

class SessionFinder : public QFrame {
  Q_OBJECT
 public:
  SessionFinder(link::SessionDiscovery& discovery, QWidget* parent);
  ~SessionFinder() override;

  // Browses the protocol's sessions and shows the list under anchor, as wide as it.
  void open(settings::Protocol protocol, QWidget* anchor);
  QListWidget* list() const { return list_; }
  // What the list says besides the sessions: looking, none found, discovery off.
  QString stateText() const;

 signals:
  void picked(const QString& name, const QString& address, quint16 port);

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  void refill();
  void pick(QListWidgetItem* item);

  link::SessionDiscovery& discovery_;
  std::unique_ptr<discovery::Browser> browser_;  // only while the list is open
  QString offLine_;                              // why nothing can be found, when discovery is off
  QListWidget* list_ = nullptr;
  QLabel* state_ = nullptr;
};

}  // namespace strandlink::ui
