// The Help menu, the information window and the about box on the offscreen
// platform: what each command and click hands to the shell, one window of each
// kind, OK closing only its own window, and the windows' contents. The shell is a
// recorder; the desktop shell itself is checked through Qt's URL handlers, so no
// browser is started.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include "support/qt_printers.h"
#include "support/recording_boxes.h"
#include "support/stub_midi.h"
#include "ui/form1.h"
#include "ui/frm_about.h"
#include "ui/frm_info.h"
#include "ui/help_texts.h"
#include "ui/shell.h"

namespace strandlink::ui {
namespace {

// Deletion of a closed window waits for the event loop.
void runDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

template <class W>
int openWindowsOf() {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (qobject_cast<W*>(w) != nullptr && w->isVisible()) ++n;
  }
  return n;
}

class HelpWindowsTest : public ::testing::Test {
 protected:
  HelpWindowsTest() : form(midi, &boxes) {
    QApplication::setQuitOnLastWindowClosed(false);
    form.setShell(shell);
  }
  ~HelpWindowsTest() override { runDeferredDeletes(); }

  frmInfo* openInfo() {
    form.mnuInfo_Click();
    EXPECT_NE(form.infoWindow(), nullptr);
    return form.infoWindow();
  }
  template <class T>
  static T* child(QWidget* window, const char* name) {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // Every request so far, reduced to its file; each must be a proper "Open".
  QStringList openedFiles(QWidget* owner) const {
    QStringList files;
    for (const ShellRequest& r : shell->requests) {
      EXPECT_EQ(r.owner, owner);
      EXPECT_EQ(r.verb, "Open");
      EXPECT_TRUE(r.parameters.isEmpty());
      EXPECT_EQ(r.directory, QCoreApplication::applicationDirPath());
      EXPECT_EQ(r.showMode, 1);
      files << r.file;
    }
    return files;
  }

  test::StubMidiService midi;
  test::RecordingBoxes boxes;
  std::shared_ptr<RecordingShell> shell = std::make_shared<RecordingShell>();
  Form1 form;
};

TEST_F(HelpWindowsTest, MenuCommandsOpenTheGuideAndTheWebPage) {
  form.findChild<QAction*>(QStringLiteral("mnuReadme"))->trigger();
  form.findChild<QAction*>(QStringLiteral("mnuWWW"))->trigger();
  EXPECT_EQ(openedFiles(&form), QStringList({userGuidePath(), productWebsite()}));
  EXPECT_TRUE(boxes.boxes.isEmpty());
  // Neither command opens a window of ours.
  EXPECT_EQ(openWindowsOf<frmInfo>() + openWindowsOf<frmAbout>(), 0);

  // Built without a web page of its own, the product's page is the guide.
  if (QStringLiteral(STRANDLINK_WEBSITE).isEmpty()) {
    EXPECT_EQ(productWebsite(), QUrl::fromLocalFile(userGuidePath()).toString());
  } else {
    EXPECT_EQ(productWebsite(), QStringLiteral(STRANDLINK_WEBSITE));
  }
}

TEST_F(HelpWindowsTest, EveryClickTargetOfTheInformationWindowOpensItsAddress) {
  frmInfo* info = openInfo();
  for (const char* name : {"Image1_0", "Image1_1", "Text2_0", "Text2_1"}) {
    QTest::mouseClick(child<QWidget>(info, name), Qt::LeftButton);
  }
  QTest::mouseClick(child<QWidget>(info, "Label3"), Qt::LeftButton);
  EXPECT_EQ(openedFiles(info), QStringList({productWebsite(), productWebsite(), productWebsite(),
                                            productWebsite(), artistWebsite()}));

  // Not clicks: another button, or a press that is let go outside the control.
  shell->requests.clear();
  QWidget* mail = child<QWidget>(info, "Text2_0");
  QTest::mouseClick(mail, Qt::RightButton);
  QTest::mousePress(mail, Qt::LeftButton);
  QTest::mouseRelease(mail, Qt::LeftButton, {}, QPoint(mail->width() + 20, mail->height() / 2));
  QTest::mouseClick(child<QWidget>(info, "Text1"), Qt::LeftButton);
  EXPECT_TRUE(shell->requests.empty());
}

TEST_F(HelpWindowsTest, ClickOnTheAnimationOpensTheInformationWindowOnlyWhileIdle) {
  form.Form_Load();
  form.enterRunning();
  QTest::mouseClick(form.findChild<QWidget*>(QStringLiteral("Picture1_7")), Qt::LeftButton);
  EXPECT_EQ(form.infoWindow(), nullptr);
  form.enterIdle();
  QTest::mouseClick(form.findChild<QWidget*>(QStringLiteral("Picture1_7")), Qt::LeftButton);
  EXPECT_NE(form.infoWindow(), nullptr);
  EXPECT_EQ(openWindowsOf<frmInfo>(), 1);
}

TEST_F(HelpWindowsTest, EachWindowExistsOnceAndComesToTheFrontWhenAskedAgain) {
  frmInfo* info = openInfo();
  form.mnuAbout_Click();
  frmAbout* about = form.aboutWindow();
  ASSERT_NE(about, nullptr);
  QApplication::setActiveWindow(about);
  ASSERT_EQ(QApplication::activeWindow(), about);

  form.mnuInfo_Click();
  EXPECT_EQ(form.infoWindow(), info);
  EXPECT_EQ(openWindowsOf<frmInfo>(), 1);
  EXPECT_TRUE(QTest::qWaitForWindowActive(info));

  info->showMinimized();
  form.mnuInfo_Click();
  EXPECT_FALSE(info->isMinimized());

  form.mnuAbout_Click();
  EXPECT_EQ(form.aboutWindow(), about);
  EXPECT_EQ(openWindowsOf<frmAbout>(), 1);
  EXPECT_TRUE(QTest::qWaitForWindowActive(about));
}

TEST_F(HelpWindowsTest, OkClosesOnlyItsOwnWindowAndTheNextCommandBuildsItAfresh) {
  form.show();
  QPointer<frmInfo> info = openInfo();
  form.mnuAbout_Click();
  QPointer<frmAbout> about = form.aboutWindow();

  child<QPushButton>(info, "Command1")->click();
  // Asked again before the closed one is gone: a new window, not the closing one.
  form.mnuInfo_Click();
  QPointer<frmInfo> second = form.infoWindow();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second.data(), info.data());
  runDeferredDeletes();
  EXPECT_TRUE(info.isNull());
  EXPECT_TRUE(second && second->isVisible());
  EXPECT_TRUE(about && about->isVisible());
  EXPECT_TRUE(form.isVisible());

  child<QPushButton>(about, "cmdOK")->click();
  runDeferredDeletes();
  EXPECT_TRUE(about.isNull());
  EXPECT_EQ(form.aboutWindow(), nullptr);
  EXPECT_TRUE(second && second->isVisible());

  // The close box unloads as OK does.
  second->close();
  runDeferredDeletes();
  EXPECT_TRUE(second.isNull());
  EXPECT_EQ(form.infoWindow(), nullptr);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(HelpWindowsTest, WindowsEndWithTheMainWindow) {
  QPointer<frmInfo> info;
  QPointer<frmAbout> about;
  {
    test::StubMidiService otherMidi;
    test::RecordingBoxes otherBoxes;
    Form1 other(otherMidi, &otherBoxes);
    other.mnuInfo_Click();
    other.mnuAbout_Click();
    info = other.infoWindow();
    about = other.aboutWindow();
    ASSERT_TRUE(info && about);
    // Modeless and without an owner: the main window stays usable beside them.
    EXPECT_EQ(info->parentWidget(), nullptr);
    EXPECT_EQ(about->parentWidget(), nullptr);
    EXPECT_EQ(info->windowModality(), Qt::NonModal);
    EXPECT_EQ(about->windowModality(), Qt::NonModal);
  }
  EXPECT_TRUE(info.isNull());
  EXPECT_TRUE(about.isNull());
}

TEST_F(HelpWindowsTest, InformationWindowHasItsCaptionSizeControlsAndTabOrder) {
  frmInfo* info = openInfo();
  EXPECT_EQ(info->windowTitle(), "Strandlink Information");
  EXPECT_FALSE(info->windowIcon().isNull());
  EXPECT_EQ(info->size(), QSize(552, 444));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((info->geometry().center() - screen.center()).manhattanLength(), 8);

  // Places inside Frame1, which sits at 8, 4.
  const std::pair<const char*, QRect> places[] = {
      {"Frame1", {8, 4, 537, 437}},    {"Text1", {12, 16, 513, 341}},  {"Command1", {12, 376, 77, 45}},
      {"Image1_1", {112, 360, 36, 36}}, {"Image1_0", {112, 400, 35, 31}}, {"Text2_1", {156, 364, 177, 25}},
      {"Text2_0", {156, 408, 105, 17}}, {"Label3", {360, 364, 161, 17}},  {"Frame2", {408, 384, 125, 49}}};
  for (const auto& [name, rect] : places) EXPECT_EQ(child<QWidget>(info, name)->geometry(), rect) << name;

  auto* text = child<QPlainTextEdit>(info, "Text1");
  EXPECT_TRUE(text->isReadOnly());
  EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(text->toPlainText(), QString(infoText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  EXPECT_EQ(child<QPushButton>(info, "Command1")->text(), "&OK");
  auto* web = child<QLineEdit>(info, "Text2_1");
  auto* mail = child<QLineEdit>(info, "Text2_0");
  EXPECT_EQ(web->text(), productWebsite() + "\r\n");
  EXPECT_EQ(mail->text(), makerEmail());
  // Nothing is cut: the e-mail box and every label show their whole text.
  EXPECT_LE(QFontMetrics(mail->font()).horizontalAdvance(mail->text()), mail->width() - 8);
  for (const char* label : {"Label1", "Label2", "Label3"}) {
    auto* l = child<QLabel>(info, label);
    EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width()) << label;
  }
  for (QLineEdit* t : {web, mail}) {
    EXPECT_TRUE(t->isReadOnly());
    EXPECT_EQ(t->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(t->palette().color(QPalette::Base), t->palette().color(QPalette::Button));
  }
  EXPECT_FALSE(child<QLabel>(info, "Label3")->text().isEmpty());
  EXPECT_FALSE(child<QLabel>(info, "Label1")->text().isEmpty());
  EXPECT_FALSE(child<QLabel>(info, "Label2")->text().isEmpty());

  QWidget* w = text;
  QStringList chain;
  for (int i = 0; i < 4; ++i, w = w->nextInFocusChain()) {
    while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
    chain << w->objectName();
  }
  EXPECT_EQ(chain, QStringList({"Text1", "Command1", "Text2_0", "Text2_1"}));
}

TEST_F(HelpWindowsTest, AboutBoxHasItsCaptionSizeAndFocusedOk) {
  form.mnuAbout_Click();
  frmAbout* about = form.aboutWindow();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->windowTitle(), "About Strandlink");
  EXPECT_FALSE(about->windowIcon().isNull());
  EXPECT_EQ(about->size(), QSize(259, 118));
  auto* name = child<QLabel>(about, "Label3");
  EXPECT_EQ(name->text(), "Strandlink 1.0");
  EXPECT_EQ(name->geometry(), QRect(16, 16, 225, 41));
  EXPECT_GE(name->font().pointSizeF(), 12.5);
  EXPECT_TRUE(name->alignment() & Qt::AlignHCenter);
  auto* ok = child<QPushButton>(about, "cmdOK");
  EXPECT_EQ(ok->text(), "&OK");
  EXPECT_EQ(ok->geometry(), QRect(152, 64, 89, 41));
  EXPECT_EQ(about->focusWidget(), ok);
  EXPECT_EQ(child<QWidget>(about, "Frame2")->geometry(), QRect(16, 56, 117, 49));
  // Every notice line is drawn whole in its label.
  for (const char* label : {"Label1", "Label2"}) {
    auto* l = child<QLabel>(about, label);
    EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width()) << label;
  }
}

TEST(HelpTextsTest, GuideIsFoundBesideTheProgramThenInTheInstalledPlace) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString bin = root.filePath(QStringLiteral("bin"));
  ASSERT_TRUE(QDir().mkpath(bin));
  const QString beside = bin + QStringLiteral("/strandlink-guide.html");
  const QString installed =
      QDir::cleanPath(bin + u'/' + installedGuideDirectory() + QStringLiteral("/strandlink-guide.html"));
  ASSERT_TRUE(installed.startsWith(root.path())) << installed.toStdString();

  // Nowhere: the place beside the program, which opens nothing.
  EXPECT_EQ(userGuidePathFor(bin), beside);
  ASSERT_TRUE(QDir().mkpath(QFileInfo(installed).path()));
  QFile(installed).open(QIODevice::WriteOnly);
  EXPECT_EQ(userGuidePathFor(bin), installed);
  QFile(beside).open(QIODevice::WriteOnly);
  EXPECT_EQ(userGuidePathFor(bin), beside);
}

TEST(ShellTest, TargetsKeepAddressesAndTurnPathsIntoFileAddresses) {
  EXPECT_EQ(shellTarget(QStringLiteral("https://example.org/a?b#c"), "/x"), "https://example.org/a?b#c");
  EXPECT_EQ(shellTarget(QStringLiteral("/opt/strandlink/guide.html"), "/x"), "file:///opt/strandlink/guide.html");
  EXPECT_EQ(shellTarget(QStringLiteral("guide.html"), "/opt/strandlink"), "file:///opt/strandlink/guide.html");
  EXPECT_EQ(shellTarget(QStringLiteral("../doc/a b#1.html"), "/opt/bin"),
            QUrl::fromLocalFile(QStringLiteral("/opt/doc/a b#1.html")).toString());
  EXPECT_EQ(shellTarget(QStringLiteral("  "), "/x"), "");
}

// Stands in for the desktop: Qt hands it what openUrl would give the browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls << url; }
};

TEST(ShellTest, DesktopShellHandsOnWhatExistsAndDropsTheRestQuietly) {
  UrlCatcher catcher;
  for (const char* scheme : {"file", "https"}) QDesktopServices::setUrlHandler(scheme, &catcher, "open");
  QTemporaryDir dir;
  const QString guide = dir.filePath(QStringLiteral("guide.html"));
  QFile(guide).open(QIODevice::WriteOnly);

  const auto shell = makeDesktopShell();
  ShellOpen(*shell, nullptr, guide);
  ShellOpen(*shell, nullptr, QStringLiteral("https://example.org/strandlink"));
  ShellOpen(*shell, nullptr, dir.filePath(QStringLiteral("missing.html")));
  ShellOpen(*shell, nullptr, QString());
  for (const char* scheme : {"file", "https"}) QDesktopServices::unsetUrlHandler(scheme);

  EXPECT_EQ(catcher.urls, QList<QUrl>({QUrl::fromLocalFile(guide), QUrl(QStringLiteral("https://example.org/strandlink"))}));
}

}  // namespace
}  // namespace strandlink::ui

#include "help_windows_test.moc"
