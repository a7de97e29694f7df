// Chat lines between real endpoints on loopback.
#include <gtest/gtest.h>

#include "net/chat.h"
#include "net/endpoints.h"
#include "support/side.h"
#include "support/stub_midi.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

struct ChatLink : ::testing::Test {
  void SetUp() override {
    pa = freePortPair();
    peerPort = freePortPair();
    a = std::make_unique<Side>(std::make_unique<StubMidiService>());
    a->configure(pa, peerPort);
    ASSERT_FALSE(net::OpenUdpEndpoints(a->session));
    peerChat = std::make_unique<RawPeer>(peerPort + 1);
  }
  void type(const QString& line) {
    a->view.setText(TextControl::txtSend, line);
    EXPECT_TRUE(net::txtSend_KeyPress(a->session, 13));
  }
  QString history() const { return a->view.text(TextControl::txtReceive); }

  int pa = 0, peerPort = 0;
  std::unique_ptr<Side> a;
  std::unique_ptr<RawPeer> peerChat;
};

}  // namespace

TEST_F(ChatLink, TypedLineIsShownSentAsItsBytesAndCleared) {
  type("hello");
  EXPECT_EQ(history(), "\r\nLOCAL:hello");
  EXPECT_EQ(a->view.text(TextControl::txtSend), "");
  EXPECT_EQ(a->view.carets[TextControl::txtReceive], history().size() - 1);
  const auto got = peerChat->receive();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, QByteArray("hello"));
}

TEST_F(ChatLink, OtherKeysAreLeftAlone) {
  a->view.setText(TextControl::txtSend, "abc");
  EXPECT_FALSE(net::txtSend_KeyPress(a->session, 'x'));
  EXPECT_EQ(a->view.text(TextControl::txtSend), "abc");
  EXPECT_TRUE(history().isEmpty());
}

TEST_F(ChatLink, EmptyLineShowsLocallyAndSendsAnEmptyDatagram) {
  type("");
  EXPECT_EQ(history(), "\r\nLOCAL:");
  const auto got = peerChat->receive();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->isEmpty());
}

TEST_F(ChatLink, CharactersOutsideLatin1TravelAsQuestionMarks) {
  type(QString::fromUtf8("d\u00e9j\u00e0 \u65e5\U0001F3B9"));
  const auto got = peerChat->receive();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, QByteArray("d\xe9j\xe0 ??"));
}

TEST_F(ChatLink, ReceivedDatagramsAreSortedByLength) {
  RawPeer third(freePortPair());
  third.sendTo(pa + 1, QByteArray());             // ignored
  third.sendTo(pa + 1, QByteArray("\x01\x01", 2));  // a chat line, not a probe
  third.sendTo(pa + 1, QByteArray("\x01\x02", 2));  // a chat line, not a reply
  third.sendTo(pa + 1, QByteArray("hello"));
  const QString expected = QStringLiteral("\r\nREMOTE\x01\x01\r\nREMOTE\x01\x02\r\nREMOTEhello");
  EXPECT_TRUE(waitFor([&] { return history() == expected; })) << history().toStdString();
  EXPECT_EQ(a->view.carets[TextControl::txtReceive], history().size());
  EXPECT_EQ(a->view.text(TextControl::lblConnectStatus), "Not Connected");
  // No probe was taken from those lines, so nothing was answered.
  EXPECT_FALSE(peerChat->receive(200).has_value());
}

TEST_F(ChatLink, PopUpRaisesOnChatLinesOnly) {
  a->view.setChecked(CheckControl::chkPopUp, true);
  RawPeer third(freePortPair());
  third.sendTo(pa + 1, QByteArray(1, '\x02'));
  EXPECT_TRUE(waitFor([&] { return a->view.text(TextControl::lblConnectStatus) == "Connected"; }));
  EXPECT_FALSE(a->view.events.contains("raise"));
  third.sendTo(pa + 1, QByteArray("hi"));
  EXPECT_TRUE(waitFor([&] { return a->view.events.contains("raise"); }));
}

TEST_F(ChatLink, LineTypedWithoutASessionIsShownWithANote) {
  net::CloseUdpEndpoints(a->session);
  type("anyone?");
  EXPECT_EQ(history(), "\r\nLOCAL:anyone?\r\n(not sent: no session is running)");
  EXPECT_FALSE(peerChat->receive(200).has_value());
  EXPECT_TRUE(a->boxes.boxes.isEmpty());
}
