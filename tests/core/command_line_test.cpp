// The command line, and what a window-less run prints instead of showing.
#include <gtest/gtest.h>

#include <cstdio>

#include "session/command_line.h"
#include "session/headless.h"

using namespace strandlink;
using Mode = CommandLine::Mode;

namespace {

CommandLine parse(QStringList args) {
  args.prepend("strandlink");
  return parseCommandLine(args);
}

QString captured(std::FILE* f) {
  std::rewind(f);
  QByteArray all;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, qsizetype(n));
  return QString::fromLocal8Bit(all);
}

}  // namespace

TEST(CommandLine, ModesAndValues) {
  EXPECT_EQ(parse({}).mode, Mode::Window);
  EXPECT_EQ(parse({"--headless"}).mode, Mode::Headless);
  EXPECT_EQ(parse({"--list-devices"}).mode, Mode::ListDevices);
  EXPECT_EQ(parse({"--version"}).mode, Mode::Version);
  EXPECT_EQ(parse({"--headless", "--help"}).mode, Mode::Help);

  const auto c = parse({"--headless", "--settings", "stage.stn", "--name=Rack B"});
  EXPECT_EQ(c.mode, Mode::Headless);
  EXPECT_EQ(c.settingsFile, "stage.stn");
  EXPECT_EQ(c.clientName, "Rack B");
  EXPECT_EQ(parse({"--settings=a.stn"}).settingsFile, "a.stn");
  EXPECT_EQ(parse({}).clientName, "Strandlink");
}

TEST(CommandLine, BadUsageIsOneClearLine) {
  for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"--settings"}, QStringList{"--name="},
                                  QStringList{"--headless", "--list-devices"}, QStringList{"stray"},
                                  QStringList{"--headless=yes"}}) {
    const auto c = parse(args);
    EXPECT_EQ(c.mode, Mode::Error) << args.join(' ').toStdString();
    EXPECT_FALSE(c.error.isEmpty());
    EXPECT_FALSE(c.error.contains('\n'));
  }
}

TEST(HeadlessOutput, StatusChangesAndRemoteLinesGoToStandardOutput) {
  std::FILE* out = std::tmpfile();
  HeadlessView view(out);
  view.setText(TextControl::lblConnectStatus, "Not Connected");  // no change: nothing
  view.setText(TextControl::lblConnectStatus, "Connected");
  view.setText(TextControl::lblConnectStatus, "Connected");
  view.appendText(TextControl::txtReceive, "\r\nLOCAL:mine");
  view.appendText(TextControl::txtReceive, "\r\nREMOTEhello there");
  view.setText(TextControl::lblConnectStatus, "Not Connected");
  EXPECT_EQ(captured(out), "Connected\nREMOTEhello there\nNot Connected\n");
  std::fclose(out);

  std::FILE* err = std::tmpfile();
  StreamBoxes boxes(err);
  boxes.show(BoxIcon::Exclamation, "Network Error", "Tried to bind MIDI socket:  Address already in use.");
  EXPECT_EQ(captured(err), "Network Error: Tried to bind MIDI socket:  Address already in use.\n");
  std::fclose(err);
}
