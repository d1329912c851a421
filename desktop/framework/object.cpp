#include "framework/object.h"

#include <mutex>
#include <unordered_set>

namespace om {
namespace {

struct TLiveSet {
  std::mutex Lock;
  std::unordered_set<const void*> Objects;
};

TLiveSet& LiveSet() {
  static TLiveSet* set = new TLiveSet;  // outlives every static object
  return *set;
}

}  // namespace

TInterfacedObject::TInterfacedObject() {
  TLiveSet& s = LiveSet();
  std::lock_guard<std::mutex> guard(s.Lock);
  s.Objects.insert(static_cast<const void*>(this));
}

TInterfacedObject::~TInterfacedObject() {
  TLiveSet& s = LiveSet();
  std::lock_guard<std::mutex> guard(s.Lock);
  s.Objects.erase(static_cast<const void*>(this));
}

int TInterfacedObject::Release() {
  int n = --FRefCount;
  if (n == 0) delete this;
  return n;
}

bool IsLiveObject(const void* p) {
  if (!p) return false;
  TLiveSet& s = LiveSet();
  std::lock_guard<std::mutex> guard(s.Lock);
  return s.Objects.count(p) != 0;
}

}  // namespace om
