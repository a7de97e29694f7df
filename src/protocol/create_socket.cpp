#include "protocol/create_socket.h"

#include "report/message_boxes.h"
#include "report/reporter.h"

namespace strandlink::protocol {

bool createSocket(net::UdpSocket& socket, report::Reporter& reporter, const QString& context) {
  net::SocketError error = net::SocketError::Ok;
  socket = net::UdpSocket::create(error);
  if (socket.valid()) return true;
  reporter.socketError(error, context);
  reporter.report(report::BoxIcon::None, report::kAppTitle, QStringLiteral(" Cannot create socket.....exit program"));
  return false;
}

}  // namespace strandlink::protocol
