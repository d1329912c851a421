#include "support/unitregistries.h"

#include <algorithm>

#include "support/unitversions.h"

namespace om {

namespace {

const TUnitVersionInfo kSysUtilsVersion = {"$URL: desktop/support/unitregistries.cpp $", "$Revision: 1 $",
                                           "$Date: 2026-12-09 $", "desktop/support", "", ""};
const TUnitVersionInfo kRttiVersion = {"$URL: desktop/support/unitregistries.cpp $", "$Revision: 1 $",
                                       "$Date: 2026-12-09 $", "desktop/support", "rtti", ""};
const TUnitVersionInfo kAppStorageVersion = {"$URL: desktop/support/unitregistries.cpp $", "$Revision: 1 $",
                                             "$Date: 2026-12-09 $", "desktop/support", "appstorage", ""};
TLibraryUnit gSysUtilsUnit(&kSysUtilsVersion);
TLibraryUnit gRttiUnit(&kRttiVersion);
TLibraryUnit gAppStorageUnit(&kAppStorageVersion);

std::unique_ptr<TDsIntfCriticalSection> gGlobalLock;
std::unique_ptr<TDsRuntimeTypeInfos> gRuntimeTypeInfos;
std::unique_ptr<TDkAppStoragePropertyEngineList> gPropertyEngines;

}  // namespace

#ifndef _WIN32
namespace unitregistries_detail {
void StartSharedMemoryViews() {}
void StopSharedMemoryViews() {}
}  // namespace unitregistries_detail
#endif

IDsLockInterface* SysUtilsGlobalLock() { return gGlobalLock.get(); }

void InitializeSysUtilsUnit() {
  if (!gSysUtilsUnit.StartUp()) return;
  gGlobalLock = std::make_unique<TDsIntfCriticalSection>();
  unitregistries_detail::StartSharedMemoryViews();
}

void FinalizeSysUtilsUnit() {
  if (!gSysUtilsUnit.ShutDown()) return;
  unitregistries_detail::StopSharedMemoryViews();
  gGlobalLock.reset();
}

void TDsRuntimeTypeInfo::ReleaseUse() {
  if (--FUseCount > 0) return;
  if (FList) FList->FInfos.erase(std::remove(FList->FInfos.begin(), FList->FInfos.end(), this), FList->FInfos.end());
  delete this;
}

TDsRuntimeTypeInfo* TDsRuntimeTypeInfos::Add(const std::string& name) {
  FInfos.push_back(new TDsRuntimeTypeInfo(this, name));
  return FInfos.back();
}

void TDsRuntimeTypeInfos::Clear() {
  std::vector<TDsRuntimeTypeInfo*> infos;
  infos.swap(FInfos);
  for (TDsRuntimeTypeInfo* info : infos) {
    info->FList = nullptr;
    info->ReleaseUse();
  }
}

TDsRuntimeTypeInfos* RuntimeTypeInfos() { return gRuntimeTypeInfos.get(); }

void InitializeRttiUnit() {
  if (gRttiUnit.StartUp()) gRuntimeTypeInfos = std::make_unique<TDsRuntimeTypeInfos>();
}

void FinalizeRttiUnit() {
  if (gRttiUnit.ShutDown()) gRuntimeTypeInfos.reset();
}

TDkAppStoragePropertyEngineList* AppStoragePropertyEngines() { return gPropertyEngines.get(); }

void InitializeAppStorageUnit() {
  if (gAppStorageUnit.StartUp()) gPropertyEngines = std::make_unique<TDkAppStoragePropertyEngineList>();
}

void FinalizeAppStorageUnit() {
  if (gAppStorageUnit.ShutDown()) gPropertyEngines.reset();
}

}  // namespace om
