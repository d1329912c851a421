#include "support/magnetrules.h"

#include <cmath>

namespace om {
namespace {

int64_t Abs(int64_t v) { return v < 0 ? -v : v; }

// Moves N keeping its size and stamps the clock of the edge acted on.
struct TMover {
  TMagnetRect& N;
  double Now;
  void L(int64_t x, double& clock) {
    int w = N.Right - N.Left;
    N.Left = static_cast<int>(x);
    N.Right = N.Left + w;
    clock = Now;
  }
  void R(int64_t x, double& clock) {
    int w = N.Right - N.Left;
    N.Right = static_cast<int>(x);
    N.Left = N.Right - w;
    clock = Now;
  }
  void T(int64_t y, double& clock) {
    int h = N.Bottom - N.Top;
    N.Top = static_cast<int>(y);
    N.Bottom = N.Top + h;
    clock = Now;
  }
  void B(int64_t y, double& clock) {
    int h = N.Bottom - N.Top;
    N.Bottom = static_cast<int>(y);
    N.Top = N.Bottom - h;
    clock = Now;
  }
};

bool OverlapAcross(int nLo, int nHi, int mLo, int mHi) {
  return (mLo < nLo && nLo < mHi) || (nLo < mLo && mLo < nHi);
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
  const int64_t A = area;
  TMover m{N, now};
  auto in = [area](int64_t v, int64_t k) { return MagnetInRange(v, k, area); };

  if (N.Left < C.Left) {  // moving left
    if (MagnetClockFresh(clk.Left, now)) {
      int64_t d = int64_t(N.Left) - W.Left;
      int64_t e = int64_t(W.Right) - N.Right;
      if (in(d, 2) || Abs(d) == 1) m.L(W.Left, clk.Left);
      else if (in(Abs(d), 2)) m.L(W.Left - A, clk.Left);
      else if (in(e, 2)) m.R(W.Right - A, clk.Right);
      else if (in(Abs(e), 1)) m.R(W.Right, clk.Right);
    } else {
      if (Abs(int64_t(N.Left) - W.Left) < A) m.L(W.Left, clk.Left);
      else if (Abs(int64_t(W.Right) - N.Right) < A) m.R(W.Right, clk.Right);
    }
  }
  if (C.Left < N.Left) {  // moving right
    if (MagnetClockFresh(clk.Right, now)) {
      int64_t d = int64_t(W.Right) - N.Right;
      int64_t e = int64_t(W.Left) - N.Left;
      if (in(d, 2) || Abs(d) == 1) m.R(W.Right, clk.Right);
      else if (in(Abs(d), 2)) m.R(W.Right + A, clk.Right);
      else if (in(e, 2)) m.L(W.Left, clk.Left);
      else if (in(Abs(e), 1)) m.L(W.Left + A, clk.Left);
    } else {
      if (Abs(int64_t(W.Right) - N.Right) < A) m.R(W.Right, clk.Right);
      else if (Abs(int64_t(W.Left) - N.Left) < A) m.L(W.Left, clk.Left);
    }
  }
  if (N.Top < C.Top) {  // moving up
    if (MagnetClockFresh(clk.Top, now)) {
      int64_t d = int64_t(N.Top) - W.Top;
      int64_t e = int64_t(W.Bottom) - N.Bottom;
      if (in(d, 2) || Abs(d) == 1) m.T(W.Top, clk.Top);
      else if (in(Abs(d), 2)) m.T(W.Top - A, clk.Top);
      else if (in(e, 2)) m.B(W.Bottom - A, clk.Bottom);
      else if (in(Abs(e), 1)) m.B(W.Bottom, clk.Bottom);
    } else {
      if (Abs(int64_t(N.Top) - W.Top) < A) m.T(W.Top, clk.Top);
      else if (Abs(int64_t(W.Bottom) - N.Bottom) < A) m.B(W.Bottom, clk.Bottom);
    }
  }
  if (C.Top < N.Top) {  // moving down
    if (MagnetClockFresh(clk.Bottom, now)) {
      int64_t t = int64_t(N.Top) - W.Top;
      int64_t b = int64_t(W.Bottom) - N.Bottom;
      if (in(t, 2)) m.T(W.Top + A, clk.Top);
      else if (Abs(t) < A) m.T(W.Top, clk.Top);
      else if (in(b, 2)) m.B(W.Bottom, clk.Bottom);
      else if (in(Abs(b), 1)) m.B(W.Bottom + A, clk.Bottom);
    } else {
      if (Abs(int64_t(N.Top) - W.Top) < A) m.T(W.Top, clk.Top);
      // Onto the bottom edge, as the other three edges snap onto theirs.
      else if (Abs(int64_t(W.Bottom) - N.Bottom) < A) m.B(W.Bottom, clk.Bottom);
    }
  }
}

void ApplyMainFormMagnet(TMagnetRect& N, const TMagnetRect& C, const TMagnetRect& M, uint32_t area,
                         TMagnetClocks& clk, double now) {
  const int64_t A = area;
  TMover m{N, now};
  auto in = [area](int64_t v, int64_t k) { return MagnetInRange(v, k, area); };

  if (N.Top < C.Top && OverlapAcross(N.Left, N.Right, M.Left, M.Right)) {  // up
    int64_t d = int64_t(N.Top) - M.Bottom;
    int64_t e = int64_t(N.Bottom) - M.Top;
    if (MagnetClockFresh(clk.Top, now)) {
      if (in(d, 2)) m.T(M.Bottom, clk.Top);
      else if (in(-d, 2)) m.T(M.Bottom - A, clk.Top);
      else if (in(e, 2)) m.B(M.Top, clk.Top);
      else if (in(-e, 2)) m.B(M.Top - A, clk.Top);
    } else {
      if (Abs(d) < A) m.T(M.Bottom, clk.Top);
      else if (Abs(e) < A) m.B(M.Top, clk.Top);
    }
  }
  if (C.Top < N.Top && OverlapAcross(N.Left, N.Right, M.Left, M.Right)) {  // down
    int64_t d = int64_t(N.Top) - M.Bottom;
    int64_t e = int64_t(N.Bottom) - M.Top;
    if (MagnetClockFresh(clk.Top, now)) {
      if (in(d, 2)) m.T(M.Bottom + A, clk.Top);
      else if (in(-d, 2)) m.T(M.Bottom, clk.Top);
      else if (in(e, 1)) m.B(M.Top, clk.Top);
      else if (in(Abs(e), 2)) m.B(M.Top + A, clk.Top);
    } else {
      if (Abs(d) < A) m.T(M.Bottom, clk.Top);
      else if (e < A) m.B(M.Top, clk.Top);
    }
  }
  if (N.Left < C.Left && OverlapAcross(N.Top, N.Bottom, M.Top, M.Bottom)) {  // left
    int64_t d = int64_t(N.Left) - M.Right;
    int64_t e = int64_t(N.Right) - M.Left;
    if (MagnetClockFresh(clk.Right, now)) {
      if (in(d, 2)) m.L(M.Right, clk.Right);
      else if (in(Abs(d), 2)) m.L(M.Right - A, clk.Right);
      else if (in(e, 2)) m.R(M.Left, clk.Right);
      else if (in(Abs(e), 2)) m.R(M.Left - A, clk.Right);
    } else {
      if (Abs(d) < A) m.L(M.Right, clk.Right);
      else if (Abs(e) < A) m.R(M.Left, clk.Right);
    }
  }
  if (C.Left < N.Left && OverlapAcross(N.Top, N.Bottom, M.Top, M.Bottom)) {  // right
    int64_t d = int64_t(M.Left) - N.Right;
    int64_t e = int64_t(M.Right) - N.Left;
    if (MagnetClockFresh(clk.Right, now)) {
      if (in(d, 2)) m.R(M.Left, clk.Right);
      else if (in(Abs(d), 2)) m.R(M.Left + A, clk.Right);
      else if (in(e, 2)) m.L(M.Right, clk.Right);
      else if (in(Abs(e), 2)) m.L(M.Right + A, clk.Right);
    } else {
      if (Abs(d) < A) m.R(M.Left, clk.Right);
      else if (Abs(e) < A) m.L(M.Right, clk.Right);
    }
  }
}

bool MagnetFormsTouch(const TMagnetRect& C, const TMagnetRect& o) {
  return C.Right == o.Left || C.Bottom == o.Top || o.Right == C.Left || o.Bottom == C.Top;
}

}  // namespace om
