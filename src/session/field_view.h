// The window's controls as plain fields: the view of a window-less run, and the
// base of the tests' view.
#pragma once

#include <QMap>
#include <QStringList>

#include "session/session_view.h"

namespace strandlink {

class FieldView : public SessionView {
 public:
  FieldView();

  QString text(TextControl c) const override { return texts.value(c); }
  void setText(TextControl c, const QString& t) override { texts[c] = t; }
  void appendText(TextControl c, const QString& t) override { texts[c] += t; }
  void setCaret(TextControl c, qsizetype p) override { carets[c] = p; }
  qsizetype textLength(TextControl c) const override { return texts.value(c).size(); }

  void addListItem(ListControl c, const QString& item) override { lists[c].append(item); }
  int listCount(ListControl c) const override { return int(lists.value(c).size()); }
  int listIndex(ListControl c) const override { return indexes.value(c, -1); }
  void setListIndex(ListControl c, int i) override { indexes[c] = (i >= 0 && i < listCount(c)) ? i : -1; }

  bool checked(CheckControl c) const override { return checks.value(c, false); }
  void setChecked(CheckControl c, bool on) override { checks[c] = on; }

  bool highPrioritySelected() const override { return high; }
  void setHighPrioritySelected(bool h) override { high = h; }

  void setThruLinesVisible(bool v) override { thruLines = v; }
  void setLinkQuality(const QString& t) override { linkQuality = t; }
  void enterRunning() override { running = true; }
  void enterIdle() override;
  void restoreAndRaise() override {}

  QMap<TextControl, QString> texts;
  QMap<TextControl, qsizetype> carets;
  QMap<ListControl, QStringList> lists;
  QMap<ListControl, int> indexes;
  QMap<CheckControl, bool> checks;
  bool high = true;
  bool thruLines = false;
  QString linkQuality;
  bool running = false;
};

}  // namespace strandlink
