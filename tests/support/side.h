// Test helpers over the real link: an event loop to wait in, sides, free ports and
// raw peers.
#pragma once

#include <netinet/in.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/link.h"
#include "midi/midi_service.h"
#include "support/qt_printers.h"
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

// One copy of the link without a window: recorded boxes, the machine's real MIDI
// service (our own ports on the test JACK server) and real sockets. Two of them
// configured as mirror images make a link on loopback.
struct Side {
  explicit Side(std::unique_ptr<midi::MidiService> service) : midi(std::move(service)), link(*midi, boxes) {
    QObject::connect(&link, &link::Link::cannotGoOn, [this] { ++fatalExits; });
    link.takeDeviceLists();
    settings.inputPosition = link.devices().inputs.empty() ? -1 : 0;
    settings.outputPosition = link.devices().outputs.empty() ? -1 : 0;
    QObject::connect(&link, &link::Link::statusChanged, [this](protocol::LinkStatus s) { status = s; });
    QObject::connect(&link, &link::Link::chatLineReceived, [this](const QString& line) { chat << line; });
  }

  // The four network values (local address 127.0.0.1).
  void configure(int localPort, int remotePort, const QString& remoteIp = QStringLiteral("127.0.0.1")) {
    settings.remoteHost = remoteIp;
    settings.remotePort = QString::number(remotePort);
    settings.localHost = QStringLiteral("127.0.0.1");
    settings.localPort = QString::number(localPort);
  }
  bool start(bool thru = false) {
    options.thru = thru;
    return link.start(settings, options);
  }

  RecordingBoxes boxes;
  std::unique_ptr<midi::MidiService> midi;
  link::Link link;
  settings::Settings settings;
  link::SessionOptions options;
  protocol::LinkStatus status = protocol::LinkStatus::NotConnected;
  QStringList chat;
  int fatalExits = 0;
};

// A side on the machine's real MIDI service under that client name, configured
// with these ports.
inline std::unique_ptr<Side> makeSide(const std::string& name, int local, int remote) {
  auto side = std::make_unique<Side>(midi::makeMidiService(name));
  side->configure(local, remote);
  return side;
}

// 127.0.0.1 at that port.
sockaddr_in loopback(int port);

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

  // To 127.0.0.1, or to the address given (in network byte order).
  void sendTo(int port, const QByteArray& bytes, std::uint32_t address = htonl(INADDR_LOOPBACK));
  // The next datagram, or nothing after the deadline (the event loop runs meanwhile).
  std::optional<QByteArray> receive(int deadlineMs = 3000);
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace strandlink::test
