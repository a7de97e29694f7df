// The Help menu, the information window and the about box on the offscreen platform,
// and the shell; the desktop shell is checked through Qt's URL handlers, so no browser starts.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
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

class HelpWindowsTest : public ::testing::Test {
 protected:
  HelpWindowsTest() : form(midi, &boxes) { QApplication::setQuitOnLastWindowClosed(false); form.setShell(shell); }
  ~HelpWindowsTest() override { runDeferredDeletes(); }

  template <class T = QWidget>
  static T* child(QWidget* window, const char* name) {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // The files of the requests since the last call; each must be a proper "Open" for owner.
  QStringList openedFiles(QWidget* owner) {
    QStringList files;
    for (const ShellRequest& r : shell->requests) {
      files << r.file;
      EXPECT_TRUE(r.owner == owner && r.verb == "Open" && r.parameters.isEmpty() && r.showMode == 1 &&
                  r.directory == QCoreApplication::applicationDirPath()) << r.file.toStdString();
    }
    shell->requests.clear();
    return files;
  }

  test::StubMidiService midi;
  test::RecordingBoxes boxes;
  std::shared_ptr<RecordingShell> shell = std::make_shared<RecordingShell>();
  Form1 form;
};

TEST_F(HelpWindowsTest, MenuCommandsAndClickTargetsOpenTheirAddressesAndTheAnimationOnlyWhileIdle) {
  form.findChild<QAction*>(QStringLiteral("mnuReadme"))->trigger();
  form.findChild<QAction*>(QStringLiteral("mnuWWW"))->trigger();
  EXPECT_EQ(openedFiles(&form), QStringList({userGuidePath(), productWebsite()}));
  EXPECT_TRUE(form.infoWindow() == nullptr && form.aboutWindow() == nullptr);  // neither opens a window of ours

  QWidget* palm = form.findChild<QWidget*>(QStringLiteral("Picture1_7"));
  form.enterRunning();
  QTest::mouseClick(palm, Qt::LeftButton);
  EXPECT_EQ(form.infoWindow(), nullptr);
  form.enterIdle();
  QTest::mouseClick(palm, Qt::LeftButton);
  frmInfo* info = form.infoWindow();
  ASSERT_NE(info, nullptr);
  for (const char* name : {"Image1_0", "Image1_1", "Text2_0", "Text2_1", "Label3"})
    QTest::mouseClick(child(info, name), Qt::LeftButton);
  const QString site = productWebsite();
  EXPECT_EQ(openedFiles(info), QStringList({site, site, site, site, artistWebsite()}));
  // Not clicks: another button, or a press let go outside the control.
  QWidget* mail = child(info, "Text2_0");
  QTest::mouseClick(mail, Qt::RightButton);
  QTest::mousePress(mail, Qt::LeftButton);
  QTest::mouseRelease(mail, Qt::LeftButton, {}, QPoint(mail->width() + 20, mail->height() / 2));
  EXPECT_TRUE(shell->requests.empty());
}

TEST_F(HelpWindowsTest, EachWindowShowsItsTextsUncutExistsOnceAndOkClosesOnlyItsOwn) {
  form.show();
  form.mnuInfo_Click();
  QPointer<frmInfo> info = form.infoWindow();
  form.mnuAbout_Click();
  QPointer<frmAbout> about = form.aboutWindow();
  ASSERT_TRUE(info && about);
  // Their captions, a representative place, their texts, every label and the e-mail box uncut.
  EXPECT_EQ(info->windowTitle() + "|" + about->windowTitle(), "Strandlink Information|About Strandlink");
  EXPECT_EQ(info->size(), QSize(552, 444));
  EXPECT_EQ(child(about, "cmdOK")->geometry(), QRect(152, 64, 89, 41));
  EXPECT_EQ(child<QPlainTextEdit>(info, "Text1")->toPlainText(), QString(infoText()).replace("\r\n", "\n"));
  EXPECT_EQ(child<QLineEdit>(info, "Text2_1")->text(), productWebsite() + "\r\n");
  EXPECT_EQ(child<QLabel>(about, "Label3")->text(), "Strandlink 1.0");
  EXPECT_EQ(child<QPushButton>(info, "Command1")->text() + child<QPushButton>(about, "cmdOK")->text(), "&OK&OK");
  EXPECT_EQ(about->focusWidget(), child(about, "cmdOK"));
  for (QLabel* l : info->findChildren<QLabel*>() + about->findChildren<QLabel*>()) {
    const bool whole = !l->text().isEmpty() && l->fontMetrics().horizontalAdvance(l->text()) <= l->width();
    EXPECT_TRUE(whole || !l->pixmap().isNull()) << l->objectName().toStdString() << ": " << l->text().toStdString();
  }
  auto* mail = child<QLineEdit>(info, "Text2_0");
  EXPECT_EQ(mail->text(), makerEmail());
  EXPECT_LE(mail->fontMetrics().horizontalAdvance(mail->text()), mail->width() - 8);
  // Asked again: the same window, restored and brought to the front.
  QApplication::setActiveWindow(about);
  info->showMinimized();
  form.mnuInfo_Click();
  EXPECT_TRUE(form.infoWindow() == info && !info->isMinimized() && QTest::qWaitForWindowActive(info));
  form.mnuAbout_Click();
  EXPECT_TRUE(form.aboutWindow() == about && QTest::qWaitForWindowActive(about));
  int shown = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    shown += w->isVisible() && (qobject_cast<frmInfo*>(w) || qobject_cast<frmAbout*>(w));
  EXPECT_EQ(shown, 2) << "no other information window or about box";

  child<QPushButton>(info, "Command1")->click();
  // Asked again before the closed one is gone: a new window, not the closing one.
  form.mnuInfo_Click();
  QPointer<frmInfo> second = form.infoWindow();
  ASSERT_TRUE(second && second.data() != info.data());
  runDeferredDeletes();
  EXPECT_TRUE(info.isNull() && second->isVisible() && about && about->isVisible() && form.isVisible());
  child<QPushButton>(about, "cmdOK")->click();
  runDeferredDeletes();
  EXPECT_TRUE(about.isNull() && form.aboutWindow() == nullptr);
  second->close();  // the close box unloads as OK does
  runDeferredDeletes();
  EXPECT_TRUE(second.isNull() && form.infoWindow() == nullptr);
  EXPECT_TRUE(form.isVisible() && boxes.boxes.isEmpty());
}

// Modeless and without an owner: the main window stays usable beside them, and they end with it.
TEST_F(HelpWindowsTest, WindowsStandBesideTheMainWindowAndEndWithIt) {
  QPointer<QWidget> info, about;
  {
    Form1 other(midi, &boxes);
    other.mnuInfo_Click();
    other.mnuAbout_Click();
    info = other.infoWindow();
    about = other.aboutWindow();
    ASSERT_TRUE(info && about);
    EXPECT_TRUE(info->parentWidget() == nullptr && info->windowModality() == Qt::NonModal);
    EXPECT_TRUE(about->parentWidget() == nullptr && about->windowModality() == Qt::NonModal);
  }
  EXPECT_TRUE(info.isNull() && about.isNull());
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
  for (const QString& file : {guide, QStringLiteral("https://example.org/sl"), dir.filePath("missing.html"), QString()})
    ShellOpen(*shell, nullptr, file);
  for (const char* scheme : {"file", "https"}) QDesktopServices::unsetUrlHandler(scheme);
  EXPECT_EQ(catcher.urls, QList<QUrl>({QUrl::fromLocalFile(guide), QUrl(QStringLiteral("https://example.org/sl"))}));
}

}  // namespace
}  // namespace strandlink::ui

#include "help_windows_test.moc"
