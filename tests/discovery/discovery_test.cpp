// Discovery against a real Avahi daemon, in the private mDNS world of
// tests/support/mdns_world.sh (which ctest runs this program in): our adverts as
// avahi-browse sees them, sessions avahi-publish made as --list-peers lists them,
// the name clash, a daemon restart and no daemon at all; and the same wired to a
// link: a running session's advert, two copies linked by name, the window's Find list.
#include <QElapsedTimer>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "discovery/avahi_connection.h"
#include "discovery/browser.h"
#include "discovery/publisher.h"
#include "link/session_discovery.h"
#include "support/real_part.h"
#include "ui/session_finder.h"
#include "ui/window_fixture.h"

using namespace strandlink::discovery;
using namespace strandlink;

namespace {

const QString kRtp = QStringLiteral("_apple-midi._udp");
const QString kClassic = QStringLiteral("_strandlink._udp");

struct Finished {
  int status;
  QString out, err;
};

Finished run(const QString& program, const QStringList& args, int limitMs = 15000) {
  QProcess p;
  p.start(program, args);
  const bool finished = p.waitForFinished(limitMs);
  if (!finished) p.kill(), p.waitForFinished();
  return {finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

Finished listPeers(const QStringList& args) { return run(QStringLiteral(STRANDLINK_PROGRAM), args); }

// The daemon's view: resolved services, one "=;..." line each, with the names'
// escapes ("\032" for a space) decoded.
QString browse(const QString& type = kRtp) {
  QString out = run(QStringLiteral("avahi-browse"), {QStringLiteral("-rpt"), type}).out;
  static const QRegularExpression escape(QStringLiteral("\\\\(\\d{3})"));
  for (auto m = escape.match(out); m.hasMatch(); m = escape.match(out))
    out.replace(m.capturedStart(), m.capturedLength(), QChar(m.captured(1).toInt()));
  return out;
}

bool daemon(const char* what) {
  return run(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("mdns_world_daemon %1").arg(what)}).status ==
         0;
}

// A session of another program, for as long as this object lives.
struct ForeignSession {
  QProcess process;
  bool seen = false;
  explicit ForeignSession(const QString& name, int port, const QString& type = kRtp) {
    process.start(QStringLiteral("avahi-publish"), {QStringLiteral("-s"), name, type, QString::number(port)});
    // avahi-publish says nothing until it is established, and then to its buffer:
    // the daemon's own view tells when it is there.
    seen = QTest::qWaitFor([&] { return browse(type).contains(QStringLiteral(";%1;").arg(name)); }, 10000);
    EXPECT_TRUE(seen) << "avahi-publish did not publish " << name.toStdString();
  }
  ~ForeignSession() {
    process.terminate();
    process.waitForFinished();
  }
};

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(!qEnvironmentVariableIsEmpty("MDNS_WORLD_HOST"),
                      "not inside the private mDNS world (run it through ctest)");
  }
  static Advert advert(const QString& name) {
    return {kRtp, name, 5004, {QByteArrayLiteral("proto=rtp"), QByteArrayLiteral("version=1")}, false};
  }
};

TEST_F(Discovery, ListPeersListsASessionPublishedByAnotherProgram) {
  ForeignSession session(QStringLiteral("Studio Mac"), 5006);
  const Finished found = listPeers({QStringLiteral("--list-peers"), QStringLiteral("--protocol"), QStringLiteral("rtp")});
  EXPECT_EQ(found.status, 0) << found.err.toStdString();
  EXPECT_EQ(found.out, QStringLiteral("Studio Mac\t%1.local\t127.0.0.1:5006\n").arg(qEnvironmentVariable("MDNS_WORLD_HOST")));
  // The classic type is another service: nothing, said so, status 1.
  const Finished none = listPeers({QStringLiteral("--list-peers")});
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(none.out.isEmpty());
  EXPECT_EQ(none.err, QStringLiteral("strandlink: no _strandlink._udp sessions found within 2 s\n"));
}

TEST_F(Discovery, AdvertIsSeenWithItsRecordsUntilWithdrawn) {
  AvahiConnection connection;
  connection.start();
  auto publisher = std::make_unique<Publisher>(connection);
  QSignalSpy established(publisher.get(), &Publisher::established);
  publisher->publish(advert(QStringLiteral("Stage Left")));
  ASSERT_TRUE(established.wait(10000));
  EXPECT_EQ(established.first().first().toString(), QStringLiteral("Stage Left"));
  const QString seen = browse();
  EXPECT_TRUE(seen.contains(QStringLiteral("=;lo;IPv4;Stage Left;_apple-midi._udp;local;")));
  EXPECT_TRUE(seen.contains(QStringLiteral(";127.0.0.1;5004;"))) << seen.toStdString();
  EXPECT_TRUE(seen.contains(QStringLiteral("\"proto=rtp\"")) && seen.contains(QStringLiteral("\"version=1\"")));
  EXPECT_FALSE(seen.contains(QStringLiteral("IPv6")));

  // Our own browser finds it too, and sees it go on withdraw().
  Browser browser(connection, kRtp);
  QSignalSpy added(&browser, &Browser::added), removed(&browser, &Browser::removed);
  ASSERT_TRUE(added.wait(10000));
  ASSERT_EQ(browser.services().size(), 1);
  EXPECT_EQ(browser.services().first().port, 5004);
  EXPECT_EQ(browser.services().first().txt, (QList<QByteArray>{"proto=rtp", "version=1"}));
  publisher->withdraw();
  ASSERT_TRUE(removed.wait(10000));
  EXPECT_TRUE(browser.services().isEmpty());
  EXPECT_FALSE(browse().contains(QStringLiteral("Stage Left")));

  // Destruction withdraws as well.
  publisher->publish(advert(QStringLiteral("Stage Right")));
  ASSERT_TRUE(added.wait(10000));
  publisher.reset();
  EXPECT_TRUE(removed.wait(10000));
}

TEST_F(Discovery, NameClashTakesTheNextFreeNameAndSaysSo) {
  ForeignSession first(QStringLiteral("Stage"), 5008);
  ForeignSession second(QStringLiteral("Stage #2"), 5010);
  AvahiConnection connection;
  connection.start();
  Publisher publisher(connection);
  QSignalSpy established(&publisher, &Publisher::established), renamed(&publisher, &Publisher::renamed);
  publisher.publish(advert(QStringLiteral("Stage")));
  ASSERT_TRUE(established.wait(10000));
  EXPECT_EQ(publisher.name(), QStringLiteral("Stage #3"));
  ASSERT_EQ(renamed.size(), 1);
  EXPECT_EQ(renamed.first(), (QVariantList{QStringLiteral("Stage"), QStringLiteral("Stage #3")}));
  EXPECT_TRUE(browse().contains(QStringLiteral(";Stage #3;_apple-midi._udp;local;")));
}

TEST_F(Discovery, PublishesAgainAfterTheDaemonRestarts) {
  AvahiConnection connection;
  connection.start();
  Publisher publisher(connection);
  Browser browser(connection, kRtp);
  const auto listed = [&] {
    const auto all = browser.services();
    return std::any_of(all.begin(), all.end(), [](const FoundService& s) { return s.name == "Phoenix"; });
  };
  QSignalSpy established(&publisher, &Publisher::established), off(&connection, &AvahiConnection::off);
  publisher.publish(advert(QStringLiteral("Phoenix")));
  ASSERT_TRUE(established.wait(10000));
  ASSERT_TRUE(QTest::qWaitFor(listed, 10000));

  ASSERT_TRUE(daemon("stop"));
  // Gone with the daemon, which is said once.
  ASSERT_TRUE(QTest::qWaitFor([&] { return off.size() == 1; }, 10000));
  EXPECT_FALSE(listed());
  EXPECT_FALSE(publisher.isEstablished());
  ASSERT_TRUE(daemon("start"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return established.size() == 2; }, 15000));
  EXPECT_EQ(established.last().first().toString(), QStringLiteral("Phoenix"));
  EXPECT_TRUE(browse().contains(QStringLiteral(";Phoenix;_apple-midi._udp;")));
  EXPECT_TRUE(QTest::qWaitFor(listed, 10000));  // browsing again too
  EXPECT_EQ(off.size(), 1);
}

TEST_F(Discovery, WithoutADaemonDiscoveryIsOffAndComesOnWithIt) {
  ASSERT_TRUE(daemon("stop"));
  QElapsedTimer clock;
  clock.start();
  const Finished listed = listPeers({QStringLiteral("--list-peers"), QStringLiteral("--protocol=rtp")});
  EXPECT_EQ(listed.status, 1);
  EXPECT_LT(clock.elapsed(), 10000);
  EXPECT_TRUE(listed.out.isEmpty());
  EXPECT_EQ(listed.err, QStringLiteral("strandlink: discovery is off: no Avahi daemon is running (addresses typed by "
                                       "hand still work)\n"));

  // A publisher waits for the daemon, and says once that discovery is off.
  AvahiConnection connection;
  QSignalSpy off(&connection, &AvahiConnection::off);
  connection.start();
  EXPECT_EQ(off.size(), 1);
  Publisher publisher(connection);
  QSignalSpy established(&publisher, &Publisher::established);
  publisher.publish(advert(QStringLiteral("Late")));
  QTest::qWait(300);
  EXPECT_TRUE(established.isEmpty());
  ASSERT_TRUE(daemon("start"));
  EXPECT_TRUE(established.wait(15000));
  EXPECT_EQ(off.size(), 1);
}

// A window-less copy of the program, for as long as this object lives; its
// settings and remembered choices in a directory of its own.
struct Copy {
  QTemporaryDir config;
  QProcess process;
  QString out;
  explicit Copy(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(STRANDLINK_PROGRAM),
                  QStringList{QStringLiteral("--headless"), QStringLiteral("--input=0"), QStringLiteral("--output=0")} +
                      args);
  }
  bool says(const QString& line, int limitMs = 10000) {
    return QTest::qWaitFor([&] { return (out += QString::fromUtf8(process.readAll())).contains(line); }, limitMs);
  }
  ~Copy() {
    process.terminate();
    process.waitForFinished();
  }
};

// Stage's own name is taken on the network, so it is published as "Stage #2" and
// says so; the desk finds it under that name alone, and the two link. A name
// nobody published is refused in one line, and the advert goes with the program.
TEST_F(Discovery, TwoCopiesLinkByPublishedNameAlone) {
  REQUIRE_REAL_PART(test::jackAvailable(), test::kNoJackServer);
  const int stagePort = test::freePortPair(), deskPort = test::freePortPair();
  const auto local = [](int port) { return QStringLiteral("--local=127.0.0.1:%1").arg(port); };
  ForeignSession taken(QStringLiteral("Stage"), 5008, kClassic);
  const Finished nobody = run(QStringLiteral(STRANDLINK_PROGRAM),
                              {QStringLiteral("--headless"), local(deskPort), QStringLiteral("--remote=Nobody")});
  EXPECT_EQ(nobody.status, 1);
  EXPECT_TRUE(nobody.err.contains(QStringLiteral("Could not find the session \"Nobody\" on the network for Remote "
                                                 "IP Address: no _strandlink._udp session of that name answered "
                                                 "within 2 s")))
      << nobody.err.toStdString();
  {  // SIGTERM while it looks for a session that comes a moment later: it ends at
     // once, cleanly, and says nothing of the look-up it gave up
    Copy ended({local(deskPort), QStringLiteral("--remote=Late")});
    QTest::qWait(500);
    ended.process.terminate();
    ForeignSession late(QStringLiteral("Late"), 5012, kClassic);
    EXPECT_TRUE(ended.process.state() == QProcess::NotRunning || ended.process.waitForFinished(5000));
    EXPECT_EQ(std::pair(ended.process.exitStatus(), ended.process.exitCode()), std::pair(QProcess::NormalExit, 0));
    EXPECT_EQ(ended.process.readAllStandardError(), QByteArray());
    EXPECT_FALSE(ended.process.readAllStandardOutput().contains("Found the session"));
  }

  auto stage = std::make_unique<Copy>(QStringList{QStringLiteral("--name=Stage"), local(stagePort),
                                                  QStringLiteral("--remote=127.0.0.1:%1").arg(deskPort)});
  ASSERT_TRUE(stage->says(QStringLiteral("This session is published as \"Stage #2\": another one on the network is "
                                         "named \"Stage\"\n"))) << stage->out.toStdString();
  EXPECT_TRUE(QTest::qWaitFor([] { return browse(kClassic).contains(QStringLiteral(";Stage #2;_strandlink._udp;")); }));
  const QString advert = browse(kClassic);
  EXPECT_TRUE(advert.contains(QStringLiteral(";127.0.0.1;%1;\"txtvers=1\" \"protocol=classic\"").arg(stagePort)))
      << advert.toStdString();
  EXPECT_FALSE(advert.contains(QStringLiteral("IPv6")));

  Copy desk({QStringLiteral("--name=Desk"), local(deskPort), QStringLiteral("--remote"), QStringLiteral("stage #2")});
  EXPECT_TRUE(desk.says(QStringLiteral("Found the session \"Stage #2\" at 127.0.0.1:%1\n").arg(stagePort)));
  EXPECT_TRUE(desk.says(QStringLiteral("\nConnected\n")));
  EXPECT_TRUE(stage->says(QStringLiteral("\nConnected\n")));
  stage.reset();
  EXPECT_TRUE(QTest::qWaitFor([] { return !browse(kClassic).contains(QStringLiteral("Stage #2")); }, 10000));
}

// The advert follows the protocol: a running RTP-MIDI link under the RTP-MIDI
// type, with its control port, until Stop. Without a daemon a link runs all the
// same, says once that discovery is off, and is published once the daemon comes.
TEST_F(Discovery, SessionsArePublishedUnderTheirProtocolsTypeAndALinkRunsWithoutADaemon) {
  const auto listed = [](const QString& name, const QString& type) {
    return browse(type).contains(QStringLiteral(";%1;%2;local;").arg(name, type));
  };
  {  // waiting to be invited: no remote
    test::Side rtp(std::make_unique<test::ScriptedMidiService>());
    const int port = test::freePortPair();
    rtp.configure(port, port, QString());
    rtp.settings.remotePort.clear();
    rtp.options.protocol = settings::Protocol::Rtp;
    rtp.options.publish = true;
    rtp.options.name = QStringLiteral("Rtp Copy");
    ASSERT_TRUE(rtp.start()) << rtp.boxes.texts().join(' ').toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed(QStringLiteral("Rtp Copy"), kRtp); }, 10000));
    EXPECT_TRUE(browse().contains(QStringLiteral(";127.0.0.1;%1;").arg(port)));
    EXPECT_FALSE(browse(kClassic).contains(QStringLiteral("Rtp Copy")));
    rtp.link.stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !listed(QStringLiteral("Rtp Copy"), kRtp); }, 10000));
  }

  ASSERT_TRUE(daemon("stop"));
  test::Side late(std::make_unique<test::ScriptedMidiService>());
  const int port = test::freePortPair();
  late.configure(port, port);
  late.options.publish = true;
  late.options.name = QStringLiteral("Late Copy");
  QStringList notices;
  QObject::connect(&late.link, &link::Link::noticed, [&](const QString& line) { notices << line; });
  for (int round = 0; round < 2; ++round) {
    late.link.stop();
    ASSERT_TRUE(late.start()) << late.boxes.texts().join(' ').toStdString();
    QTest::qWait(200);
  }
  EXPECT_EQ(notices, QStringList{describe({Problem::NoDaemon, 0})});
  ASSERT_TRUE(daemon("start"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return listed(QStringLiteral("Late Copy"), kClassic); }, 15000));
}

// Find lists the sessions of the window's protocol while it is open; a pick fills
// the remote address and port. A started session is published under the window's
// name until Stop.
TEST_F(Discovery, TheWindowsFindListFillsTheRemoteAndItsSessionIsPublishedUntilStop) {
  ForeignSession studio(QStringLiteral("Studio Mac"), 5006, kClassic);
  test::WindowUnderTest t(std::make_unique<test::ScriptedMidiService>());
  t.window.startUp();
  t.window.publishAs(QStringLiteral("Window Copy"));
  t.get<QPushButton>("findButton")->click();
  auto* finder = t.window.findChild<ui::SessionFinder*>(QStringLiteral("sessionFinder"));
  ASSERT_NE(finder, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return finder->list()->count() == 1; }, 10000))
      << finder->stateText().toStdString();
  EXPECT_TRUE(finder->list()->item(0)->text().startsWith(QStringLiteral("Studio Mac")));
  finder->list()->setCurrentRow(0);
  QTest::keyClick(finder->list(), Qt::Key_Return);
  EXPECT_FALSE(finder->isVisible());
  EXPECT_EQ(t.get<QLineEdit>("remoteAddressBox")->text(), QStringLiteral("127.0.0.1"));
  EXPECT_EQ(t.get<QLineEdit>("remotePortBox")->text(), QStringLiteral("5006"));

  const int port = test::freePortPair();
  t.get<QLineEdit>("localAddressBox")->setText(QStringLiteral("127.0.0.1"));
  t.get<QLineEdit>("localPortBox")->setText(QString::number(port));
  t.get<QPushButton>("startButton")->click();
  ASSERT_TRUE(t.window.link().running()) << t.boxes.texts().join(' ').toStdString();
  const auto published = [&] { return browse(kClassic).contains(QStringLiteral(";Window Copy;_strandlink._udp;")); };
  EXPECT_TRUE(QTest::qWaitFor(published, 10000));
  EXPECT_FALSE(t.get<QPushButton>("findButton")->isEnabled());
  t.get<QPushButton>("stopButton")->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !published(); }, 10000));
}

}  // namespace
