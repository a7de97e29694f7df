// The main window's Help menu: the user guide, the information window, the web
// page and the about box. What the desktop cannot open is told with its place.
#include <QDir>

#include "ui/about_window.h"
#include "ui/help_texts.h"
#include "ui/info_window.h"
#include "ui/main_window.h"
#include "ui/shell.h"

namespace strandlink::ui {

namespace {

// A closed help window is hidden at once and deleted a moment later; a Help
// command in between gets a new one.
template <class W>
W* openWindow(QPointer<W>& window, const std::function<W*()>& make) {
  if (window && window->isHidden()) {
    window->deleteLater();
    window = nullptr;
  }
  if (!window) window = make();
  window->isMinimized() ? window->showNormal() : window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace

// Without a browser the guide is still on disk: say where, so it can be read anyway.
void MainWindow::openGuide() {
  const QString guide = userGuidePath();
  if (ShellOpen(*shell_, this, guide)) return;
  link_.reporter().report(
      report::BoxIcon::Information, report::kAppTitle,
      QStringLiteral("Could not open the user guide. It is here: %1").arg(QDir::toNativeSeparators(guide)));
}

void MainWindow::openInfo() {
  openWindow<InfoWindow>(info_, [this] { return new InfoWindow(shell_); });
}

void MainWindow::openWebsite() {
  if (ShellOpen(*shell_, this, productWebsite())) return;
  link_.reporter().report(report::BoxIcon::Information, report::kAppTitle,
                          QStringLiteral("Could not open the web page. Its address: %1").arg(productWebsiteText()));
}

// The about box opens over the main window, where the user is looking.
void MainWindow::openAbout() {
  openWindow<AboutWindow>(about_, [this] {
    auto* about = new AboutWindow;
    about->move(frameGeometry().center() - about->rect().center());
    return about;
  });
}

}  // namespace strandlink::ui
