#include "framework/canvas.h"

#include "framework/bitmap.h"
#include "framework/exceptions.h"
#include "platform/win32_owners.h"

namespace om {

RECT TCanvas::ClipRect() const {
  RECT r{0, 0, 0, 0};
  if (FHandle) GetClipBox(FHandle, &r);
  return r;
}

void TCanvas::FillRect(const RECT& rect, COLORREF color) {
  UniqueBrush brush(CreateSolidBrush(color));
  if (!brush) RaiseLastOSError();
  ::FillRect(FHandle, &rect, brush.get());
  Changed();
}

void TCanvas::StretchDraw(const RECT& rect, TBitmap& bitmap) {
  if (bitmap.Empty()) return;
  HDC src = bitmap.Canvas().Handle();
  {
    SelectedPalette palette(FHandle, bitmap.Palette(), true);
    if (bitmap.Palette()) RealizePalette(FHandle);
    const int mode = SetStretchBltMode(FHandle, COLORONCOLOR);
    StretchBlt(FHandle, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, src, 0, 0,
               bitmap.Width(), bitmap.Height(), SRCCOPY);
    SetStretchBltMode(FHandle, mode);
  }
  Changed();
}

void TCanvas::Draw(int x, int y, TBitmap& bitmap) {
  StretchDraw(RECT{x, y, x + bitmap.Width(), y + bitmap.Height()}, bitmap);
}

void TCanvas::CopyRect(const RECT& dest, TCanvas& source, const RECT& src) {
  const int mode = SetStretchBltMode(FHandle, COLORONCOLOR);
  StretchBlt(FHandle, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, source.Handle(), src.left,
             src.top, src.right - src.left, src.bottom - src.top, SRCCOPY);
  SetStretchBltMode(FHandle, mode);
  Changed();
}

void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

}  // namespace om
