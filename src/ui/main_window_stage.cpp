// What the main window shows of a running link, readable from a few metres away:
// the connection status in colour, the MIDI activity lights, the link figures,
// the counters, and Panic with what it released.
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QComboBox>
#include <QSpinBox>

#include <algorithm>

#include "link/protocol_choice.h"
#include "link/session_discovery.h"
#include "protocol/protocol_registry.h"
#include "settings/preferences.h"
#include "ui/activity_light.h"
#include "ui/chat_history.h"
#include "ui/help_widgets.h"
#include "ui/main_window.h"
#include "ui/protocol_fields.h"
#include "ui/tool_tips.h"
#include "ui/twips.h"

namespace strandlink::ui {

namespace {

constexpr int kLightSize = 11;  // pixels
constexpr int kPanicNoteMs = 2000;

// A light beside a caption of the ports frame: after its text, or before it
// when the caption is right-aligned.
ActivityLight* lightBeside(QLabel* caption, const char* name, const QString& tip) {
  auto* light = new ActivityLight(caption->parentWidget());
  light->setObjectName(QString::fromLatin1(name));
  light->setToolTip(wrappedToolTip(tip));
  const int text = QFontMetrics(caption->font()).horizontalAdvance(caption->text());
  const bool right = caption->alignment() & Qt::AlignRight;
  const int x = right ? caption->geometry().right() - text - 6 - kLightSize : caption->x() + text + 6;
  const int y = caption->y() + (QFontMetrics(caption->font()).height() - kLightSize) / 2;
  light->setGeometry(x, y, kLightSize, kLightSize);
  return light;
}

}  // namespace

// The stage controls use room the fixed layout leaves free: the timing choice
// in the band left of Midi Thru, Panic and its note in the band right of it, the
// lights beside the device captions, the figures between the two address boxes.
// The animation's hint, shown only while no link runs, may cover the band's right
// part: Panic works only while a link runs, the timing choice only while none does.
void MainWindow::buildStageControls(QWidget* client) {
  panicButton_ = place<QPushButton>(client, "panicButton", twipsRect(6300, 1065, 1275, 345), 9, true);
  panicButton_->setText(QStringLiteral("&Panic"));
  panicButton_->setToolTip(wrappedToolTip(QStringLiteral("Release the notes the peer left sounding (Alt+P)")));
  panicButton_->setEnabled(false);
  // Over the empty right part of the Midi Thru box, which clicks pass through to.
  panicNote_ = place<QLabel>(client, "panicNote", twipsRect(4470, 1110, 1770, 255));
  panicNote_->setTextFormat(Qt::PlainText);
  panicNote_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  panicNote_->setAttribute(Qt::WA_TransparentForMouseEvents);
  panicNoteTimer_ = new QTimer(this);
  panicNoteTimer_->setSingleShot(true);
  panicNoteTimer_->setInterval(kPanicNoteMs);
  connect(panicNoteTimer_, &QTimer::timeout, panicNote_, &QLabel::clear);

  inputLight_ = lightBeside(portsFrame_->findChild<QLabel*>(QStringLiteral("inputCaption")), "inputLight",
                            QStringLiteral("Lights up while MIDI comes in from the Midi Input and is sent"));
  outputLight_ = lightBeside(portsFrame_->findChild<QLabel*>(QStringLiteral("outputCaption")), "outputLight",
                             QStringLiteral("Lights up while MIDI from the other side arrives for the Midi Output"));

  // The strip under the line between the two ports: what Start will do while
  // stopped, the figures while a session runs. Nothing else lies there, so
  // neither can cover a control.
  const QRect strip = twipsRect(240, 1395, 5745, 165);
  figuresLabel_ = place<QLabel>(networkFrame_, "figuresLabel", strip, 7);
  figuresLabel_->setAlignment(Qt::AlignCenter);
  figuresLabel_->setTextFormat(Qt::PlainText);
  startLine_ = place<QLabel>(networkFrame_, "startLine", strip, 7);
  startLine_->setAlignment(Qt::AlignCenter);
  startLine_->setTextFormat(Qt::PlainText);
  statusLabel_->setAlignment(Qt::AlignCenter);
  buildProtocolChoice(networkFrame_);
  buildTimingChoice(client);
}

// One item per protocol, in the registry's order, between the local address and
// Find: it says what the fields around it mean.
void MainWindow::buildProtocolChoice(QWidget* frame) {
  auto* caption = place<QLabel>(frame, "protocolCaption", twipsRect(2295, 630, 660, 255));
  caption->setText(QStringLiteral("Protocol"));
  caption->setTextFormat(Qt::PlainText);
  protocolBox_ = place<QComboBox>(frame, "protocolBox", twipsRect(2955, 600, 1125, 315), 7.5);
  caption->setBuddy(protocolBox_);
  for (const protocol::ProtocolRow& row : protocol::protocols()) protocolBox_->addItem(row.label);
  protocolBox_->setToolTip(wrappedToolTip(
      QStringLiteral("How this side talks to the other, and what the address fields mean. Classic: with another "
                     "copy of Strandlink at the remote host. RTP-MIDI: with a Mac, an iPad or rtpMIDI on Windows, "
                     "by its session or host, or waiting to be invited. Multicast: with every member of a group "
                     "on the LAN, such as qmidinet or ipMIDI. Network MIDI 2.0: with Windows MIDI Services or a "
                     "MIDI 2.0 device, inviting its host by session or address, or as a host for up to 8 "
                     "clients")));
  connect(protocolBox_, &QComboBox::activated, this, [this](int index) {
    const protocol::ProtocolRow& row = protocol::protocols()[std::size_t(index)];
    link::saveProtocol(row.value);
    fields_->fillUsualValues(row);
    showProtocolFields();
  });
  fields_ = std::make_unique<ProtocolFields>(
      AddressFields{.remoteAddressCaption = frame->findChild<QLabel*>(QStringLiteral("remoteAddressCaption")),
                    .remotePortCaption = frame->findChild<QLabel*>(QStringLiteral("remotePortCaption")),
                    .localPortCaption = frame->findChild<QLabel*>(QStringLiteral("localPortCaption")),
                    .remoteAddress = remoteAddressBox_,
                    .remotePort = remotePortBox_,
                    .localPort = localPortBox_,
                    .find = findButton_,
                    .invite = inviteButton_});
  for (QLineEdit* box : {localAddressBox_, localPortBox_, remoteAddressBox_, remotePortBox_})
    connect(box, &QLineEdit::textChanged, this, &MainWindow::showStartLine);
}

// Everything that follows the chosen protocol.
void MainWindow::showProtocolFields() {
  const protocol::ProtocolRow& row = protocol::protocolRow(chosenProtocol());
  fields_->show(row);
  fields_->enableButtons(row, link_.running());
  showChatAvailability();
  showStartLine();
}

void MainWindow::showStartLine() {
  const QString line = startLineText(protocol::protocolRow(chosenProtocol()), currentSettings(),
                                     link::sessionName(sessionName_), remoteSessionGiven(), moreRemotesGiven());
  startLine_->setText(line);
  startLine_->setToolTip(line);
}

void MainWindow::showProtocolChoice(settings::Protocol protocol) {
  const QSignalBlocker block(protocolBox_);
  const auto rows = protocol::protocols();
  protocolBox_->setCurrentIndex(int(std::ranges::find(rows, protocol, &protocol::ProtocolRow::value) - rows.begin()));
}

settings::Protocol MainWindow::chosenProtocol() const {
  return protocol::protocols()[std::size_t(protocolBox_->currentIndex())].value;
}

// Remembered in strandlink.conf as soon as it is chosen, like Peer only; the
// delay matters in steady timing only.
void MainWindow::buildTimingChoice(QWidget* client) {
  timingBox_ = place<QComboBox>(client, "timingBox", twipsRect(1230, 1065, 1230, 315), 7.5);
  timingBox_->addItems({QStringLiteral("Immediate"), QStringLiteral("Steady")});
  timingBox_->setToolTip(wrappedToolTip(
      QStringLiteral("Immediate: received MIDI plays as soon as it arrives. Steady: a constant time after it was "
                     "played on the other side, with its spacing kept")));
  delayBox_ = place<QSpinBox>(client, "delayBox", twipsRect(2490, 1065, 915, 315), 7);
  delayBox_->setRange(0, settings::kMaxDelayMs);
  // One period is some milliseconds on any MIDI service: the first steps up from
  // it are the first values that can be more.
  delayBox_->setSingleStep(5);
  delayBox_->setSuffix(QStringLiteral(" ms"));
  delayBox_->setSpecialValueText(QStringLiteral("1 period"));
  delayBox_->setToolTip(wrappedToolTip(
      QStringLiteral("Steady timing's delay: raise it to absorb the jitter of a Wi-Fi or internet link. The least "
                     "is one period of the MIDI service (\"1 period\", 0 ms); a value below one period means one "
                     "period too")));
  connect(timingBox_, &QComboBox::activated, this, [this](int index) {
    settings::saveTiming(index == 1 ? settings::Timing::Steady : settings::Timing::Immediate);
    enableTimingChoice(link_.running());
  });
  connect(delayBox_, &QSpinBox::valueChanged, this, [](int ms) { settings::saveDelayMs(ms); });
}

void MainWindow::showTimingChoice(settings::Timing timing, int delayMs) {
  const QSignalBlocker blockTiming(timingBox_);
  const QSignalBlocker blockDelay(delayBox_);
  timingBox_->setCurrentIndex(timing == settings::Timing::Steady ? 1 : 0);
  delayBox_->setValue(delayMs);
  enableTimingChoice(link_.running());
}

// Like the device lists, fixed while a session runs.
void MainWindow::enableTimingChoice(bool running) {
  protocolBox_->setEnabled(!running);
  timingBox_->setEnabled(!running);
  delayBox_->setEnabled(!running && timingBox_->currentIndex() == 1);
}

link::SessionOptions MainWindow::sessionOptions() const {
  return {.thru = thruBox_->isChecked(),
          .timing = timingBox_->currentIndex() == 1 ? settings::Timing::Steady : settings::Timing::Immediate,
          .delayMs = delayBox_->value(),
          .remembered = settings::loadRememberedPorts(),
          .protocol = chosenProtocol(),
          .ttl = groupTtl_,
          .publish = publish_,
          .name = sessionName_,
          .remoteSession = remoteSessionGiven(),
          .admission = settings::loadAdmission().value_or(settings::Admission::Ask),
          .allowed = settings::loadAllowed() + allowedGiven_,
          .key = sharedKey_,
          .moreRemotes = moreRemotesGiven()};
}

void MainWindow::setAdmission(std::optional<settings::Admission> rule, const QStringList& allowed) {
  if (rule) settings::saveAdmission(*rule);
  allowedGiven_ = allowed;
}

std::vector<protocol::RemoteText> MainWindow::moreRemotesGiven() const {
  if (!protocol::protocolRow(chosenProtocol()).invitesSeveral) return {};
  return moreRemotes_;
}

// A session typed by name stands for the remote as one named on the command line does.
QString MainWindow::remoteSessionGiven() const {
  if (!remoteSession_.isEmpty()) return remoteSession_;
  return sessionNamedBy(protocol::protocolRow(chosenProtocol()), remoteAddressBox_->text());
}

// A protocol without chat: the box says so and takes nothing, whichever protocol
// it was before.
void MainWindow::showChatAvailability() {
  const protocol::ProtocolRow& row = protocol::protocolRow(chosenProtocol());
  if (!row.chat) {
    chatInput_->setEnabled(false);
    chatInput_->setText(QStringLiteral("%1 carries no chat").arg(row.label));
  } else if (!chatInput_->isEnabled()) {
    chatInput_->setEnabled(true);
    chatInput_->setText(chatPromptCleared_ ? QString() : QString::fromLatin1(kChatPrompt));
  }
}

// The list shows the device that was opened, and the history why.
void MainWindow::showDeviceMove(const link::DeviceMove& move) {
  QComboBox* list = move.input ? inputList_ : outputList_;
  const QSignalBlocker block(list);
  list->setCurrentIndex(move.to);
  appendHistoryLine(*chatHistory_, QStringLiteral("(") + link::deviceMoveText(link_.devices(), move) + u')');
  setHistoryCaret(*chatHistory_, historyLength(*chatHistory_));
}

// The note has room for about sixteen characters; the tooltip says it in full.
void MainWindow::panic() {
  const midi::Released released = link_.panic();
  const QString full = link::panicText(released);
  panicNote_->setText(released.peerNotes == 0
                          ? full
                          : QStringLiteral("%1 here, %2 at peer").arg(released.notes).arg(released.peerNotes));
  panicNote_->setToolTip(full);
  panicNoteTimer_->start();
}

// Switched on, each box shows its count from the next change on; switched off,
// both are emptied.
void MainWindow::toggleStatistics() {
  settings::saveWindowOption(settings::WindowOption::UpdateStatistic, statsBox_->isChecked());
  if (statsBox_->isChecked()) return;
  sentCount_->clear();
  receivedCount_->clear();
}

// The lights blink on every change, whether the counts are shown or not.
void MainWindow::showCounts(link::Counts counts) {
  if (counts.sent != lastCounts_.sent) inputLight_->flash();
  if (counts.received != lastCounts_.received) outputLight_->flash();
  if (statsBox_->isChecked()) {
    if (counts.sent != lastCounts_.sent) sentCount_->setText(QString::number(counts.sent));
    if (counts.received != lastCounts_.received) receivedCount_->setText(QString::number(counts.received));
  }
  lastCounts_ = counts;
}

}  // namespace strandlink::ui
