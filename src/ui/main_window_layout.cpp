// The controls of the main window: captions, places, fonts, first states and the
// tab order. Places are twips, relative to the client area or the containing frame.
#include <QAction>
#include <QApplication>
#include <QFontMetricsF>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <span>

#include "net/addresses.h"
#include "ui/animation_frames.h"
#include "ui/field_validator.h"
#include "ui/help_widgets.h"
#include "ui/inviter_bar.h"
#include "ui/main_window.h"
#include "ui/line_shapes.h"
#include "ui/tool_tips.h"
#include "ui/twips.h"
#include "ui/wrap_buttons.h"

namespace strandlink::ui {

namespace {

QFont controlFont(double points, bool bold) {
  QFont f = QApplication::font();
  f.setPointSizeF(points);
  f.setBold(bold);
  return f;
}

struct Room {
  const char* text;
  int twips;  // width the text may take before it is cut or runs under a neighbour
};

// The captions that are tightest at the layout's places: the two port labels run
// up to their boxes, the others fill their own width.
constexpr Room kTightestCaptions[] = {
    {"Local Host Port:", 1440 - 240}, {"Remote Host Port:", 6240 - 4860}, {"Local Host IP Address", 1875},
    {"Remote Host IP Address", 1875}, {"Midi Events sent", 1275},         {"Midi Events received", 1575},
};

// The layout was made for a narrow face; wider ones (DejaVu Sans, the usual
// default here) would cut its captions at 8 pt. Shrink in quarter points until
// every given caption fits, but not below the floor.
double fittedPointSize(double wanted, double floor, std::span<const Room> rooms) {
  double points = wanted;
  for (; points > floor; points -= 0.25) {
    const QFontMetricsF metrics(controlFont(points, false));
    bool fits = true;
    for (const Room& r : rooms) fits = fits && metrics.horizontalAdvance(QString::fromLatin1(r.text)) <= px(r.twips);
    if (fits) break;
  }
  return std::max(points, floor);
}

// A label as the layout knows it: text at the top, in one line. A caption that
// the family draws wider than its box is drawn up to a point smaller instead of cut.
QLabel* label(QLabel* l, const QString& text, Qt::Alignment horizontal = Qt::AlignLeft) {
  l->setText(text);
  l->setAlignment(horizontal | Qt::AlignTop);
  l->setTextFormat(Qt::PlainText);
  fitFont(l, text, l->width());
  return l;
}

// A frame without caption draws an etched border; one without border draws nothing.
QFrame* bordered(QFrame* f) {
  f->setFrameStyle(QFrame::Box | QFrame::Sunken);
  return f;
}

}  // namespace

template <class W>
W* MainWindow::place(QWidget* parent, const char* name, QRect geometry, double points, bool bold) {
  auto* w = new W(parent);
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(geometry);
  // Each control has its own font: a frame's caption size is not its children's.
  w->setFont(controlFont(points > 0 ? points : defaultPoints_, bold));
  return w;
}

void MainWindow::buildControls() {
  defaultPoints_ = fittedPointSize(kDefaultPointSize, kSmallestDefaultPointSize, kTightestCaptions);
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("client"));
  client_->setFixedSize(px(9585), px(6390));
  client_->setFont(controlFont(kDefaultPointSize, false));
  setCentralWidget(client_);

  buildMidiPorts(client_);
  buildNet(client_);
  buildChat(client_);
  buildPriority(client_);
  buildStatistics(client_);
  buildAnimation(client_);
  buildTopLevel(client_);
  buildStageControls(client_);
  // The hint lies over everything else when it shows, our additions included.
  hintBox_->raise();
  buildMenus();
  applyTabOrder();
}

void MainWindow::buildTopLevel(QWidget* client) {
  startButton_ = place<QPushButton>(client, "startButton", twipsRect(360, 3120, 1455, 675), 12);
  startButton_->setText(QStringLiteral("&Start"));

  stopButton_ = place<QPushButton>(client, "stopButton", twipsRect(2100, 3120, 1335, 675), 12);
  stopButton_->setText(QStringLiteral("&Exit"));

  minimizeButton_ = place<WrapPushButton>(client, "minimizeButton", twipsRect(3720, 3120, 1335, 675));
  minimizeButton_->setText(QStringLiteral("&Minimize Window"));

  thruBox_ = place<QCheckBox>(client, "thruBox", twipsRect(3435, 1080, 1860, 255));
  thruBox_->setText(QStringLiteral("Midi Thru"));

  popUpBox_ = place<WrapCheckBox>(client, "popUpBox", twipsRect(5220, 3060, 1995, 795));
  popUpBox_->setText(QStringLiteral("Pop this window back up when receiving a chat message"));

  hintBox_ = place<QLineEdit>(client, "hintBox", twipsRect(6600, -60, 2775, 315));
  hintBox_->setText(QStringLiteral("So what's this wiggely thing all about?"));
  // The hint is read whole or not at all: its text fits the box, smaller if need be.
  const Room hint[] = {{"So what's this wiggely thing all about?", 2775 - 150}};
  hintBox_->setFont(controlFont(fittedPointSize(defaultPoints_, 6.0, hint), false));
  QPalette yellow = hintBox_->palette();
  yellow.setColor(QPalette::Base, QColor(255, 255, 0));
  hintBox_->setPalette(yellow);
  hintBox_->setMouseTracking(true);
  hintBox_->hide();
}

// The frame's top edge would lie above the client area, under the menu bar; it
// starts at the client area's top instead, its contents where they were.
constexpr int kPortsFrameTop = -120;
constexpr int kPortsShift = -kPortsFrameTop;

void MainWindow::buildMidiPorts(QWidget* client) {
  portsFrame_ = bordered(place<QFrame>(client, "portsFrame", twipsRect(300, 0, 7275, 1155 - kPortsShift)));
  portsLines_ = new LineShapes(portsFrame_);
  portsLines_->setObjectName(QStringLiteral("portsLines"));
  const auto at = [](int left, int top, int width, int height) {
    return twipsRect(left, top - kPortsShift, width, height);
  };

  label(place<QLabel>(portsFrame_, "portsTitle", at(2520, 180, 2295, 315), 13.5), QStringLiteral("Select Midi Ports"));
  label(place<QLabel>(portsFrame_, "inputCaption", at(120, 360, 1095, 255), 9.75), QStringLiteral("Midi Input"));
  label(place<QLabel>(portsFrame_, "outputCaption", at(5400, 360, 1695, 255), 9.75), QStringLiteral("Midi Output"),
        Qt::AlignRight);

  // Each list gets its edit field before the next control is made, so that the field
  // follows its list in the focus chain and the tab order moves them together.
  const auto deviceList = [this](const char* name, QRect where) {
    auto* list = place<QComboBox>(portsFrame_, name, where);
    list->setEditable(true);
    // Positions are device numbers: typed text must never become a line of its own.
    list->setInsertPolicy(QComboBox::NoInsert);
    // "Combo1" until the lists are filled: the text users know from the first
    // start and from the guide, kept as it is, though it reads like a name.
    list->setEditText(QStringLiteral("Combo1"));
    return list;
  };
  inputList_ = deviceList("inputList", at(120, 660, 3375, 315));
  outputList_ = deviceList("outputList", at(3780, 660, 3375, 315));

  const auto line = [this](const char* name, int x1, int y1, int x2, int y2, bool visible) {
    portsLines_->addLine(QString::fromLatin1(name), x1, y1 - kPortsShift, x2, y2 - kPortsShift, visible);
  };
  line("thruLine1", 5700, 1380, 5700, 960, false);
  line("thruLine2", 5580, 1080, 5700, 960, false);
  line("thruLine3", 5820, 1080, 5700, 960, false);
  line("flowLine3", 6120, 960, 6120, 1260, true);
  line("flowLine4", 6120, 960, 6240, 1080, true);
  line("flowLine5", 6120, 960, 6000, 1080, true);
  line("flowLine6", 1980, 960, 1980, 1140, true);
}

void MainWindow::buildNet(QWidget* client) {
  networkFrame_ = bordered(place<QFrame>(client, "networkFrame", twipsRect(300, 1440, 7275, 1575)));
  networkLines_ = new LineShapes(networkFrame_);
  networkLines_->setObjectName(QStringLiteral("networkLines"));

  label(place<QLabel>(networkFrame_, "networkTitle", twipsRect(60, 240, 7155, 315), 12, true),
        QStringLiteral("Network settings"), Qt::AlignHCenter);
  label(place<QLabel>(networkFrame_, "localAddressCaption", twipsRect(300, 300, 1875, 255)),
        QStringLiteral("Local Host IP Address"));
  label(place<QLabel>(networkFrame_, "localPortCaption", twipsRect(240, 1080, 1395, 315)),
        QStringLiteral("Local Host Port:"));
  label(place<QLabel>(networkFrame_, "remoteAddressCaption", twipsRect(4980, 300, 1875, 255)),
        QStringLiteral("Remote Host IP Address"));
  label(place<QLabel>(networkFrame_, "remotePortCaption", twipsRect(4860, 1080, 1395, 255)),
        QStringLiteral("Remote Host Port:"));
  statusLabel_ = label(place<QLabel>(networkFrame_, "statusLabel", twipsRect(2760, 1080, 1755, 315), 12),
                       QStringLiteral("Not Connected"), Qt::AlignHCenter);

  localAddressBox_ = place<QLineEdit>(networkFrame_, "localAddressBox", twipsRect(240, 600, 1995, 315));
  localPortBox_ = place<QLineEdit>(networkFrame_, "localPortBox", twipsRect(1440, 1020, 795, 315));
  remoteAddressBox_ = place<QLineEdit>(networkFrame_, "remoteAddressBox", twipsRect(4860, 600, 2175, 315));
  remotePortBox_ = place<QLineEdit>(networkFrame_, "remotePortBox", twipsRect(6240, 1020, 795, 315));
  for (QLineEdit* box : {localAddressBox_, remoteAddressBox_})
    box->setValidator(new FieldValidator(net::filterAddressText, box));
  for (QLineEdit* box : {localPortBox_, remotePortBox_})
    box->setValidator(new FieldValidator(net::filterPortText, box));
  buildSessionFinder(networkFrame_);

  networkLines_->addLine(QStringLiteral("thruLine0"), 6000, 1380, 6000, 960, false);
  networkLines_->addLine(QStringLiteral("flowLine1"), 6120, 240, 6120, 0, true);
  networkLines_->addLine(QStringLiteral("flowLine10"), 5700, 240, 5700, 0, true);
  networkLines_->addLine(QStringLiteral("flowLine11"), 5700, 240, 5820, 120, true);
  networkLines_->addLine(QStringLiteral("flowLine12"), 5700, 240, 5580, 120, true);
  networkLines_->addLine(QStringLiteral("flowLine2"), 6420, 960, 6420, 1620, true);
  networkLines_->addLine(QStringLiteral("flowLine7"), 2280, 1380, 2280, 1020, true);
  networkLines_->addLine(QStringLiteral("flowLine8"), 2280, 1380, 6000, 1380, true);
  networkLines_->addLine(QStringLiteral("flowLine9"), 6000, 1380, 6000, 1680, true);
}

void MainWindow::buildChat(QWidget* client) {
  chatFrame_ = place<QGroupBox>(client, "chatFrame", twipsRect(300, 3900, 7275, 2355), 12);
  chatFrame_->setTitle(QStringLiteral("Chat Window"));
  label(place<QLabel>(chatFrame_, "sendCaption", twipsRect(360, 360, 495, 255)), QStringLiteral("Send"));
  label(place<QLabel>(chatFrame_, "receiveCaption", twipsRect(120, 840, 735, 255)), QStringLiteral("Receive"));

  chatInput_ = place<QLineEdit>(chatFrame_, "chatInput", twipsRect(900, 360, 5775, 315));
  chatInput_->setText(QString::fromLatin1(kChatPrompt));
  // One byte per character on the wire: the box holds what a peer reads.
  chatInput_->setMaxLength(link::kChatLineLimit);

  chatHistory_ = place<QPlainTextEdit>(chatFrame_, "chatHistory", twipsRect(900, 840, 5775, 1395));
  chatHistory_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  chatHistory_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Tab leaves the box as in every other field; the history never needs a tab.
  chatHistory_->setTabChangesFocus(true);
  // What was said cannot be changed; it can be selected and copied.
  chatHistory_->setReadOnly(true);
  chatHistory_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  chatHistory_->setMaximumBlockCount(kChatHistoryLines);
  inviterBar_ = new InviterBar(chatFrame_);
  inviterBar_->setGeometry(twipsRect(900, 1755, 5775, 480));
  // The frame's title size would leave the question no room beside its buttons.
  inviterBar_->setFont(controlFont(defaultPoints_, false));
  // An undo record per arriving line would double what the history holds.
  chatHistory_->setUndoRedoEnabled(false);
}

void MainWindow::buildPriority(QWidget* client) {
  priorityFrame_ = place<QGroupBox>(client, "priorityFrame", twipsRect(7680, 2760, 1875, 1095), 12);
  priorityFrame_->setTitle(QStringLiteral("Priority"));
  realtimeOption_ = place<QRadioButton>(priorityFrame_, "realtimeOption", twipsRect(120, 480, 1035, 195));
  realtimeOption_->setText(QStringLiteral("Realtime"));
  highOption_ = place<QRadioButton>(priorityFrame_, "highOption", twipsRect(120, 780, 975, 255));
  highOption_->setText(QStringLiteral("High"));
  highOption_->setChecked(true);
}

void MainWindow::buildStatistics(QWidget* client) {
  statisticsFrame_ = place<QGroupBox>(client, "statisticsFrame", twipsRect(7680, 3960, 1875, 2295));
  statisticsFrame_->setTitle(QStringLiteral("Statistics"));
  statsBox_ = place<QCheckBox>(statisticsFrame_, "statsBox", twipsRect(120, 300, 1635, 315));
  statsBox_->setText(QStringLiteral("Update Statistic"));
  label(place<QLabel>(statisticsFrame_, "sentCaption", twipsRect(240, 840, 1275, 255)),
        QStringLiteral("Midi Events sent"));
  label(place<QLabel>(statisticsFrame_, "receivedCaption", twipsRect(240, 1500, 1575, 255)),
        QStringLiteral("Midi Events received"));
  sentCount_ = place<QLineEdit>(statisticsFrame_, "sentCount", twipsRect(240, 1020, 1515, 285));
  receivedCount_ = place<QLineEdit>(statisticsFrame_, "receivedCount", twipsRect(240, 1680, 1515, 285));

  // The room below the counters, so the fixed layout stays as it is.
  peerOnlyBox_ = place<QCheckBox>(statisticsFrame_, "peerOnlyBox", twipsRect(120, 1995, 1635, 255), 7);
  peerOnlyBox_->setText(QStringLiteral("Peer only"));
  peerOnlyBox_->setToolTip(
      wrappedToolTip(QStringLiteral("Take MIDI, connection checks and chat only from the remote host's address")));
}

void MainWindow::buildAnimation(QWidget* client) {
  animationFrame_ = place<QFrame>(client, "animationFrame", twipsRect(7680, 240, 1935, 2535));
  animationFrame_->setFrameStyle(QFrame::NoFrame);
  for (int i = 0; i < int(pictures_.size()); ++i) {
    const QByteArray name = "picture" + QByteArray::number(i);
    // Only the last frame has its place in the layout; start-up stacks the rest on it.
    const QRect where = i == 7 ? twipsRect(180, 0, 1575, 2295) : QRect(0, 0, 100, 150);
    QLabel* picture = place<QLabel>(animationFrame_, name.constData(), where);
    // A picture box: a sunken border, its frame drawn from the top left corner.
    picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture->setLineWidth(2);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setPixmap(QPixmap::fromImage(animationFrame(i)));
    picture->setMouseTracking(true);
    pictures_[std::size_t(i)] = picture;
  }
}

void MainWindow::buildMenus() {
  fileMenu_ = menuBar()->addMenu(QStringLiteral("&File"));
  fileMenu_->setObjectName(QStringLiteral("fileMenu"));
  openAction_ = fileMenu_->addAction(QStringLiteral("&Open"));
  openAction_->setObjectName(QStringLiteral("openAction"));
  saveAction_ = fileMenu_->addAction(QStringLiteral("&Save"));
  saveAction_->setObjectName(QStringLiteral("saveAction"));
  fileMenu_->addSeparator();
  exitAction_ = fileMenu_->addAction(QStringLiteral("&Exit"));
  exitAction_->setObjectName(QStringLiteral("exitAction"));

  helpMenu_ = menuBar()->addMenu(QStringLiteral("&Help"));
  helpMenu_->setObjectName(QStringLiteral("helpMenu"));
  readmeAction_ = helpMenu_->addAction(QStringLiteral("&Readme File"));
  readmeAction_->setObjectName(QStringLiteral("readmeAction"));
  infoAction_ = helpMenu_->addAction(QStringLiteral("&Info"));
  infoAction_->setObjectName(QStringLiteral("infoAction"));
  websiteAction_ = helpMenu_->addAction(QStringLiteral("&Goto Website"));
  websiteAction_->setObjectName(QStringLiteral("websiteAction"));
  helpMenu_->addSeparator();
  aboutAction_ = helpMenu_->addAction(QStringLiteral("&About"));
  aboutAction_->setObjectName(QStringLiteral("aboutAction"));
}

// Tab follows what a user sets up, in order: the protocol, which says what the
// addresses mean, the addresses, the devices, the options, then Start and Exit,
// then the chat. The counters only show: Tab passes them by.
void MainWindow::applyTabOrder() {
  const std::vector<QWidget*> order = {
      protocolBox_,    localAddressBox_, localPortBox_,   findButton_,  remoteAddressBox_, inviteButton_,
      remotePortBox_,  inputList_,       outputList_,     thruBox_,     timingBox_,        delayBox_,
      realtimeOption_, highOption_,      statsBox_,       peerOnlyBox_, popUpBox_,         startButton_,
      stopButton_,     panicButton_,     minimizeButton_, chatInput_,   chatHistory_};
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
  for (QLineEdit* count : {sentCount_, receivedCount_}) count->setFocusPolicy(Qt::NoFocus);
}

// The controls the other parts of the window place.
template QComboBox* MainWindow::place<QComboBox>(QWidget*, const char*, QRect, double, bool);
template QSpinBox* MainWindow::place<QSpinBox>(QWidget*, const char*, QRect, double, bool);

}  // namespace strandlink::ui
