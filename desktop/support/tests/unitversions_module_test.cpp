// A DLL built with the library is a second module of this process: it must
// find the program's registry through the shared block.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32_owners.h"
#include "support/unitversions.h"

namespace om {
namespace {

std::string ownDirectory() {
  const std::string path = moduleFileName();
  return path.substr(0, path.find_last_of('\\') + 1);
}

TEST(UnitVersions, DllModuleJoinsTheProgramsRegistry) {
  TUnitVersioning* program = GetVersionRegistry();
  const std::string dll = ownDirectory() + "om_unitversions_module.dll";
  UniqueModule library(LoadLibraryA(dll.c_str()));
  ASSERT_TRUE(library) << dll;
  HMODULE module = library.get();
  auto registryOf = reinterpret_cast<void* (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "OmModuleRegistry")));
  auto leave = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "OmModuleLeave")));
  ASSERT_TRUE(registryOf && leave);
  void* dllRegistry = registryOf();
#ifndef _WIN64
  // A small 32-bit process has free candidates below the shared user data.
  ASSERT_TRUE(ModuleVersionState().HasSharedBlock());
#endif
  if (!ModuleVersionState().HasSharedBlock()) {
    // No candidate page could be had (64-bit Wine keeps the top of the address
    // space to itself, 32-bit Wine fills it with its own DLLs in larger programs): each module keeps a registry of its own.
    EXPECT_NE(static_cast<void*>(program), dllRegistry);
    EXPECT_EQ(nullptr, program->FindModule(reinterpret_cast<uintptr_t>(module)));
    leave();
    return;
  }
  EXPECT_EQ(static_cast<void*>(program), dllRegistry);
  const TUnitVersioningModule* entry = program->FindModule(reinterpret_cast<uintptr_t>(module));
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(1u, entry->Count());
  EXPECT_STREQ("unitversions_module.cpp", entry->Items(0).Info()->RCSfile);
  int refCount = 0;
  void* block = FindSharedProcessBlock("UnitVersioning", refCount);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(3, refCount);  // the program, the DLL and this look-up
  EXPECT_EQ(2, ReleaseSharedProcessBlock(block));
  leave();
  EXPECT_EQ(nullptr, program->FindModule(reinterpret_cast<uintptr_t>(module)));
  block = FindSharedProcessBlock("UnitVersioning", refCount);
  EXPECT_EQ(2, refCount);
  EXPECT_EQ(1, ReleaseSharedProcessBlock(block));
  library.reset();
  EXPECT_EQ(program, GetVersionRegistry());
}

}  // namespace
}  // namespace om
