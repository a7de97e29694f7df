// What the window shows of a session without a box: reports in its banner while
// Panic still works, the status line that fits at any scale and is coloured by
// state, and the latency plot's minute.
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>

#include "ui/chat_history.h"
#include "ui/latency_history.h"
#include "window_fixture.h"

namespace strandlink::test {
namespace {

using link::LinkState;
using protocol::LinkStatus;

TEST(SessionView, AMissingDeviceIsSaidInTheWindowWhilePanicWorksAndItsReturnIsALine) {
  WindowUnderTest t(std::make_unique<ScriptedMidiService>());
  auto& midi = static_cast<ScriptedMidiService&>(*t.midi);
  t.window.startUp();
  for (const char* list : {"inputList", "outputList"}) t.get<QComboBox>(list)->setCurrentIndex(1);
  t.boxes.boxes.clear();
  ASSERT_TRUE(t.activate());
  const int p = freePortPair(), q = freePortPair();
  RawPeer peer(q);
  ASSERT_TRUE(t.start(p, q)) << t.boxes.texts();
  auto* banner = t.get<QLabel>("reportBanner");
  midi.inputThere = false;
  ASSERT_TRUE(waitFor([&] { return !banner->isHidden(); }, 3000));
  EXPECT_TRUE(banner->text().startsWith("Midi Input: keys:out :  ")) << banner->text();
  const auto played = [&](std::uint8_t status) {  // on the output Start opened
    return std::ranges::any_of(midi.playedPerOutput().back(), [&](const auto& m) { return m.bytes[0] == status; });
  };
  peer.sendTo(p, QByteArray("\x90\x3C\x40", 3));
  ASSERT_TRUE(waitFor([&] { return played(0x90); }));
  QTest::keyClick(&t.window, Qt::Key_P, Qt::AltModifier);
  EXPECT_TRUE(waitFor([&] { return played(0x80); }, 3000)) << "Panic released nothing while the report was up";
  midi.inputThere = true;
  auto* history = t.get<QPlainTextEdit>("chatHistory");
  EXPECT_TRUE(waitFor([&] {
    return banner->isHidden() && ui::historyText(*history).endsWith("(Midi Input: keys:out is back and plays again)");
  }, 3000)) << ui::historyText(*history);
  EXPECT_TRUE(t.boxes.boxes.isEmpty()) << t.boxes.texts();
}

// Every state in words that fit the line at the layout's size and at twice it,
// green only for a whole link, amber while waiting or partial, red without an answer.
TEST(SessionView, EveryStateFitsTheStatusLineAtOneAndTwiceTheSizeAndIsColouredByState) {
  WindowUnderTest t(kNoDevices, kNoDevices);
  auto* label = t.get<QLabel>("statusLabel");
  const QString longName = "The rehearsal room's big studio computer";
  const link::Missing both{false, true, true};
  LinkState on;
  on.running = true, on.peerAddress = "192.168.178.120:50004";
  const auto connected = [&](LinkState s) { return s.status = LinkStatus::Connected, s; };
  const std::vector<std::pair<LinkState, QColor>> states{
      {{}, QColor()}, {on, ui::kBadColour}, {connected(on), ui::kGoodColour},
      {[&] { LinkState s = on; s.missing = both; return s; }(), ui::kBadColour},
      {[&] { LinkState s = connected(on); s.missing = both; return s; }(), ui::kWarningColour},
      {[&] { LinkState s = on; s.waitingForInvitation = true, s.ownName = longName; return s; }(), ui::kWarningColour},
      {[&] { LinkState s = connected(on); s.peerName = longName; return s; }(), ui::kGoodColour},
      {[&] { LinkState s = on; s.members = 0; return s; }(), ui::kWarningColour},
      {[&] { LinkState s = connected(on); s.members = 12, s.missing.service = true; return s; }(), ui::kWarningColour},
  };
  const QFont layout = label->font();
  for (QFont base : {layout, QFont(layout.family(), int(layout.pointSizeF() * 2))}) {
    for (const auto& [state, colour] : states) {
      const link::StatusWords words = link::statusWords(state);
      ui::showStatusLine(*label, base, words, {});
      SCOPED_TRACE(words.text.toStdString() + " at " + std::to_string(base.pointSizeF()));
      EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->contentsRect().width());
      EXPECT_TRUE(label->text().startsWith(words.text.section(' ', 0, 0))) << label->text();
      EXPECT_EQ(label->autoFillBackground() ? label->palette().color(QPalette::Window) : QColor(), colour);
    }
  }
  LinkState linked = connected(on);
  linked.peerName = "Studio", linked.missing = both;
  EXPECT_EQ(link::statusWords(linked).detail,
            QString::fromUtf8("Connected to \u201cStudio\u201d at 192.168.178.120:50004 - input and output missing"));
}

// Newest last, a gap where the peer did not answer, only the losses new in each
// second, and a group's messages heard each second, which start a picture of their own.
TEST(SessionView, TheLatencyHistoryKeepsTheLastMinuteAndCountsOnlyNewLosses) {
  ui::LatencyHistory h;
  protocol::LinkFigures f{protocol::Measure::Session, {protocol::PeerFigures{}}, {}};
  f.link.status = LinkStatus::Connected;
  for (int second = 0; second < 70; ++second)
    f.peers[0].roundTripMs = second, f.peers[0].packetsLost = second / 10 * 3, h.record(f);
  EXPECT_TRUE(h.size() == ui::LatencyHistory::kSeconds && h.at(0).value == 10.0 && h.latest() == 69.0);
  EXPECT_EQ(h.highest() + double(h.lost()), 69.0 + 18);  // lost at 10, 20, ... 60
  f.link.status = LinkStatus::NotConnected, h.record(f);
  EXPECT_EQ(h.latest(), std::nullopt);
  protocol::LinkFigures group{protocol::Measure::Group, {}, {}};
  for (const std::uint64_t heard : {100, 100, 130, 190}) group.link.messagesIn = heard, h.record(group);
  EXPECT_TRUE(h.quantity() == ui::PlotQuantity::MessagesHeard && h.size() == 4 && h.at(1).value == 0.0 &&
              h.latest() == 60.0 && h.highest() == 60.0 && h.lost() == 0);
  // The probes' count is of a minute that moves on: a smaller one is no loss.
  h.clear();
  f.measure = protocol::Measure::Probes;
  for (const int lost : {5, 3, 4}) f.peers[0].probesLost = lost, h.record(f);
  EXPECT_EQ(h.lost(), 1u);
}

}  // namespace
}  // namespace strandlink::test
