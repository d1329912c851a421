// Process-wide registries kept by three library units: the shared-memory views
// the process keeps mapped (the system utilities unit, with its two locks),
// the type descriptions made at run time (the run-time type unit, with use
// counts) and the application-storage property engines. Each unit's start-up
// creates its registry and its shut-down empties and frees it; the tray
// program fills none of them. Main thread only, like every unit's start-up
// and shut-down.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/object.h"
#include "platform/win32.h"
#include "support/locks.h"

namespace om {

// --- System utilities unit ---

#ifdef _WIN32
// Views of file mappings the process keeps open, each with its mapping.
class TDsSharedMemoryViews : public TObject {
public:
  ~TDsSharedMemoryViews() override { Clear(); }
  // Takes over the view and the mapping it was made from.
  void Add(void* view, HANDLE mapping);
  size_t Count() const { return FViews.size(); }
  // Unmaps and closes every view.
  void Clear();

private:
  struct TView {
    void* View;
    HANDLE Mapping;
  };
  std::vector<TView> FViews;
};

// The unit's view list (nullptr outside start-up and shut-down) and the lock
// it is used under, made on first use.
TDsSharedMemoryViews* SharedMemoryViews();
IDsLockInterface* SharedMemoryLock();
#endif
namespace unitregistries_detail {
// The views' part of the unit's start-up and shut-down (nothing outside Windows).
void StartSharedMemoryViews();
void StopSharedMemoryViews();
}  // namespace unitregistries_detail

// The unit's lock made at its start-up (nullptr before and after).
IDsLockInterface* SysUtilsGlobalLock();
void InitializeSysUtilsUnit();
void FinalizeSysUtilsUnit();

// --- Run-time type unit ---

class TDsRuntimeTypeInfos;

// A type description made at run time; freed when its last use goes.
class TDsRuntimeTypeInfo : public TObject {
public:
  const std::string Name;
  int UseCount() const { return FUseCount; }
  void AddUse() { ++FUseCount; }
  // One use less; the last one takes the description off its list and frees it.
  void ReleaseUse();

private:
  friend class TDsRuntimeTypeInfos;
  TDsRuntimeTypeInfo(TDsRuntimeTypeInfos* list, std::string name) : Name(std::move(name)), FList(list) {}
  TDsRuntimeTypeInfos* FList;
  int FUseCount = 1;
};

// The descriptions made at run time; each is listed with one use.
class TDsRuntimeTypeInfos : public TObject {
public:
  ~TDsRuntimeTypeInfos() override { Clear(); }
  // A new description with one use, listed.
  TDsRuntimeTypeInfo* Add(const std::string& name);
  size_t Count() const { return FInfos.size(); }
  // Removes every description: each loses one use and is freed when it has
  // none left (one still in use goes with its last use).
  void Clear();

private:
  friend class TDsRuntimeTypeInfo;
  std::vector<TDsRuntimeTypeInfo*> FInfos;
};

TDsRuntimeTypeInfos* RuntimeTypeInfos();  // nullptr outside start-up and shut-down
void InitializeRttiUnit();
void FinalizeRttiUnit();

// --- Application-storage unit ---

class TDkAppStoragePropertyEngine : public TObject {};

// The registered property engines; the list owns them.
class TDkAppStoragePropertyEngineList : public TObject {
public:
  void Add(std::unique_ptr<TDkAppStoragePropertyEngine> engine) { FEngines.push_back(std::move(engine)); }
  size_t Count() const { return FEngines.size(); }

private:
  std::vector<std::unique_ptr<TDkAppStoragePropertyEngine>> FEngines;
};

TDkAppStoragePropertyEngineList* AppStoragePropertyEngines();  // nullptr outside start-up and shut-down
void InitializeAppStorageUnit();
void FinalizeAppStorageUnit();

}  // namespace om
