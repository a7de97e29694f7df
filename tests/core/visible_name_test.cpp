// Names from the network as shown; the queue that keeps a flood from crowding out a name.
#include <gtest/gtest.h>

#include "discovery/resolve_queue.h"
#include "link/notice_text.h"
#include "report/visible_text.h"

namespace strandlink {
namespace {

using report::visibleName;

TEST(VisibleName, ShowsWhatActsHidesOrReordersAsEscapesAndCutsALongName) {
  EXPECT_EQ(visibleName(QStringLiteral("Studio Mac é")), QStringLiteral("Studio Mac é"));
  EXPECT_EQ(visibleName(QStringLiteral("a\x1b[2Jb")), QStringLiteral("a\\x1b[2Jb"));
  EXPECT_EQ(visibleName(QStringLiteral("a\r\nb\tc\\")), QStringLiteral("a\\x0d\\x0ab\\x09c\\\\"));
  EXPECT_EQ(visibleName(QStringLiteral("Stu\u202Edio")), QStringLiteral("Stu\\u{202E}dio"));
  EXPECT_EQ(visibleName(QStringLiteral("Stu\u200Bdio\u00A0A")), QStringLiteral("Stu\\u{200B}dio\\u{00A0}A"));
  EXPECT_EQ(visibleName(QString::fromUcs4(U"x\U000E0041\U0001F3B9")), QString::fromUcs4(U"x\\u{E0041}\U0001F3B9"));
  EXPECT_EQ(visibleName(QString(64, u'n')), QString(64, u'n'));
  EXPECT_EQ(visibleName(QString(100, u'n')), QString(63, u'n') + u'\u2026');
  EXPECT_EQ(visibleName(QString(60, u'n') + u'\u200B'), QString(60, u'n') + u'\u2026');  // no escape cut through
}

TEST(VisibleName, APeersSessionNameCannotForgeALineOfOurs) {
  EXPECT_EQ(link::noticeLine(protocol::SessionUp{"Evil\x1b[31m\nRTP-MIDI session ended"}),
            QStringLiteral("RTP-MIDI session with Evil\\x1b[31m\\x0aRTP-MIDI session ended is up"));
}

TEST(ResolveQueue, ResolvesOnlyTheNameAskedForAFewAtATimeThisComputersFirst) {
  discovery::ResolveQueue<int> queue;
  EXPECT_TRUE(queue.wanted(QStringLiteral("Anything")));
  queue.onlyNamed(QStringLiteral("Stage"));
  EXPECT_TRUE(queue.wanted(QStringLiteral("STAGE")) && !queue.wanted(QStringLiteral("Stage #2")));
  for (int i = 0; i < 300; ++i) queue.offer(i, false);
  queue.offer(1000, true);
  EXPECT_EQ(queue.next(), 1000);
  std::size_t taken = 1;
  while (queue.next()) ++taken;
  EXPECT_EQ(taken, discovery::ResolveQueue<int>::kResolvingAtOnce);
  queue.withdraw(31);  // gone before its turn
  queue.finished();
  EXPECT_EQ(queue.next(), 32);
  EXPECT_EQ(queue.next(), std::nullopt);
}

}  // namespace
}  // namespace strandlink
