#include "framework/menus.h"

#include <algorithm>
#include <atomic>

#include "framework/exceptions.h"
#include "framework/forms.h"

namespace om {
namespace {
std::atomic<UINT> GNextCommand{100};
}

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner), FCommand(GNextCommand++) {}

TMenuItem::~TMenuItem() {
  while (!FItems.empty()) {
    TMenuItem* item = FItems.back();
    FItems.pop_back();
    item->FParent = nullptr;
    if (!item->Owner()) delete item;
  }
  if (FParent) FParent->Remove(this);
}

void TMenuItem::Add(TMenuItem* item) {
  if (!item || item->FParent == this) return;
  if (item->FParent) item->FParent->Remove(item);
  item->FParent = this;
  FItems.push_back(item);
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(FItems.begin(), FItems.end(), item);
  if (it == FItems.end()) return;
  FItems.erase(it);
  item->FParent = nullptr;
}

void TMenuItem::Click() {
  if (Enabled && OnClick) OnClick(this);
}

TPopupMenu::TPopupMenu(TComponent* AOwner) : TComponent(AOwner), FItems(new TMenuItem(nullptr)) {}

TPopupMenu::~TPopupMenu() {
  delete FItems;
  DeallocateHWnd(FWindow);
}

HMENU TPopupMenu::Build(TMenuItem* parent) {
  HMENU menu = CreatePopupMenu();
  if (!menu) RaiseLastOSError();
  for (int i = 0; i < parent->Count(); ++i) {
    TMenuItem* item = parent->Items(i);
    if (!item->Visible) continue;
    if (item->Caption == "-") {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING | (item->Checked ? MF_CHECKED : 0) | (item->Enabled ? 0 : MF_GRAYED);
    if (item->Count() > 0) {
      AppendMenuA(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(Build(item)),
                  item->Caption.c_str());
    } else {
      AppendMenuA(menu, flags, item->Command(), item->Caption.c_str());
      if (item->Default) SetMenuDefaultItem(menu, item->Command(), FALSE);
    }
  }
  return menu;
}

TMenuItem* TPopupMenu::FindCommand(TMenuItem* parent, UINT command) {
  for (int i = 0; i < parent->Count(); ++i) {
    TMenuItem* item = parent->Items(i);
    if (item->Command() == command) return item;
    if (TMenuItem* sub = FindCommand(item, command)) return sub;
  }
  return nullptr;
}

void TPopupMenu::WndProc(TMessage& Message) {
  Message.Result = DefWindowProcA(FWindow, Message.Msg, Message.WParam, Message.LParam);
}

void TPopupMenu::Popup(int X, int Y) {
  if (OnPopup) OnPopup(this);
  if (!FWindow) FWindow = AllocateHWnd(MakeMethod<&TPopupMenu::WndProc>(this));
  HMENU menu = Build(FItems);
  UINT command = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_LEFTALIGN | TPM_LEFTBUTTON | TPM_RIGHTBUTTON | TPM_RETURNCMD, X, Y, 0, FWindow,
      nullptr));
  DestroyMenu(menu);  // sub-menus go with it
  FLastChosen = command ? FindCommand(FItems, command) : nullptr;
  if (FLastChosen) FLastChosen->Click();
}

}  // namespace om
