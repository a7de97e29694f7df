// The core's view of the main window: its controls read and written by name.
// Setters block the controls' signals, so no handler runs from them.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

#include "ui/field_validator.h"
#include "ui/form1.h"
#include "ui/line_shapes.h"
#include "ui/wrap_buttons.h"

namespace strandlink::ui {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The history holds its lines as blocks; texts given to it end lines with CR LF
// (or a lone CR or LF), and it gives them back with CR LF.
QString toDocumentText(QString text) {
  text.replace(kCrLf, QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  text.replace(QChar::LineSeparator, QLatin1Char('\n'));
  return text;
}

QString fromDocument(const QTextDocument& doc) {
  QString raw = doc.toRawText();
  raw.replace(QChar::ParagraphSeparator, kCrLf);
  raw.replace(QChar::LineSeparator, kCrLf);
  return raw;
}

// Length with each block break counted as CR LF: constant time, however long.
qsizetype crLfLength(const QTextDocument& doc) { return doc.characterCount() - 1 + doc.blockCount() - 1; }

// A position counted with CR LF breaks to a document position.
int documentPosition(const QTextDocument& doc, qsizetype position) {
  if (position <= 0) return 0;
  if (position >= crLfLength(doc)) return doc.characterCount() - 1;
  // Block b starts at its document position plus the b extra characters that
  // the CR LF breaks before it add; find the last block starting at or before.
  int lo = 0;
  int hi = doc.blockCount() - 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo + 1) / 2;
    if (doc.findBlockByNumber(mid).position() + mid <= position) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  const QTextBlock block = doc.findBlockByNumber(lo);
  const qsizetype inBlock = position - lo - block.position();
  // A position between CR and LF lies at the block's end.
  return block.position() + int(std::min<qsizetype>(inBlock, block.length() - 1));
}

}  // namespace

QLineEdit* Form1::lineEdit(TextControl c) const {
  switch (c) {
    case TextControl::txtIPAddress:
      return txtIPAddress;
    case TextControl::txtRemotePort:
      return txtRemotePort;
    case TextControl::txtIPLocal:
      return txtIPLocal;
    case TextControl::txtPortLocal:
      return txtPortLocal;
    case TextControl::txtSend:
      return txtSend;
    case TextControl::txtSent:
      return txtSent;
    case TextControl::txtRecv:
      return txtRecv;
    case TextControl::txtReceive:
    case TextControl::lblConnectStatus:
      break;
  }
  return nullptr;
}

QComboBox* Form1::combo(ListControl c) const {
  return c == ListControl::InputDevCombo ? InputDevCombo : OutputDevCombo;
}

QCheckBox* Form1::checkBox(CheckControl c) const {
  switch (c) {
    case CheckControl::chkMidiThru:
      return chkMidiThru;
    case CheckControl::chkUpdateStats:
      return chkUpdateStats;
    case CheckControl::chkPopUp:
      break;
  }
  return chkPopUp;
}

QString Form1::text(TextControl c) const {
  if (QLineEdit* box = lineEdit(c)) return box->text();
  if (c == TextControl::txtReceive) return fromDocument(*txtReceive->document());
  return lblConnectStatus->text();
}

void Form1::setText(TextControl c, const QString& t) {
  if (QLineEdit* box = lineEdit(c)) {
    const QSignalBlocker block(box);
    // The program's own texts pass the address filters: a settings file may name a host.
    setTextUnfiltered(*box, t);
  } else if (c == TextControl::txtReceive) {
    const QSignalBlocker block(txtReceive);
    txtReceive->setPlainText(toDocumentText(t));
  } else {
    lblConnectStatus->setText(t);
  }
}

void Form1::appendText(TextControl c, const QString& t) {
  if (c == TextControl::txtReceive) {
    const QSignalBlocker block(txtReceive);
    QTextCursor end(txtReceive->document());
    end.movePosition(QTextCursor::End);
    end.insertText(toDocumentText(t));
    return;
  }
  setText(c, text(c) + t);
}

void Form1::setCaret(TextControl c, qsizetype position) {
  if (QLineEdit* box = lineEdit(c)) {
    const QSignalBlocker block(box);
    box->setCursorPosition(int(std::clamp<qsizetype>(position, 0, box->text().size())));
  } else if (c == TextControl::txtReceive) {
    const QSignalBlocker block(txtReceive);
    QTextCursor cursor(txtReceive->document());
    cursor.setPosition(documentPosition(*txtReceive->document(), position));
    txtReceive->setTextCursor(cursor);
    txtReceive->ensureCursorVisible();
  }
}

qsizetype Form1::textLength(TextControl c) const {
  if (c == TextControl::txtReceive) return crLfLength(*txtReceive->document());
  return text(c).size();
}

void Form1::addListItem(ListControl c, const QString& item) {
  QComboBox* list = combo(c);
  const QSignalBlocker block(list);
  const int before = list->currentIndex();
  const QString shown = list->currentText();
  list->addItem(item);
  // Adding a line selects nothing: the first line added to an empty list would
  // otherwise become the selection and replace the text shown.
  if (before < 0) {
    list->setCurrentIndex(-1);
    list->setEditText(shown);
  }
}

int Form1::listCount(ListControl c) const { return combo(c)->count(); }

int Form1::listIndex(ListControl c) const {
  const QComboBox* list = combo(c);
  const int index = list->currentIndex();
  // Text typed over the selection leaves no line selected.
  if (index >= 0 && list->currentText() != list->itemText(index)) return -1;
  return index;
}

void Form1::setListIndex(ListControl c, int index) {
  QComboBox* list = combo(c);
  const QSignalBlocker block(list);
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

bool Form1::checked(CheckControl c) const { return checkBox(c)->isChecked(); }

void Form1::setChecked(CheckControl c, bool on) {
  QCheckBox* box = checkBox(c);
  const QSignalBlocker block(box);
  box->setChecked(on);
}

bool Form1::highPrioritySelected() const { return optHigh->isChecked(); }

void Form1::setHighPrioritySelected(bool high) {
  const QSignalBlocker blockHigh(optHigh);
  const QSignalBlocker blockReal(optReal);
  (high ? optHigh : optReal)->setChecked(true);
}

void Form1::setThruLinesVisible(bool visible) {
  netLines_->setLineVisible(QStringLiteral("lineMidiThru(0)"), visible);
  for (int i = 1; i <= 3; ++i) midiPortsLines_->setLineVisible(QStringLiteral("lineMidiThru(%1)").arg(i), visible);
}

void Form1::setLinkQuality(const QString& text) { lblConnectStatus->setToolTip(text); }

// The session's window changes, in order; the connection timer is the core's.
void Form1::enterRunning() {
  cmdPanic->setEnabled(true);
  chkMidiThru->setEnabled(false);
  cmdStart->setEnabled(false);
  cmdStop->setText(QStringLiteral("St&op"));
  mnuFile->menuAction()->setEnabled(false);
  mnuHelp->menuAction()->setEnabled(false);
  mnuExit->setText(QStringLiteral("St&op"));
  tmrAnimation->stop();
  txtPalm->hide();
  tmrShield->stop();
  InputDevCombo->setEnabled(false);
  OutputDevCombo->setEnabled(false);
}

void Form1::enterIdle() {
  chkMidiThru->setEnabled(true);
  cmdStart->setEnabled(true);
  mnuExit->setText(QStringLiteral("&Exit"));
  mnuFile->menuAction()->setEnabled(true);
  mnuHelp->menuAction()->setEnabled(true);
  cmdStop->setText(QStringLiteral("&Exit"));
  tmrAnimation->start();
  InputDevCombo->setEnabled(true);
  OutputDevCombo->setEnabled(true);
  lblConnectStatus->setText(QStringLiteral("Not Connected"));
  cmdPanic->setEnabled(false);
}

void Form1::restoreAndRaise() {
  showNormal();
  raise();
  activateWindow();
}

}  // namespace strandlink::ui
