// The main window: every control of a session, the menus and the decoration
// timers. It is the core's view (SessionView) over its widgets and owns the
// session; its handlers keep the names of the events they serve and call into the
// core. Everything here runs on the window's thread.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "midi/midi_service.h"
#include "session/message_boxes.h"
#include "session/session.h"
#include "session/session_state.h"
#include "session/session_view.h"
#include "settings/file_dialog.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace strandlink::ui {

class LineShapes;
class QtMessageBoxes;
class Shell;
class frmAbout;
class frmInfo;
class WrapCheckBox;
class WrapPushButton;

// The window's fonts are the desktop's sans-serif family at the layout's sizes;
// 8 pt where the layout names none, less when the family is too wide for that
// (see defaultPointSize).
inline constexpr double kDefaultPointSize = 8.0;
inline constexpr double kSmallestDefaultPointSize = 7.0;

class Form1 : public QMainWindow, public SessionView {
  Q_OBJECT
 public:
  // boxes: where message boxes go; null means modal boxes over this window.
  explicit Form1(midi::MidiService& midi, MessageBoxes* boxes = nullptr, QWidget* parent = nullptr);
  ~Form1() override;

  Session& session() { return *session_; }
  SessionState& state() { return state_; }
  void setFileDialogs(std::unique_ptr<settings::FileDialogs> dialogs) { fileDialogs_ = std::move(dialogs); }
  // What ending the program does after Exit has closed the window (tests record it).
  void setQuitProgram(std::function<void()> quit) { quitProgram_ = std::move(quit); }
  // What opens the help document and the web page (tests record it).
  void setShell(std::shared_ptr<Shell> shell);
  // The open information window and about box, null when none is open.
  frmInfo* infoWindow() const;
  frmAbout* aboutWindow() const;

  // Handlers, named after the control and event they serve.
  void Form_Load();
  void Form_Unload(int& cancel);
  void cmdStart_Click();
  void cmdStop_Click();
  void cmdMinimize_Click();
  void mnuExit_Click();
  void optHigh_Click();
  void optReal_Click();
  void InputDevCombo_LostFocus();
  void OutputDevCombo_LostFocus();
  void chkMidiThru_Click();
  void chkUpdateStats_Click();
  // Releases the notes the peer left sounding (enabled while a session runs).
  void cmdPanic_Click();
  void chkPeerFilter_Click();
  // Key handlers get the typed character and set it to 0 to refuse it.
  void txtIPAddress_KeyPress(int& keyAscii);
  void txtIPLocal_KeyPress(int& keyAscii);
  void txtRemotePort_KeyPress(int& keyAscii);
  void txtPortLocal_KeyPress(int& keyAscii);
  void txtSend_KeyPress(int& keyAscii);
  void mnuOpen_Click();
  void mnuSave_Click();
  void mnuReadme_Click();
  void mnuInfo_Click();
  void mnuWWW_Click();
  void mnuAbout_Click();
  // x and y are in twips inside the control.
  void Picture1_MouseDown(int index, int button, int shift, double x, double y);
  void Picture1_MouseMove(int index, int button, int shift, double x, double y);
  void txtPalm_MouseMove(int button, int shift, double x, double y);
  void tmrAnimation_Timer();
  void tmrShield_Timer();

  // SessionView. txtReceive counts each line break as CR LF, the two characters
  // that the chat appends, so lengths and caret positions agree with its texts.
  QString text(TextControl c) const override;
  void setText(TextControl c, const QString& text) override;
  void appendText(TextControl c, const QString& text) override;
  void setCaret(TextControl c, qsizetype position) override;
  qsizetype textLength(TextControl c) const override;
  void addListItem(ListControl c, const QString& item) override;
  int listCount(ListControl c) const override;
  int listIndex(ListControl c) const override;
  void setListIndex(ListControl c, int index) override;
  bool checked(CheckControl c) const override;
  void setChecked(CheckControl c, bool on) override;
  bool highPrioritySelected() const override;
  void setHighPrioritySelected(bool high) override;
  void setThruLinesVisible(bool visible) override;
  // The link figures are the tooltip of the connection status.
  void setLinkQuality(const QString& text) override;
  void enterRunning() override;
  void enterIdle() override;
  void restoreAndRaise() override;

  // The caption: the program and version, blanks, and the notice; 121 characters.
  static QString caption();
  // The size of the controls without a size of their own: 8 pt, or the largest
  // quarter point below it at which the tightest captions fit their room.
  double defaultPointSize() const { return defaultPoints_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // form1_layout.cpp
  void buildControls();
  void buildTopLevel(QWidget* client);
  void buildMidiPorts(QWidget* client);
  void buildNet(QWidget* client);
  void buildChat(QWidget* client);
  void buildPriority(QWidget* client);
  void buildStatistics(QWidget* client);
  void buildAnimation(QWidget* client);
  void buildMenus();
  void applyTabOrder();
  // points 0: the window's default size.
  template <class W>
  W* place(QWidget* parent, const char* name, QRect geometry, double points = 0, bool bold = false);
  void tabIndex(QWidget* w, int index) { tabOrder_.push_back({index, w}); }

  void wireHandlers();
  void showCentred();
  bool filterKey(QObject* watched, QKeyEvent* key);
  QLineEdit* lineEdit(TextControl c) const;
  QComboBox* combo(ListControl c) const;
  QCheckBox* checkBox(CheckControl c) const;

  SessionState state_;
  std::unique_ptr<QtMessageBoxes> ownBoxes_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<settings::FileDialogs> fileDialogs_;
  std::function<void()> quitProgram_;
  std::shared_ptr<Shell> shell_;
  // Top-level windows of their own, not children: they outlive a closed main window.
  QPointer<frmInfo> info_;
  QPointer<frmAbout> about_;
  bool unloaded_ = false;
  double defaultPoints_ = kDefaultPointSize;
  qint16 frameCounter_ = 0;  // the animation picture to show next

  QWidget* client_ = nullptr;
  QPushButton* cmdStart = nullptr;
  QPushButton* cmdStop = nullptr;
  WrapPushButton* cmdMinimize = nullptr;
  QCheckBox* chkMidiThru = nullptr;
  WrapCheckBox* chkPopUp = nullptr;
  QLineEdit* txtPalm = nullptr;
  QFrame* frmMidiPorts = nullptr;
  QFrame* frmNet = nullptr;
  QGroupBox* frmChat = nullptr;
  QGroupBox* Frame1 = nullptr;
  QGroupBox* frmStatistic = nullptr;
  QFrame* frmAnimation = nullptr;
  QComboBox* InputDevCombo = nullptr;
  QComboBox* OutputDevCombo = nullptr;
  QLineEdit* txtIPLocal = nullptr;
  QLineEdit* txtPortLocal = nullptr;
  QLineEdit* txtIPAddress = nullptr;
  QLineEdit* txtRemotePort = nullptr;
  QLabel* lblConnectStatus = nullptr;
  QLineEdit* txtSend = nullptr;
  QPlainTextEdit* txtReceive = nullptr;
  QRadioButton* optReal = nullptr;
  QRadioButton* optHigh = nullptr;
  QCheckBox* chkUpdateStats = nullptr;
  QLineEdit* txtSent = nullptr;
  QLineEdit* txtRecv = nullptr;
  QPushButton* cmdPanic = nullptr;
  QCheckBox* chkPeerFilter = nullptr;
  std::array<QLabel*, 8> Picture1{};
  LineShapes* midiPortsLines_ = nullptr;
  LineShapes* netLines_ = nullptr;

  QMenu* mnuFile = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuOpen = nullptr;
  QAction* mnuSave = nullptr;
  QAction* mnuExit = nullptr;
  QAction* mnuReadme = nullptr;
  QAction* mnuInfo = nullptr;
  QAction* mnuWWW = nullptr;
  QAction* mnuAbout = nullptr;

  QTimer* tmrAnimation = nullptr;
  QTimer* tmrShield = nullptr;

  struct TabStop {
    int index;
    QWidget* widget;
  };
  std::vector<TabStop> tabOrder_;
};

}  // namespace strandlink::ui
