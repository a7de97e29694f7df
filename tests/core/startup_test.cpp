// Start-up without a window: its order, and what the local address box shows.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "net/addresses.h"
#include "net/socket_service.h"
#include "session/startup.h"
#include "settings/settings_file.h"
#include "support/side.h"
#include "support/stub_midi.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

// Moves the default settings file out of the way for a test and puts it back after.
class DefaultFileGuard {
 public:
  DefaultFileGuard() : path_(settings::defaultSettingsPath()), saved_(path_ + ".saved-by-test") {
    QFile::remove(saved_);
    QFile::rename(path_, saved_);
  }
  ~DefaultFileGuard() {
    QFile::remove(path_);
    QFile::rename(saved_, path_);
  }
  void write(const QByteArray& content) {
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
  }

 private:
  QString path_, saved_;
};

std::unique_ptr<Side> stubSide(std::vector<std::string> outputs, std::vector<std::string> inputs) {
  auto midi = std::make_unique<StubMidiService>();
  midi->outputs = std::move(outputs);
  midi->inputs = std::move(inputs);
  return std::make_unique<Side>(std::move(midi));
}

QString ownAddress() {
  char name[100] = {};
  net::getHostName(name, sizeof name);
  return formatAddress(net::ResolveHostAddress(QString::fromLatin1(name)));
}

}  // namespace

TEST(Startup, ShowsTheWindowAfterTheMapperAndBeforeTheSettingsWarning) {
  DefaultFileGuard guard;
  auto side = stubSide({"Mapper", "Synth A", "Synth B"}, {"Keys", "Pads"});
  int listedAtShow = -1;
  qsizetype boxesAtShow = -1;
  Form_Load(side->session, [&] {
    listedAtShow = side->view.listCount(ListControl::OutputDevCombo);
    boxesAtShow = side->boxes.boxes.size();
  });
  EXPECT_EQ(listedAtShow, 1);
  EXPECT_EQ(boxesAtShow, 0);
  ASSERT_EQ(side->boxes.texts(), QStringList{"Could not load last session parameters"});
  EXPECT_EQ(side->view.text(TextControl::txtPortLocal), "4000");
  EXPECT_EQ(side->view.text(TextControl::txtRemotePort), "4000");
  EXPECT_EQ(side->view.listIndex(ListControl::OutputDevCombo), 0);
  EXPECT_EQ(side->state.MidiOutDeviceId, -1);
  EXPECT_EQ(side->view.listCount(ListControl::InputDevCombo), 2);
  EXPECT_EQ(side->state.MidiInDeviceId, 0);
}

TEST(Startup, WithoutDevicesTheWindowAppearsAtTheEnd) {
  DefaultFileGuard guard;
  auto side = stubSide({}, {});
  qsizetype boxesAtShow = -1;
  Form_Load(side->session, [&] { boxesAtShow = side->boxes.boxes.size(); });
  EXPECT_EQ(boxesAtShow, 1);  // after the settings warning
  EXPECT_EQ(side->view.listCount(ListControl::OutputDevCombo), 0);
  EXPECT_EQ(side->state.MidiOutDeviceId, 0);
  EXPECT_EQ(side->state.MidiInDeviceId, 0);
}

TEST(Startup, TheMachinesOwnAddressReplacesAStoredOne) {
  DefaultFileGuard guard;
  guard.write("\"REMOTEIP:\",\"10.1.2.3\"\r\n\"LOCALIP:\",\"10.9.9.9\"\r\n\"PRIORITY:\",#TRUE#\r\n");
  auto side = stubSide({"Mapper"}, {"Keys"});
  Form_Load(side->session, {});
  EXPECT_TRUE(side->boxes.boxes.isEmpty()) << side->boxes.texts().join("; ").toStdString();
  EXPECT_EQ(side->view.text(TextControl::txtIPAddress), "10.1.2.3");
  EXPECT_EQ(side->view.text(TextControl::txtIPLocal), ownAddress());
  EXPECT_NE(side->view.text(TextControl::txtIPLocal), "10.9.9.9");
}

TEST(Startup, AddressesAreShownAsFourDecimalNumbers) {
  EXPECT_EQ(formatAddress(net::inetAddr("192.168.1.5")), "192.168.1.5");
  EXPECT_EQ(formatAddress(net::inetAddr("10.0.0.1")), "10.0.0.1");
  EXPECT_EQ(formatAddress(net::kInaddrNone), "255.255.255.255");
  EXPECT_EQ(formatAddress(net::ResolveHostAddress("no-such-host.invalid")), "255.255.255.255");
}
