// Pop-up menus and their items.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/events.h"
#include "framework/messages.h"

namespace om {

class TMenuItem : public TComponent {
public:
  explicit TMenuItem(TComponent* AOwner);
  // Sub-items without an owner of their own go with their parent item.
  ~TMenuItem() override;

  std::string Caption;  // "-" is a separator
  bool Checked = false;
  bool Enabled = true;
  bool Visible = true;
  bool Default = false;
  TNotifyEvent OnClick;

  void Add(TMenuItem* item);
  void Remove(TMenuItem* item);
  int Count() const { return static_cast<int>(FItems.size()); }
  TMenuItem* Items(int index) const { return FItems.at(static_cast<size_t>(index)); }
  TMenuItem* Parent() const { return FParent; }
  UINT Command() const { return FCommand; }

  // Runs OnClick.
  virtual void Click();

private:
  std::vector<TMenuItem*> FItems;
  TMenuItem* FParent = nullptr;
  UINT FCommand;
};

class TPopupMenu : public TComponent {
public:
  explicit TPopupMenu(TComponent* AOwner);
  ~TPopupMenu() override;

  TMenuItem* Items() const { return FItems; }
  // Runs OnPopup, shows the menu at screen position X, Y and clicks the item
  // chosen, if any.
  virtual void Popup(int X, int Y);
  TNotifyEvent OnPopup;
  // The item Popup clicked last (nullptr when the menu was cancelled).
  TMenuItem* LastChosen() const { return FLastChosen; }

private:
  HMENU Build(TMenuItem* parent);
  TMenuItem* FindCommand(TMenuItem* parent, UINT command);
  void WndProc(TMessage& Message);

  TMenuItem* FItems;
  TMenuItem* FLastChosen = nullptr;
  HWND FWindow = nullptr;
};

}  // namespace om
