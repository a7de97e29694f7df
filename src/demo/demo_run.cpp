#include "demo/demo_run.h"

#include <netinet/in.h>

#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

#include "base/monotonic_clock.h"
#include "net/udp_socket.h"
#include "settings/settings.h"

namespace strandlink::demo {

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

// A note-off for the lowest key, which no synthesizer minds: played until it comes
// out at B, since a new connection carries data only some cycles after it is made.
const midi::ShortMessage kWarmUp = midi::ShortMessage::withStatusSize(0x80, 0, 0);
constexpr int kWarmUpMs = 100;

// A MIDI port P from first on whose chat port P + 1 is free on 127.0.0.1 too; 0 when none is.
int freePortPair(int first) {
  for (int p = first; p < 65000; p += 2) {
    bool free = true;
    for (const int port : {p, p + 1}) {
      net::SocketError error = net::SocketError::Ok;
      const net::UdpSocket probe = net::UdpSocket::create(error);
      free = free && probe.valid() &&
             !net::failed(probe.bind(net::makeAddress(htonl(INADDR_LOOPBACK), std::uint16_t(port))));
    }
    if (free) return p;
  }
  return 0;
}

// The entry that is new since `before` and belongs to the client named `client`
// (JACK may have added "-01" to the name); -1 when there is none.
int newEntry(const std::vector<std::string>& names, const std::set<std::string>& before, const QString& client) {
  for (std::size_t k = 1; k < names.size(); ++k) {
    if (!before.contains(names[k]) && QString::fromStdString(names[k]).startsWith(client)) return int(k);
  }
  return -1;
}

std::set<std::string> asSet(const std::vector<std::string>& names) { return {names.begin(), names.end()}; }

}  // namespace

DemoRun::DemoRun(std::FILE* out, std::FILE* err)
    : out_(out), err_(fileno(err)), boxes_(err_), phrase_(demoPhrase()), wake_([this](std::uint32_t) {
        takeArrivals();
      }) {
  a_.letter = QStringLiteral("A");
  b_.letter = QStringLiteral("B");
  warmUpTimer_ = new QTimer(this);
  warmUpTimer_->setInterval(kWarmUpMs);
  connect(warmUpTimer_, &QTimer::timeout, this, &DemoRun::sendWarmUp);
}

DemoRun::~DemoRun() { stop(); }

bool DemoRun::start() {
  // The player lists the ports first: the copies' own ports are the ones that
  // appear after (a JACK client has them from its start, others from Start on).
  player_ = midi::makeMidiService("DemoPlayer");
  const auto outputsBefore = asSet(player_->outputNames()), inputsBefore = asSet(player_->inputNames());
  a_.midi = midi::makeMidiService("DemoA");
  b_.midi = midi::makeMidiService("DemoB");
  if (outputsBefore.empty()) {
    boxes_.show(report::BoxIcon::Exclamation, QStringLiteral("demo"),
                QStringLiteral("no MIDI service runs (neither an ALSA sequencer nor a JACK server)"));
    return false;
  }
  a_.port = freePortPair(4000);
  b_.port = a_.port == 0 ? 0 : freePortPair(a_.port + 2);
  if (b_.port == 0) {
    boxes_.show(report::BoxIcon::Exclamation, QStringLiteral("demo"), QStringLiteral("no free UDP ports on 127.0.0.1"));
    return false;
  }
  if (!startCopy(a_, b_.port) || !startCopy(b_, a_.port) || !joinPlayer(outputsBefore, inputsBefore)) return false;
  printLine(QStringLiteral("demo: two copies of Strandlink, A and B, linked over %1 on this computer").arg(kLoopback));
  for (const Copy* c : {&a_, &b_}) {
    printLine(QStringLiteral("demo:   %1: MIDI on UDP %2, chat on %3; its MIDI ports %4 (input) and %5 (output)")
                  .arg(c->letter)
                  .arg(c->port)
                  .arg(c->port + 1)
                  .arg(c->inPort, c->outPort));
  }
  printLine(
      QStringLiteral("demo: once both read Connected, a short phrase goes into A's input; each message "
                     "that B's output plays is shown as \"B out: ...\""));
  warmUpTimer_->start();
  sendWarmUp();
  QTimer::singleShot(kConnectDeadlineMs, this, [this] {
    if (!playing_) startPhrase();
  });
  return true;
}

// Its own ports as devices (entry 0 of both lists), the other copy as its peer.
bool DemoRun::startCopy(Copy& copy, int remotePort) {
  copy.link = std::make_unique<link::Link>(*copy.midi, boxes_);
  connect(copy.link.get(), &link::Link::cannotGoOn, this, [] { std::exit(1); });
  connect(copy.link.get(), &link::Link::statusChanged, this,
          [this, &copy](protocol::LinkStatus status) { showStatus(copy, status); });
  copy.link->takeDeviceLists();
  settings::Settings s;
  s.remoteHost = s.localHost = kLoopback;
  s.remotePort = QString::number(remotePort);
  s.localPort = QString::number(copy.port);
  s.inputPosition = s.outputPosition = 0;
  return copy.link->start(s);
}

// The player's output joins A's input, its input (the recorder) B's output.
bool DemoRun::joinPlayer(const std::set<std::string>& outputsBefore, const std::set<std::string>& inputsBefore) {
  const auto outputs = player_->outputNames();
  const auto inputs = player_->inputNames();
  const QString a = QStringLiteral("DemoA"), b = QStringLiteral("DemoB");
  const int aIn = newEntry(outputs, outputsBefore, a), bIn = newEntry(outputs, outputsBefore, b);
  const int aOut = newEntry(inputs, inputsBefore, a), bOut = newEntry(inputs, inputsBefore, b);
  if (std::min({aIn, bIn, aOut, bOut}) < 0) {
    boxes_.show(report::BoxIcon::Exclamation, QStringLiteral("demo"),
                QStringLiteral("the copies' MIDI ports did not appear"));
    return false;
  }
  const auto name = [](const std::vector<std::string>& list, int k) {
    return QString::fromStdString(list[std::size_t(k)]);
  };
  a_.inPort = name(outputs, aIn);
  b_.inPort = name(outputs, bIn);
  a_.outPort = name(inputs, aOut);
  b_.outPort = name(inputs, bOut);
  midi::MidiError r = player_->openOutput(aIn, playerOut_);
  if (r == midi::MidiError::Ok) r = player_->openInput(bOut, *this, recorderIn_);
  if (r == midi::MidiError::Ok) r = recorderIn_->start();
  if (r != midi::MidiError::Ok) {
    boxes_.show(report::BoxIcon::Exclamation, QStringLiteral("demo"),
                QStringLiteral("the player could not join the copies' ports: ") +
                    QString::fromStdString(player_->errorText(r)));
  }
  return r == midi::MidiError::Ok;
}

void DemoRun::stop() {
  stopping_ = true;
  // The recorder first: what the copies release at their end is not part of the demo.
  // Closing at the end: a failure here changes nothing the demo shows.
  if (recorderIn_) {
    static_cast<void>(recorderIn_->stop());
    static_cast<void>(recorderIn_->close());
    recorderIn_.reset();
  }
  if (playerOut_) {
    static_cast<void>(playerOut_->close());
    playerOut_.reset();
  }
  for (Copy* c : {&a_, &b_}) {
    if (!c->link) continue;
    c->link->stop();
    c->link->shutDown();
  }
}

void DemoRun::showStatus(Copy& copy, protocol::LinkStatus status) {
  if (stopping_) return;
  copy.connected = status == protocol::LinkStatus::Connected;
  printLine(copy.letter + (copy.connected ? QStringLiteral(": Connected") : QStringLiteral(": Not Connected")));
  startPhraseWhenReady();
}

void DemoRun::sendWarmUp() {
  if (pathReady_ || stopping_) {
    warmUpTimer_->stop();
    return;
  }
  static_cast<void>(playerOut_->send(kWarmUp));  // the next warm-up tries again
}

void DemoRun::startPhraseWhenReady() {
  if (a_.connected && b_.connected && pathReady_ && !playing_) startPhrase();
}

void DemoRun::startPhrase() {
  warmUpTimer_->stop();
  playing_ = true;
  phraseClock_.start();
  playDue();
}

void DemoRun::playDue() {
  if (stopping_) return;
  while (nextEvent_ < phrase_.size() && phrase_[nextEvent_].atMs <= phraseClock_.elapsed()) {
    const midi::ShortMessage& message = phrase_[nextEvent_++].message;
    awaited_.push_back({message, monotonicMicros()});
    static_cast<void>(playerOut_->send(message));  // one that is not played shows as missing
  }
  if (nextEvent_ < phrase_.size()) {
    const qint64 wait = std::max<qint64>(0, phrase_[nextEvent_].atMs - phraseClock_.elapsed());
    QTimer::singleShot(int(wait), Qt::PreciseTimer, this, &DemoRun::playDue);
  } else {
    QTimer::singleShot(kArrivalDeadlineMs, this, &DemoRun::summarise);
  }
}

void DemoRun::onMidiMessage(midi::MidiEventView event, std::int64_t) {
  if (event.isSysEx()) return;  // the phrase has none
  // Timed on the clock the phrase was played by: the service's stamp follows the
  // audio clock, which a dummy or drifting card moves apart from it, and the two
  // subtracted once gave a median below zero that the summary could not print.
  const std::int64_t timeMicros = monotonicMicros();
  const auto message = midi::ShortMessage::fromBytes(event.bytes());
  const std::size_t tail = ringTail_.load(std::memory_order_relaxed);
  // Full only when the loop is far behind a flood: the message is not shown then.
  if (tail - ringHead_.load(std::memory_order_acquire) >= kRingSize) return;
  ring_[tail % kRingSize] = {message, timeMicros};
  ringTail_.store(tail + 1, std::memory_order_release);
  wake_.post(1);
}

// Each arrival is matched with the oldest message played with the same bytes.
void DemoRun::takeArrivals() {
  std::size_t head = ringHead_.load(std::memory_order_relaxed);
  while (head != ringTail_.load(std::memory_order_acquire)) {
    const Arrival arrival = ring_[head % kRingSize];
    ringHead_.store(++head, std::memory_order_release);
    // The warm-up is no part of the phrase; later ones may still be on their way.
    if (arrival.message == kWarmUp && !summarised_) {
      pathReady_ = true;
      continue;
    }
    const auto played =
        std::find_if(awaited_.begin(), awaited_.end(), [&](const Sent& s) { return s.message == arrival.message; });
    if (played != awaited_.end()) {
      latenciesMs_.push_back(double(arrival.timeMicros - played->timeMicros) / 1000.0);
      awaited_.erase(played);
    }
    printLine(QStringLiteral("B out: ") + describeMessage(arrival.message));
  }
  startPhraseWhenReady();
  if (playing_ && nextEvent_ == phrase_.size() && awaited_.empty()) summarise();
}

void DemoRun::summarise() {
  if (summarised_ || stopping_) return;
  summarised_ = true;
  QString line = QStringLiteral("demo: %1 of %2 MIDI messages arrived").arg(latenciesMs_.size()).arg(phrase_.size());
  if (!latenciesMs_.empty()) {
    std::vector<double> sorted = latenciesMs_;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    line += QStringLiteral(", median latency %1 ms").arg(median, 0, 'f', 1);
  }
  printLine(line);
  const QStringList howTo{
      QStringLiteral("demo: the copies stay linked until Ctrl+C: what reaches %1 comes out of %2,")
          .arg(a_.inPort, b_.outPort),
      QStringLiteral("demo: and what reaches %1 comes out of %2; connect your own MIDI programs to try it.")
          .arg(b_.inPort, a_.outPort),
      QStringLiteral("demo: To link two computers, run one copy on each, as mirror images, for example:"),
      QStringLiteral("demo:   studio (192.168.1.10): strandlink --headless --local 192.168.1.10:4000 "
                     "--remote 192.168.1.20:5000 --input 0 --output 0"),
      QStringLiteral("demo:   stage  (192.168.1.20): strandlink --headless --local 192.168.1.20:5000 "
                     "--remote 192.168.1.10:4000 --input 0 --output 0"),
      QStringLiteral("demo: 0 is each copy's own port; strandlink --list-devices lists the others. Let UDP 4000-4001"),
      QStringLiteral("demo: and 5000-5001 through the firewalls. Add --save-settings studio.stn to keep the values"),
      QStringLiteral("demo: in a settings file, and start with --settings studio.stn from then on."),
  };
  for (const QString& l : howTo) printLine(l);
}

void DemoRun::printLine(const QString& line) {
  std::fputs(line.toLocal8Bit().constData(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

}  // namespace strandlink::demo
