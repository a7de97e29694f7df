// What the core needs from a window: the controls it reads and writes, by name.
//
// The main window implements this over its widgets; a window-less run and the tests
// implement it over plain fields. Setters never run a control's handler: where the
// design has a change of value trigger a handler, the core runs the effect itself.
// Every call is made on the window's thread.
#pragma once

#include <QString>

namespace strandlink {

enum class TextControl {
  txtIPAddress,
  txtRemotePort,
  txtIPLocal,
  txtPortLocal,
  txtSend,
  txtReceive,
  txtSent,
  txtRecv,
  lblConnectStatus,
};

enum class ListControl { InputDevCombo, OutputDevCombo };

enum class CheckControl { chkMidiThru, chkUpdateStats, chkPopUp };

class SessionView {
 public:
  virtual ~SessionView() = default;

  virtual QString text(TextControl c) const = 0;
  virtual void setText(TextControl c, const QString& text) = 0;
  // Appends to a text control without rewriting what it holds (the chat history grows long).
  virtual void appendText(TextControl c, const QString& text) = 0;
  // Puts the caret of a text control at a position counted from its start, scrolling to it.
  virtual void setCaret(TextControl c, qsizetype position) = 0;
  virtual qsizetype textLength(TextControl c) const = 0;

  virtual void addListItem(ListControl c, const QString& item) = 0;
  virtual int listCount(ListControl c) const = 0;
  // -1 when no line is selected.
  virtual int listIndex(ListControl c) const = 0;
  // A position outside 0..count-1 clears the selection (the list reads back -1).
  virtual void setListIndex(ListControl c, int index) = 0;

  virtual bool checked(CheckControl c) const = 0;
  virtual void setChecked(CheckControl c, bool on) = 0;

  // The priority option group: true while "High" is selected, false for "Realtime".
  virtual bool highPrioritySelected() const = 0;
  virtual void setHighPrioritySelected(bool high) = 0;

  virtual void setThruLinesVisible(bool visible) = 0;

  // One line of link figures (round trip, jitter, losses); empty clears it. The
  // window shows it unobtrusively; a run without a window prints it now and then.
  virtual void setLinkQuality(const QString& text) { (void)text; }

  // The window changes of the two session transitions, in the design's order,
  // except the connection timer, which the core owns.
  virtual void enterRunning() = 0;
  virtual void enterIdle() = 0;

  // Restores a minimised window and raises it (a chat line arrived with pop-up on).
  virtual void restoreAndRaise() = 0;
};

}  // namespace strandlink
