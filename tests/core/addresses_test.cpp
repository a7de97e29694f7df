// The network boxes: keystroke filters, the Start check, and "Network Error" reports.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "net/addresses.h"
#include "net/wsksock.h"
#include "session/session.h"
#include "support/plain_view.h"
#include "support/recording_boxes.h"
#include "support/stub_midi.h"

using namespace strandlink;

namespace {

const QString kLocalPort = QStringLiteral("Local Port value must be between 1 and 65535");
const QString kRemotePort = QStringLiteral("Remote Port value must be between 1 and 65535");
const QString kRemoteIp = QStringLiteral("Invalid format for Remote IP Address");
const QString kLocalIp = QStringLiteral("Invalid format for Local IP Address");

class NetworkBoxes : public ::testing::Test {
 protected:
  // Fills the four boxes, runs the check and returns the boxes it showed.
  QStringList validate(const QString& localPort, const QString& remotePort, const QString& remoteIp,
                       const QString& localIp, bool expectFailed) {
    boxes.boxes.clear();
    view.texts[TextControl::txtPortLocal] = localPort;
    view.texts[TextControl::txtRemotePort] = remotePort;
    view.texts[TextControl::txtIPAddress] = remoteIp;
    view.texts[TextControl::txtIPLocal] = localIp;
    EXPECT_EQ(net::ValidateNetworkSettings(s), expectFailed);
    return boxes.texts();
  }

  SessionState state;
  test::PlainView view;
  test::RecordingBoxes boxes;
  test::StubMidiService midi;
  Session s{state, view, boxes, midi};
};

}  // namespace

TEST(KeystrokeFilters, LetOnlyTheirSetThrough) {
  for (char16_t c : std::u16string_view(u"0123456789\b\n\r")) {
    EXPECT_TRUE(net::portKeyAllowed(c) && net::addressKeyAllowed(c)) << int(c);
  }
  EXPECT_TRUE(net::addressKeyAllowed(u'.'));
  EXPECT_FALSE(net::portKeyAllowed(u'.'));
  // Neighbours of the digits, signs, blanks, the copy/cut/paste controls, other digits.
  for (char16_t c : std::u16string_view(u"/:a-, \t\x03\x16\x18\x7f\u0663\uff11\0", 14)) {
    EXPECT_FALSE(net::portKeyAllowed(c) || net::addressKeyAllowed(c)) << int(c);
  }
  EXPECT_EQ(net::filterAddressText(QStringLiteral(" 192.168.1.5\r\n")), "192.168.1.5");
  EXPECT_EQ(net::filterAddressText(QStringLiteral("host-1.\u0663x")), "1.");
  EXPECT_EQ(net::filterPortText(QStringLiteral("4,000.5\t")), "40005");
}

TEST_F(NetworkBoxes, PortsMustLeaveRoomForTheChatPort) {
  const char* good[] = {"1", "65534", " 4000\t", "4000.5"};
  const char* bad[] = {"0",  "65535", "65536", "",   "   ", "40 00", "0.5",   "65534.5",
                       ".",  "abc",   "-1",    "1e3", "4,000", "99999999999999999999"};
  for (const char* port : good) {
    EXPECT_EQ(validate(port, port, "127.0.0.1", "127.0.0.1", false), QStringList()) << port;
  }
  for (const char* port : bad) {
    EXPECT_EQ(validate(port, "4001", "127.0.0.1", "127.0.0.1", true), QStringList{kLocalPort}) << port;
    EXPECT_EQ(validate("4000", port, "127.0.0.1", "127.0.0.1", true), QStringList{kRemotePort}) << port;
  }
}

TEST_F(NetworkBoxes, ChecksComeInOrderAndABadRemoteAddressEndsThem) {
  EXPECT_EQ(validate("", "", "", "", true), QStringList({kLocalPort, kRemotePort, kRemoteIp, kLocalIp}));
  EXPECT_EQ(boxes.boxes[0].title, "Network Error");
  EXPECT_EQ(boxes.boxes[0].icon, BoxIcon::Exclamation);
  // A remote text that names nothing stops before the local address is looked at.
  EXPECT_EQ(validate("", "0", "300.1.1.1", "", true), QStringList({kLocalPort, kRemotePort, kRemoteIp}));
  EXPECT_EQ(validate("4000", "4001", "0.0.0.0", "", true), QStringList{kRemoteIp});
  EXPECT_EQ(validate("4000", "4001", "255.255.255.255", "", true), QStringList{kRemoteIp});
  EXPECT_EQ(validate("4000", "4001", "127.0.0.1", "0.0.0.0", true), QStringList{kLocalIp});
  // Short and octal forms mean what inet_addr makes of them; a settings file may bring a name.
  EXPECT_EQ(validate("4000", "4001", "127.1", "010.0.0.1", false), QStringList());
  EXPECT_EQ(validate("4000", "4001", "localhost", "localhost", false), QStringList());
  EXPECT_EQ(net::ResolveHostAddress("127.1"), htonl(0x7F000001));
  EXPECT_EQ(net::ResolveHostAddress("010.0.0.1"), htonl(0x08000001));
}

TEST_F(NetworkBoxes, SocketErrorReportsShowOneBoxPerContext) {
  const QString bind = QStringLiteral("Tried to bind MIDI socket:  ");
  const QString send = QStringLiteral("Tried to send MIDI data:  ");
  int depth = 0;
  boxes.whileOpen = [&] {  // the first box plays the nested event loop
    if (++depth > 1) return;
    net::ReportNetworkError(s, 10048, bind);  // same context: held back
    net::ReportNetworkError(s, 0, send);      // another context: shown
  };
  net::ReportNetworkError(s, 10048, bind);
  net::ReportNetworkError(s, 10080, QStringLiteral("Tried to get LocalHostName:  "));
  // Without a row the context stands alone, trailing blanks and all.
  EXPECT_EQ(boxes.texts(), QStringList({bind + "Address already in use.", send, "Tried to get LocalHostName:  "}));
  EXPECT_EQ(s.reporter.heldBack(bind), 1);
  EXPECT_EQ(boxes.boxes[0].title, "Network Error");
  EXPECT_EQ(boxes.boxes[0].icon, BoxIcon::Exclamation);
  EXPECT_EQ(state.LastApiResult.load(), 1);
}
