// The animation's pictures: a small palm tree on an island, swaying in the
// wind, drawn in code. Eight frames make one full sway, back and forth.
#pragma once

#include <QImage>

namespace strandlink::ui {

inline constexpr int kAnimationFrames = 8;
inline constexpr int kFrameWidth = 100;
inline constexpr int kFrameHeight = 150;

// How far the trunk leans in frame index, from -1 (left) to +1 (right): one sine
// period over the eight frames, so 7 runs smoothly into 0. Any index is taken
// round the cycle.
double swayOf(int index);

// Frame index, 100 x 150 pixels, opaque.
QImage animationFrame(int index);

}  // namespace strandlink::ui
