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

#include <algorithm>
#include <span>

#include "net/addresses.h"
#include "ui/animation_frames.h"
#include "ui/field_validator.h"
#include "ui/form1.h"
#include "ui/line_shapes.h"
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
    {"Local Host Port:", 1440 - 240},          {"Remote Host Port:", 6240 - 4860},
    {"Local Host IP Address", 1875},           {"Remote Host IP Address", 1875},
    {"Midi Events sent", 1275},                {"Midi Events received", 1575},
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
  QFont f = l->font();
  const double floor = f.pointSizeF() - 1.0;
  while (f.pointSizeF() > floor && QFontMetricsF(f).horizontalAdvance(text) > l->width()) {
    f.setPointSizeF(f.pointSizeF() - 0.25);
  }
  l->setFont(f);
  return l;
}

// A frame without caption draws an etched border; one without border draws nothing.
QFrame* bordered(QFrame* f) {
  f->setFrameStyle(QFrame::Box | QFrame::Sunken);
  return f;
}

}  // namespace

template <class W>
W* Form1::place(QWidget* parent, const char* name, QRect geometry, double points, bool bold) {
  auto* w = new W(parent);
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(geometry);
  // Each control has its own font: a frame's caption size is not its children's.
  w->setFont(controlFont(points > 0 ? points : defaultPoints_, bold));
  return w;
}

void Form1::buildControls() {
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
  buildMenus();
  applyTabOrder();
}

void Form1::buildTopLevel(QWidget* client) {
  cmdStart = place<QPushButton>(client, "cmdStart", twipsRect(360, 3120, 1455, 675), 12);
  cmdStart->setText(QStringLiteral("&Start"));
  tabIndex(cmdStart, 0);

  cmdStop = place<QPushButton>(client, "cmdStop", twipsRect(2100, 3120, 1335, 675), 12);
  cmdStop->setText(QStringLiteral("&Exit"));
  tabIndex(cmdStop, 5);

  cmdMinimize = place<WrapPushButton>(client, "cmdMinimize", twipsRect(3720, 3120, 1335, 675));
  cmdMinimize->setText(QStringLiteral("&Minimize Window"));
  tabIndex(cmdMinimize, 7);

  chkMidiThru = place<QCheckBox>(client, "chkMidiThru", twipsRect(3360, 1080, 1935, 255));
  chkMidiThru->setText(QStringLiteral("Midi Thru"));
  tabIndex(chkMidiThru, 43);

  chkPopUp = place<WrapCheckBox>(client, "chkPopUp", twipsRect(5220, 3060, 1995, 795));
  chkPopUp->setText(QStringLiteral("Pop this window back up when receiving a chat message"));
  tabIndex(chkPopUp, 25);

  // The hint lies over everything else when it shows.
  txtPalm = place<QLineEdit>(client, "txtPalm", twipsRect(6600, -60, 2775, 315));
  txtPalm->setText(QStringLiteral("So what's this wiggely thing all about?"));
  // The hint is read whole or not at all: its text fits the box, smaller if need be.
  const Room hint[] = {{"So what's this wiggely thing all about?", 2775 - 150}};
  txtPalm->setFont(controlFont(fittedPointSize(defaultPoints_, 6.0, hint), false));
  QPalette yellow = txtPalm->palette();
  yellow.setColor(QPalette::Base, QColor(255, 255, 0));
  txtPalm->setPalette(yellow);
  txtPalm->setMouseTracking(true);
  txtPalm->hide();
  txtPalm->raise();
  tabIndex(txtPalm, 35);
}

void Form1::buildMidiPorts(QWidget* client) {
  frmMidiPorts = bordered(place<QFrame>(client, "frmMidiPorts", twipsRect(300, -120, 7275, 1155)));
  midiPortsLines_ = new LineShapes(frmMidiPorts);
  midiPortsLines_->setObjectName(QStringLiteral("frmMidiPortsLines"));

  label(place<QLabel>(frmMidiPorts, "Label10", twipsRect(2520, 180, 2295, 315), 13.5),
        QStringLiteral("Select Midi Ports"));
  label(place<QLabel>(frmMidiPorts, "Label7_0", twipsRect(120, 360, 1095, 255), 9.75), QStringLiteral("Midi Input"));
  label(place<QLabel>(frmMidiPorts, "Label7_1", twipsRect(5400, 360, 1695, 255), 9.75), QStringLiteral("Midi Output"),
        Qt::AlignRight);

  // Each list gets its edit field before the next control is made, so that the field
  // follows its list in the focus chain and the tab order moves them together.
  const auto deviceList = [this](const char* name, QRect where) {
    auto* list = place<QComboBox>(frmMidiPorts, name, where);
    list->setEditable(true);
    // Positions are device numbers: typed text must never become a line of its own.
    list->setInsertPolicy(QComboBox::NoInsert);
    list->setEditText(QStringLiteral("Combo1"));
    return list;
  };
  InputDevCombo = deviceList("InputDevCombo", twipsRect(120, 660, 3375, 315));
  OutputDevCombo = deviceList("OutputDevCombo", twipsRect(3780, 660, 3375, 315));
  tabIndex(OutputDevCombo, 9);
  tabIndex(InputDevCombo, 10);

  midiPortsLines_->addLine(QStringLiteral("lineMidiThru(1)"), 5700, 1380, 5700, 960, false);
  midiPortsLines_->addLine(QStringLiteral("lineMidiThru(2)"), 5580, 1080, 5700, 960, false);
  midiPortsLines_->addLine(QStringLiteral("lineMidiThru(3)"), 5820, 1080, 5700, 960, false);
  midiPortsLines_->addLine(QStringLiteral("Line3"), 6120, 960, 6120, 1260, true);
  midiPortsLines_->addLine(QStringLiteral("Line4"), 6120, 960, 6240, 1080, true);
  midiPortsLines_->addLine(QStringLiteral("Line5"), 6120, 960, 6000, 1080, true);
  midiPortsLines_->addLine(QStringLiteral("Line6"), 1980, 960, 1980, 1140, true);
}

void Form1::buildNet(QWidget* client) {
  frmNet = bordered(place<QFrame>(client, "frmNet", twipsRect(300, 1440, 7275, 1575)));
  netLines_ = new LineShapes(frmNet);
  netLines_->setObjectName(QStringLiteral("frmNetLines"));

  label(place<QLabel>(frmNet, "Label11", twipsRect(60, 240, 7155, 315), 12, true), QStringLiteral("Network settings"),
        Qt::AlignHCenter);
  label(place<QLabel>(frmNet, "Label4", twipsRect(300, 300, 1875, 255)), QStringLiteral("Local Host IP Address"));
  label(place<QLabel>(frmNet, "Label3", twipsRect(240, 1080, 1395, 315)), QStringLiteral("Local Host Port:"));
  label(place<QLabel>(frmNet, "Label1", twipsRect(4980, 300, 1875, 255)), QStringLiteral("Remote Host IP Address"));
  label(place<QLabel>(frmNet, "Label2", twipsRect(4860, 1080, 1395, 255)), QStringLiteral("Remote Host Port:"));
  lblConnectStatus = label(place<QLabel>(frmNet, "lblConnectStatus", twipsRect(2760, 1080, 1755, 315), 12),
                           QStringLiteral("Not Connected"), Qt::AlignHCenter);

  txtIPLocal = place<QLineEdit>(frmNet, "txtIPLocal", twipsRect(240, 600, 1995, 315));
  txtPortLocal = place<QLineEdit>(frmNet, "txtPortLocal", twipsRect(1440, 1020, 795, 315));
  txtIPAddress = place<QLineEdit>(frmNet, "txtIPAddress", twipsRect(4860, 600, 2175, 315));
  txtRemotePort = place<QLineEdit>(frmNet, "txtRemotePort", twipsRect(6240, 1020, 795, 315));
  for (QLineEdit* box : {txtIPLocal, txtIPAddress}) box->setValidator(new FieldValidator(net::filterAddressText, box));
  for (QLineEdit* box : {txtPortLocal, txtRemotePort}) box->setValidator(new FieldValidator(net::filterPortText, box));
  tabIndex(txtIPLocal, 17);
  tabIndex(txtPortLocal, 18);
  tabIndex(txtRemotePort, 19);
  tabIndex(txtIPAddress, 20);

  netLines_->addLine(QStringLiteral("lineMidiThru(0)"), 6000, 1380, 6000, 960, false);
  netLines_->addLine(QStringLiteral("Line1"), 6120, 240, 6120, 0, true);
  netLines_->addLine(QStringLiteral("Line10"), 5700, 240, 5700, 0, true);
  netLines_->addLine(QStringLiteral("Line11"), 5700, 240, 5820, 120, true);
  netLines_->addLine(QStringLiteral("Line12"), 5700, 240, 5580, 120, true);
  netLines_->addLine(QStringLiteral("Line2"), 6420, 960, 6420, 1620, true);
  netLines_->addLine(QStringLiteral("Line7"), 2280, 1380, 2280, 1020, true);
  netLines_->addLine(QStringLiteral("Line8"), 2280, 1380, 6000, 1380, true);
  netLines_->addLine(QStringLiteral("Line9"), 6000, 1380, 6000, 1680, true);
}

void Form1::buildChat(QWidget* client) {
  frmChat = place<QGroupBox>(client, "frmChat", twipsRect(300, 3900, 7275, 2355), 12);
  frmChat->setTitle(QStringLiteral("Chat Window"));
  label(place<QLabel>(frmChat, "Label8", twipsRect(360, 360, 495, 255)), QStringLiteral("Send"));
  label(place<QLabel>(frmChat, "Label9", twipsRect(120, 840, 735, 255)), QStringLiteral("Receive"));

  txtSend = place<QLineEdit>(frmChat, "txtSend", twipsRect(900, 360, 5775, 315));
  txtSend->setText(QStringLiteral("Type message here and hit Enter!"));
  tabIndex(txtSend, 15);

  txtReceive = place<QPlainTextEdit>(frmChat, "txtReceive", twipsRect(900, 840, 5775, 1395));
  txtReceive->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtReceive->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Tab leaves the box as in every other field; the history never needs a tab.
  txtReceive->setTabChangesFocus(true);
  // The history is never trimmed; an undo record per arriving line would double it.
  txtReceive->setUndoRedoEnabled(false);
  tabIndex(txtReceive, 14);
}

void Form1::buildPriority(QWidget* client) {
  Frame1 = place<QGroupBox>(client, "Frame1", twipsRect(7680, 2760, 1875, 1095), 12);
  Frame1->setTitle(QStringLiteral("Priority"));
  optReal = place<QRadioButton>(Frame1, "optReal", twipsRect(120, 480, 1035, 195));
  optReal->setText(QStringLiteral("Realtime"));
  optHigh = place<QRadioButton>(Frame1, "optHigh", twipsRect(120, 780, 975, 255));
  optHigh->setText(QStringLiteral("High"));
  optHigh->setChecked(true);
  tabIndex(optReal, 2);
  tabIndex(optHigh, 3);
}

void Form1::buildStatistics(QWidget* client) {
  frmStatistic = place<QGroupBox>(client, "frmStatistic", twipsRect(7680, 3960, 1875, 2295));
  frmStatistic->setTitle(QStringLiteral("Statistics"));
  chkUpdateStats = place<QCheckBox>(frmStatistic, "chkUpdateStats", twipsRect(120, 300, 1635, 315));
  chkUpdateStats->setText(QStringLiteral("Update Statistic"));
  label(place<QLabel>(frmStatistic, "Label12", twipsRect(240, 840, 1275, 255)), QStringLiteral("Midi Events sent"));
  label(place<QLabel>(frmStatistic, "Label13", twipsRect(240, 1500, 1575, 255)),
        QStringLiteral("Midi Events received"));
  txtSent = place<QLineEdit>(frmStatistic, "txtSent", twipsRect(240, 1020, 1515, 285));
  txtRecv = place<QLineEdit>(frmStatistic, "txtRecv", twipsRect(240, 1680, 1515, 285));
  tabIndex(txtSent, 46);
  tabIndex(txtRecv, 47);
  tabIndex(chkUpdateStats, 48);

  // The room below the counters, so the fixed layout stays as it is.
  cmdPanic = place<QPushButton>(frmStatistic, "cmdPanic", twipsRect(120, 1995, 735, 255), 7);
  cmdPanic->setText(QStringLiteral("&Panic"));
  cmdPanic->setToolTip(QStringLiteral("Release the notes the peer left sounding (Alt+P)"));
  cmdPanic->setEnabled(false);
  chkPeerFilter = place<QCheckBox>(frmStatistic, "chkPeerFilter", twipsRect(900, 1995, 915, 255), 7);
  chkPeerFilter->setText(QStringLiteral("Peer only"));
  chkPeerFilter->setToolTip(
      QStringLiteral("Take MIDI, connection checks and chat only from the remote host's address"));
  tabIndex(cmdPanic, 49);
  tabIndex(chkPeerFilter, 50);
}

void Form1::buildAnimation(QWidget* client) {
  frmAnimation = place<QFrame>(client, "frmAnimation", twipsRect(7680, 240, 1935, 2535));
  frmAnimation->setFrameStyle(QFrame::NoFrame);
  for (int i = 0; i < int(Picture1.size()); ++i) {
    const QByteArray name = "Picture1_" + QByteArray::number(i);
    // Only the last frame has its place in the layout; start-up stacks the rest on it.
    const QRect where = i == 7 ? twipsRect(180, 0, 1575, 2295) : QRect(0, 0, 100, 150);
    QLabel* picture = place<QLabel>(frmAnimation, name.constData(), where);
    // A picture box: a sunken border, its frame drawn from the top left corner.
    picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture->setLineWidth(2);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setPixmap(QPixmap::fromImage(animationFrame(i)));
    picture->setMouseTracking(true);
    Picture1[std::size_t(i)] = picture;
  }
}

void Form1::buildMenus() {
  mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
  mnuFile->setObjectName(QStringLiteral("mnuFile"));
  mnuOpen = mnuFile->addAction(QStringLiteral("&Open"));
  mnuOpen->setObjectName(QStringLiteral("mnuOpen"));
  mnuSave = mnuFile->addAction(QStringLiteral("&Save"));
  mnuSave->setObjectName(QStringLiteral("mnuSave"));
  mnuFile->addSeparator()->setObjectName(QStringLiteral("qq"));
  mnuExit = mnuFile->addAction(QStringLiteral("&Exit"));
  mnuExit->setObjectName(QStringLiteral("mnuExit"));

  mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  mnuReadme = mnuHelp->addAction(QStringLiteral("&Readme File"));
  mnuReadme->setObjectName(QStringLiteral("mnuReadme"));
  mnuInfo = mnuHelp->addAction(QStringLiteral("&Info"));
  mnuInfo->setObjectName(QStringLiteral("mnuInfo"));
  mnuWWW = mnuHelp->addAction(QStringLiteral("&Goto Website"));
  mnuWWW->setObjectName(QStringLiteral("mnuWWW"));
  mnuHelp->addSeparator()->setObjectName(QStringLiteral("qqq"));
  mnuAbout = mnuHelp->addAction(QStringLiteral("&About"));
  mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
}

void Form1::applyTabOrder() {
  std::stable_sort(tabOrder_.begin(), tabOrder_.end(),
                   [](const TabStop& a, const TabStop& b) { return a.index < b.index; });
  for (std::size_t i = 1; i < tabOrder_.size(); ++i) setTabOrder(tabOrder_[i - 1].widget, tabOrder_[i].widget);
}

}  // namespace strandlink::ui
