// Base objects of the desktop framework.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace om {

// Root of the class tree: every object is destroyed through its base.
class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

// A reference-counted object. It starts with no references; the holder of the
// last reference destroys it on Release. Live instances are tracked so that a
// stale pointer can be recognised (IsLiveObject) instead of being followed.
class TInterfacedObject : public TObject {
public:
  TInterfacedObject();
  ~TInterfacedObject() override;

  int AddRef() { return ++FRefCount; }
  int Release();
  int RefCount() const { return FRefCount; }

private:
  std::atomic<int> FRefCount{0};
};

// True when p points to a TInterfacedObject that has been created and not yet
// destroyed. Never dereferences p unless it is live.
bool IsLiveObject(const void* p);

// Counted reference to a TInterfacedObject descendant.
template <class T>
class TRef {
public:
  TRef() = default;
  TRef(T* p) : FPtr(p) { if (FPtr) FPtr->AddRef(); }  // NOLINT: implicit on purpose
  TRef(const TRef& o) : TRef(o.FPtr) {}
  TRef(TRef&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
  ~TRef() { reset(); }
  TRef& operator=(TRef o) { std::swap(FPtr, o.FPtr); return *this; }
  void reset() { if (T* p = std::exchange(FPtr, nullptr)) p->Release(); }
  T* get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  T& operator*() const { return *FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }

private:
  T* FPtr = nullptr;
};

}  // namespace om
