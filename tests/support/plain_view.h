// A window made of plain fields, for driving the core without widgets.
#pragma once

#include <QMap>
#include <QStringList>

#include <vector>

#include "session/session_view.h"

namespace strandlink::test {

class PlainView : public SessionView {
 public:
  PlainView();

  QString text(TextControl c) const override { return texts.value(c); }
  void setText(TextControl c, const QString& t) override { texts[c] = t; }
  void appendText(TextControl c, const QString& t) override { texts[c] += t; }
  void setCaret(TextControl c, qsizetype p) override { carets[c] = p; }
  qsizetype textLength(TextControl c) const override { return texts.value(c).size(); }

  void addListItem(ListControl c, const QString& item) override { lists[c].append(item); }
  int listCount(ListControl c) const override { return int(lists.value(c).size()); }
  int listIndex(ListControl c) const override { return indexes.value(c, -1); }
  void setListIndex(ListControl c, int i) override {
    indexes[c] = (i >= 0 && i < listCount(c)) ? i : -1;
  }

  bool checked(CheckControl c) const override { return checks.value(c, false); }
  void setChecked(CheckControl c, bool on) override { checks[c] = on; }

  bool highPrioritySelected() const override { return high; }
  void setHighPrioritySelected(bool h) override { high = h; }

  void setThruLinesVisible(bool v) override { thruLines = v; }
  void enterRunning() override { running = true; events << "running"; }
  void enterIdle() override {
    running = false;
    texts[TextControl::lblConnectStatus] = QStringLiteral("Not Connected");
    events << "idle";
  }
  void restoreAndRaise() override { events << "raise"; }

  QMap<TextControl, QString> texts;
  QMap<TextControl, qsizetype> carets;
  QMap<ListControl, QStringList> lists;
  QMap<ListControl, int> indexes;
  QMap<CheckControl, bool> checks;
  bool high = true;
  bool thruLines = false;
  bool running = false;
  QStringList events;
};

}  // namespace strandlink::test
