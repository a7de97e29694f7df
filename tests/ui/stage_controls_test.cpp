// The window's panic button, peer-only box and link figures.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include "settings/preferences.h"
#include "support/recording_boxes.h"
#include "support/stub_midi.h"
#include "ui/form1.h"

using namespace strandlink;

TEST(StageControls, PanicOnlyWhileRunningPeerOnlyRememberedLinkFiguresAsTooltip) {
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
  settings::savePeerFilter(true);

  test::StubMidiService midi;
  test::RecordingBoxes boxes;
  ui::Form1 form(midi, &boxes);
  form.Form_Load();
  auto* panic = form.findChild<QPushButton*>("cmdPanic");
  auto* peerOnly = form.findChild<QCheckBox*>("chkPeerFilter");
  ASSERT_TRUE(panic && peerOnly);

  EXPECT_TRUE(peerOnly->isChecked());  // the remembered choice
  EXPECT_TRUE(form.session().peerFilter);
  peerOnly->click();
  EXPECT_FALSE(form.session().peerFilter);
  EXPECT_FALSE(settings::loadPeerFilter());

  EXPECT_FALSE(panic->isEnabled());
  form.enterRunning();
  EXPECT_TRUE(panic->isEnabled());
  form.enterIdle();
  EXPECT_FALSE(panic->isEnabled());

  form.setLinkQuality("Link: rtt 0.4 ms (median 0.5 ms), jitter 0.1 ms, lost 0%");
  EXPECT_EQ(form.findChild<QLabel*>("lblConnectStatus")->toolTip(),
            "Link: rtt 0.4 ms (median 0.5 ms), jitter 0.1 ms, lost 0%");
  form.setQuitProgram([] {});
}
