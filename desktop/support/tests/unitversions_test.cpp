#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/unitversions.h"

namespace om {
namespace {

const TUnitVersionInfo kOne = {"one.cpp", "1", "2026-12-09", "", "", ""};
const TUnitVersionInfo kTwo = {"two.cpp", "2", "2026-12-09", "", "", ""};

class RecordingProvider : public TCustomUnitVersioningProvider {
public:
  explicit RecordingProvider(std::vector<uintptr_t>* log) : FLog(log) {}
  void ReleaseModuleInfo(uintptr_t instance) override { FLog->push_back(instance); }

private:
  std::vector<uintptr_t>* FLog;
};

TEST(UnitVersioning, RecordsPerModuleOnce) {
  TUnitVersioning r;
  r.Add(10, &kOne);
  r.Add(10, &kOne);
  r.Add(10, &kTwo);
  r.Add(20, &kOne);
  ASSERT_EQ(2u, r.ModuleCount());
  EXPECT_EQ(2u, r.FindModule(10)->Count());
  EXPECT_EQ(1u, r.FindModule(20)->Count());
  EXPECT_EQ(3u, r.Count());
  EXPECT_EQ(&kTwo, r.FindModule(10)->Items(1).Info());
  EXPECT_EQ(-1, r.FindModule(20)->IndexOfInfo(&kTwo));
}

TEST(UnitVersioning, UnregisterRemovesTheModuleAndTellsProviders) {
  std::vector<uintptr_t> log;
  TUnitVersioning r;
  r.RegisterProvider(new RecordingProvider(&log));
  r.Add(10, &kOne);
  r.Add(20, &kOne);
  r.UnregisterModule(10);
  EXPECT_EQ(nullptr, r.FindModule(10));
  EXPECT_NE(nullptr, r.FindModule(20));
  r.UnregisterModule(99);  // unknown modules still reach the providers
  EXPECT_EQ((std::vector<uintptr_t>{10, 99}), log);
}

TEST(UnitVersioning, LifecycleRunsEachStepOnce) {
  TUnitLifecycle life;
  EXPECT_TRUE(life.StartUp());
  EXPECT_FALSE(life.StartUp());
  EXPECT_EQ(2, life.StartCount());
  EXPECT_TRUE(life.ShutDown());
  EXPECT_FALSE(life.ShutDown());
  EXPECT_FALSE(life.ShutDown());
}

TEST(UnitVersioning, LibraryUnitRecordsAndWithdraws) {
  TUnitVersioning* registry = GetVersionRegistry();
  ASSERT_NE(nullptr, registry);
  TLibraryUnit unit(&kTwo);
  EXPECT_TRUE(unit.StartUp());
  EXPECT_FALSE(unit.StartUp());
  const TUnitVersioningModule* m = GetVersionRegistry()->FindModule(ThisModuleInstance());
  ASSERT_NE(nullptr, m);
  EXPECT_GE(m->IndexOfInfo(&kTwo), 0);
  EXPECT_TRUE(unit.ShutDown());
  EXPECT_FALSE(unit.ShutDown());
  EXPECT_EQ(nullptr, GetVersionRegistry()->FindModule(ThisModuleInstance()));
}

TEST(SharedBlock, CandidatesStepDownBy64KiB) {
  const uintptr_t highest = 0x7FFEFFFF;
  EXPECT_EQ(0x7FFE0000u, sharedblock::candidateAddress(0, highest, 4096));
  EXPECT_EQ(0x7FFD0000u, sharedblock::candidateAddress(1, highest, 4096));
  EXPECT_EQ(0x7FFE0000u - 20 * 0x10000u, sharedblock::candidateAddress(20, highest, 4096));
  EXPECT_EQ(0x7FFE0000u, sharedblock::candidateAddress(0, highest, 8192));
}

TEST(SharedBlock, HeaderIsRecognisedOnlyForItsProcessAndName) {
  std::vector<unsigned char> page(4096, 0xEE);
  sharedblock::writeHeader(page.data(), 1234, "UnitVersioning");
  EXPECT_EQ(14, page[sharedblock::kName]);
  EXPECT_EQ(1u, page[sharedblock::kRefCount]);
  uint32_t w;
  std::memcpy(&w, page.data(), 4);
  EXPECT_EQ(1234u ^ 0x23456789u, w);
  std::memcpy(&w, page.data() + 276, 4);
  EXPECT_EQ(0x98765432u, w);
  EXPECT_TRUE(sharedblock::headerMatches(page.data(), 4096, 1234, "UnitVersioning"));
  EXPECT_FALSE(sharedblock::headerMatches(page.data(), 4096, 1235, "UnitVersioning"));
  EXPECT_FALSE(sharedblock::headerMatches(page.data(), 4096, 1234, "UnitVersionin"));
  EXPECT_FALSE(sharedblock::headerMatches(page.data(), 4096, 1234, "Other"));
  EXPECT_FALSE(sharedblock::headerMatches(page.data(), sharedblock::kData, 1234, "UnitVersioning"));
  page[277] ^= 1;
  EXPECT_FALSE(sharedblock::headerMatches(page.data(), 4096, 1234, "UnitVersioning"));
}

#ifdef _WIN32
TEST(ModuleState, FurtherModulesShareTheProgramsRegistry) {
  TUnitVersioning* program = GetVersionRegistry();
  TUnitVersioningModuleState other;
#ifndef _WIN64
  // 32-bit processes always have free candidates below the shared user data.
  ASSERT_TRUE(ModuleVersionState().HasSharedBlock());
#endif
  if (!ModuleVersionState().HasSharedBlock()) {
    // No candidate page could be had (64-bit Wine keeps the top of the address
    // space to itself): every module keeps a private registry.
    EXPECT_NE(program, other.GetVersionRegistry());
    EXPECT_TRUE(other.OwnsRegistry());
    EXPECT_FALSE(other.HasSharedBlock());
    return;
  }
  EXPECT_EQ(program, other.GetVersionRegistry());
  EXPECT_FALSE(other.OwnsRegistry());
  other.GetVersionRegistry()->Add(77, &kOne);
  EXPECT_NE(nullptr, program->FindModule(77));

  // The owner leaves first: the other module makes a fresh registry instead
  // of following the freed one, and the owner, coming back, joins it.
  ShutDownVersionRegistry();
  TUnitVersioning* fresh = other.GetVersionRegistry();
  ASSERT_NE(nullptr, fresh);
  EXPECT_TRUE(other.OwnsRegistry());
  EXPECT_EQ(nullptr, fresh->FindModule(77));
  EXPECT_EQ(fresh, GetVersionRegistry());
  EXPECT_FALSE(ModuleVersionState().OwnsRegistry());
  other.ShutDownVersionRegistry();
  EXPECT_NE(nullptr, GetVersionRegistry());
  EXPECT_TRUE(ModuleVersionState().OwnsRegistry());
}
#else
TEST(ModuleState, WithoutSharedBlockEachModuleKeepsItsOwn) {
  TUnitVersioningModuleState first, second;
  TUnitVersioning* a = first.GetVersionRegistry();
  TUnitVersioning* b = second.GetVersionRegistry();
  ASSERT_NE(nullptr, a);
  EXPECT_NE(a, b);
  EXPECT_TRUE(first.OwnsRegistry());
  EXPECT_TRUE(second.OwnsRegistry());
  EXPECT_FALSE(first.HasSharedBlock());
  second.ShutDownVersionRegistry();
  first.ShutDownVersionRegistry();
}
#endif

}  // namespace
}  // namespace om
