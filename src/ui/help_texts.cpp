#include "ui/help_texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#ifndef STRANDLINK_GUIDE_DIR_FROM_BIN
#define STRANDLINK_GUIDE_DIR_FROM_BIN "../share/doc/strandlink"
#endif

namespace strandlink::ui {

QString installedGuideDirectory() { return QStringLiteral(STRANDLINK_GUIDE_DIR_FROM_BIN); }

QString userGuidePathFor(const QString& appDir) {
  const QDir dir(appDir);
  const QString beside = QDir::cleanPath(dir.filePath(QLatin1String(kGuideFileName)));
  if (QFileInfo(beside).isFile()) return beside;
  const QString installed =
      QDir::cleanPath(dir.filePath(installedGuideDirectory() + u'/' + QLatin1String(kGuideFileName)));
  if (QFileInfo(installed).isFile()) return installed;
  return beside;
}

QString userGuidePath() { return userGuidePathFor(QCoreApplication::applicationDirPath()); }

bool websiteConfigured() { return !QStringLiteral(STRANDLINK_WEBSITE).trimmed().isEmpty(); }

QString productWebsite() {
  if (websiteConfigured()) return QStringLiteral(STRANDLINK_WEBSITE).trimmed();
  return QUrl::fromLocalFile(userGuidePath()).toString();
}

QString productWebsiteText() {
  return websiteConfigured() ? productWebsite() : QDir::toNativeSeparators(userGuidePath());
}

QString artistWebsite() { return productWebsite(); }

QString animationCredit() { return QStringLiteral("Animation: Strandlink authors"); }

QStringList makerNotice() { return {QStringLiteral("GNU GPL 3 or later"), QStringLiteral("\u00A9 2026 the authors")}; }

// Only what exists is offered: the guide always, the project page when there is one.
QString infoText() {
  const QString ways = websiteConfigured()
                           ? QStringLiteral(
                                 "The project page, at the address below, is the place for them. The user guide "
                                 "(Help > Readme File) explains how to set up two computers and every message "
                                 "Strandlink shows.")
                           : QStringLiteral(
                                 "The user guide, at the address below or through Help > Readme File, explains how "
                                 "to set up two computers and every message Strandlink shows.");
  return QStringLiteral(
             "Strandlink joins the MIDI ports of two computers over a network. A keyboard played at one end "
             "sounds at the other, and the two players can chat while they do. Choose the Protocol in the "
             "Network settings first: Classic for another copy of Strandlink, RTP-MIDI for a Mac, an iPad or "
             "Windows, Multicast for a group on the LAN. Find lists the sessions published on the network; "
             "with RTP-MIDI the + at the remote's end lists further peers to invite into the same session.\r\n"
             "\r\n"
             "Strandlink is free, and it will stay free. It was made for musicians: for rehearsing in two "
             "rooms, for a keyboard in the studio and a sound module on stage, for playing with a friend "
             "across the house or across town.\r\n"
             "\r\n"
             "Contributions are welcome, and the most useful ones cost nothing: bug reports (the message you "
             "saw and what you did just before), suggestions for what Strandlink should do next, and code "
             "that does it. %1\r\n"
             "\r\n"
             "Terms of use. Strandlink is free software under the GNU General Public License, version 3 or "
             "(at your option) any later version. You may use it free of charge, at home, on stage, in the "
             "studio or at work, for non-commercial and commercial purposes alike. You may copy it, change it "
             "and pass it on, changed or unchanged, with or without a fee, as long as you pass it on under the "
             "same licence and with its source code. The licence comes with Strandlink in the file LICENSE.\r\n"
             "\r\n"
             "No warranty. To the extent permitted by applicable law, Strandlink is provided \"as is\", "
             "without warranty of any kind, express or implied, including the warranties of merchantability "
             "and fitness for a particular purpose. The whole risk as to its quality and performance is yours. "
             "Unless required by applicable law, in no event shall the authors be liable for any damages "
             "arising from the use of Strandlink or from being unable to use it, even if they were told that "
             "such damages might occur.\r\n"
             "\r\n"
             "Thank you for playing!")
      .arg(ways);
}

}  // namespace strandlink::ui
