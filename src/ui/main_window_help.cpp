// The main window's Help menu: the user guide, the information window, the web
// page and the about box.
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

void MainWindow::openGuide() { ShellOpen(*shell_, this, userGuidePath()); }

void MainWindow::openInfo() {
  openWindow<InfoWindow>(info_, [this] { return new InfoWindow(shell_); });
}

void MainWindow::openWebsite() { ShellOpen(*shell_, this, productWebsite()); }

void MainWindow::openAbout() {
  openWindow<AboutWindow>(about_, [] { return new AboutWindow; });
}

}  // namespace strandlink::ui
