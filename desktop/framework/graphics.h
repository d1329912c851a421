// Icons and image lists.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/component.h"
#include "framework/events.h"

namespace om {

// An icon that owns its handle (destroyed with the object or when replaced).
class TIcon : public TPersistent {
public:
  TIcon() = default;
  ~TIcon() override;

  HICON Handle() const { return FHandle; }
  // Takes ownership of icon (nullptr empties the icon).
  void SetHandle(HICON icon);
  // Gives the handle up to the caller; the icon is empty afterwards.
  HICON ReleaseHandle();
  bool Empty() const { return FHandle == nullptr; }
  // A copy of Source's image (a handle of its own), or empty with Source empty.
  void Assign(const TPersistent* Source) override;
  // Loads an icon resource of instance (nullptr: the system's icons).
  void LoadFromResourceName(HINSTANCE instance, const char* name);
  void LoadFromResourceID(HINSTANCE instance, int id);

  TNotifyEvent OnChange;

private:
  void Changed();
  HICON FHandle = nullptr;
};

// A list of equally sized images, kept by a system image list.
class TCustomImageList : public TComponent {
public:
  explicit TCustomImageList(TComponent* AOwner, int width = 16, int height = 16);
  ~TCustomImageList() override;

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
  HIMAGELIST FHandle = nullptr;
  int FWidth, FHeight;
};

class TImageList : public TCustomImageList {
public:
  using TCustomImageList::TCustomImageList;
};

}  // namespace om
