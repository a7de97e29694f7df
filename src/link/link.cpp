#include "link/link.h"

#include <arpa/inet.h>

#include <array>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <variant>

#include "link/midi_bridge.h"
#include "link/notice_text.h"
#include "link/problem_text.h"
#include "link/steady_timing.h"
#include "midi/midi_service.h"
#include "net/addresses.h"
#include "protocol/protocol_registry.h"
#include "report/visible_text.h"

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

}  // namespace

Link::Link(midi::MidiService& midi, report::MessageBoxes& boxes, QObject* parent)
    : QObject(parent),
      reporter_(boxes),
      midi_(midi),
      protocol_(std::make_unique<protocol::IdleProtocol>()),
      bridge_(std::make_unique<MidiBridge>(midi, lists_, reporter_)) {
  connect(&discovery_, &SessionDiscovery::noticed, this, &Link::noticed);
  checkTimer_.setInterval(1000);
  connect(&checkTimer_, &QTimer::timeout, this, [this] {
    protocol_->tick();
    emit figuresChanged(figuresText());
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
  // "MidiThru" in one word, as users know this warning from the guide and earlier
  // versions: kept as it is, though the box itself reads "Midi Thru".
  reporter_.report(
      report::BoxIcon::Exclamation, QStringLiteral("Strandlink Warning"),
      QStringLiteral("You will create a feedback loop...Change Midi Port settings or uncheck \"MidiThru\""));
  return false;
}

bool Link::start(const settings::Settings& given, const SessionOptions& options) {
  if (running_) return true;
  ending_ = false;
  settings::Settings settings = given;
  if (!lookUpRemoteSession(settings, options)) {
    startProblem_ = protocol::SettingsField::RemoteHost;
    return false;
  }
  admitFrom(options);
  if (!startProtocol(options.protocol, settings, options)) return false;
  followRememberedNames(settings, options.remembered);
  if (options.thru && !thruAllowed(settings.inputPosition, settings.outputPosition)) {
    protocol_->stop();
    return false;
  }
  bridge_->setProtocol(protocol_.get(), protocol::protocolRow(options.protocol).title);
  bridge_->setThru(options.thru);
  bridge_->setTiming(options.timing, options.delayMs);
  if (!bridge_->open(settings.inputPosition, settings.outputPosition)) {
    protocol_->stop();
    return false;
  }
  sessionPorts_ = {portAt(lists_.inputs, settings.inputPosition), portAt(lists_.outputs, settings.outputPosition)};
  filter_.clearCount();
  missing_ = {};
  waitsForInvitation_ = settings.remoteHost.trimmed().isEmpty();
  ownName_ = sessionName(options.name);
  remoteAddress_ = waitsForInvitation_ ? QString()
                                       : settings.remoteHost.trimmed() + u':' + settings.remotePort.trimmed();
  running_ = true;
  checkTimer_.start();
  deviceTimer_.start();
  countsTimer_.start();
  // Our MIDI (or control) port: the protocol has just bound it, so it is a port.
  if (options.publish)
    discovery_.publish(options.protocol, sessionName(options.name),
                       static_cast<quint16>(std::nearbyint(net::portValue(settings.localPort).value_or(0))));
  emit runningChanged(true);
  // A protocol without a peer to wait for (a group joined) is connected at once.
  if (status() == protocol::LinkStatus::Connected) emit statusChanged(status());
  return true;
}

bool Link::startProtocol(settings::Protocol kind, const settings::Settings& settings, const SessionOptions& options) {
  startProblem_ = protocol::SettingsField::None;
  if (!bridge_->inputOpen()) retiredProtocols_.clear();
  if (kind != protocolKind_) {
    if (bridge_->inputOpen()) retiredProtocols_.push_back(std::move(protocol_));
    protocol_ = protocol::protocolRow(kind).make(protocol::PeerContext{*this, filter_, admission_, clock_});
    protocolKind_ = kind;
  }
  protocol::PeerStart start{settings, options.timing, sessionName(options.name), options.ttl, options.key,
                            options.user, options.secret, options.users};
  start.moreRemotes = options.moreRemotes;
  const protocol::StartOutcome outcome = protocol_->start(start);
  startProblem_ = outcome.refused;
  if (outcome.result == protocol::StartOutcome::Result::CannotCreateSocket) emit cannotGoOn();
  return outcome.running();
}

// An entry of the allowed list is an address, or a name: an inviter's session
// name, and, with a domain ("studio.local"), a host name whose address is let in
// where it resolves. A bare word is not looked up: without a name server on the
// LAN that would hold up the Start for seconds.
void Link::admitFrom(const SessionOptions& options) {
  std::set<std::string> addresses;
  std::set<std::string> names;
  for (const QString& entry : options.allowed) {
    const std::uint32_t dotted = net::parseDottedAddress(entry.toStdString());
    if (dotted != net::kNoAddress && !net::isHostName(entry)) {
      addresses.insert(net::formatAddress(dotted).toStdString());
      continue;
    }
    names.insert(entry.toStdString());
    if (!net::isHostName(entry) || !entry.contains(u'.')) continue;
    if (const net::Resolved host = net::lookUpHost(entry.toStdString()); host.usable())
      addresses.insert(net::formatAddress(host.address).toStdString());
  }
  admission_.configure(options.admission, std::move(addresses), std::move(names));
}

void Link::answerInviter(const protocol::Inviter& inviter, protocol::InviterAnswer answer) {
  admission_.answer(inviter, answer);
  protocol_->inviterAnswered();
  if (answer != protocol::InviterAnswer::AllowAlways) return;
  QStringList allowed = settings::loadAllowed();
  const QString host = QString::fromStdString(inviter.host);
  if (!allowed.contains(host)) settings::saveAllowed(allowed << host);
}

// The remote given by its published name: its address and port, or one box that
// says why it was not found.
bool Link::lookUpRemoteSession(settings::Settings& settings, const SessionOptions& options) {
  if (options.remoteSession.isEmpty()) return true;
  const FoundSession found = discovery_.find(options.protocol, options.remoteSession, kSessionLookupWait);
  if (found.abandoned) return false;
  if (!found.service) {
    reporter_.report(report::BoxIcon::Exclamation, QString::fromLatin1(kRefusedValueTitle),
                     QStringLiteral("Could not find the session \"%1\" on the network for Remote IP Address: %2")
                         .arg(report::quotedValue(options.remoteSession), found.problem));
    return false;
  }
  settings.remoteHost = found.service->address;
  settings.remotePort = QString::number(found.service->port);
  emit noticed(QStringLiteral("Found the session \"%1\" at %2:%3")
                   .arg(report::visibleName(found.service->name), settings.remoteHost, settings.remotePort));
  emit remoteSessionFound(found.service->name, found.service->address, found.service->port);
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
  discovery_.withdraw();
  deviceTimer_.stop();
  // Releases, while the output is still open, whatever sounds on it.
  bridge_->close();
  checkTimer_.stop();
  countsTimer_.stop();
  emitCountsIfChanged();
  running_ = false;
  protocol_->stop();
  emit figuresChanged(QString());
  emit runningChanged(false);
}

void Link::shutDown() {
  discovery_.withdraw();
  listTimer_.stop();
  deviceTimer_.stop();
  checkTimer_.stop();
  countsTimer_.stop();
  // Each part on its own: an input that went away and did not come back leaves
  // an output that still holds notes, which closing releases.
  bridge_->close();
  // The front end may be half gone (this runs from destructors): the protocol's
  // last words are not passed on.
  ending_ = true;
  protocol_->stop();
  running_ = false;
}

void Link::checkDevices() {
  if (!running_) return;
  bridge_->checkDevices();
  const Missing now = bridge_->missing();
  if (now == missing_) return;
  missing_ = now;
  emit statusChanged(status());
}

QString Link::statusText() const {
  const auto members = protocol_->groupMembersHeard();
  return link::statusText(members ? groupStateText(*members) : connectionText(status()),
                          running_ ? missing_ : Missing{});
}

LinkState Link::state() {
  LinkState s{running_, status(), waitsForInvitation_, ownName_, {}, remoteAddress_, protocol_->groupMembersHeard(),
              missing()};
  if (!running_) return s;
  const protocol::LinkFigures f = protocol_->figures();
  if (f.measure == protocol::Measure::Group || f.peers.empty()) return s;
  s.linked = std::size_t(std::count_if(f.peers.begin(), f.peers.end(), [](const protocol::PeerFigures& p) {
    return p.status == protocol::LinkStatus::Connected;
  }));
  const protocol::PeerFigures& peer = f.peers.front();
  s.peerName = peer.name;
  // Where the peer is seen to be, over where it was looked for.
  if (peer.address.sin_addr.s_addr != 0)
    s.peerAddress =
        QStringLiteral("%1:%2").arg(net::formatAddress(peer.address.sin_addr.s_addr)).arg(ntohs(peer.address.sin_port));
  return s;
}

SentChatLine Link::sendChatLine(const QString& line) {
  QByteArray bytes = toLatin1(line);
  const bool cut = bytes.size() > kChatLineLimit;
  bytes.truncate(kChatLineLimit);
  if (bytes.size() == 1) bytes.append(' ');
  SentChatLine result{false, QString::fromLatin1(bytes), cut};
  protocol::ChatChannel* chat = protocol_->chat();
  if (!protocol_->running() || chat == nullptr) return result;
  // Sent as far as the user is concerned: a failed send has its own box.
  result.sent = true;
  static_cast<void>(chat->sendChatLine(bytesOf(bytes)));
  return result;
}

midi::Released Link::panic() {
  midi::Released released = bridge_->releaseHeld();
  protocol_->heldNotesReleased();
  if (running_) released.peerNotes = bridge_->releaseSent();
  return released;
}

Counts Link::counts() const { return {bridge_->sentCount(), received_}; }

QString Link::figuresText() { return link::figuresText(protocol_->figures()); }

QString Link::figuresSummary() { return link::figuresSummary(protocol_->figures()); }

void Link::peerEvent(midi::MidiEventView event, std::optional<std::uint32_t> stampMicros, std::int64_t arrivalMicros,
                     std::size_t source) {
  if (ending_) return;
  ++received_;
  bridge_->playReceived(event, stampMicros, arrivalMicros, source);
}

void Link::peerStatus(protocol::LinkStatus status) {
  if (ending_) return;
  // The fall of the link releases what the peer left sounding.
  if (status == protocol::LinkStatus::NotConnected && running_) {
    bridge_->releaseHeld();
    protocol_->heldNotesReleased();
  }
  emit statusChanged(status);
}

void Link::peerMemberGone(const midi::HeldSet& sounding) {
  if (!ending_ && running_) bridge_->release(sounding);
}

void Link::peerChatLine(const QString& line) {
  if (!ending_) emit chatLineReceived(line);
}

void Link::peerNotice(const protocol::PeerNotice& notice) {
  if (ending_) return;
  emit noticed(noticeLine(notice));
  if (const auto* asks = std::get_if<protocol::InviterAsks>(&notice))
    emit inviterAsks(protocol::Inviter{asks->from.host, asks->name});
}

// A box as soon as it is found; a line, as any notice, only while the front end listens.
void Link::peerProblem(const protocol::PeerProblem& problem) {
  if (const QString line = reportProblem(reporter_, problem); !line.isEmpty() && !ending_) emit noticed(line);
}

void Link::peerFiguresChanged() {
  if (!ending_) emit figuresChanged(figuresText());
}

void Link::emitCountsIfChanged() {
  const Counts now = counts();
  if (now == shownCounts_) return;
  shownCounts_ = now;
  emit countsChanged(now);
}

}  // namespace strandlink::link
