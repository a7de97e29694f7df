// Pieces the information window and the about box share: the window itself,
// their fonts, labels that keep their text whole, and the frame with the maker's
// notice.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

class QFrame;
class QLabel;

namespace strandlink::ui {

// A help window: a top-level window of fixed size in the help font, without an
// owner, deleted when closed; Escape closes it, as its OK button does.
class HelpWindow : public QWidget {
  Q_OBJECT
 public:
  HelpWindow(const char* name, const QString& title, int widthTwips, int heightTwips);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// The desktop's sans-serif family at the given size.
QFont helpFont(double points);

// The font of w, up to one point smaller (or down to smallest points, when given),
// so that text fits room pixels.
void fitFont(QWidget* w, const QString& text, int room, double smallest = 0);

// A one-line label at its place: a text the family draws wider than the box is
// drawn up to one point smaller rather than cut.
QLabel* fittedLabel(QWidget* parent, const char* name, QRect geometry, const QString& text, Qt::Alignment alignment,
                    double points = 8);

// A frame without caption holding the two lines of the maker's notice.
QFrame* noticeFrame(QWidget* parent, QRect geometry);

// A top-level window centred on the primary screen.
void centreOnScreen(QWidget* window);

}  // namespace strandlink::ui
