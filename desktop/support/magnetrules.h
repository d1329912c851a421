// Snapping geometry of the form magnet: where a form being dragged sticks to
// the work area's edges or to the main form, and when it tears loose. Pure
// integer geometry with the clock passed in, so it runs anywhere.
#pragma once

#include <cstdint>

namespace om {

struct TMagnetRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TMagnetRect& o) const {
    return Left == o.Left && Top == o.Top && Right == o.Right && Bottom == o.Bottom;
  }
};

// Time of the last snap per edge, as a TDateTime (days); 0 means never.
struct TMagnetClocks {
  double Right = 0, Left = 0, Top = 0, Bottom = 0;
};

// 250 ms in days.
constexpr double kMagnetHoldSpan = 250.0 / 86400000.0;

// A clock is fresh when more than 250 ms lie between it and now (either way);
// a clock at 0 is always fresh.
bool MagnetClockFresh(double clock, double now);

// v in [k..area] as a byte-set test: values outside 0..255 never count and
// only the low eight bits of area bound the range.
bool MagnetInRange(int64_t v, int64_t k, uint32_t area);

// The work-area rules: N is the proposed rectangle (changed in place, its
// size kept), C the form's current rectangle, W the work area.
void ApplyScreenMagnet(TMagnetRect& N, const TMagnetRect& C, const TMagnetRect& W, uint32_t area,
                       TMagnetClocks& clocks, double now);

// The main-form rules: M is the main form's rectangle.
void ApplyMainFormMagnet(TMagnetRect& N, const TMagnetRect& C, const TMagnetRect& M, uint32_t area,
                         TMagnetClocks& clocks, double now);

// True when other touches the moved form (current rectangle C) on any side:
// one coordinate equal, the other axis not compared.
bool MagnetFormsTouch(const TMagnetRect& C, const TMagnetRect& other);

}  // namespace om
