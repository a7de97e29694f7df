// The two UDP endpoints of a session: the MIDI socket on the local port P and the
// chat socket on P + 1, each armed for read notifications on the loop's thread.
#pragma once

#include <netinet/in.h>

#include <functional>
#include <memory>

#include "net/read_notifier.h"
#include "net/udp_socket.h"
#include "protocol/classic/address_check.h"

namespace strandlink::protocol::classic {

class UdpEndpoints {
 public:
  enum class Outcome { Open, BindFailed, CannotCreate };

  // Creates, arms and binds both sockets, handing every failure up to sink. A
  // failed bind closes both again; a socket that cannot be created is fatal to the
  // program, which the caller decides how to end.
  Outcome open(const LinkAddresses& a, PeerSink& sink, std::function<void()> onMidiReadable,
               std::function<void()> onChatReadable);
  void close();
  bool isOpen() const { return midi_.valid(); }
  // The socket error of the first bind that failed in the last open, else 0.
  net::SocketError bindError() const { return bindError_; }

  const net::UdpSocket& midi() const { return midi_; }
  const net::UdpSocket& chat() const { return chat_; }
  const sockaddr_in& midiRemote() const { return midiRemote_; }
  const sockaddr_in& chatRemote() const { return chatRemote_; }

 private:
  net::UdpSocket midi_;
  net::UdpSocket chat_;
  std::unique_ptr<net::ReadNotifier> midiNotifier_;
  std::unique_ptr<net::ReadNotifier> chatNotifier_;
  sockaddr_in midiRemote_{};
  sockaddr_in chatRemote_{};
  net::SocketError bindError_ = net::SocketError::Ok;
};

}  // namespace strandlink::protocol::classic
