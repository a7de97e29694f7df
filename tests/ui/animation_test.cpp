// The palm tree animation: its frames take turns while no link runs, and the
// pointer on it shows the hint, a click opens the information window, but only
// then. A session runs on loopback against a bare socket.
#include <QLabel>
#include <QTest>

#include "window_fixture.h"
#include "support/real_part.h"

namespace strandlink::test {
namespace {

TEST(Animation, RunsHintsAndOpensTheInformationOnlyWhileNoLinkRuns) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  WindowUnderTest t;
  t.window.startUp();
  auto* hint = t.get<QLineEdit>("hintBox");
  QLabel* last = t.get<QLabel>("picture7");
  // The picture a viewer sees: the topmost one at the frame's centre.
  const auto onTop = [&] { return last->parentWidget()->childAt(last->geometry().center())->objectName(); };
  const QString first = onTop();
  EXPECT_TRUE(first.startsWith("picture") && waitFor([&] { return onTop() != first; })) << first;

  QTest::mouseMove(last, QPoint(30, 40));
  ASSERT_TRUE(hint->isVisible());
  EXPECT_EQ(t.get("client")->childAt(hint->geometry().center()), hint);  // above everything
  QTest::mouseMove(hint, QPoint(5, 5));  // the pointer onto the hint hides it
  EXPECT_FALSE(hint->isVisible());
  QTest::mouseMove(last, QPoint(31, 40));
  ASSERT_TRUE(hint->isVisible());

  const int p = freePortPair(), q = freePortPair();
  RawPeer peer(q);
  ASSERT_TRUE(t.start(p, q)) << t.boxes.texts();
  EXPECT_FALSE(hint->isVisible());  // Start takes it away
  const QString stopped = onTop();
  settle(600);  // more than two of its frames
  EXPECT_EQ(onTop(), stopped);
  QTest::mouseMove(last, QPoint(32, 41));
  QTest::mouseClick(last, Qt::LeftButton);
  EXPECT_TRUE(!hint->isVisible() && t.window.infoWindow() == nullptr);

  t.get<QPushButton>("stopButton")->click();
  EXPECT_FALSE(hint->isVisible());  // not before the pointer moves again
  QTest::mouseMove(last, QPoint(33, 42));
  EXPECT_TRUE(hint->isVisible());
  QTest::mouseClick(last, Qt::LeftButton);
  EXPECT_NE(t.window.infoWindow(), nullptr);
}

}  // namespace
}  // namespace strandlink::test
