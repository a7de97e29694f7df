// The application icon, drawn in code: the window icons and the installed PNGs
// come from this drawing. data/icons/org.strandlink.Strandlink.svg is the same
// picture written by hand, in the same 256-unit coordinates; change both together.
#pragma once

#include <QIcon>
#include <QImage>
#include <QRectF>

class QPainter;

namespace strandlink::ui {

inline constexpr char kAppId[] = "org.strandlink.Strandlink";
inline constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

void paintAppIcon(QPainter& painter, const QRectF& target);
// A square image, transparent outside the icon's rounded square.
QImage renderAppIcon(int size);
// Every installed size, so the desktop picks a sharp one. Needs a QGuiApplication.
QIcon appIcon();

}  // namespace strandlink::ui
