// The address fields as each protocol reads them: captions, usual values on a
// switch (what the user typed stays), the line of what Start will do, Find, the
// chat box, the Tab order and the window's title.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>

#include "link/protocol_choice.h"
#include "settings/settings_file.h"
#include "window_fixture.h"

namespace strandlink::test {
namespace {

using P = settings::Protocol;

// The captions, the three values (the local port when it is used) and what Start will do.
QString shown(WindowUnderTest& t) {
  auto* local = t.get<QLineEdit>("localPortBox");
  return QStringList{t.get<QLabel>("remoteAddressCaption")->text(), t.get<QLabel>("remotePortCaption")->text(),
                     t.get<QLineEdit>("remoteAddressBox")->text(), t.get<QLineEdit>("remotePortBox")->text(),
                     local->isEnabled() ? local->text() : "(off)", t.get<QLabel>("startLine")->text()}
      .join(" | ");
}

TEST(ProtocolFields, EachProtocolNamesItsFieldsFillsItsUsualValuesAndKeepsWhatWasTyped) {
  link::saveProtocol(P::Classic);
  WindowUnderTest t({"In"}, {"Out"});
  t.window.startUp();  // a first run: both ports 4000, no remote
  t.window.publishAs("Studio");
  auto* box = t.get<QComboBox>("protocolBox");
  auto* remote = t.get<QLineEdit>("remoteAddressBox");
  auto* find = t.get<QPushButton>("findButton");
  auto* chat = t.get<QLineEdit>("chatInput");
  const auto choose = [&](P p) {  // as the user picks it
    box->setCurrentIndex(int(p));
    emit box->activated(int(p));
  };
  const QString classicEmpty = "Remote Host IP Address | Remote Host Port: |  | %1 | 4000 | Sends nowhere yet: give the remote host";
  EXPECT_EQ(shown(t), classicEmpty.arg(4000));
  choose(P::Rtp);
  EXPECT_EQ(shown(t), "Remote Session or Host | Remote Port: |  | 5004 | 5004 | "
                      "Waits to be invited as \u201cStudio\u201d on port 5004");
  // A session's name is looked up; a host with its domain is a host.
  remote->setText("Studio-Mac");
  EXPECT_EQ(t.get<QLabel>("startLine")->text(), "Invites \u201cStudio-Mac\u201d");
  remote->setText("studio.local");
  EXPECT_EQ(t.get<QLabel>("startLine")->text(), "Invites studio.local:5004");
  remote->clear();
  EXPECT_TRUE(find->isEnabled());
  // The local port means nothing to a group, nor Find; the chat box follows
  // every switch, also between two protocols without chat.
  choose(P::Multicast);
  EXPECT_EQ(shown(t), "Group | Group Port | 225.0.0.37 | 21928 | (off) | Joins 225.0.0.37:21928");
  EXPECT_TRUE(!find->isEnabled() && chat->text() == "Multicast carries no chat") << chat->text();
  // Back to classic the usual group goes, and the port the user typed stays.
  t.get<QLineEdit>("remotePortBox")->setText("6000");
  choose(P::Classic);
  EXPECT_EQ(shown(t), classicEmpty.arg(6000));
  EXPECT_TRUE(find->isEnabled() && chat->isEnabled());
  remote->setText("192.168.1.20");
  choose(P::Multicast);
  EXPECT_EQ(shown(t), "Group | Group Port | 192.168.1.20 | 6000 | (off) | "
                      "192.168.1.20 is no multicast group: empty the field for the usual 225.0.0.37:21928");
  choose(P::Classic);
  EXPECT_EQ(t.get<QLabel>("startLine")->text(), "Sends to 192.168.1.20:6000");
  EXPECT_TRUE(t.window.windowTitle().startsWith("Studio \u2014 Strandlink")) << t.window.windowTitle();

  // A protocol given on the command line is a switch too, under the values given.
  link::SettingOverrides flags;
  flags.protocol = P::Rtp;
  flags.localPort = "5010";
  ASSERT_EQ(t.window.applyCommandLine(flags), "");
  EXPECT_EQ(shown(t), "Remote Session or Host | Remote Port: | 192.168.1.20 | 6000 | 5010 | Invites 192.168.1.20:6000");
  EXPECT_EQ(chat->text(), "RTP-MIDI carries no chat");

  // A first run with RTP-MIDI remembered takes its ports; a kept file's stay, 4000 too.
  const auto ports = [](WindowUnderTest& w) {
    return w.get<QLineEdit>("remotePortBox")->text() + ' ' + w.get<QLineEdit>("localPortBox")->text();
  };
  WindowUnderTest first({"In"}, {"Out"});
  first.window.startUp();
  EXPECT_EQ(ports(first), "5004 5004");
  WindowUnderTest kept({"In"}, {"Out"});
  ASSERT_EQ(settings::writeSettingsFile(kept.defaultFile(), {"", "4000", "", "4000", 1, 1, true}), "");
  kept.window.startUp();
  EXPECT_EQ(ports(kept), "4000 4000");
}

// Further peers, from the list at the remote's end or --remote again, are
// RTP-MIDI's alone; the list's own edits are kept for the next run.
TEST(ProtocolFields, FurtherPeersAreInvitedWithRtpMidiAloneAndTheListIsKept) {
  link::saveProtocol(P::Rtp);
  const auto open = [](WindowUnderTest& t) {
    t.window.startUp();
    t.window.publishAs("Studio");
    for (const char* port : {"localPortBox", "remotePortBox"}) t.get<QLineEdit>(port)->setText("5004");
    t.get<QPushButton>("inviteButton")->click();
    return t.get<QPlainTextEdit>("inviteEditor");
  };
  const auto line = [](WindowUnderTest& t) { return t.get<QLabel>("startLine")->text(); };
  {
    WindowUnderTest t({"In"}, {"Out"});
    QPlainTextEdit* editor = open(t);
    editor->setPlainText(" 10.0.0.3:5006,\n\n10.0.0.4 ");
    EXPECT_EQ(line(t), "Invites 10.0.0.3:5006, 10.0.0.4:5004");
    EXPECT_EQ(t.get<QLabel>("inviteState")->text(), "2 more peers are invited at Start");
    t.get<QLineEdit>("remoteAddressBox")->setText("studio.local");
    EXPECT_EQ(line(t), "Invites studio.local:5004, 10.0.0.3:5006, 10.0.0.4:5004");
    // A session holds 16 participants: the remote and 15 more.
    QStringList many;
    for (int k = 1; k <= 16; ++k) many << QStringLiteral("10.0.1.%1").arg(k);
    editor->setPlainText(many.join('\n'));
    EXPECT_TRUE(line(t).contains("10.0.1.15:5004") && !line(t).contains("10.0.1.16")) << line(t);
    EXPECT_TRUE(t.get<QLabel>("inviteState")->text().contains("left out"));
    editor->setPlainText("10.0.0.3:5006\n10.0.0.4");
    t.get<QComboBox>("protocolBox")->setCurrentIndex(int(P::Classic));
    emit t.get<QComboBox>("protocolBox")->activated(int(P::Classic));
    EXPECT_EQ(line(t), "Sends to studio.local:4000");
    EXPECT_FALSE(t.get<QPushButton>("inviteButton")->isVisible());
    link::saveProtocol(P::Rtp);
  }
  WindowUnderTest again({"In"}, {"Out"});
  QPlainTextEdit* editor = open(again);
  EXPECT_EQ(line(again), "Invites 10.0.0.3:5006, 10.0.0.4:5004");
  // Given on the command line, for this run only.
  again.window.inviteAlso({{"10.0.0.9", "5010"}});
  EXPECT_EQ(line(again), "Invites 10.0.0.9:5010");
  editor->clear();
  EXPECT_EQ(line(again), "Waits to be invited as \u201cStudio\u201d on port 5004");
}

TEST(ProtocolFields, TabStartsAtTheProtocolSkipsTheCountersAndFindTakesAClickAtItsCentre) {
  link::saveProtocol(P::Rtp);  // every button of the remote's line shows
  WindowUnderTest t({"In"}, {"Out"});
  t.window.startUp();
  ASSERT_TRUE(t.activate());
  // What Tab or Shift+Tab reaches from w: the chain's next widget that takes Tab.
  const auto step = [](QWidget* w, bool back) {
    do w = back ? w->previousInFocusChain() : w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || !w->isEnabled());
    return w;
  };
  // Shift+Tab from the protocol box wraps round to the chat: the box is first.
  auto* box = t.get<QComboBox>("protocolBox");
  EXPECT_EQ(step(box, true)->objectName(), "chatHistory");
  QStringList walk;
  for (QWidget* w = box; walk.size() < 7; w = step(w, false)) walk << w->objectName();
  EXPECT_EQ(walk.join(' '),
            "protocolBox localAddressBox localPortBox findButton remoteAddressBox inviteButton remotePortBox");
  for (const char* count : {"sentCount", "receivedCount"})
    EXPECT_EQ(t.get<QLineEdit>(count)->focusPolicy(), Qt::NoFocus) << count;
  auto* find = t.get<QPushButton>("findButton");
  EXPECT_EQ(QApplication::widgetAt(find->mapToGlobal(find->rect().center())), find);
}

}  // namespace
}  // namespace strandlink::test
