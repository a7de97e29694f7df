#include "protocol/create_socket.h"

#include "link/message_boxes.h"
#include "link/reporter.h"

namespace strandlink::protocol {

bool createSocket(net::UdpSocket& socket, link::Reporter& reporter, const QString& context) {
  net::SocketError error = net::SocketError::Ok;
  socket = net::UdpSocket::create(error);
  if (socket.valid()) return true;
  reporter.socketError(error, context);
  reporter.report(link::BoxIcon::None, link::kAppTitle, QStringLiteral(" Cannot create socket.....exit program"));
  return false;
}

}  // namespace strandlink::protocol
