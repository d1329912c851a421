#include <gtest/gtest.h>

#include "support/unitregistries.h"
#include "support/unitversions.h"

namespace om {
namespace {

struct TCountedEngine : TDkAppStoragePropertyEngine {
  explicit TCountedEngine(int* alive) : Alive(alive) { ++*Alive; }
  ~TCountedEngine() override { --*Alive; }
  int* Alive;
};

bool noRegistries() { return !SysUtilsGlobalLock() && !RuntimeTypeInfos() && !AppStoragePropertyEngines(); }

// The three registries exist from their units' start-up to their shut-down,
// which empties them; each unit does its work once.
TEST(UnitRegistries, MadeAtStartUpEmptiedAtShutDown) {
  EXPECT_TRUE(noRegistries());
  InitializeSysUtilsUnit();
  InitializeRttiUnit();
  InitializeAppStorageUnit();
  ASSERT_TRUE(SysUtilsGlobalLock() && RuntimeTypeInfos() && AppStoragePropertyEngines());
  EXPECT_NE(nullptr, GetVersionRegistry()->FindModule(ThisModuleInstance()));

  // A description still in use outlives the list; the others go with it.
  TDsRuntimeTypeInfo* kept = RuntimeTypeInfos()->Add("kept");
  kept->AddUse();
  RuntimeTypeInfos()->Add("dropped");
  TDsRuntimeTypeInfo* released = RuntimeTypeInfos()->Add("released early");
  released->ReleaseUse();
  EXPECT_EQ(2u, RuntimeTypeInfos()->Count());
  int engines = 0;
  AppStoragePropertyEngines()->Add(std::make_unique<TCountedEngine>(&engines));
  AppStoragePropertyEngines()->Add(std::make_unique<TCountedEngine>(&engines));
  EXPECT_EQ(2, engines);
#ifdef _WIN32
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
  ASSERT_NE(nullptr, mapping);
  void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 4096);
  ASSERT_NE(nullptr, view);
  {
    TDsLockRef hold(SharedMemoryLock());
    SharedMemoryViews()->Add(view, mapping);
  }
  EXPECT_EQ(1u, SharedMemoryViews()->Count());
#endif

  FinalizeAppStorageUnit();
  FinalizeRttiUnit();
  FinalizeSysUtilsUnit();
  EXPECT_TRUE(noRegistries());
  EXPECT_EQ(0, engines);
  EXPECT_EQ(1, kept->UseCount());
  kept->ReleaseUse();  // its last use frees it
#ifdef _WIN32
  EXPECT_EQ(nullptr, SharedMemoryViews());
  MEMORY_BASIC_INFORMATION region = {};
  ASSERT_EQ(sizeof region, VirtualQuery(view, &region, sizeof region));
  EXPECT_EQ(static_cast<DWORD>(MEM_FREE), region.State);  // unmapped
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(mapping, &flags));  // closed
#endif

  // Started and shut down once already: nothing happens again.
  InitializeRttiUnit();
  EXPECT_EQ(nullptr, RuntimeTypeInfos());
  FinalizeRttiUnit();
}

}  // namespace
}  // namespace om
