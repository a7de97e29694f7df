// A small round light that shows MIDI passing: lit for a moment after each flash,
// dark otherwise. The window flashes it from the link's coalesced counts, so it
// costs the MIDI path nothing.
#pragma once

#include <QTimer>
#include <QWidget>

namespace strandlink::ui {

class ActivityLight : public QWidget {
  Q_OBJECT
 public:
  explicit ActivityLight(QWidget* parent = nullptr);

  // Lit now, and dark again kLitMs after the last flash.
  void flash();
  void putOut();

  // Long enough to be seen from across a stage, short enough to blink with a beat.
  static constexpr int kLitMs = 150;

 signals:
  void litChanged(bool lit);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void setLit(bool lit);

  QTimer darkTimer_;
  bool lit_ = false;
};

}  // namespace strandlink::ui
