// While a session runs, reports reach the user inside the window, in a banner
// that nothing waits for: Panic and Stop work whatever it says. Outside a session
// they are boxes as ever. A report found by a check of its own (a device gone)
// stays until that is put right; what came back is a line in the history.
#pragma once

#include <QLabel>
#include <QPointer>

#include <functional>

#include "report/message_boxes.h"

namespace strandlink::ui {

class ReportBanner : public QLabel {
  Q_OBJECT
 public:
  explicit ReportBanner(QWidget* parent);

  // Posted: said by a check that will see it put right; otherwise a report of the session.
  void say(const QString& title, const QString& text, bool posted);
  void clear();
  // Clears a posted report whose text begins so ("Midi Input: "); every posted one for an empty start.
  void clearPosted(const QString& start = {});

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  bool posted_ = false;
};

class SessionReports : public report::MessageBoxes {
 public:
  explicit SessionReports(report::MessageBoxes& outside) : outside_(outside) {}

  // From now on a session's reports go to the banner; back: where a line of what
  // came back goes.
  void attach(ReportBanner* banner, std::function<bool()> inSession, std::function<void(const QString&)> back);

  int show(report::BoxIcon icon, const QString& title, const QString& text) override;
  void post(report::BoxIcon icon, const QString& title, const QString& text) override;
  void closePosted() override;

 private:
  report::MessageBoxes& outside_;
  QPointer<ReportBanner> banner_;
  std::function<bool()> inSession_;
  std::function<void(const QString&)> back_;
};

}  // namespace strandlink::ui
