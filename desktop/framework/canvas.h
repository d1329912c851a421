// A drawing surface over a device context: the few drawing calls pictures use.
#pragma once

#include <windows.h>

#include "framework/events.h"
#include "framework/object.h"

namespace om {

class TBitmap;

class TCanvas : public TObject {
public:
  explicit TCanvas(HDC dc = nullptr) : FHandle(dc) {}
  HDC Handle() const { return FHandle; }
  void SetHandle(HDC dc) { FHandle = dc; }
  // The clip box of the context.
  RECT ClipRect() const;
  void FillRect(const RECT& rect, COLORREF color);
  // The bitmap stretched into rect (its palette selected while copying).
  void StretchDraw(const RECT& rect, TBitmap& bitmap);
  void Draw(int x, int y, TBitmap& bitmap);
  // A rectangle of another canvas stretched into rect.
  void CopyRect(const RECT& dest, TCanvas& source, const RECT& src);
  // Tells listeners that the surface changed.
  void Changed();
  TNotifyEvent OnChange;

private:
  HDC FHandle;
};

}  // namespace om
