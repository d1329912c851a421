// Windows sources and targets of pictures: frames from framework bitmaps,
// icons, metafiles and any other graphic (with the icon's mask or the
// metafile's background as transparency), the composed picture into a bitmap,
// and the clipboard under the "GIF Image" format or as a bitmap.
#include <cstring>

#include "framework/graphics.h"
#include "gif/gif_bitmap_win32.h"
#include "gif/gif_picture_win32.h"
#include "gif/gif_win32.h"
#include "platform/win32_owners.h"

namespace om {

// --- Frames --------------------------------------------------------------------------

void RasteriseGraphic(TBitmap& bitmap, TGraphic& graphic) {
  const int w = graphic.ScreenWidth(), h = graphic.ScreenHeight();
  bitmap.SetSize(w, h);
  bitmap.SetBitsPerPixel(24);
  graphic.DrawOn(bitmap.Canvas(), TRect{0, 0, w, h});
  GdiFlush();
}

void RenderOnBackground(TBitmap& bitmap, TGraphic& graphic, COLORREF color) {
  const int w = graphic.ScreenWidth(), h = graphic.ScreenHeight();
  bitmap.SetSize(w, h);
  bitmap.SetBitsPerPixel(24);
  bitmap.Canvas().FillRect(bitmap.Canvas().ClipRect(), color);
  graphic.DrawOn(bitmap.Canvas(), TRect{0, 0, w, h});
  GdiFlush();
}

void TGIFSubImage::CopyFromBitmap(TBitmap& bitmap) {
  ResetFrame();
  if (bitmap.Empty()) return;
  TGIFPlatformBitmap source;
  source.Bitmap().Assign(bitmap);
  ImportBitmap(source);
  if (bitmap.Transparent) ImportMaskHandle(reinterpret_cast<uintptr_t>(bitmap.MaskHandle()));
}

void TGIFSubImage::CopyFromGraphic(const TGraphic& source) {
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
    CopyFromBitmap(const_cast<TBitmap&>(*bitmap));
    return;
  }
  ResetFrame();
  if (source.IsBlank()) return;
  // Drawing builds a graphic's caches; its content stays as it is.
  TGraphic& graphic = const_cast<TGraphic&>(source);
  const auto* icon = dynamic_cast<const TIcon*>(&source);
  const bool metafile = dynamic_cast<const TMetafile*>(&source) != nullptr;
  TBitmap bitmap;
  if (icon || metafile) {
    try {
      RasteriseGraphic(bitmap, graphic);
    } catch (const Exception&) {
      bitmap.Assign(&source);
    }
  } else {
    try {
      bitmap.Assign(&source);
    } catch (const Exception&) {
      RasteriseGraphic(bitmap, graphic);
    }
  }
  CopyFromBitmap(bitmap);
  if (icon) ImportIconMask(*icon);
  if (metafile) ImportMetafileMask(graphic);
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

void TGIFSubImage::ImportIconMask(const TIcon& icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon.Handle(), &info)) return;
  UniqueBitmap color(info.hbmColor);
  if (!info.hbmMask) return;
  // The AND mask: 1 where the background shows through (the bitmap takes it over).
  TGIFPlatformBitmap mask;
  mask.Bitmap().SetHandle(info.hbmMask);
  ImportMaskBitmap(mask);
}

void TGIFSubImage::ImportMetafileMask(TGraphic& graphic) {
  // Painted pixels are the same over white and over black: their exclusive
  // or is 0; the background's is not.
  TGIFPlatformBitmap mask;
  TBitmap& white = mask.Bitmap();
  TBitmap black;
  RenderOnBackground(white, graphic, RGB(255, 255, 255));
  RenderOnBackground(black, graphic, RGB(0, 0, 0));
  if (white.Empty() || black.Empty()) return;
  BitBlt(white.Canvas().Handle(), 0, 0, white.Width(), white.Height(), black.Canvas().Handle(), 0, 0, 0x00660046);
  GdiFlush();
  ImportMaskBitmap(mask);
}

void TGIFSubImage::CopyTo(TBitmap& dest) {
  if (TGIFBitmap* rendered = FrameBitmap())
    dest.Assign(PlatformBitmap(*rendered));
  else
    dest.SetSize(0, 0);
}

// --- Pictures ------------------------------------------------------------------------

void TGIFPicture::CopyTo(TBitmap& dest) {
  TGIFBitmap* composed = ComposedBitmap();
  if (!composed) {
    dest.SetSize(0, 0);
    return;
  }
  dest.Assign(PlatformBitmap(*composed));
}

void TGIFPicture::CopyTo(TPersistent& dest) const {
  // Composing the picture fills its cache; the picture itself stays.
  if (auto* bitmap = dynamic_cast<TBitmap*>(&dest))
    const_cast<TGIFPicture*>(this)->CopyTo(*bitmap);
  else
    TGraphic::CopyTo(dest);
}

void TGIFPicture::PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette) {
  HANDLE handle = reinterpret_cast<HANDLE>(data);
  if (!handle) handle = GetClipboardData(format);
  if (handle && format == GIFClipboardFormat) {
    const SIZE_T size = GlobalSize(handle);
    TMemoryStream stream;
    if (const void* p = GlobalLock(handle)) {
      if (size > 0) stream.WriteBuffer(p, int64_t(size));
      GlobalUnlock(handle);
    }
    stream.SetPosition(0);
    LoadFromStream(stream);
    return;
  }
  if (!handle || format != CF_BITMAP) RaiseGIFError("Unsupported clipboard format");
  TBitmap bitmap;
  bitmap.PasteFromClipboard(format, reinterpret_cast<uintptr_t>(handle), palette);
  CopyFrom(bitmap);
}

void TGIFPicture::CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette) {
  if (IsBlank()) return;
  // The GIF data first: when it cannot be stored, the caller is handed nothing.
  TMemoryStream stream;
  SaveToStream(stream);
  PlaceOnClipboard(GIFClipboardFormat, stream.Memory(), size_t(stream.Size()));
  PlatformBitmap(*ComposedBitmap()).CopyToClipboard(format, data, palette);
}

}  // namespace om
