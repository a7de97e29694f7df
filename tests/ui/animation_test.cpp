// The palm tree animation: its frames, the picture on top after each tick, and the
// hint. Timers are driven through their handlers, never waited for.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "support/recording_boxes.h"
#include "support/stub_midi.h"
#include "ui/animation_frames.h"
#include "ui/form1.h"

namespace strandlink::ui {
namespace {

class AnimationTest : public ::testing::Test {
 protected:
  AnimationTest() : form(midi, &boxes) { QApplication::setQuitOnLastWindowClosed(false); }
  QLabel* picture(int i) { return form.findChild<QLabel*>(QStringLiteral("Picture1_%1").arg(i)); }
  // The picture a viewer sees: the topmost one at the frame's centre.
  int onTop() {
    QWidget* top = form.findChild<QWidget*>(QStringLiteral("frmAnimation"))->childAt(picture(7)->geometry().center());
    for (int i = 0; i < kAnimationFrames; ++i) if (top == picture(i)) return i;
    return -1;
  }

  test::StubMidiService midi;
  test::RecordingBoxes boxes;
  Form1 form;
};

TEST_F(AnimationTest, EachPictureShowsItsOwnFrame) {
  for (int i = 0; i < kAnimationFrames; ++i) {
    const QImage f = animationFrame(i);
    EXPECT_EQ(f.size(), QSize(100, 150)) << i;
    EXPECT_FALSE(f.hasAlphaChannel()) << i;
    for (int j = 0; j < i; ++j) EXPECT_NE(f, animationFrame(j)) << i << " and " << j;
    ASSERT_NE(picture(i), nullptr) << i;
    EXPECT_EQ(picture(i)->pixmap().toImage().convertToFormat(QImage::Format_RGB32), f) << i;
  }
}

TEST_F(AnimationTest, TicksBringTheFramesToTheTopInTurnAndStopWhileRunning) {
  form.Form_Load();
  QList<int> seen{onTop()};
  for (int tick = 0; tick < 10; ++tick) form.tmrAnimation_Timer(), seen << onTop();
  EXPECT_EQ(seen, QList<int>({7, 0, 1, 2, 3, 4, 5, 6, 7, 0, 1}));
  // A session stops the animation where it is (its timer is form1_test's); Stop goes on.
  form.enterRunning();
  EXPECT_EQ(onTop(), 1);
  form.enterIdle();
  form.tmrAnimation_Timer();
  EXPECT_EQ(onTop(), 2);
}

// The rest of the hint's life (its place, its timer, the pointer on it) is in form1_test.
TEST_F(AnimationTest, HintShowsAboveEverythingAndAgainOnlyOnAMoveAfterASession) {
  form.Form_Load();
  auto* hint = form.findChild<QLineEdit*>(QStringLiteral("txtPalm"));
  QTest::mouseMove(picture(7), QPoint(30, 40));
  ASSERT_TRUE(hint->isVisibleTo(&form));
  EXPECT_EQ(form.findChild<QWidget*>(QStringLiteral("client"))->childAt(hint->geometry().center()), hint);
  form.enterRunning();
  QTest::mouseMove(picture(7), QPoint(31, 40));
  EXPECT_FALSE(hint->isVisibleTo(&form));
  form.enterIdle();
  EXPECT_FALSE(hint->isVisibleTo(&form));
  QTest::mouseMove(picture(7), QPoint(32, 41));
  EXPECT_TRUE(hint->isVisibleTo(&form));
}

}  // namespace
}  // namespace strandlink::ui
