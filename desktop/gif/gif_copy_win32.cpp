// Windows sources and targets of pictures: frames from framework bitmaps and
// icons (with their masks), the composed picture into a bitmap, and the
// clipboard under the "GIF Image" format or as a bitmap.
#include <cstring>

#include "framework/graphics.h"
#include "gif/gif_bitmap_win32.h"
#include "gif/gif_picture_win32.h"
#include "gif/gif_win32.h"

namespace om {

// --- Frames --------------------------------------------------------------------------

void TGIFSubImage::CopyFromBitmap(TBitmap& bitmap) {
  ResetFrame();
  if (bitmap.Empty()) return;
  TGIFPlatformBitmap source;
  source.Bitmap().Assign(bitmap);
  ImportBitmap(source);
  if (bitmap.Transparent) ImportMaskHandle(reinterpret_cast<uintptr_t>(bitmap.MaskHandle()));
}

void TGIFSubImage::ImportMaskHandle(uintptr_t handle) {
  if (!handle) return;
  // A copy of the caller's handle: the wrapper frees only its own.
  HANDLE copy = CopyImage(reinterpret_cast<HANDLE>(handle), IMAGE_BITMAP, 0, 0, 0);
  if (!copy) return;
  TGIFPlatformBitmap mask;
  mask.Bitmap().SetHandle(static_cast<HBITMAP>(copy));
  ImportMaskBitmap(mask);
}

void TGIFSubImage::CopyFromIcon(const TIcon& icon) {
  ResetFrame();
  if (icon.Empty()) return;
  ICONINFO info{};
  if (!GetIconInfo(icon.Handle(), &info)) return;
  BITMAP bm{};
  GetObject(info.hbmMask, sizeof bm, &bm);
  const int w = bm.bmWidth, h = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  // Rasterised over black: pixels under the mask are given by the mask.
  TBitmap bitmap;
  bitmap.SetBitsPerPixel(24);
  bitmap.SetSize(w, h);
  bitmap.Canvas().FillRect(RECT{0, 0, w, h}, RGB(0, 0, 0));
  DrawIconEx(bitmap.Canvas().Handle(), 0, 0, icon.Handle(), w, h, 0, nullptr, DI_NORMAL);
  GdiFlush();
  CopyFromBitmap(bitmap);
  ImportIconMask(icon);
}

void TGIFSubImage::ImportIconMask(const TIcon& icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon.Handle(), &info)) return;
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (!info.hbmMask) return;
  // The AND mask: 1 where the background shows through.
  TGIFPlatformBitmap mask;
  mask.Bitmap().SetHandle(info.hbmMask);
  ImportMaskBitmap(mask);
}

void TGIFSubImage::CopyTo(TBitmap& dest) {
  if (TGIFBitmap* rendered = FrameBitmap())
    dest.Assign(PlatformBitmap(*rendered));
  else
    dest.SetSize(0, 0);
}

// --- Pictures ------------------------------------------------------------------------

void TGIFPicture::CopyFromBitmap(TBitmap& bitmap) {
  ResetImage();
  auto* frame = new TGIFSubImage(this);
  try {
    frame->CopyFromBitmap(bitmap);
  } catch (...) {
    delete frame;
    throw;
  }
  AppendFrame(frame);
}

void TGIFPicture::CopyFromIcon(const TIcon& icon) {
  ResetImage();
  auto* frame = new TGIFSubImage(this);
  try {
    frame->CopyFromIcon(icon);
  } catch (...) {
    delete frame;
    throw;
  }
  AppendFrame(frame);
}

void TGIFPicture::CopyTo(TBitmap& dest) {
  TGIFBitmap* composed = ComposedBitmap();
  if (!composed) {
    dest.SetSize(0, 0);
    return;
  }
  dest.Assign(PlatformBitmap(*composed));
}

void TGIFPicture::PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette) {
  HANDLE handle = reinterpret_cast<HANDLE>(data);
  if (!handle) handle = GetClipboardData(format);
  if (handle && format == GIFClipboardFormat) {
    const SIZE_T size = GlobalSize(handle);
    const void* p = GlobalLock(handle);
    TMemoryStream stream;
    if (p && size > 0) stream.WriteBuffer(p, int64_t(size));
    if (p) GlobalUnlock(handle);
    stream.SetPosition(0);
    LoadFromStream(stream);
    return;
  }
  if (!handle || format != CF_BITMAP) RaiseGIFError("Unsupported clipboard format");
  TBitmap bitmap;
  HANDLE copy = CopyImage(handle, IMAGE_BITMAP, 0, 0, 0);
  if (!copy) RaiseGIFError("Unsupported clipboard format");
  bitmap.SetHandle(static_cast<HBITMAP>(copy));
  if (palette) bitmap.SetPalette(reinterpret_cast<HPALETTE>(palette));
  CopyFromBitmap(bitmap);
}

void TGIFPicture::CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette) {
  if (IsBlank()) return;
  TBitmap& composed = PlatformBitmap(*ComposedBitmap());
  format = CF_BITMAP;
  data = reinterpret_cast<uintptr_t>(CopyImage(composed.Handle(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  palette = 0;
  if (composed.Palette()) {
    TGIFPalette entries = PaletteFromHandle(composed.Palette());
    palette = reinterpret_cast<uintptr_t>(MakePaletteHandle(entries));
  }
  TMemoryStream stream;
  SaveToStream(stream);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, SIZE_T(stream.Size()));
  if (!block) return;
  void* p = GlobalLock(block);
  std::memcpy(p, stream.Memory(), size_t(stream.Size()));
  GlobalUnlock(block);
  if (!SetClipboardData(GIFClipboardFormat, block)) {
    GlobalFree(block);
    RaiseGIFError("Failed to store GIF on clipboard");
  }
}

}  // namespace om
