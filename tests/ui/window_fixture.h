// The main window under test: recorded boxes, help requests and program ends, and
// its default settings file in a temporary directory. Over the machine's real MIDI
// service (our own ports, entry 0 of both lists, on the test JACK server) or over
// fixed device names.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>

#include "support/side.h"
#include "support/stub_midi.h"
#include "ui/main_window.h"
#include "ui/shell.h"

// Qt texts in failure messages (found by argument-dependent lookup).
inline std::ostream& operator<<(std::ostream& os, const QString& s) { return os << s.toStdString(); }
inline std::ostream& operator<<(std::ostream& os, const QStringList& l) { return os << l.join(" | "); }

namespace strandlink::test {

// A stub service with empty lists: no MIDI service at all. Named, as a bare {} would
// also fit the service-and-boxes constructor.
inline const std::vector<std::string> kNoDevices;

struct WindowUnderTest {
  explicit WindowUnderTest(std::unique_ptr<midi::MidiService> service = midi::makeMidiService("UiWindow"))
      : midi(std::move(service)), window(*midi, &boxes) {
    window.setDefaultSettingsPath(defaultFile());
    window.setQuitProgram([this] { ++quits; });
    window.setShell(shell);
    window.setFatalExit([] { ADD_FAILURE() << "a socket could not be created"; });
  }
  WindowUnderTest(std::vector<std::string> inputs, std::vector<std::string> outputs)
      : WindowUnderTest(std::make_unique<StubMidiService>()) {
    static_cast<StubMidiService&>(*midi).inputs = std::move(inputs);
    static_cast<StubMidiService&>(*midi).outputs = std::move(outputs);
  }

  template <class T = QWidget>
  T* get(const char* name) {
    T* w = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // Shown and active, as the user's window is, so that focus changes reach the controls.
  bool activate() {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
  }
  QString defaultFile() const { return dir.filePath(QStringLiteral("default.stn")); }

  // Fills the network boxes for a link on loopback and presses Start; whether it runs.
  bool start(int localPort, int remotePort) {
    for (const char* box : {"remoteAddressBox", "localAddressBox"}) get<QLineEdit>(box)->setText("127.0.0.1");
    get<QLineEdit>("remotePortBox")->setText(QString::number(remotePort));
    get<QLineEdit>("localPortBox")->setText(QString::number(localPort));
    get<QPushButton>("startButton")->click();
    return window.link().running();
  }

  QTemporaryDir dir;
  RecordingBoxes boxes;
  std::shared_ptr<ui::RecordingShell> shell = std::make_shared<ui::RecordingShell>();
  std::unique_ptr<midi::MidiService> midi;
  ui::MainWindow window;
  int quits = 0;
};

}  // namespace strandlink::test
