// The layout is given in twips; the screen is laid out at 96 dots per inch, where
// 15 twips make one pixel (Qt scales further for dense screens).
#pragma once

#include <QRect>

#include <cmath>

namespace strandlink::ui {

inline constexpr int kTwipsPerPixel = 15;

inline int px(int twips) { return int(std::lround(double(twips) / kTwipsPerPixel)); }

inline QRect twipsRect(int left, int top, int width, int height) {
  return QRect(px(left), px(top), px(width), px(height));
}

}  // namespace strandlink::ui
