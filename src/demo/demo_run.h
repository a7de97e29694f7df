// The first-run demo: two copies of the link in one process, joined over
// 127.0.0.1, each with its own MIDI client and its own ports as devices. A third
// client plays a short phrase into copy A's input and records what copy B's output
// plays; each arrival is printed, then a summary with the median latency and how
// to link two computers. It runs until it is stopped, so other programs can use
// the two copies' ports meanwhile.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "demo/phrase.h"
#include "headless/headless_run.h"
#include "link/link.h"
#include "link/loop_wake.h"
#include "midi/midi_service.h"

namespace strandlink::demo {

class DemoRun : public QObject, private midi::MidiInputHandler {
  Q_OBJECT
 public:
  DemoRun(std::FILE* out, std::FILE* err);
  ~DemoRun() override;

  // Both copies started and the player's ports joined to theirs; false after the
  // reason was printed.
  bool start();
  // Closes everything the demo opened.
  void stop();

  // The summary comes this long after the last message played at the latest.
  static constexpr int kArrivalDeadlineMs = 2000;
  // The phrase starts once both copies read "Connected" and the whole path has
  // carried a first message, or after this long.
  static constexpr int kConnectDeadlineMs = 5000;

 private:
  struct Copy {
    QString letter;
    std::unique_ptr<midi::MidiService> midi;
    std::unique_ptr<link::Link> link;
    int port = 0;
    bool connected = false;
    QString inPort, outPort;  // full names, as other programs see them
  };
  struct Arrival {
    midi::ShortMessage message;
    std::int64_t timeMicros = 0;
  };
  struct Sent {
    midi::ShortMessage message;
    std::int64_t timeMicros = 0;
  };

  // The recorder's MIDI thread: into the ring, and a wake for the loop.
  void onMidiMessage(midi::MidiEventView event, std::int64_t timeMicros) override;
  bool startCopy(Copy& copy, int remotePort);
  bool joinPlayer(const std::set<std::string>& outputsBefore, const std::set<std::string>& inputsBefore);
  void showStatus(Copy& copy, protocol::LinkStatus status);
  void sendWarmUp();
  void startPhraseWhenReady();
  void startPhrase();
  void playDue();
  void takeArrivals();
  void summarise();
  void printLine(const QString& line);

  std::FILE* out_;
  headless::LineOutput err_;
  headless::StreamBoxes boxes_;
  Copy a_, b_;
  std::unique_ptr<midi::MidiService> player_;
  std::unique_ptr<midi::MidiOutput> playerOut_;
  std::unique_ptr<midi::MidiInput> recorderIn_;
  std::vector<PhraseEvent> phrase_;
  std::size_t nextEvent_ = 0;
  QElapsedTimer phraseClock_;
  std::deque<Sent> awaited_;
  std::vector<double> latenciesMs_;
  QTimer* warmUpTimer_ = nullptr;
  bool pathReady_ = false, playing_ = false, summarised_ = false, stopping_ = false;

  // One producer (the recorder's MIDI thread), one consumer (the loop).
  static constexpr std::size_t kRingSize = 1024;
  std::array<Arrival, kRingSize> ring_{};
  std::atomic<std::size_t> ringHead_{0}, ringTail_{0};
  link::LoopWake wake_;
};

}  // namespace strandlink::demo
