// Components: objects with an owner that destroys them, a list of the
// components they own, and removal notifications to whoever asked for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/object.h"

namespace om {

// An object whose content can be copied from another of a compatible class.
class TPersistent : public TObject {
public:
  // Copies Source into this object; raises EConvertError when the classes do not fit.
  virtual void Assign(const TPersistent* Source);
};

enum TOperation { opInsert, opRemove };

// Component state bits.
enum : uint32_t {
  csLoading = 0x01,
  csReading = 0x02,
  csWriting = 0x04,
  csDestroying = 0x08,
  csDesigning = 0x10,
};

class TComponent : public TPersistent {
public:
  explicit TComponent(TComponent* AOwner);
  // Tells everyone who asked (and the owner) that this component goes, then
  // destroys the components it owns, last first.
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents.at(static_cast<size_t>(index)); }

  const std::string& Name() const { return FName; }
  void SetName(const std::string& name) { FName = name; }

  uint32_t ComponentState() const { return FComponentState; }
  bool Loading() const { return (FComponentState & csLoading) != 0; }
  bool Designing() const { return (FComponentState & csDesigning) != 0; }
  bool Destroying() const { return (FComponentState & csDestroying) != 0; }

  // Asks for a Notification(this-one, opRemove) when AComponent is destroyed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Loading as when a form is read from its resource: between BeginLoading and
  // EndLoading the component and those it owns are in the loading state;
  // EndLoading clears it and calls Loaded on each.
  void BeginLoading();
  void EndLoading();

  // Marks this component and those it owns as being destroyed.
  void MarkDestroying();

protected:
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  virtual void Loaded();
  void SetDesigning(bool value);

private:
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  std::string FName;
  uint32_t FComponentState = 0;
};

}  // namespace om
