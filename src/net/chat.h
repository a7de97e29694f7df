// The chat between the two users.
#pragma once

#include <QString>

namespace strandlink {
class Session;
}

namespace strandlink::net {

// Enter in txtSend (key 13): shows, sends and clears the line. Returns true when
// the key was swallowed.
bool txtSend_KeyPress(Session& s, int keyAscii);

// Window thread: reads one datagram from the chat socket.
void txtReceiveWindowChat_MouseUp(Session& s);

// A line as bytes of ISO 8859-1 ("?" for characters outside it), and back.
QByteArray toLatin1Bytes(const QString& line);

}  // namespace strandlink::net
