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
  std::vector<uint32_t> pixels;
  WindowDc dc(wnd);
  UniqueDc memory(CreateCompatibleDC(dc.get()));
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  UniqueBitmap bitmap(CreateDIBSection(dc.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !memory) return pixels;
  {
    SelectedObject selected(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, w, h, dc.get(), r.left, r.top, SRCCOPY);
    GdiFlush();
  }
  const auto* p = static_cast<const uint32_t*>(bits);
  for (int k = 0; k < w * h; ++k) pixels.push_back(p[k] & 0xFFFFFFu);
  return pixels;
}

}  // namespace om::testing
