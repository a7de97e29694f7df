// One copy of the bridge without a window: plain controls, recorded boxes, the
// machine's real MIDI service (our own virtual ports on the test JACK server) and
// real sockets. Two of them configured as mirror images make a link on loopback.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "midi/midi_service.h"
#include "session/session.h"
#include "support/plain_view.h"
#include "support/recording_boxes.h"

namespace strandlink::test {

// Runs the event loop until cond holds or the deadline passes; the final answer.
inline bool waitFor(const std::function<bool()>& cond, int deadlineMs = 10000) {
  QElapsedTimer t;
  t.start();
  while (!cond() && t.elapsed() < deadlineMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return cond();
}

// Lets queued notifications run for a moment (to show that nothing arrives).
inline void settle(int ms = 200) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

struct Side {
  explicit Side(std::unique_ptr<midi::MidiService> service)
      : midi(std::move(service)), session(state, view, boxes, *midi) {
    session.fatalExit = [this] { ++fatalExits; };
  }

  // Fills the four network boxes (local address 127.0.0.1).
  void configure(int localPort, int remotePort, const QString& remoteIp = QStringLiteral("127.0.0.1")) {
    view.setText(TextControl::txtIPAddress, remoteIp);
    view.setText(TextControl::txtRemotePort, QString::number(remotePort));
    view.setText(TextControl::txtIPLocal, QStringLiteral("127.0.0.1"));
    view.setText(TextControl::txtPortLocal, QString::number(localPort));
  }

  PlainView view;
  RecordingBoxes boxes;
  SessionState state;
  std::unique_ptr<midi::MidiService> midi;
  Session session;
  int fatalExits = 0;
};

// A UDP port pair (P, P+1) that is free right now, from an ephemeral probe.
int freePortPair();

// True when a JACK server answers (the test suite starts a private one).
bool jackAvailable();

}  // namespace strandlink::test

namespace strandlink::test {

// A bare UDP socket on loopback standing in for a peer or a third host.
class RawPeer {
 public:
  explicit RawPeer(int port);
  ~RawPeer();
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  void sendTo(int port, const QByteArray& bytes);
  // The next datagram, or nothing after the deadline (the event loop runs meanwhile).
  std::optional<QByteArray> receive(int deadlineMs = 3000);
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace strandlink::test
