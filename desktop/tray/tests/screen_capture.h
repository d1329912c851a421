// What the screen shows in a rectangle of a window's client area, for the
// tests that look at the tray's windows as the user sees them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32.h"
#include "platform/win32_owners.h"

namespace om::testing {

// The pixels (0x00RRGGBB, rows top first) of the client rectangle r of wnd.
inline std::vector<uint32_t> CaptureClient(HWND wnd, const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  WindowDc dc(wnd);
  UniqueDc memory(CreateCompatibleDC(dc.get()));
  UniqueBitmap bitmap(CreateCompatibleBitmap(dc.get(), w, h));
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  if (!bitmap || !memory) return {};
  {
    SelectedObject selected(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, w, h, dc.get(), r.left, r.top, SRCCOPY);
  }
  BITMAPINFO format{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
  if (!GetDIBits(memory.get(), bitmap.get(), 0, static_cast<UINT>(h), pixels.data(), &format, DIB_RGB_COLORS)) return {};
  for (uint32_t& p : pixels) p &= 0xFFFFFFu;
  return pixels;
}

}  // namespace om::testing
