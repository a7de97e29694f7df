#include "link/link.h"

#include <array>
#include <cstdlib>
#include <utility>

#include "link/midi_bridge.h"
#include "link/steady_timing.h"
#include "midi/midi_service.h"
#include "net/socket_errors.h"

namespace strandlink::link {

namespace {

// One byte per character of ISO 8859-1; characters outside it become "?".
QByteArray toLatin1(const QString& line) {
  QByteArray bytes;
  const auto codePoints = line.toUcs4();
  bytes.reserve(codePoints.size());
  for (char32_t c : codePoints) bytes.append(c <= 0xFF ? static_cast<char>(c) : '?');
  return bytes;
}

std::span<const std::uint8_t> bytesOf(const QByteArray& a) {
  return {reinterpret_cast<const std::uint8_t*>(a.constData()), static_cast<std::size_t>(a.size())};
}

settings::RememberedPort portAt(const std::vector<std::string>& names, int position) {
  if (position < 0 || position >= int(names.size())) return {};
  return {position, QString::fromStdString(names[std::size_t(position)])};
}

constexpr int kMidiReadLength = 200;
constexpr int kChatReadLength = kChatLineLimit;

}  // namespace

Link::Link(midi::MidiService& midi, MessageBoxes& boxes, QObject* parent)
    : QObject(parent),
      reporter_(boxes),
      midi_(midi),
      monitor_([this] { sendControl(kProbeByte, QStringLiteral("Tried to send Connection_Check:  ")); },
               [this] { sendControl(kReplyByte, QStringLiteral("Tried to send Connection_Check_Reply:  ")); },
               [this](LinkStatus s) { onStatus(s); }),
      midiOversize_(QStringLiteral("MIDI"), kMidiReadLength),
      chatOversize_(QStringLiteral("chat"), kChatReadLength),
      bridge_(std::make_unique<MidiBridge>(midi, lists_, reporter_)),
      fatalExit_([] { std::exit(1); }) {
  checkTimer_.setInterval(1000);
  connect(&checkTimer_, &QTimer::timeout, this, [this] {
    monitor_.tick();
    emit figuresChanged(figuresText());
    tellOversize();
  });
  // Have the chosen devices gone, or come back?
  deviceTimer_.setInterval(1000);
  connect(&deviceTimer_, &QTimer::timeout, this, &Link::checkDevices);
  // A repaint per datagram would cost the window's thread far more than the
  // datagram itself and hold up the next one.
  countsTimer_.setInterval(kCountsRefreshMs);
  connect(&countsTimer_, &QTimer::timeout, this, [this] { emitCountsIfChanged(); });
  listTimer_.setInterval(500);
  connect(&listTimer_, &QTimer::timeout, this, &Link::refreshDeviceLists);
}

Link::~Link() { shutDown(); }

void Link::takeDeviceLists() {
  lists_.outputs = midi_.outputNames();
  lists_.inputs = midi_.inputNames();
}

bool Link::reportNoMidiService() {
  if (!lists_.inputs.empty() || !lists_.outputs.empty()) return false;
  reportMissingService(reporter_, QString::fromStdString(midi_.errorText(midi::MidiError::NoService)));
  return true;
}

void Link::followDeviceLists(bool on) {
  if (on) listTimer_.start();
  else listTimer_.stop();
}

// A session keeps the lists it started with: its positions name its devices.
void Link::refreshDeviceLists() {
  if (running_ || !midi_.portsChanged()) return;
  DeviceLists now;
  now.outputs = midi_.outputNames();
  now.inputs = midi_.inputNames();
  if (now.inputs == lists_.inputs && now.outputs == lists_.outputs) return;
  const DeviceLists before = std::exchange(lists_, std::move(now));
  emit devicesChanged(before);
}

bool Link::thruAllowed(int inputPosition, int outputPosition) {
  if (!thruWouldLoop(lists_, inputPosition, outputPosition)) return true;
  reporter_.report(
      BoxIcon::Exclamation, QStringLiteral("Strandlink Warning"),
      QStringLiteral("You will create a feedback loop...Change Midi Port settings or uncheck \"MidiThru\""));
  return false;
}

bool Link::start(const settings::Settings& given, const SessionOptions& options) {
  if (running_) return true;
  const AddressCheck checked = checkAddresses(given, reporter_);
  startProblem_ = checked.firstRefused;
  if (!checked.addresses) return false;
  settings::Settings settings = given;
  followRememberedNames(settings, options.remembered);
  if (options.thru && !thruAllowed(settings.inputPosition, settings.outputPosition)) return false;
  const auto opened = endpoints_.open(*checked.addresses, reporter_, [this] { readMidiDatagram(); },
                                      [this] { readChatDatagram(); });
  if (opened == UdpEndpoints::Outcome::CannotCreate) fatalExit_();
  if (opened != UdpEndpoints::Outcome::Open) {
    // A port in use is the local port's problem; an address that is not this
    // computer's, the local address's.
    startProblem_ = endpoints_.bindError() == net::kSocketAddressNotAvailable ? SettingsField::LocalHost
                                                                               : SettingsField::LocalPort;
    return false;
  }
  bridge_->setDestination(endpoints_.midi().descriptor(), endpoints_.midiRemote());
  bridge_->setThru(options.thru);
  bridge_->setTiming(options.timing, options.delayMs);
  if (!bridge_->open(settings.inputPosition, settings.outputPosition)) {
    endpoints_.close();
    return false;
  }
  sessionPorts_ = {portAt(lists_.inputs, settings.inputPosition), portAt(lists_.outputs, settings.outputPosition)};
  filter_.clearCount();
  missing_ = {};
  running_ = true;
  checkTimer_.start();
  deviceTimer_.start();
  countsTimer_.start();
  emit runningChanged(true);
  return true;
}

// A device listed elsewhere since its position was stored is opened where it is
// now; the front end hears of each move (and follows it in its own settings).
void Link::followRememberedNames(settings::Settings& settings, const settings::RememberedPorts& remembered) {
  for (const bool input : {true, false}) {
    int& position = input ? settings.inputPosition : settings.outputPosition;
    const int found = followRememberedName(input ? lists_.inputs : lists_.outputs, position,
                                           input ? remembered.input : remembered.output);
    if (found == position) continue;
    emit deviceFollowed(DeviceMove{input, position, found});
    position = found;
  }
}

void Link::stop() {
  if (!running_) return;
  deviceTimer_.stop();
  // Releases, while the output is still open, whatever sounds on it.
  bridge_->close();
  checkTimer_.stop();
  countsTimer_.stop();
  emitCountsIfChanged();
  running_ = false;
  monitor_.sessionEnded();
  emit figuresChanged(QString());
  emit runningChanged(false);
  endpoints_.close();
}

void Link::shutDown() {
  listTimer_.stop();
  deviceTimer_.stop();
  checkTimer_.stop();
  countsTimer_.stop();
  // Each part on its own: an input that went away and did not come back leaves
  // an output that still holds notes, which closing releases.
  bridge_->close();
  endpoints_.close();
  running_ = false;
}

void Link::checkDevices() {
  if (!running_) return;
  bridge_->checkDevices();
  const Missing now = bridge_->missing();
  if (now == missing_) return;
  missing_ = now;
  emit statusChanged(monitor_.status());
}

QString Link::statusText() const { return link::statusText(monitor_.status(), running_ ? missing_ : Missing{}); }

SentChatLine Link::sendChatLine(const QString& line) {
  QByteArray bytes = toLatin1(line);
  const bool cut = bytes.size() > kChatLineLimit;
  bytes.truncate(kChatLineLimit);
  if (bytes.size() == 1) bytes.append(' ');
  SentChatLine result{false, QString::fromLatin1(bytes), cut};
  if (!endpoints_.isOpen()) return result;
  result.sent = true;
  const net::Transfer sent = endpoints_.chat().sendTo(bytesOf(bytes), endpoints_.chatRemote());
  if (!sent.ok()) {
    reporter_.socketError(sent.error, QStringLiteral("Tried to send chat message:  "), Reporter::Flood::Throttle);
  }
  return result;
}

Released Link::panic() {
  Released released = bridge_->releaseHeld();
  if (running_) released.peerNotes = bridge_->releaseSent();
  return released;
}

Counts Link::counts() const { return {bridge_->sentCount(), received_}; }

QString Link::figuresText() {
  return formatLinkQuality(monitor_.quality().figures(LinkQuality::Clock::now()), filter_.refused());
}

QString Link::figuresSummary() {
  return formatLinkSummary(monitor_.quality().figures(LinkQuality::Clock::now()),
                           monitor_.status() == LinkStatus::Connected);
}

void Link::readMidiDatagram() {
  if (!endpoints_.isOpen()) return;
  // Zeros stand in for the bytes a short datagram did not have.
  std::array<std::uint8_t, kMidiReadLength> buffer{};
  sockaddr_in from{};
  std::int64_t arrival = 0;
  const net::Transfer read = endpoints_.midi().receiveFrom(buffer, from, &arrival);
  if (!takeDatagram(read, from, midiOversize_)) {
    // A port-unreachable answer to one of our probes is no fault of a read; the
    // connection check already shows it.
    if (!read.ok() && read.error != net::kSocketMessageTooLong && !net::isUnreachableEcho(read.error)) {
      reporter_.socketError(read.error, QStringLiteral("Tried to read MidiSocketRecvBuffer:  "),
                            Reporter::Flood::Throttle);
    }
    return;
  }
  ++received_;
  // Our own receivers read what a peer built to the first format reads: the first
  // three bytes. Only a datagram of exactly seven carries a moment as well.
  bridge_->playReceived(midi::ShortMessage::fromBytes(std::span(buffer).first(3)),
                        datagramStamp(std::span(buffer).first(std::size_t(read.bytes))), arrival);
}

// One byte is a control byte of the connection check, two or more a chat line.
// Empty and failed reads are dropped; a line longer than the read length is counted.
void Link::readChatDatagram() {
  if (!endpoints_.isOpen()) return;
  std::array<std::uint8_t, kChatReadLength> buffer{};
  sockaddr_in from{};
  const net::Transfer read = endpoints_.chat().receiveFrom(buffer, from);
  if (!takeDatagram(read, from, chatOversize_)) return;
  if (read.bytes == 1) {
    monitor_.controlByte(buffer[0]);
    if (buffer[0] == kReplyByte) emit figuresChanged(figuresText());
    return;
  }
  emit chatLineReceived(QString::fromLatin1(reinterpret_cast<const char*>(buffer.data()), read.bytes));
}

bool Link::takeDatagram(const net::Transfer& read, const sockaddr_in& from, OversizeNotice& oversize) {
  const bool tooLong = read.error == net::kSocketMessageTooLong;
  if (!tooLong && read.bytes < 1) return false;
  if (!filter_.accept(from, endpoints_.midiRemote().sin_addr.s_addr)) return false;
  if (!tooLong) return true;
  if (const QString line = oversize.count(from, OversizeNotice::Clock::now()); !line.isEmpty()) emit noticed(line);
  return false;
}

void Link::tellOversize() {
  for (OversizeNotice* o : {&midiOversize_, &chatOversize_}) {
    if (const QString line = o->due(OversizeNotice::Clock::now()); !line.isEmpty()) emit noticed(line);
  }
}

// Probe and reply both leave from the MIDI socket for the peer's chat port.
void Link::sendControl(std::uint8_t byte, const QString& context) {
  const std::array<std::uint8_t, 1> datagram{byte};
  const net::Transfer sent = endpoints_.midi().sendTo(datagram, endpoints_.chatRemote());
  if (!sent.ok()) reporter_.socketError(sent.error, context, Reporter::Flood::Throttle);
}

void Link::onStatus(LinkStatus status) {
  // The fall of the link releases what the peer left sounding.
  if (status == LinkStatus::NotConnected && running_) bridge_->releaseHeld();
  emit statusChanged(status);
}

void Link::emitCountsIfChanged() {
  const Counts now = counts();
  if (now == shownCounts_) return;
  shownCounts_ = now;
  emit countsChanged(now);
}

}  // namespace strandlink::link
