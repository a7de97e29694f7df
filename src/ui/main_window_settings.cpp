// What the main window reads and writes: its start-up, the settings file and the
// command line's values over it, the device lists, and the options remembered
// between runs (Midi Thru among them).
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>

#include "link/priority.h"
#include "link/protocol_choice.h"
#include "link/settings_files.h"
#include "midi/midi_service.h"
#include "protocol/protocol_registry.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"
#include "ui/field_validator.h"
#include "ui/line_shapes.h"
#include "ui/main_window.h"
#include "ui/protocol_fields.h"
#include "ui/qt_file_dialogs.h"
#include "ui/wrap_buttons.h"

namespace strandlink::ui {

namespace {

// The selected line, or -1 when none is (typed text over the selection counts as none).
int selectedPosition(const QComboBox& list) {
  const int index = list.currentIndex();
  if (index >= 0 && list.currentText() != list.itemText(index)) return -1;
  return index;
}

void selectPosition(QComboBox& list, int position) {
  const QSignalBlocker block(&list);
  list.setCurrentIndex(position >= 0 && position < list.count() ? position : -1);
}

}  // namespace

void MainWindow::startUp() {
  stackAnimationFrames();
  link::setProcessPriority(link::Priority::High);
  link_.takeDeviceLists();
  fillDeviceLists();
  // Before the settings file: its devices are not its fault then.
  link_.reportNoMidiService();
  const bool firstRun =
      !QFileInfo::exists(defaultSettingsPath_.isEmpty() ? settings::defaultSettingsPath() : defaultSettingsPath_);
  applySettings(
      link::loadSettingsFile(link_.reporter(), defaultSettingsPath_, link_.devices(), link::SettingsFileRole::Default));
  setTextUnfiltered(*localAddressBox_, link::localAddressText(link_.reporter()));
  // Without an output device the window appears only once start-up is done.
  showCentred();
  link::reportUnusablePreferences(link_.reporter());
  const bool peerOnly = settings::loadPeerFilter();
  peerOnlyBox_->setChecked(peerOnly);
  link_.setPeerFilter(peerOnly);
  showTimingChoice(settings::loadTiming(), settings::loadDelayMs());
  showProtocolChoice(link::loadProtocol());
  // No ports were ever kept: the chosen protocol's own, not the first run's 4000.
  if (firstRun) fields_->fillUsualValues(protocol::protocolRow(chosenProtocol()));
  restoreInviteList();
  showProtocolFields();
  restoreWindowOptions();
  link_.followDeviceLists(true);
}

// The window shows itself as soon as the first output (our own port) is listed.
void MainWindow::fillDeviceLists() {
  const auto fill = [](QComboBox& list, const std::vector<std::string>& names, const std::function<void()>& first) {
    const QSignalBlocker block(&list);
    const QString shown = list.currentText();
    for (std::size_t k = 0; k < names.size(); ++k) {
      list.addItem(QString::fromStdString(midi::listedPortName(names[k])));
      if (k == 0 && first) first();
    }
    if (names.empty()) {
      list.setEditText(shown);
    } else {
      list.setCurrentIndex(0);
    }
  };
  fill(*outputList_, link_.devices().outputs, [this] { showCentred(); });
  fill(*inputList_, link_.devices().inputs, {});
}

// Ports came or went while stopped. Each list keeps its choice by name; a chosen
// device that went is wanted still, and chosen again as soon as it is back.
void MainWindow::refreshDeviceLists(const link::DeviceLists& before) {
  const auto refill = [](QComboBox& list, const std::vector<std::string>& was, const std::vector<std::string>& now,
                         std::string& wanted) {
    const int position = selectedPosition(list);
    if (position >= 0 && position < int(was.size()))
      wanted = position == 0 ? std::string() : was[std::size_t(position)];
    const QSignalBlocker block(&list);
    list.clear();
    for (const std::string& name : now) list.addItem(QString::fromStdString(midi::listedPortName(name)));
    int found = position == 0 && !now.empty() ? 0 : -1;
    for (std::size_t k = 1; k < now.size() && !wanted.empty(); ++k)
      if (now[k] == wanted) found = int(k);
    list.setCurrentIndex(found);
  };
  refill(*inputList_, before.inputs, link_.devices().inputs, wantedDevices_[0]);
  refill(*outputList_, before.outputs, link_.devices().outputs, wantedDevices_[1]);
}

void MainWindow::loadSettings(const QString& path) {
  applySettings(link::loadSettingsFile(link_.reporter(), path, link_.devices(), link::SettingsFileRole::Named));
}

QString MainWindow::applyCommandLine(const link::SettingOverrides& overrides) {
  const link::ResolvedOverrides resolved = link::resolveOverrides(overrides, link_.devices());
  if (resolved.error.isEmpty()) {
    // A protocol given is a switch like one in the box; the values given go over its usual ones.
    if (overrides.protocol && *overrides.protocol != chosenProtocol())
      fields_->fillUsualValues(protocol::protocolRow(*overrides.protocol));
    applySettings(resolved.changes);
    // Remembered choices rather than settings: given, they are remembered.
    if (overrides.timing) settings::saveTiming(*overrides.timing);
    if (overrides.delayMs) settings::saveDelayMs(*overrides.delayMs);
    if (overrides.protocol) link::saveProtocol(*overrides.protocol);
    showTimingChoice(settings::loadTiming(), settings::loadDelayMs());
    showProtocolChoice(link::loadProtocol());
    showProtocolFields();
  } else {
    closedDown_ = true;
    link_.shutDown();
  }
  return resolved.error;
}

void MainWindow::applySettings(const settings::SettingsChanges& c) {
  if (c.remoteHost) setTextUnfiltered(*remoteAddressBox_, *c.remoteHost);
  if (c.remotePort) setTextUnfiltered(*remotePortBox_, *c.remotePort);
  if (c.localHost) setTextUnfiltered(*localAddressBox_, *c.localHost);
  if (c.localPort) setTextUnfiltered(*localPortBox_, *c.localPort);
  if (c.outputPosition) selectPosition(*outputList_, *c.outputPosition);
  if (c.inputPosition) selectPosition(*inputList_, *c.inputPosition);
  // An empty list (no MIDI service runs) cannot show a device: its position is
  // kept for the files written, so a run without the service loses no choice.
  if (c.outputPosition && outputList_->count() == 0) unlisted_.output = *c.outputPosition;
  if (c.inputPosition && inputList_->count() == 0) unlisted_.input = *c.inputPosition;
  if (c.highPriority) {
    const bool wasHigh = highOption_->isChecked();
    const QSignalBlocker blockHigh(highOption_);
    const QSignalBlocker blockReal(realtimeOption_);
    (*c.highPriority ? highOption_ : realtimeOption_)->setChecked(true);
    link::applyPriorityChange(wasHigh, *c.highPriority);
  }
}

settings::Settings MainWindow::currentSettings() const {
  settings::Settings s;
  s.remoteHost = remoteAddressBox_->text();
  s.remotePort = remotePortBox_->text();
  s.localHost = localAddressBox_->text();
  s.localPort = localPortBox_->text();
  s.outputPosition = outputList_->count() == 0 ? unlisted_.output : selectedPosition(*outputList_);
  s.inputPosition = inputList_->count() == 0 ? unlisted_.input : selectedPosition(*inputList_);
  s.highPriority = highOption_->isChecked();
  return s;
}

void MainWindow::chooseThru(bool on) {
  thruBox_->setChecked(on);
  toggleThru();
}

void MainWindow::toggleThru() {
  if (thruBox_->isChecked() && !link_.thruAllowed(selectedPosition(*inputList_), selectedPosition(*outputList_))) {
    thruBox_->setChecked(false);
  }
  showThru(thruBox_->isChecked());
  settings::saveWindowOption(settings::WindowOption::MidiThru, thruBox_->isChecked());
}

void MainWindow::showThru(bool on) {
  thruBox_->setChecked(on);
  networkLines_->setLineVisible(QStringLiteral("thruLine0"), on);
  for (int i = 1; i <= 3; ++i) portsLines_->setLineVisible(QStringLiteral("thruLine%1").arg(i), on);
}

// The options of the last run. Thru comes back only where the devices it joins
// make no loop, and without a box: the user did not ask for anything yet.
void MainWindow::restoreWindowOptions() {
  using settings::WindowOption;
  statsBox_->setChecked(settings::loadWindowOption(WindowOption::UpdateStatistic));
  popUpBox_->setChecked(settings::loadWindowOption(WindowOption::PopUpOnChat));
  showThru(settings::loadWindowOption(WindowOption::MidiThru) &&
           !link::thruWouldLoop(link_.devices(), selectedPosition(*inputList_), selectedPosition(*outputList_)));
}

// A cancelled dialog answers with no name, which means the default file.
void MainWindow::openSettings() {
  const QString chosen = chooseSettingsFile(*fileDialogs_, DialogMode::Open);
  if (!chosen.isEmpty()) {
    loadSettings(chosen);
    return;
  }
  applySettings(
      link::loadSettingsFile(link_.reporter(), defaultSettingsPath_, link_.devices(), link::SettingsFileRole::Default));
}

void MainWindow::saveSettings() {
  const QString chosen = chooseSettingsFile(*fileDialogs_, DialogMode::Save);
  link::saveSettingsFile(link_.reporter(), chosen.isEmpty() ? defaultSettingsPath_ : chosen, currentSettings());
}

}  // namespace strandlink::ui
