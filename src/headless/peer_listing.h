// strandlink --list-peers: the sessions published on the network, printed once.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdio>

namespace strandlink::headless {

// Needs a QCoreApplication.
class PeerListing : public QObject {
  Q_OBJECT
 public:
  PeerListing(QString serviceType, std::FILE* out, std::FILE* err,
              std::chrono::milliseconds wait = std::chrono::milliseconds(2000));

  // One line per session resolved within the wait ("NAME<tab>HOST<tab>ADDRESS:PORT",
  // the names escaped), and one on err for those seen but not resolved.
  // 0 when any was found; 1 when none was, or discovery is off (one line on err).
  int run();
  // Ends the wait now, or lets none begin: what was found so far is printed.
  void stop();

 private:
  QString serviceType_;
  std::FILE* out_;
  std::FILE* err_;
  std::chrono::milliseconds wait_;
  QEventLoop loop_;
  bool stopped_ = false;
};

}  // namespace strandlink::headless
