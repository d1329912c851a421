// Icons, enhanced metafiles and image lists.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/component.h"
#include "framework/events.h"
#include "framework/picture.h"
#include "platform/win32_owners.h"

namespace om {

// An icon that owns its handle (destroyed with the object or when replaced).
class TIcon : public TGraphic {
public:
  TIcon() = default;

  static const TGraphicClass* Class();
  const TGraphicClass* GraphicClass() const override { return Class(); }

  HICON Handle() const { return FHandle.get(); }
  // Takes ownership of icon (nullptr empties the icon).
  void SetHandle(HICON icon);
  // Gives the handle up to the caller; the icon is empty afterwards.
  HICON ReleaseHandle();
  bool Empty() const { return !FHandle; }
  int ScreenWidth() const override { return FWidth; }
  int ScreenHeight() const override { return FHeight; }
  bool IsBlank() const override { return Empty(); }
  // Drawn through its mask, stretched to the rectangle.
  void DrawOn(TCanvas& canvas, const TRect& rect) override;
  // A copy of Source's image (a handle of its own), or empty with Source empty.
  void Assign(const TPersistent* Source) override;
  // Loads an icon resource of instance (nullptr: the system's icons).
  void LoadFromResourceName(HINSTANCE instance, const char* name);
  void LoadFromResourceID(HINSTANCE instance, int id);

private:
  UniqueIcon FHandle;
  int FWidth = 0, FHeight = 0;
};

// An enhanced metafile: drawing records played into the rectangle it is drawn
// in. Its size is that of the picture frame it was recorded with, in pixels of
// the device it was recorded for, until it is given another.
class TMetafile : public TGraphic {
public:
  static const TGraphicClass* Class();
  const TGraphicClass* GraphicClass() const override { return Class(); }

  HENHMETAFILE Handle() const { return FHandle.get(); }
  // Takes ownership of metafile (nullptr empties it).
  void SetHandle(HENHMETAFILE metafile);
  int ScreenWidth() const override { return FWidth; }
  int ScreenHeight() const override { return FHeight; }
  bool IsBlank() const override { return !FHandle; }
  void DrawOn(TCanvas& canvas, const TRect& rect) override;
  void ResizeWidth(int value) override;
  void ResizeHeight(int value) override;
  // The metafile's bytes (an .emf file), from the stream position to its end.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // CF_ENHMETAFILE (a metafile handle, copied).
  void PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette) override;
  void CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette) override;
  // A copy of another metafile's records and size.
  void Assign(const TPersistent* Source) override;

private:
  UniqueEnhMetaFile FHandle;
  int FWidth = 0, FHeight = 0;
};

// A system image list (ImageList_Create), destroyed with its owner.
using UniqueImageList = UniqueResource<owners::Traits<HIMAGELIST, owners::none<HIMAGELIST>, ImageList_Destroy>>;

// A list of equally sized images, kept by a system image list.
class TCustomImageList : public TComponent {
public:
  explicit TCustomImageList(TComponent* AOwner, int width = 16, int height = 16);

  HIMAGELIST Handle();
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int Count() const;
  // Adds a copy of the icon's image; returns its index.
  int AddIcon(const TIcon* icon);
  // A new icon made from the image at index (the icon owns it).
  void GetIcon(int index, TIcon* icon) const;
  void Delete(int index);
  void Clear();

  TNotifyEvent OnChange;

private:
  void Changed();
  UniqueImageList FHandle;
  int FWidth, FHeight;
};

class TImageList : public TCustomImageList {
public:
  using TCustomImageList::TCustomImageList;
};

}  // namespace om
