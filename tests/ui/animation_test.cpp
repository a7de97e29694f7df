// The palm tree animation: its eight drawn frames, the pictures of the main
// window that show them, which one is on top after each tick of tmrAnimation,
// and the hint and the click while idle and while a session runs. Timers are
// driven through their handlers, never waited for.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

#include "support/recording_boxes.h"
#include "support/stub_midi.h"
#include "ui/animation_frames.h"
#include "ui/form1.h"

namespace strandlink::ui {
namespace {

bool isLeaf(QRgb c) { return qGreen(c) > qRed(c) + 40 && qGreen(c) > qBlue(c) + 20; }

// Mean x of the fronds' pixels: where the crown is.
double crownX(const QImage& frame) {
  double sum = 0;
  int n = 0;
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      if (isLeaf(frame.pixel(x, y))) sum += x, ++n;
    }
  }
  return n > 0 ? sum / n : -1;
}

TEST(AnimationFramesTest, EightDistinctOpaqueFramesOfTheirSize) {
  std::vector<QImage> frames;
  for (int i = 0; i < kAnimationFrames; ++i) frames.push_back(animationFrame(i));
  for (int i = 0; i < kAnimationFrames; ++i) {
    const QImage& f = frames[std::size_t(i)];
    EXPECT_EQ(f.size(), QSize(100, 150)) << i;
    EXPECT_FALSE(f.hasAlphaChannel()) << i;
    EXPECT_EQ(f, animationFrame(i)) << "drawn the same every time: " << i;
    for (int j = 0; j < i; ++j) EXPECT_NE(f, frames[std::size_t(j)]) << i << " and " << j;
  }
}

TEST(AnimationFramesTest, TheCrownSwaysOnceRightAndLeftPerCycleWithoutJumps) {
  std::vector<double> x;
  for (int i = 0; i < kAnimationFrames; ++i) x.push_back(crownX(animationFrame(i)));
  const auto [lo, hi] = std::minmax_element(x.begin(), x.end());
  const double reach = *hi - *lo;
  EXPECT_GT(reach, 10) << "the crown hardly moves";
  // Round the cycle, 7 back to 0 included: small steps, and the direction turns
  // exactly twice (once at each side).
  int turns = 0;
  for (int i = 0; i < kAnimationFrames; ++i) {
    const double step = x[std::size_t((i + 1) % kAnimationFrames)] - x[std::size_t(i)];
    const double next = x[std::size_t((i + 2) % kAnimationFrames)] - x[std::size_t((i + 1) % kAnimationFrames)];
    EXPECT_LT(std::abs(step), 0.75 * reach) << "jump after frame " << i;
    if ((step > 0) != (next > 0)) ++turns;
  }
  EXPECT_EQ(turns, 2);
}

class AnimationTest : public ::testing::Test {
 protected:
  AnimationTest() : form(midi, &boxes) { QApplication::setQuitOnLastWindowClosed(false); }

  QLabel* picture(int i) {
    return form.findChild<QLabel*>(QStringLiteral("Picture1_%1").arg(i));
  }
  // The picture a viewer sees: the topmost visible one at the frame's centre.
  int onTop() {
    QWidget* frame = form.findChild<QWidget*>(QStringLiteral("frmAnimation"));
    QWidget* top = frame->childAt(picture(7)->geometry().center());
    for (int i = 0; i < kAnimationFrames; ++i) {
      if (top == picture(i)) return i;
    }
    return -1;
  }

  test::StubMidiService midi;
  test::RecordingBoxes boxes;
  Form1 form;
};

TEST_F(AnimationTest, EachPictureHoldsItsFrameAndTheLastOneShowsAtStart) {
  for (int i = 0; i < kAnimationFrames; ++i) {
    ASSERT_NE(picture(i), nullptr) << i;
    const QImage shown = picture(i)->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, animationFrame(i)) << i;
  }
  form.Form_Load();
  EXPECT_EQ(onTop(), 7);
}

TEST_F(AnimationTest, TicksBringTheFramesToTheTopInTurnAndStopWhileRunning) {
  form.Form_Load();
  QList<int> seen;
  for (int tick = 0; tick < 10; ++tick) {
    form.tmrAnimation_Timer();
    seen << onTop();
  }
  EXPECT_EQ(seen, QList<int>({0, 1, 2, 3, 4, 5, 6, 7, 0, 1}));

  // A session stops the animation where it is; Stop goes on with the next frame.
  auto* timer = form.findChild<QTimer*>(QStringLiteral("tmrAnimation"));
  form.enterRunning();
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(onTop(), 1);
  form.enterIdle();
  EXPECT_TRUE(timer->isActive());
  form.tmrAnimation_Timer();
  EXPECT_EQ(onTop(), 2);
}

// The rest of the hint's life (the shield tick, the pointer on the hint) is in form1_test.
TEST_F(AnimationTest, HintShowsAboveEverythingAndAgainOnlyOnAMoveAfterASession) {
  form.Form_Load();
  auto* hint = form.findChild<QLineEdit*>(QStringLiteral("txtPalm"));
  QTest::mouseMove(picture(7), QPoint(30, 40));
  ASSERT_TRUE(hint->isVisibleTo(&form));
  EXPECT_EQ(form.findChild<QWidget*>(QStringLiteral("client"))->childAt(hint->geometry().center()), hint);

  form.enterRunning();
  QTest::mouseMove(picture(7), QPoint(31, 40));
  EXPECT_FALSE(hint->isVisibleTo(&form));
  EXPECT_FALSE(form.findChild<QTimer*>(QStringLiteral("tmrShield"))->isActive());
  form.enterIdle();
  EXPECT_FALSE(hint->isVisibleTo(&form));
  QTest::mouseMove(picture(7), QPoint(32, 41));
  EXPECT_TRUE(hint->isVisibleTo(&form));
}

}  // namespace
}  // namespace strandlink::ui
