#include "framework/actnlist.h"

#include <algorithm>

namespace om {

TAction::TAction(TComponent* AOwner) : TComponent(AOwner) {}

TAction::~TAction() {
  SetActionList(nullptr);
  for (TMenuItem* item : FClients) {
    RemoveFreeNotification(item);
    item->OnClick = TNotifyEvent();
  }
}

void TAction::SetActionList(TActionList* list) {
  if (FActionList) {
    auto& v = FActionList->FActions;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  FActionList = list;
  if (list) list->FActions.push_back(this);
}

// A property reaches the linked items only when it changes, so an item set
// directly keeps its own value until the action's value changes.
void TAction::SetCaption(const std::string& value) {
  if (value == FCaption) return;
  FCaption = value;
  for (TMenuItem* item : FClients) item->Caption = FCaption;
}
void TAction::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  for (TMenuItem* item : FClients) item->Enabled = FEnabled;
}
void TAction::SetVisible(bool value) {
  if (value == FVisible) return;
  FVisible = value;
  for (TMenuItem* item : FClients) item->Visible = FVisible;
}

void TAction::Changed() {
  for (TMenuItem* item : FClients) {
    item->Caption = FCaption;
    item->Enabled = FEnabled;
    item->Visible = FVisible;
  }
}

bool TAction::Execute() {
  if (!FEnabled || !OnExecute) return false;
  OnExecute(this);
  return true;
}

bool TAction::Update() {
  if (!OnUpdate) return false;
  OnUpdate(this);
  return true;
}

void TAction::LinkMenuItem(TMenuItem* item) {
  FClients.push_back(item);
  FreeNotification(item);
  item->OnClick = MakeMethod<&TAction::ItemClick>(this);
  Changed();
}

void TAction::ItemClick(TObject*) {
  // The update handlers decide first, as before a menu is shown.
  Update();
  Execute();
}

void TAction::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove) {
    FClients.erase(std::remove_if(FClients.begin(), FClients.end(),
                                  [&](TMenuItem* item) { return static_cast<TComponent*>(item) == AComponent; }),
                   FClients.end());
  }
}

TActionList::~TActionList() {
  for (TAction* a : std::vector<TAction*>(FActions)) a->SetActionList(nullptr);
}

void TActionList::UpdateActions() {
  for (TAction* a : std::vector<TAction*>(FActions)) a->Update();
}

}  // namespace om
