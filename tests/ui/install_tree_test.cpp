// Installs this build tree into a temporary prefix, as a package build would,
// and checks what lands there: the program (which runs and finds its guide),
// the user guide (self-contained, covering every message the program can show),
// the desktop entry (valid, pointing at the installed program and icon), the
// icons and the metainfo.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QMap>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include "midi/midi_service.h"
#include "net/wsksock.h"
#include "ui/app_icon.h"
#include "ui/help_texts.h"

namespace strandlink::ui {
namespace {

struct Finished {
  int exitCode = -1;
  QString output;
};

Finished run(const QString& program, const QStringList& arguments) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, arguments);
  Finished r;
  if (!p.waitForFinished(120000)) {
    p.kill();
    p.waitForFinished();
    r.output = QStringLiteral("did not finish: ") + p.errorString();
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.output = QString::fromLocal8Bit(p.readAll());
  return r;
}

QString readText(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The keys of a desktop entry's main group (a ';' there is a list separator, not a comment).
QMap<QString, QString> desktopKeys(const QString& path) {
  QMap<QString, QString> keys;
  bool inMain = false;
  for (const QString& line : readText(path).split(u'\n')) {
    if (line.startsWith(u'[')) inMain = line == QLatin1String("[Desktop Entry]");
    const qsizetype eq = line.indexOf(u'=');
    if (inMain && eq > 0) keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
  }
  return keys;
}

// Undoes what the guide's HTML escapes, so that message texts compare as shown.
QString plainText(QString html) {
  html.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
  html.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
  html.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
  html.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
  html.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
  return html;
}

class InstallTreeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new QTemporaryDir;
    ASSERT_TRUE(prefix_->isValid());
    const Finished r = run(QStringLiteral(STRANDLINK_CMAKE),
                      {QStringLiteral("--install"), QStringLiteral(STRANDLINK_BINARY_DIR), QStringLiteral("--prefix"),
                       prefix_->path()});
    installOutput_ = new QString(r.output);
    ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
  }
  static void TearDownTestSuite() {
    delete prefix_;
    delete installOutput_;
  }
  void SetUp() override { ASSERT_TRUE(prefix_ != nullptr && prefix_->isValid()) << "no install"; }

  static QString at(const QString& relative) { return prefix_->filePath(relative); }
  static QString bindir() { return at(QStringLiteral(STRANDLINK_INSTALL_BINDIR)); }
  static QString datadir() { return at(QStringLiteral(STRANDLINK_INSTALL_DATADIR)); }
  static QString guide() { return at(QStringLiteral(STRANDLINK_INSTALL_DOCDIR "/strandlink-guide.html")); }
  static QString desktopEntry() {
    return datadir() + QStringLiteral("/applications/") + QLatin1String(kAppId) + QStringLiteral(".desktop");
  }

  static QTemporaryDir* prefix_;
  static QString* installOutput_;
};

QTemporaryDir* InstallTreeTest::prefix_ = nullptr;
QString* InstallTreeTest::installOutput_ = nullptr;

TEST_F(InstallTreeTest, ProgramRunsAndFindsItsGuideFromWhereItIsInstalled) {
  const QString program = bindir() + QStringLiteral("/strandlink");
  ASSERT_TRUE(QFileInfo(program).isExecutable()) << installOutput_->toStdString();
  const Finished version = run(program, {QStringLiteral("--version")});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output.trimmed(), QStringLiteral("strandlink " STRANDLINK_VERSION));

  ASSERT_TRUE(QFileInfo(guide()).isFile());
  EXPECT_EQ(QFileInfo(userGuidePathFor(bindir())).canonicalFilePath(), QFileInfo(guide()).canonicalFilePath());
  // Nothing of the build tree is installed beside the program.
  EXPECT_EQ(QDir(bindir()).entryList(QDir::Files), QStringList({QStringLiteral("strandlink")}));
}

TEST_F(InstallTreeTest, GuideStandsAloneAndItsLinksLeadToItsOwnSections) {
  const QString html = readText(guide());
  ASSERT_FALSE(html.isEmpty());
  EXPECT_TRUE(html.startsWith(QLatin1String("<!DOCTYPE html>")));
  // Readable without a network: nothing is fetched from elsewhere.
  for (const char* outside : {"<link", "<script", "<img", "src=", "@import", "url("}) {
    EXPECT_FALSE(html.contains(QLatin1String(outside), Qt::CaseInsensitive)) << outside;
  }
  const QRegularExpression href(QStringLiteral("href=\"([^\"]*)\""));
  int links = 0;
  for (auto m = href.globalMatch(html); m.hasNext(); ++links) {
    const QString target = m.next().captured(1);
    ASSERT_TRUE(target.startsWith(u'#')) << target.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("id=\"%1\"").arg(target.mid(1)))) << target.toStdString();
  }
  EXPECT_GT(links, 10);
}

// The guide's troubleshooting must keep up with the program: every message
// context in the sources and every socket error text appears in it.
TEST_F(InstallTreeTest, GuideExplainsEveryMessageTheProgramShows) {
  const QString text = plainText(readText(guide()));
  ASSERT_FALSE(text.isEmpty());

  // Every string literal of the sources, read left to right; the messages are
  // those with the words that only messages use.
  const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\""));
  const QRegularExpression message(
      QStringLiteral("^(?:\\\\r\\\\n)?((?:Tried to .*:)|(?:Midi (?:In|Out)put: )|(?:.*(?:must be between|"
                     "Invalid format|Could not|Error while|Cannot create|not sent|feedback loop).*))"));
  QStringList missing;
  int found = 0;
  QDirIterator sources(QStringLiteral(STRANDLINK_SOURCE_DIR "/src"), {QStringLiteral("*.cpp")}, QDir::Files,
                       QDirIterator::Subdirectories);
  while (sources.hasNext()) {
    const QString source = readText(sources.next());
    for (auto l = literal.globalMatch(source); l.hasNext();) {
      const auto m = message.match(l.next().captured(1));
      if (!m.hasMatch()) continue;
      ++found;
      // A placeholder stands for a path and a reason; the guide shows the words
      // around it. An escaped quote ends what the guide can quote.
      const QString shown = m.captured(1).section(QStringLiteral("%1"), 0, 0).section(u'\\', 0, 0).trimmed();
      if (!text.contains(shown)) missing << shown;
    }
  }
  EXPECT_GE(found, 15) << "the message texts are no longer found in the sources";
  EXPECT_TRUE(missing.isEmpty()) << missing.join(QStringLiteral(" | ")).toStdString();

  int errors = 0;
  for (int code = 10000; code < 11100; ++code) {
    const QString error = net::SocketErrorText(code);
    if (error.isEmpty()) continue;
    ++errors;
    EXPECT_TRUE(text.contains(error)) << code << " " << error.toStdString();
  }
  EXPECT_EQ(errors, 51);

  for (int code = 1; code < 128; ++code) {
    const QString error = QString::fromStdString(midi::midiErrorText(code));
    if (error.startsWith(QLatin1String("Unknown MIDI error"))) continue;
    EXPECT_TRUE(text.contains(error)) << code << " " << error.toStdString();
  }
}

TEST_F(InstallTreeTest, DesktopEntryIsValidAndPointsAtTheProgramAndIcon) {
  ASSERT_TRUE(QFileInfo(desktopEntry()).isFile());
  const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  if (validator.isEmpty()) {
    ADD_FAILURE() << "desktop-file-validate is missing: run scripts/setup.sh";
  } else {
    const Finished r = run(validator, {desktopEntry()});
    EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_TRUE(r.output.trimmed().isEmpty()) << r.output.toStdString();
  }

  const auto entry = desktopKeys(desktopEntry());
  EXPECT_EQ(entry.value(QStringLiteral("Exec")), QStringLiteral("strandlink"));
  EXPECT_TRUE(QFileInfo(bindir() + u'/' + entry.value(QStringLiteral("Exec"))).isExecutable());
  EXPECT_EQ(entry.value(QStringLiteral("Icon")), QLatin1String(kAppId));
  const QStringList categories = entry.value(QStringLiteral("Categories")).split(u';', Qt::SkipEmptyParts);
  for (const char* c : {"AudioVideo", "Audio", "Midi"}) EXPECT_TRUE(categories.contains(QLatin1String(c))) << c;
}

TEST_F(InstallTreeTest, IconsInEveryThemeSizeAndAsScalableVector) {
  const QString hicolor = datadir() + QStringLiteral("/icons/hicolor/");
  const QString name = QLatin1String(kAppId);
  for (const int size : kIconSizes) {
    const QString png = hicolor + QStringLiteral("%1x%1/apps/%2.png").arg(size).arg(name);
    const QImage image(png);
    ASSERT_FALSE(image.isNull()) << png.toStdString();
    EXPECT_EQ(image.size(), QSize(size, size)) << size;
    // Transparent round the rounded corners, drawn in the middle.
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
    EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
  }

  QFile svg(hicolor + QStringLiteral("scalable/apps/") + name + QStringLiteral(".svg"));
  ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&svg);
  QString viewBox;
  int shapes = 0;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("svg")) viewBox = xml.attributes().value(QLatin1String("viewBox")).toString();
    if (xml.name() == QLatin1String("path") || xml.name() == QLatin1String("ellipse")) ++shapes;
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_EQ(viewBox, QStringLiteral("0 0 256 256"));
  EXPECT_GT(shapes, 8);
}

TEST_F(InstallTreeTest, MetainfoNamesTheEntryAndValidates) {
  const QString metainfo = datadir() + QStringLiteral("/metainfo/") + QLatin1String(kAppId) +
                           QStringLiteral(".metainfo.xml");
  const QString xml = readText(metainfo);
  ASSERT_FALSE(xml.isEmpty());
  EXPECT_TRUE(xml.contains(QStringLiteral("<id>%1</id>").arg(QLatin1String(kAppId))));
  EXPECT_TRUE(xml.contains(QStringLiteral(">%1.desktop</launchable>").arg(QLatin1String(kAppId))));
  const QString validator = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
  if (validator.isEmpty()) GTEST_SKIP() << "appstreamcli is not installed";
  const Finished r = run(validator, {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo});
  EXPECT_EQ(r.exitCode, 0) << r.output.toStdString();
}

}  // namespace
}  // namespace strandlink::ui
