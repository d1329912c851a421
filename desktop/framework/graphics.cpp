#include "framework/graphics.h"

#include "framework/exceptions.h"

namespace om {

TIcon::~TIcon() {
  if (FHandle) DestroyIcon(FHandle);
}

void TIcon::Changed() {
  if (OnChange) OnChange(this);
}

void TIcon::SetHandle(HICON icon) {
  if (icon == FHandle) return;
  if (FHandle) DestroyIcon(FHandle);
  FHandle = icon;
  Changed();
}

HICON TIcon::ReleaseHandle() {
  HICON h = FHandle;
  FHandle = nullptr;
  return h;
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
    copy = CopyIcon(src->FHandle);
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

TCustomImageList::TCustomImageList(TComponent* AOwner, int width, int height)
    : TComponent(AOwner), FWidth(width), FHeight(height) {}

TCustomImageList::~TCustomImageList() {
  if (FHandle) ImageList_Destroy(FHandle);
}

HIMAGELIST TCustomImageList::Handle() {
  if (!FHandle) {
    FHandle = ImageList_Create(FWidth, FHeight, ILC_COLOR32 | ILC_MASK, 4, 4);
    if (!FHandle) throw EOutOfResources("Cannot create the image list");
  }
  return FHandle;
}

void TCustomImageList::Changed() {
  if (OnChange) OnChange(this);
}

int TCustomImageList::Count() const { return FHandle ? ImageList_GetImageCount(FHandle) : 0; }

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
  HICON h = ImageList_GetIcon(FHandle, index, ILD_NORMAL);
  if (!h) RaiseLastOSError();
  icon->SetHandle(h);
}

void TCustomImageList::Delete(int index) {
  if (FHandle && ImageList_Remove(FHandle, index)) Changed();
}

void TCustomImageList::Clear() { Delete(-1); }

}  // namespace om
