// Actions: a caption, enabled, visible and checked state and an execute
// handler shared by the menu items linked to them; an action list asks its
// actions' update handlers to refresh that state.
#pragma once

#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/events.h"
#include "framework/menus.h"

namespace om {

class TActionList;

class TAction : public TComponent {
public:
  explicit TAction(TComponent* AOwner);
  ~TAction() override;

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool value);

  TNotifyEvent OnExecute;
  TNotifyEvent OnUpdate;

  // Runs OnExecute when enabled; true when it ran.
  bool Execute();
  // Runs OnUpdate; true when there is one.
  bool Update();

  TActionList* ActionList() const { return FActionList; }
  void SetActionList(TActionList* list);

  // Links a menu item: it takes the action's state now and whenever a
  // property of the action changes; clicking it executes the action.
  void LinkMenuItem(TMenuItem* item);

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  void Changed();
  void ItemClick(TObject* Sender);

  std::string FCaption;
  bool FEnabled = true;
  bool FVisible = true;
  TActionList* FActionList = nullptr;
  std::vector<TMenuItem*> FClients;
};

class TActionList : public TComponent {
public:
  using TComponent::TComponent;
  ~TActionList() override;
  int ActionCount() const { return static_cast<int>(FActions.size()); }
  TAction* Actions(int index) const { return FActions.at(static_cast<size_t>(index)); }
  // Runs every action's update handler.
  void UpdateActions();

private:
  friend class TAction;
  std::vector<TAction*> FActions;
};

}  // namespace om
