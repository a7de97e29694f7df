#include "headless/headless_run.h"

#include <unistd.h>

#include <cstdlib>

#include "headless/chat_input.h"
#include "link/priority.h"
#include "link/problem_text.h"
#include "link/protocol_choice.h"
#include "link/settings_files.h"
#include "midi/midi_service.h"
#include "report/visible_text.h"
#include "settings/key_file.h"
#include "settings/preferences.h"

namespace strandlink::headless {

namespace {

void writeLine(std::FILE* f, const QString& line) {
  std::fputs(line.toLocal8Bit().constData(), f);
  std::fputc('\n', f);
  std::fflush(f);
}

}  // namespace

int StreamBoxes::show(report::BoxIcon, const QString& title, const QString& text) {
  err_.write(title + QStringLiteral(": ") + text);
  return 1;
}

HeadlessRun::HeadlessRun(midi::MidiService& midi, HeadlessOptions options, std::FILE* out, std::FILE* err)
    : options_(std::move(options)), out_(fileno(out)), err_(fileno(err)), boxes_(err_), link_(midi, boxes_) {
  connect(&link_, &link::Link::statusChanged, this, &HeadlessRun::showStatus);
  // Its boxes have said why; a run without sockets has nothing to go on with.
  connect(&link_, &link::Link::cannotGoOn, this, [] { std::exit(1); });
  // Chat reaches us from any host while the peer filter is off; a terminal, a log
  // or the journal would act on its control characters.
  connect(&link_, &link::Link::chatLineReceived, this,
          [this](const QString& line) { printLine(QStringLiteral("REMOTE") + report::visibleControls(line)); });
  connect(&link_, &link::Link::figuresChanged, this, &HeadlessRun::showFigures);
  connect(&link_, &link::Link::noticed, this, &HeadlessRun::printLine);
  // The device found by its name is the one the settings name from now on.
  connect(&link_, &link::Link::deviceFollowed, this, [this](const link::DeviceMove& move) {
    (move.input ? settings_.inputPosition : settings_.outputPosition) = move.to;
    printLine(link::deviceMoveText(link_.devices(), move));
  });
}

HeadlessRun::~HeadlessRun() { finish(); }

// The window's start-up without the window: priority, device lists, the default
// settings (unless a file of its own is given), the local address. A file of its
// own is read afterwards, as File > Open would, so that its local address stands.
void HeadlessRun::startUp() {
  link::setProcessPriority(link::Priority::High);
  link_.takeDeviceLists();
  if (!link_.devices().outputs.empty()) settings_.outputPosition = 0;
  if (!link_.devices().inputs.empty()) settings_.inputPosition = 0;
  if (options_.settingsFile.isEmpty()) {
    applyChanges(link::loadSettingsFile(link_.reporter(), options_.defaultSettingsFile, link_.devices(),
                                        link::SettingsFileRole::Default));
  }
  settings_.localHost = link::localAddressText(link_.reporter());
  if (!options_.settingsFile.isEmpty()) {
    applyChanges(link::loadSettingsFile(link_.reporter(), options_.settingsFile, link_.devices(),
                                        link::SettingsFileRole::Named));
  }
  link::reportUnusablePreferences(link_.reporter());
  if (options_.peerFilter) settings::savePeerFilter(*options_.peerFilter);
  link_.setPeerFilter(options_.peerFilter.value_or(settings::loadPeerFilter()));
  if (options_.admission) settings::saveAdmission(*options_.admission);
  if (options_.overrides.timing) settings::saveTiming(*options_.overrides.timing);
  if (options_.overrides.delayMs) settings::saveDelayMs(*options_.overrides.delayMs);
  if (options_.overrides.protocol) link::saveProtocol(*options_.overrides.protocol);
}

// The window's "ask" has no one to ask here: only the inviters listed come in.
settings::Admission HeadlessRun::admission() {
  const settings::Admission rule = settings::loadAdmission().value_or(settings::Admission::Anyone);
  if (rule != settings::Admission::Ask) return rule;
  printError(QStringLiteral("strandlink: no window to ask in: only the inviters allowed may link (--allow)"));
  return settings::Admission::Listed;
}

void HeadlessRun::applyChanges(const settings::SettingsChanges& changes) {
  const bool wasHigh = settings_.highPriority;
  changes.applyTo(settings_);
  if (changes.highPriority) link::applyPriorityChange(wasHigh, settings_.highPriority);
}

QString HeadlessRun::prepare() {
  prepared_ = true;
  startUp();
  const link::ResolvedOverrides resolved = link::resolveOverrides(options_.overrides, link_.devices());
  if (!resolved.error.isEmpty()) return resolved.error;
  applyChanges(resolved.changes);
  if (!options_.keyFile.isEmpty()) {
    if (link::loadProtocol() != settings::Protocol::Classic) return link::keyWithOtherProtocolText();
    settings::KeyFile read = settings::readKeyFile(options_.keyFile);
    if (read.error != settings::KeyFileError::None) return link::keyFileText(read, options_.keyFile);
    key_ = std::move(read.key);
  }
  if (const QString bad = readAuthentication(); !bad.isEmpty()) return bad;
  writeDefaultFile_ = options_.settingsFile.isEmpty();
  return {};
}

// The secret or the password as the file holds it; the host's users, each line one.
QString HeadlessRun::readAuthentication() {
  const QString& secretPath = options_.secretFile.isEmpty() ? options_.passwordFile : options_.secretFile;
  if (!secretPath.isEmpty()) {
    const settings::KeyFile read = settings::readSecretFile(secretPath);
    const QLatin1StringView option(options_.secretFile.isEmpty() ? "--password-file" : "--secret-file");
    if (read.error != settings::KeyFileError::None) return link::keyFileText(read, secretPath, option);
    secret_ = QString::fromUtf8(reinterpret_cast<const char*>(read.key.data()), qsizetype(read.key.size()));
  }
  if (!options_.usersFile.isEmpty()) {
    settings::UsersFile read = settings::readUsersFile(options_.usersFile);
    if (read.error != settings::KeyFileError::None)
      return link::keyFileText(read, options_.usersFile, QLatin1StringView("--users-file"));
    users_ = std::move(read.users);
  }
  return {};
}

bool HeadlessRun::start() {
  if (!prepared_ && !prepare().isEmpty()) return false;
  const link::SessionOptions options{.thru = options_.thru,
                                     .timing = settings::loadTiming(),
                                     .delayMs = settings::loadDelayMs(),
                                     .remembered = settings::loadRememberedPorts(),
                                     .protocol = link::loadProtocol(),
                                     .ttl = options_.ttl,
                                     .publish = options_.publish,
                                     .name = options_.sessionName,
                                     .remoteSession = options_.remoteSession,
                                     .admission = admission(),
                                     .allowed = settings::loadAllowed() + options_.allowed,
                                     .key = key_,
                                     .user = options_.user,
                                     .secret = secret_,
                                     .users = users_,
                                     .moreRemotes = options_.moreRemotes};
  if (!link_.start(settings_, options)) {
    finish();
    return false;
  }
  settings::saveRememberedPorts(link_.sessionPorts());
  if (options_.chatFromInput) {
    chat_ = std::make_unique<ChatInput>(
        STDIN_FILENO, [this](const QString& line) { link_.sendChatLine(line); },
        [this](const QString& line) { err_.write(line); });
  }
  return true;
}

bool HeadlessRun::saveSettings(const QString& path) {
  writeDefaultFile_ = false;
  return link::saveSettingsFile(link_.reporter(), path, settings_);
}

void HeadlessRun::finish() {
  if (finished_) return;
  finished_ = true;
  chat_.reset();
  link_.stop();
  link_.shutDown();
  if (writeDefaultFile_) link::saveSettingsFile(link_.reporter(), options_.defaultSettingsFile, settings_);
  // One moment for both: a stuck output must not hold up the end.
  const auto deadline = std::chrono::steady_clock::now() + LineOutput::kDrainDeadline;
  for (LineOutput* output : {&out_, &err_}) {
    output->drain(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
  }
}

// Once per change of the line: the peer's answer, or what the session lacks.
void HeadlessRun::showStatus() {
  const QString line = link_.statusText();
  if (line == printedStatus_) return;
  printLine(line);
  printedStatus_ = line;
}

void HeadlessRun::panic() { printLine(QStringLiteral("Panic: ") + link::panicText(link_.panic())); }

void HeadlessRun::showFigures(const QString& text) {
  if (text.isEmpty() || text == printedFigures_) return;
  if (sinceFiguresLine_.isValid() && sinceFiguresLine_.elapsed() < kFiguresLineMs) return;
  printLine(text);
  printedFigures_ = text;
  sinceFiguresLine_.start();
}

void printDeviceLists(midi::MidiService& midi, std::FILE* out) {
  const auto inputs = midi.inputNames();
  const auto outputs = midi.outputNames();
  writeLine(out, QStringLiteral("MIDI inputs:"));
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    writeLine(out, QStringLiteral("%1 %2").arg(k).arg(QString::fromStdString(midi::listedPortName(inputs[k]))));
  }
  writeLine(out, QStringLiteral("MIDI outputs:"));
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    writeLine(out, QStringLiteral("%1 %2").arg(k).arg(QString::fromStdString(midi::listedPortName(outputs[k]))));
  }
}

}  // namespace strandlink::headless
