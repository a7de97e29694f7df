// The Help menu, the information window and the about box on the offscreen platform,
// and the shell; the desktop shell is checked through Qt's URL handlers, so no browser starts.
#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QPointer>
#include <QTest>
#include <QUrl>

#include <utility>

#include "ui/about_window.h"
#include "ui/help_texts.h"
#include "ui/info_window.h"
#include "window_fixture.h"

namespace strandlink::ui {
namespace {

// Deletion of a closed window waits for the event loop.
void runDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

TEST(HelpWindows, MenuCommandsAndClickTargetsOpenTheirAddressesAndSayWhereWhenNothingCan) {
  test::WindowUnderTest t(test::kNoDevices, test::kNoDevices);
  // The files of the requests so far; each must come from owner, relative to the program.
  const auto opened = [&](QWidget* owner) {
    QStringList files;
    for (const ShellRequest& r : std::exchange(t.shell->requests, {})) {
      files << r.file;
      EXPECT_TRUE(r.owner == owner && r.directory == QCoreApplication::applicationDirPath()) << r.file;
    }
    return files;
  };
  t.get<QAction>("readmeAction")->trigger();
  t.get<QAction>("websiteAction")->trigger();
  EXPECT_EQ(opened(&t.window), QStringList({userGuidePath(), productWebsite()}));
  EXPECT_TRUE(t.window.infoWindow() == nullptr && t.window.aboutWindow() == nullptr && t.boxes.boxes.isEmpty());
  t.shell->answer = false;  // no browser, no launcher
  t.get<QAction>("readmeAction")->trigger();
  EXPECT_EQ(t.boxes.texts(), QStringList{"Could not open the user guide. It is here: " + userGuidePath()});
  t.shell->answer = true;
  t.shell->requests.clear();

  t.get<QAction>("infoAction")->trigger();
  InfoWindow* info = t.window.infoWindow();
  ASSERT_NE(info, nullptr);
  for (const char* name : {"globe", "websiteBox", "credit"})
    QTest::mouseClick(info->findChild<QWidget*>(name), Qt::LeftButton);
  const QString site = productWebsite();
  EXPECT_EQ(opened(info), QStringList({site, site, artistWebsite()}));
  // Not clicks: another button, or a press let go outside the control.
  auto* address = info->findChild<QWidget*>("websiteBox");
  QTest::mouseClick(address, Qt::RightButton);
  QTest::mousePress(address, Qt::LeftButton);
  QTest::mouseRelease(address, Qt::LeftButton, {}, QPoint(address->width() + 20, address->height() / 2));
  EXPECT_TRUE(t.shell->requests.empty());
  QTest::keyClick(info->findChild<QWidget*>("infoText"), Qt::Key_Escape);
  EXPECT_EQ(t.window.infoWindow(), nullptr);
}

// Modeless and without an owner, so the main window stays usable beside them.
TEST(HelpWindows, EachOpensOnceOkClosesOnlyItsOwnAndTheyEndWithTheMainWindow) {
  auto t = std::make_unique<test::WindowUnderTest>(std::vector<std::string>{}, std::vector<std::string>{});
  const auto ask = [&](const char* action) { t->get<QAction>(action)->trigger(); };
  t->window.show();
  ask("infoAction");
  ask("aboutAction");
  QPointer<InfoWindow> info = t->window.infoWindow();
  QPointer<AboutWindow> about = t->window.aboutWindow();
  ASSERT_TRUE(info && about);
  EXPECT_EQ(info->windowTitle() + "|" + about->windowTitle(), "Strandlink Information|About Strandlink");
  info->showMinimized();
  ask("infoAction");  // asked again: the same window, shown normally
  ask("aboutAction");
  EXPECT_TRUE(t->window.infoWindow() == info && t->window.aboutWindow() == about && !info->isMinimized());

  info->findChild<QPushButton*>("okButton")->click();
  ask("infoAction");  // before the closed one is gone: a new window, not the closing one
  QPointer<InfoWindow> second = t->window.infoWindow();
  ASSERT_TRUE(second && second.data() != info.data());
  runDeferredDeletes();
  EXPECT_TRUE(info.isNull() && second->isVisible() && about->isVisible() && t->window.isVisible());
  QTest::keyClick(about->findChild<QPushButton*>("okButton"), Qt::Key_Escape);  // as OK does
  runDeferredDeletes();
  EXPECT_TRUE(about.isNull() && t->window.aboutWindow() == nullptr && t->window.isVisible());
  t->window.move(150, 120);
  ask("aboutAction");  // over the main window, wherever that is
  about = t->window.aboutWindow();
  EXPECT_LT((about->geometry().center() - t->window.geometry().center()).manhattanLength(), 20);
  t.reset();
  EXPECT_TRUE(second.isNull() && about.isNull());
}

// Stands in for the desktop: Qt hands it what openUrl would give the browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls << url; }
};

TEST(Shell, DesktopShellHandsOnWhatExistsAndAnswersFalseForTheRest) {
  UrlCatcher catcher;
  for (const char* scheme : {"file", "https"}) QDesktopServices::setUrlHandler(scheme, &catcher, "open");
  QTemporaryDir dir;
  const QString guide = dir.filePath(QStringLiteral("guide.html"));
  QFile(guide).open(QIODevice::WriteOnly);
  const auto shell = makeDesktopShell();
  QList<bool> taken;
  for (const QString& file : {guide, QStringLiteral("https://example.org/sl"), dir.filePath("missing.html"), QString()})
    taken << ShellOpen(*shell, nullptr, file);
  for (const char* scheme : {"file", "https"}) QDesktopServices::unsetUrlHandler(scheme);
  EXPECT_EQ(catcher.urls, QList<QUrl>({QUrl::fromLocalFile(guide), QUrl(QStringLiteral("https://example.org/sl"))}));
  EXPECT_EQ(taken, QList<bool>({true, true, false, false}));
}

}  // namespace
}  // namespace strandlink::ui

#include "help_windows_test.moc"
