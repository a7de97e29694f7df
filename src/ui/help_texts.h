// What the help windows say and where the help commands point: the user guide
// beside the program, the product's web page, the credit, the notices.
#pragma once

#include <QString>
#include <QStringList>

namespace strandlink::ui {

inline constexpr char kGuideFileName[] = "strandlink-guide.html";

// Where an installed guide lies, seen from the directory of the installed program
// (e.g. "../share/doc/strandlink").
QString installedGuideDirectory();

// The user guide for a program in appDir: beside it (a build tree, a portable
// copy), else in the installed documentation directory. When neither exists, the
// path beside the program, which the shell then quietly fails to open.
QString userGuidePathFor(const QString& appDir);
QString userGuidePath();

// Whether a web page was configured at build time.
bool websiteConfigured();
// The product's web page as configured at build time; without one, the user
// guide as a file address.
QString productWebsite();
// The same as a reader wants it: the page's address, or the guide's path.
QString productWebsiteText();
// The animation is drawn by the program itself, so its credit points home.
QString artistWebsite();

QString infoText();         // the information window's main text
QString animationCredit();  // one line
QStringList makerNotice();  // two short lines

}  // namespace strandlink::ui
