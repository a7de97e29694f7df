// Installs this build tree into a temporary prefix, as a package build would, and
// checks the program, its user guide, the desktop entry, the metainfo and the icons.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "midi/midi_service.h"
#include "net/socket_errors.h"
#include "ui/app_icon.h"
#include "ui/help_texts.h"
#include "version.h"

namespace strandlink::ui {
namespace {

// Exit code and everything printed; -1 and the reason when it did not start, crashed or hung.
std::pair<int, std::string> run(const QString& program, const QStringList& arguments) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, arguments);
  if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) {
    p.kill();
    return {-1, p.errorString().toStdString()};
  }
  return {p.exitCode(), QString::fromLocal8Bit(p.readAll()).toStdString()};
}

QString readText(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

class InstallTreeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new QTemporaryDir;
    const auto [code, output] =
        run(QStringLiteral(STRANDLINK_CMAKE), {"--install", STRANDLINK_BINARY_DIR, "--prefix", prefix_->path()});
    EXPECT_EQ(code, 0) << output;  // then every test below fails on what is missing
  }
  static void TearDownTestSuite() { delete prefix_; }

  static QString bindir() { return prefix_->filePath(QStringLiteral(STRANDLINK_INSTALL_BINDIR)); }
  static QString data(const QString& path) { return prefix_->filePath(STRANDLINK_INSTALL_DATADIR "/" + path); }
  static QString guide() { return prefix_->filePath(STRANDLINK_INSTALL_DOCDIR "/strandlink-guide.html"); }

  static inline QTemporaryDir* prefix_ = nullptr;
};

TEST_F(InstallTreeTest, ProgramRunsAndFindsItsGuideFromWhereItIsInstalled) {
  const auto [code, output] = run(bindir() + QStringLiteral("/strandlink"), {QStringLiteral("--version")});
  EXPECT_EQ(code, 0) << output;
  EXPECT_EQ(QString::fromStdString(output).trimmed(), "strandlink " + QLatin1String(kVersion));
  ASSERT_TRUE(QFileInfo(guide()).isFile());
  EXPECT_EQ(QFileInfo(userGuidePathFor(bindir())).canonicalFilePath(), QFileInfo(guide()).canonicalFilePath());
  EXPECT_EQ(QDir(bindir()).entryList(QDir::Files), QStringList({QStringLiteral("strandlink")}));  // nothing else
}

// Readable without a network, links to its own sections, and troubleshooting that keeps up with
// the program: every message context in the sources and every socket and MIDI error text.
TEST_F(InstallTreeTest, GuideStandsAloneAndExplainsEveryMessageTheProgramShows) {
  QString text = readText(guide());
  EXPECT_TRUE(text.startsWith(QLatin1String("<!DOCTYPE html>")));
  for (const char* outside : {"<link", "<script", "<img", "src=", "@import", "url("})
    EXPECT_FALSE(text.contains(QLatin1String(outside), Qt::CaseInsensitive)) << outside;
  int links = 0;
  for (auto m = QRegularExpression(QStringLiteral("href=\"([^\"]*)\"")).globalMatch(text); m.hasNext(); ++links) {
    const QString target = m.next().captured(1);
    EXPECT_TRUE(target.startsWith(u'#') && text.contains("id=\"" + target.mid(1) + "\"")) << target.toStdString();
  }
  EXPECT_GT(links, 10);

  for (auto [escaped, plain] :
       {std::pair{"&quot;", "\""}, {"&gt;", ">"}, {"&lt;", "<"}, {"&nbsp;", " "}, {"&amp;", "&"}})
    text.replace(QLatin1String(escaped), QLatin1String(plain));
  // Every string literal of the sources; the messages are those with the words only messages use.
  const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\""));
  const QRegularExpression message(
      QStringLiteral("^(?:\\\\r\\\\n)?((?:Tried to .*:)|(?:Midi (?:In|Out)put: )|(?:.*(?:must be between|"
                     "must be at most|Invalid format|Could not|Error while|Cannot create|not sent|feedback loop).*))"));
  QStringList missing;
  int found = 0;
  QDirIterator sources(QStringLiteral(STRANDLINK_SOURCE_DIR "/src"), {QStringLiteral("*.cpp")}, QDir::Files,
                       QDirIterator::Subdirectories);
  while (sources.hasNext()) {
    for (auto l = literal.globalMatch(readText(sources.next())); l.hasNext();) {
      const auto m = message.match(l.next().captured(1));
      if (!m.hasMatch()) continue;
      ++found;
      // The guide shows the words before a placeholder (a path, a reason) or an escaped quote.
      const QString shown = m.captured(1).section(QStringLiteral("%1"), 0, 0).section(u'\\', 0, 0).trimmed();
      if (!text.contains(shown)) missing << shown;
    }
  }
  EXPECT_GE(found, 15) << "the message texts are no longer found in the sources";
  EXPECT_TRUE(missing.isEmpty()) << missing.join(QStringLiteral(" | ")).toStdString();
  QStringList errors;
  for (int code = 10000; code < 11100; ++code) errors << net::socketErrorText(net::SocketError(code));
  for (int code = 1; code < 128; ++code) errors << QString::fromStdString(midi::midiErrorText(midi::MidiError(code)));
  errors.removeIf([](const QString& e) { return e.isEmpty() || e.startsWith(QLatin1String("Unknown MIDI error")); });
  EXPECT_GT(errors.size(), 50) << "the socket and MIDI error texts are no longer found";
  for (const QString& error : errors) EXPECT_TRUE(text.contains(error)) << error.toStdString();
}

TEST_F(InstallTreeTest, DesktopEntryMetainfoAndIconsAreValidAndNameTheProgram) {
  const QString id = QLatin1String(kAppId);
  const QString entry = data("applications/" + id + ".desktop"), metainfo = data("metainfo/" + id + ".metainfo.xml");
  const QString desktop = readText(entry), xml = readText(metainfo);
  for (const QString& line : {QStringLiteral("Exec=strandlink"), "Icon=" + id})
    EXPECT_TRUE(desktop.contains('\n' + line + '\n')) << line.toStdString();
  for (const char* c : {"AudioVideo", "Audio", "Midi"})
    EXPECT_TRUE(desktop.contains(QRegularExpression(QStringLiteral("\nCategories=([^\n]*;)?%1;").arg(c)))) << c;
  EXPECT_TRUE(xml.contains("<id>" + id + "</id>") && xml.contains(">" + id + ".desktop</launchable>"));
  // desktop-file-validate (from scripts/setup.sh) has no complaint at all; appstreamcli is optional.
  const QString validate = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  EXPECT_EQ(run(validate, {entry}), std::pair(0, std::string())) << "validator: " << validate.toStdString();
  if (const QString as = QStandardPaths::findExecutable(QStringLiteral("appstreamcli")); !as.isEmpty()) {
    EXPECT_EQ(run(as, {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo}).first, 0);
  }

  for (const int size : kIconSizes) {  // transparent round the rounded corners, drawn in the middle
    const QImage image(data(QStringLiteral("icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(id)));
    ASSERT_EQ(image.size(), QSize(size, size)) << size;
    EXPECT_TRUE(qAlpha(image.pixel(0, 0)) == 0 && qAlpha(image.pixel(size / 2, size / 2)) == 255) << size;
  }
  EXPECT_TRUE(readText(data("icons/hicolor/scalable/apps/" + id + ".svg")).contains("viewBox=\"0 0 256 256\""));
}

}  // namespace
}  // namespace strandlink::ui
