#include "framework/component.h"

#include <algorithm>

#include "framework/exceptions.h"

namespace om {

void TPersistent::Assign(const TPersistent* Source) {
  throw EConvertError(Source ? "Cannot assign an object of another class"
                             : "Cannot assign nil");
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  FComponentState |= csDestroying;
  // Those who asked to hear of our removal; each forgets us first so the list
  // cannot change under the loop.
  while (!FFreeNotifies.empty()) {
    TComponent* c = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    auto& back = c->FFreeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
    c->Notification(this, opRemove);
  }
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    c->FComponentState |= csDestroying;
    delete c;  // its destructor removes it from our list
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* c) {
  c->FOwner = this;
  FComponents.push_back(c);
  if (FComponentState & csDesigning) c->FComponentState |= csDesigning;
  Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
  Notification(c, opRemove);
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), c), FComponents.end());
  c->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  auto& other = AComponent->FFreeNotifies;
  if (std::find(other.begin(), other.end(), this) == other.end()) other.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                      FFreeNotifies.end());
  auto& other = AComponent->FFreeNotifies;
  other.erase(std::remove(other.begin(), other.end(), this), other.end());
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
  // Owned components hear of removals too, as when a form's menu goes.
  if (Operation == opRemove)
    for (size_t i = FComponents.size(); i-- > 0;)
      if (i < FComponents.size() && FComponents[i] != AComponent)
        FComponents[i]->Notification(AComponent, Operation);
}

void TComponent::Loaded() { FComponentState &= ~csLoading; }

void TComponent::BeginLoading() {
  FComponentState |= csLoading;
  for (TComponent* c : FComponents) c->BeginLoading();
}

void TComponent::EndLoading() {
  std::vector<TComponent*> owned = FComponents;
  Loaded();
  for (TComponent* c : owned) c->EndLoading();
}

void TComponent::MarkDestroying() {
  FComponentState |= csDestroying;
  for (TComponent* c : FComponents) c->MarkDestroying();
}

void TComponent::SetDesigning(bool value) {
  if (value) FComponentState |= csDesigning;
  else FComponentState &= ~csDesigning;
}

}  // namespace om
