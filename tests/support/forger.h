// A stranger on the LAN who forges the source of what it sends: UDP datagrams
// from any address and port, written whole through a raw socket (root only). On
// loopback any 127.x address stands for another host.
#pragma once

#include <QByteArray>

#include <cstdint>

namespace strandlink::test {

inline constexpr char kNoRawSocket[] = "no raw socket for forged sources (the test needs root)";

class Forger {
 public:
  Forger();
  ~Forger();
  Forger(const Forger&) = delete;
  Forger& operator=(const Forger&) = delete;

  bool ready() const { return fd_ >= 0; }
  // To 127.0.0.1 at toPort, as if from fromHost at fromPort.
  void send(const char* fromHost, int fromPort, int toPort, const QByteArray& payload);

 private:
  int fd_ = -1;
};

}  // namespace strandlink::test
