// The system utilities unit's shared-memory views.
#include "platform/win32_owners.h"
#include "support/unitregistries.h"

namespace om {

namespace {
std::unique_ptr<TDsSharedMemoryViews> gViews;
std::unique_ptr<TDsIntfCriticalSection> gViewsLock;
}  // namespace

void TDsSharedMemoryViews::Add(void* view, HANDLE mapping) { FViews.push_back(TView{view, mapping}); }

void TDsSharedMemoryViews::Clear() {
  for (const TView& v : FViews) {
    UniqueHandle mapping(v.Mapping);
    if (v.View) UnmapViewOfFile(v.View);
  }
  FViews.clear();
}

TDsSharedMemoryViews* SharedMemoryViews() { return gViews.get(); }

IDsLockInterface* SharedMemoryLock() {
  if (!gViewsLock) gViewsLock = std::make_unique<TDsIntfCriticalSection>();
  return gViewsLock.get();
}

namespace unitregistries_detail {
void StartSharedMemoryViews() { gViews = std::make_unique<TDsSharedMemoryViews>(); }

void StopSharedMemoryViews() {
  gViews.reset();
  gViewsLock.reset();
}
}  // namespace unitregistries_detail

}  // namespace om
