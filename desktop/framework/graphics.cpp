#include "framework/graphics.h"

#include <algorithm>
#include <vector>

#include "framework/canvas.h"
#include "framework/exceptions.h"

namespace om {

// --- TIcon -----------------------------------------------------------------------

const TGraphicClass* TIcon::Class() {
  static const TGraphicClass cls{"TIcon", [] { return static_cast<TGraphic*>(new TIcon); }};
  return &cls;
}

void TIcon::SetHandle(HICON icon) {
  if (icon == FHandle.get()) return;
  FHandle.reset(icon);
  FWidth = FHeight = 0;
  ICONINFO info{};
  if (icon && GetIconInfo(icon, &info)) {
    UniqueBitmap mask(info.hbmMask), color(info.hbmColor);
    BITMAP bm{};
    if (GetObject(mask.get(), sizeof bm, &bm)) {
      FWidth = bm.bmWidth;
      // Without a colour bitmap the mask holds the AND and XOR halves.
      FHeight = color ? bm.bmHeight : bm.bmHeight / 2;
    }
  }
  Changed();
}

HICON TIcon::ReleaseHandle() {
  FWidth = FHeight = 0;
  return FHandle.release();
}

void TIcon::DrawOn(TCanvas& canvas, const TRect& rect) {
  if (!FHandle) return;
  DrawIconEx(canvas.Handle(), rect.Left, rect.Top, FHandle.get(), rect.Width(), rect.Height(), 0, nullptr, DI_NORMAL);
  canvas.Changed();
}

void TIcon::Assign(const TPersistent* Source) {
  if (!Source) {
    SetHandle(nullptr);
    return;
  }
  auto* src = dynamic_cast<const TIcon*>(Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  if (src == this) return;
  HICON copy = nullptr;
  if (src->FHandle) {
    copy = CopyIcon(src->FHandle.get());
    if (!copy) RaiseLastOSError();
  }
  SetHandle(copy);
}

void TIcon::LoadFromResourceName(HINSTANCE instance, const char* name) {
  HICON h = static_cast<HICON>(LoadImageA(instance, name, IMAGE_ICON, 0, 0,
                                          instance ? LR_DEFAULTSIZE : (LR_DEFAULTSIZE | LR_SHARED)));
  if (!h) RaiseLastOSError();
  // Shared system icons must not be destroyed: keep a private copy.
  if (!instance) {
    HICON copy = CopyIcon(h);
    if (!copy) RaiseLastOSError();
    h = copy;
  }
  SetHandle(h);
}

void TIcon::LoadFromResourceID(HINSTANCE instance, int id) {
  LoadFromResourceName(instance, MAKEINTRESOURCEA(id));
}

// --- TMetafile -------------------------------------------------------------------

const TGraphicClass* TMetafile::Class() {
  static const TGraphicClass cls{"TMetafile", [] { return static_cast<TGraphic*>(new TMetafile); }};
  return &cls;
}

void TMetafile::SetHandle(HENHMETAFILE metafile) {
  if (metafile == FHandle.get()) return;
  FHandle.reset(metafile);
  FWidth = FHeight = 0;
  ENHMETAHEADER header{};
  if (metafile && GetEnhMetaFileHeader(metafile, sizeof header, &header)) {
    // The frame is in hundredths of a millimetre of the reference device.
    auto pixels = [](LONG frame, LONG devicePixels, LONG deviceMillimetres) {
      return deviceMillimetres > 0 ? int((int64_t(frame) * devicePixels + deviceMillimetres * 50) /
                                         (int64_t(deviceMillimetres) * 100))
                                   : 0;
    };
    FWidth = pixels(header.rclFrame.right - header.rclFrame.left, header.szlDevice.cx, header.szlMillimeters.cx);
    FHeight = pixels(header.rclFrame.bottom - header.rclFrame.top, header.szlDevice.cy, header.szlMillimeters.cy);
  }
  Changed();
}

void TMetafile::DrawOn(TCanvas& canvas, const TRect& rect) {
  if (!FHandle) return;
  const RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  PlayEnhMetaFile(canvas.Handle(), FHandle.get(), &r);
  canvas.Changed();
}

void TMetafile::ResizeWidth(int value) {
  FWidth = value;
  Changed();
}

void TMetafile::ResizeHeight(int value) {
  FHeight = value;
  Changed();
}

void TMetafile::LoadFromStream(TStream& stream) {
  std::vector<uint8_t> bytes(size_t(std::max<int64_t>(0, stream.Size() - stream.Position())));
  stream.ReadBuffer(bytes.data(), int64_t(bytes.size()));
  HENHMETAFILE metafile = SetEnhMetaFileBits(UINT(bytes.size()), bytes.data());
  if (!metafile) throw EInvalidGraphic("Metafile is not valid");
  SetHandle(metafile);
}

void TMetafile::SaveToStream(TStream& stream) {
  if (!FHandle) return;
  std::vector<uint8_t> bytes(GetEnhMetaFileBits(FHandle.get(), 0, nullptr));
  if (bytes.empty() || GetEnhMetaFileBits(FHandle.get(), UINT(bytes.size()), bytes.data()) != bytes.size())
    RaiseLastOSError();
  stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
}

void TMetafile::PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t) {
  HANDLE handle = reinterpret_cast<HANDLE>(data);
  if (!handle && format == CF_ENHMETAFILE) handle = GetClipboardData(format);
  if (!handle || format != CF_ENHMETAFILE) throw EInvalidGraphic("Unsupported clipboard format");
  HENHMETAFILE copy = CopyEnhMetaFileA(static_cast<HENHMETAFILE>(handle), nullptr);
  if (!copy) RaiseLastOSError();
  SetHandle(copy);
}

void TMetafile::CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette) {
  if (!FHandle) throw EInvalidGraphicOperation("An empty metafile cannot be put on the clipboard");
  HENHMETAFILE copy = CopyEnhMetaFileA(FHandle.get(), nullptr);
  if (!copy) RaiseLastOSError();
  format = CF_ENHMETAFILE;
  data = reinterpret_cast<uintptr_t>(copy);
  palette = 0;
}

void TMetafile::Assign(const TPersistent* Source) {
  const auto* other = dynamic_cast<const TMetafile*>(Source);
  if (!Source || !other) {
    if (Source) TGraphic::Assign(Source);
    SetHandle(nullptr);
    return;
  }
  if (other == this) return;
  HENHMETAFILE copy = nullptr;
  if (other->FHandle) {
    copy = CopyEnhMetaFileA(other->FHandle.get(), nullptr);
    if (!copy) RaiseLastOSError();
  }
  SetHandle(copy);
  FWidth = other->FWidth;
  FHeight = other->FHeight;
}

// --- Image lists -----------------------------------------------------------------

TCustomImageList::TCustomImageList(TComponent* AOwner, int width, int height)
    : TComponent(AOwner), FWidth(width), FHeight(height) {}

HIMAGELIST TCustomImageList::Handle() {
  if (!FHandle) {
    FHandle.reset(ImageList_Create(FWidth, FHeight, ILC_COLOR32 | ILC_MASK, 4, 4));
    if (!FHandle) throw EOutOfResources("Cannot create the image list");
  }
  return FHandle.get();
}

void TCustomImageList::Changed() {
  if (OnChange) OnChange(this);
}

int TCustomImageList::Count() const { return FHandle ? ImageList_GetImageCount(FHandle.get()) : 0; }

int TCustomImageList::AddIcon(const TIcon* icon) {
  if (!icon || icon->Empty()) throw EInvalidOperation("Cannot add an empty icon to an image list");
  int index = ImageList_AddIcon(Handle(), icon->Handle());
  if (index < 0) throw EInvalidOperation("Failed to add the icon to the image list");
  Changed();
  return index;
}

void TCustomImageList::GetIcon(int index, TIcon* icon) const {
  if (!icon) return;
  if (index < 0 || index >= Count()) throw EInvalidOperation("Image list index out of bounds");
  HICON h = ImageList_GetIcon(FHandle.get(), index, ILD_NORMAL);
  if (!h) RaiseLastOSError();
  icon->SetHandle(h);
}

void TCustomImageList::Delete(int index) {
  if (FHandle && ImageList_Remove(FHandle.get(), index)) Changed();
}

void TCustomImageList::Clear() { Delete(-1); }

}  // namespace om
