#include "support/magnetrules.h"

#include <cmath>

namespace om {
namespace {

int64_t Abs(int64_t v) { return v < 0 ? -v : v; }

// One axis of a rectangle: its low and its high edge.
struct TAxis {
  int TMagnetRect::*Lo;
  int TMagnetRect::*Hi;
};
constexpr TAxis kHorizontal{&TMagnetRect::Left, &TMagnetRect::Right};
constexpr TAxis kVertical{&TMagnetRect::Top, &TMagnetRect::Bottom};

// The proposed rectangle N seen along one axis: moves it keeping its size and
// stamps the clock of the edge acted on.
struct TMover {
  TMagnetRect& N;
  TAxis Axis;
  uint32_t Area;
  double Now;

  int64_t A() const { return Area; }
  bool In(int64_t v, int64_t k) const { return MagnetInRange(v, k, Area); }
  int64_t Lo() const { return N.*Axis.Lo; }
  int64_t Hi() const { return N.*Axis.Hi; }
  void SetLo(int64_t x, double& clock) {
    int size = N.*Axis.Hi - N.*Axis.Lo;
    N.*Axis.Lo = static_cast<int>(x);
    N.*Axis.Hi = N.*Axis.Lo + size;
    clock = Now;
  }
  void SetHi(int64_t x, double& clock) {
    int size = N.*Axis.Hi - N.*Axis.Lo;
    N.*Axis.Hi = static_cast<int>(x);
    N.*Axis.Lo = N.*Axis.Hi - size;
    clock = Now;
  }
  // Puts the low (high) edge onto w when it lies less than A from it; true when it did.
  bool StickLo(int64_t w, double& clock) {
    if (Abs(Lo() - w) >= A()) return false;
    SetLo(w, clock);
    return true;
  }
  bool StickHi(int64_t w, double& clock) {
    if (Abs(w - Hi()) >= A()) return false;
    SetHi(w, clock);
    return true;
  }
};

bool OverlapAcross(int nLo, int nHi, int mLo, int mHi) {
  return (mLo < nLo && nLo < mHi) || (nLo < mLo && mLo < nHi);
}

// The screen rules' Left and Up blocks: moving toward the work area's low
// edge wLo (its high edge is wHi).
void ScreenTowardLow(TMover m, int64_t wLo, int64_t wHi, double& loClock, double& hiClock) {
  if (MagnetClockFresh(loClock, m.Now)) {
    int64_t d = m.Lo() - wLo;
    int64_t e = wHi - m.Hi();
    if (m.In(d, 2) || Abs(d) == 1) m.SetLo(wLo, loClock);
    else if (m.In(Abs(d), 2)) m.SetLo(wLo - m.A(), loClock);
    else if (m.In(e, 2)) m.SetHi(wHi - m.A(), hiClock);
    else if (m.In(Abs(e), 1)) m.SetHi(wHi, hiClock);
  } else if (!m.StickLo(wLo, loClock)) {
    m.StickHi(wHi, hiClock);
  }
}

// The main-form rules' Up and Left blocks: moving toward the main form's far
// side mHi (its near side is mLo); one clock governs the block.
void MainFormTowardLow(TMover m, int64_t mLo, int64_t mHi, double& clock) {
  if (MagnetClockFresh(clock, m.Now)) {
    int64_t d = m.Lo() - mHi;
    int64_t e = m.Hi() - mLo;
    if (m.In(d, 2)) m.SetLo(mHi, clock);
    else if (m.In(-d, 2)) m.SetLo(mHi - m.A(), clock);
    else if (m.In(e, 2)) m.SetHi(mLo, clock);
    else if (m.In(-e, 2)) m.SetHi(mLo - m.A(), clock);
  } else if (!m.StickLo(mHi, clock)) {
    m.StickHi(mLo, clock);
  }
}

}  // namespace

bool MagnetClockFresh(double clock, double now) {
  return clock == 0 || std::fabs(now - clock) > kMagnetHoldSpan;
}

bool MagnetInRange(int64_t v, int64_t k, uint32_t area) {
  return v >= 0 && v <= 255 && v >= k && v <= static_cast<int64_t>(area & 0xFF);
}

void ApplyScreenMagnet(TMagnetRect& N, const TMagnetRect& C, const TMagnetRect& W, uint32_t area,
                       TMagnetClocks& clk, double now) {
  TMover x{N, kHorizontal, area, now};
  TMover y{N, kVertical, area, now};
  const int64_t A = area;

  if (N.Left < C.Left) ScreenTowardLow(x, W.Left, W.Right, clk.Left, clk.Right);  // moving left
  if (C.Left < N.Left) {  // moving right
    if (MagnetClockFresh(clk.Right, now)) {
      int64_t d = W.Right - x.Hi();
      int64_t e = W.Left - x.Lo();
      if (x.In(d, 2) || Abs(d) == 1) x.SetHi(W.Right, clk.Right);
      else if (x.In(Abs(d), 2)) x.SetHi(W.Right + A, clk.Right);
      else if (x.In(e, 2)) x.SetLo(W.Left, clk.Left);
      else if (x.In(Abs(e), 1)) x.SetLo(W.Left + A, clk.Left);
    } else if (!x.StickHi(W.Right, clk.Right)) {
      x.StickLo(W.Left, clk.Left);
    }
  }
  if (N.Top < C.Top) ScreenTowardLow(y, W.Top, W.Bottom, clk.Top, clk.Bottom);  // moving up
  if (C.Top < N.Top) {  // moving down
    if (MagnetClockFresh(clk.Bottom, now)) {
      int64_t t = y.Lo() - W.Top;
      int64_t b = W.Bottom - y.Hi();
      if (y.In(t, 2)) y.SetLo(W.Top + A, clk.Top);
      else if (Abs(t) < A) y.SetLo(W.Top, clk.Top);
      else if (y.In(b, 2)) y.SetHi(W.Bottom, clk.Bottom);
      else if (y.In(Abs(b), 1)) y.SetHi(W.Bottom + A, clk.Bottom);
    } else if (!y.StickLo(W.Top, clk.Top)) {
      // Onto the bottom edge, as the other three edges snap onto theirs.
      y.StickHi(W.Bottom, clk.Bottom);
    }
  }
}

void ApplyMainFormMagnet(TMagnetRect& N, const TMagnetRect& C, const TMagnetRect& M, uint32_t area,
                         TMagnetClocks& clk, double now) {
  TMover x{N, kHorizontal, area, now};
  TMover y{N, kVertical, area, now};
  const int64_t A = area;

  if (N.Top < C.Top && OverlapAcross(N.Left, N.Right, M.Left, M.Right))  // up
    MainFormTowardLow(y, M.Top, M.Bottom, clk.Top);
  if (C.Top < N.Top && OverlapAcross(N.Left, N.Right, M.Left, M.Right)) {  // down
    int64_t d = y.Lo() - M.Bottom;
    int64_t e = y.Hi() - M.Top;
    if (MagnetClockFresh(clk.Top, now)) {
      if (y.In(d, 2)) y.SetLo(M.Bottom + A, clk.Top);
      else if (y.In(-d, 2)) y.SetLo(M.Bottom, clk.Top);
      else if (y.In(e, 1)) y.SetHi(M.Top, clk.Top);
      else if (y.In(Abs(e), 2)) y.SetHi(M.Top + A, clk.Top);
    } else {
      if (Abs(d) < A) y.SetLo(M.Bottom, clk.Top);
      else if (e < A) y.SetHi(M.Top, clk.Top);  // signed, not its absolute value
    }
  }
  if (N.Left < C.Left && OverlapAcross(N.Top, N.Bottom, M.Top, M.Bottom))  // left
    MainFormTowardLow(x, M.Left, M.Right, clk.Right);
  if (C.Left < N.Left && OverlapAcross(N.Top, N.Bottom, M.Top, M.Bottom)) {  // right
    if (MagnetClockFresh(clk.Right, now)) {
      int64_t d = M.Left - x.Hi();
      int64_t e = M.Right - x.Lo();
      if (x.In(d, 2)) x.SetHi(M.Left, clk.Right);
      else if (x.In(Abs(d), 2)) x.SetHi(M.Left + A, clk.Right);
      else if (x.In(e, 2)) x.SetLo(M.Right, clk.Right);
      else if (x.In(Abs(e), 2)) x.SetLo(M.Right + A, clk.Right);
    } else if (!x.StickHi(M.Left, clk.Right)) {
      x.StickLo(M.Right, clk.Right);
    }
  }
}

bool MagnetFormsTouch(const TMagnetRect& C, const TMagnetRect& o) {
  return C.Right == o.Left || C.Bottom == o.Top || o.Right == C.Left || o.Bottom == C.Top;
}

}  // namespace om
