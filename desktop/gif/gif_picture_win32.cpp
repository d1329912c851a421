// Windows side of the picture: palette handles, the composed bitmap, drawing
// frames onto a canvas (stretched or tiled, through the transparency mask),
// and the codec's start-up (clipboard format, palette display).
#include "gif/gif_picture_win32.h"

#include "gif/gif_bitmap_win32.h"
#include "gif/gif_colors.h"
#include "gif/gif_painter_win32.h"
#include "gif/gif_win32.h"
#include "platform/win32_owners.h"

namespace om {

namespace {
RECT ToRect(const TGIFRect& r) { return RECT{r.Left, r.Top, r.Right, r.Bottom}; }
TGIFRect FromRect(const RECT& r) { return TGIFRect{r.left, r.top, r.right, r.bottom}; }
int MulDivRound(int a, int b, int c) { return c == 0 ? 0 : int((int64_t(a) * b + (c > 0 ? c : -c) / 2) / c); }
template <class T>
T Checked(T handle) {
  return reinterpret_cast<T>(CheckGraphicsHandle(reinterpret_cast<uintptr_t>(handle)));
}
}  // namespace

// --- Palettes ------------------------------------------------------------------------

uintptr_t TGIFSubImage::QueryPalette() {
  if (FBitmapCache) {
    HPALETTE own = PlatformBitmap(*FBitmapCache).Palette();
    if (own) return reinterpret_cast<uintptr_t>(own);
  }
  if (FFramePalette) return FFramePalette;
  HPALETTE made;
  if (Image() && Image()->UsesDithering()) {
    made = MakePaletteHandle(MakeWebPalette());
  } else if (FLocalMap->Count() == 0) {
    return Image() ? Image()->QueryPalette() : 0;
  } else {
    made = MakeColorMapPalette(*FLocalMap);
  }
  FFramePalette = reinterpret_cast<uintptr_t>(made);
  return FFramePalette;
}

void TGIFSubImage::ReplacePalette(uintptr_t handle) {
  if (handle == FFramePalette) return;
  if (FFramePalette) DeleteGraphicsHandle(FFramePalette);
  bool stale = false;
  if (FBitmapCache) {
    HPALETTE own = PlatformBitmap(*FBitmapCache).Palette();
    stale = reinterpret_cast<uintptr_t>(own) != handle;
  }
  FFramePalette = handle;
  if (stale) {
    FBitmapCache.reset();
    DeleteMask();
    if (Image()) {
      Image()->PaletteModified = true;
      if (Image()->OnChange) Image()->OnChange(this);
    }
  }
}

uintptr_t TGIFPicture::QueryPalette() {
  if (FInPaletteQuery) RaiseGIFError("No global or local color table defined");
  FInPaletteQuery = true;
  struct Guard {
    bool& Flag;
    ~Guard() { Flag = false; }
  } guard{FInPaletteQuery};
  if (FRenderedBitmap) {
    HPALETTE own = PlatformBitmap(*FRenderedBitmap).Palette();
    if (own) return reinterpret_cast<uintptr_t>(own);
  }
  if (FPaletteHandle) return FPaletteHandle;
  if (UsesDithering()) {
    FPaletteHandle = reinterpret_cast<uintptr_t>(MakePaletteHandle(MakeWebPalette()));
    return FPaletteHandle;
  }
  if (FHeader->GlobalMap().Count() > 0) {
    FPaletteHandle = reinterpret_cast<uintptr_t>(MakeColorMapPalette(FHeader->GlobalMap()));
    return FPaletteHandle;
  }
  if (FrameCount() > 0) return Frame(0)->QueryPalette();
  return 0;
}

// --- Composed bitmap -------------------------------------------------------------------

TGIFBitmap* TGIFPicture::PrepareBitmap() {
  if (FRenderedBitmap) return FRenderedBitmap.get();
  FRenderedBitmap.reset(NewBitmap());
  TBitmap& bitmap = PlatformBitmap(*FRenderedBitmap);
  bitmap.OnChange = MakeMethod<&TGIFPicture::BitmapChanged>(this);
  bitmap.SetPalette(reinterpret_cast<HPALETTE>(QueryPalette()));
  bitmap.SetSize(ScreenWidth(), ScreenHeight());
  return FRenderedBitmap.get();
}

void TGIFPicture::BitmapChanged(TObject*) { Changed(); }

TGIFBitmap* TGIFPicture::ComposedBitmap() {
  if (IsBlank()) return nullptr;
  if (FRenderedBitmap) return FRenderedBitmap.get();
  TGIFSubImage& first = *Frame(0);
  if (first.Width() == ScreenWidth() && first.Height() == ScreenHeight()) {
    FRenderedBitmap.reset(NewBitmap());
    TBitmap& bitmap = PlatformBitmap(*FRenderedBitmap);
    bitmap.OnChange = MakeMethod<&TGIFPicture::BitmapChanged>(this);
    if (TGIFBitmap* frame = first.FrameBitmap()) FRenderedBitmap->CopyFrom(*frame);
    return FRenderedBitmap.get();
  }
  TBitmap& bitmap = PlatformBitmap(*PrepareBitmap());
  if (!bitmap.Empty()) DrawFrame(first, bitmap.Canvas(), FromRect(bitmap.Canvas().ClipRect()), false, false);
  return FRenderedBitmap.get();
}

// --- Drawing ---------------------------------------------------------------------------

void TGIFPicture::DrawOn(TCanvas& canvas, const TGIFRect& rect) {
  if (FDrawing || FrameCount() == 0) return;
  FDrawing = true;
  struct Guard {
    bool& Flag;
    ~Guard() { Flag = false; }
  } guard{FDrawing};
  if (FrameCount() == 1 || !(DrawingOptions & doAnimate)) {
    DrawFrame(*Frame(0), canvas, rect, DrawingOptions & doTile, DrawingOptions & doTransparent);
    return;
  }
  if (FRenderedBitmap && !(DrawingOptions & doDirectDraw)) {
    BlitComposed(canvas, rect, *FRenderedBitmap);
    return;
  }
  {
    std::lock_guard<std::recursive_mutex> lock(PainterLock);
    if (ActivePainter && ActivePainter->Canvas == &canvas && ActivePainter->PaintRect == rect)
      return;  // it keeps drawing
  }
  // Waited for without the lock: a finishing painter takes it.
  HaltDrawPainter();
  std::lock_guard<std::recursive_mutex> lock(PainterLock);
  TCanvas* target = &canvas;
  TGIFRect targetRect = rect;
  if (!(DrawingOptions & doDirectDraw)) {
    TBitmap& bitmap = PlatformBitmap(*PrepareBitmap());
    target = &bitmap.Canvas();
    // Each frame the painter shows there is a change of the picture.
    target->OnChange = MakeMethod<&TGIFPicture::BitmapChanged>(this);
    targetRect = FromRect(target->ClipRect());
    target->CopyRect(ToRect(targetRect), canvas, ToRect(rect));
  }
  TGIFPainter* painter = StartPainter(ActivePainter, *target, DrawingOptions, targetRect);
  if (!painter) return;
  painter->Start();
  if (DrawingOptions & doDirectDraw) return;
  // The painter draws its first frame through a synchronised call into this
  // thread: serve those calls until it has (the lock keeps it from finishing).
  while (ActivePainter && !ActivePainter->Terminated() && !ActivePainter->Started && !ActivePainter->Ending) {
    if (!CheckSynchronize()) Sleep(0);
  }
  if (FRenderedBitmap) BlitComposed(canvas, rect, *FRenderedBitmap);
}

void TGIFPicture::BlitComposed(TCanvas& canvas, const TGIFRect& rect, TGIFBitmap& composed) {
  TBitmap& bitmap = PlatformBitmap(composed);
  if (!(DrawingOptions & doTile)) {
    canvas.StretchDraw(ToRect(rect), bitmap);
    return;
  }
  const int w = ScreenWidth(), h = ScreenHeight();
  if (w <= 0 || h <= 0) return;
  for (int x = rect.Left; x < rect.Right; x += w)
    for (int y = rect.Top; y < rect.Bottom; y += h) canvas.StretchDraw(RECT{x, y, x + w, y + h}, bitmap);
}

TGIFRect TGIFPicture::ScaleFrameRect(TGIFSubImage& frame, const TGIFRect& rect) {
  const int w = rect.Width(), h = rect.Height(), sw = ScreenWidth(), sh = ScreenHeight();
  return TGIFRect{rect.Left + MulDivRound(frame.Left(), w, sw), rect.Top + MulDivRound(frame.Top(), h, sh),
                  rect.Left + MulDivRound(frame.Left() + frame.Width(), w, sw),
                  rect.Top + MulDivRound(frame.Top() + frame.Height(), h, sh)};
}

void TGIFPicture::DrawFrame(TGIFSubImage& frame, TCanvas& canvas, const TGIFRect& rect, bool tile, bool transparent) {
  DrawFrameAt(frame, canvas, tile ? rect : ScaleFrameRect(frame, rect), tile, transparent);
}

void TGIFPicture::DrawFrameAt(TGIFSubImage& frame, TCanvas& canvas, const TGIFRect& rect, bool tile,
                              bool transparent) {
  TGIFBitmap* rendered = frame.FrameBitmap();
  if (!rendered) return;
  TBitmap& bitmap = PlatformBitmap(*rendered);
  const int fw = frame.Width(), fh = frame.Height();
  const int stepX = ScreenWidth() > 0 ? ScreenWidth() : fw, stepY = ScreenHeight() > 0 ? ScreenHeight() : fh;
  if (transparent && frame.HasTransparency() && frame.MaskReady()) {
    UniqueDc maskDC(Checked(CreateCompatibleDC(nullptr)));
    SelectedObject maskSelected(maskDC.get(), reinterpret_cast<HBITMAP>(frame.MaskHandle()));
    HDC src = bitmap.Canvas().Handle();
    if (tile) {
      for (int x = rect.Left + frame.Left(); x < rect.Right; x += stepX)
        for (int y = rect.Top + frame.Top(); y < rect.Bottom; y += stepY)
          TransparentStretchBlit(canvas.Handle(), x, y, fw, fh, src, 0, 0, fw, fh, maskDC.get(), 0, 0);
    } else {
      TransparentStretchBlit(canvas.Handle(), rect.Left, rect.Top, rect.Width(), rect.Height(), src, 0, 0, fw, fh,
                             maskDC.get(), 0, 0);
    }
    canvas.Changed();
    return;
  }
  if (tile) {
    for (int x = rect.Left + frame.Left(); x < rect.Right; x += stepX)
      for (int y = rect.Top + frame.Top(); y < rect.Bottom; y += stepY)
        canvas.StretchDraw(RECT{x, y, x + fw, y + fh}, bitmap);
  } else {
    canvas.StretchDraw(ToRect(rect), bitmap);
  }
}

bool TransparentStretchBlit(HDC dst, int dx, int dy, int dw, int dh, HDC src, int sx, int sy, int sw, int sh,
                            HDC mask, int mx, int my) {
  if ((GetVersion() & 0x80000000) == 0 && dw == sw && dh == sh) {
    // Masked block transfer: source where the mask bit is 0, destination where
    // 1. The mask bitmap is taken out of its context while it is used.
    HBITMAP maskBitmap = static_cast<HBITMAP>(GetCurrentObject(mask, OBJ_BITMAP));
    UniqueBitmap spare(Checked(CreateCompatibleBitmap(src, 1, 1)));
    SelectedObject maskOut(mask, spare.get());
    MaskBlt(dst, dx, dy, dw, dh, src, sx, sy, maskBitmap, mx, my, 0xCCAA0029);
    return true;
  }
  // The source where opaque and black elsewhere, in a colour bitmap; then the
  // mask ANDed and that bitmap ORed onto the destination.
  UniqueDc colorDC(Checked(CreateCompatibleDC(dst)));
  UniqueBitmap colorBitmap(Checked(CreateCompatibleBitmap(dst, sw, sh)));
  SelectedObject colorSelected(colorDC.get(), colorBitmap.get());
  HPALETTE stock = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
  HPALETTE srcPalette = SelectPalette(src, stock, TRUE);
  SelectPalette(src, srcPalette, TRUE);
  SelectedPalette colorPalette(colorDC.get(), srcPalette ? srcPalette : stock, true);
  RealizePalette(colorDC.get());
  {
    UniqueDc monoDC(Checked(CreateCompatibleDC(dst)));
    UniqueBitmap monoBitmap(Checked(CreateBitmap(sw, sh, 1, 1, nullptr)));
    SelectedObject monoSelected(monoDC.get(), monoBitmap.get());
    BitBlt(monoDC.get(), 0, 0, sw, sh, mask, mx, my, NOTSRCCOPY);
    BitBlt(colorDC.get(), 0, 0, sw, sh, monoDC.get(), 0, 0, SRCCOPY);  // inverted mask: white where opaque
  }
  BitBlt(colorDC.get(), 0, 0, sw, sh, src, sx, sy, SRCAND);  // source where opaque, black elsewhere
  const COLORREF text = SetTextColor(dst, RGB(0, 0, 0));
  const COLORREF back = SetBkColor(dst, RGB(255, 255, 255));
  const int mode = SetStretchBltMode(dst, COLORONCOLOR);
  StretchBlt(dst, dx, dy, dw, dh, mask, mx, my, sw, sh, SRCAND);
  StretchBlt(dst, dx, dy, dw, dh, colorDC.get(), 0, 0, sw, sh, SRCPAINT);
  SetStretchBltMode(dst, mode);
  SetTextColor(dst, text);
  SetBkColor(dst, back);
  return true;
}

// --- Start-up --------------------------------------------------------------------------

unsigned GIFClipboardFormat = 0;

namespace {
int gInitCount = 0;
}  // namespace

void InitializeGIFCodec() {
  if (gInitCount++ > 0) return;
  TPicture::RegisterFileFormat("GIF", "GIF Image", TGIFPicture::Class());
  GIFClipboardFormat = RegisterClipboardFormatA("GIF Image");
  if (GIFClipboardFormat) TPicture::RegisterClipboardGraphic(GIFClipboardFormat, TGIFPicture::Class());
  WindowDc screen(nullptr);
  if (screen) {
    PaletteDisplay = GetDeviceCaps(screen.get(), BITSPIXEL) * GetDeviceCaps(screen.get(), PLANES) < 9;
    AutoDitherActive = PaletteDisplay;
  }
}

void FinalizeGIFCodec() {
  if (gInitCount == 0 || --gInitCount > 0) return;
  FreeExtensionRegistries();
  TPicture::UnregisterGraphicClass(TGIFPicture::Class());
}

}  // namespace om
