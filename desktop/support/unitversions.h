// Unit version registry: every library unit records a version record for
// itself at start-up and withdraws it at shut-down. One registry serves the
// whole process; the modules of a process find it through a page at an agreed
// address (the shared process block), so a DLL built with this library adds
// its records to the program's registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/object.h"

namespace om {

// Constant version data of one unit.
struct TUnitVersionInfo {
  const char* RCSfile;
  const char* Revision;
  const char* Date;
  const char* LogPath;
  const char* Extra;
  const char* Data;
};

class TUnitVersion : public TObject {
public:
  explicit TUnitVersion(const TUnitVersionInfo* info) : FInfo(info) {}
  const TUnitVersionInfo* Info() const { return FInfo; }

private:
  const TUnitVersionInfo* FInfo;
};

class TUnitVersioningModule : public TObject {
public:
  explicit TUnitVersioningModule(uintptr_t instance) : FInstance(instance) {}
  uintptr_t Instance() const { return FInstance; }
  size_t Count() const { return FItems.size(); }
  const TUnitVersion& Items(size_t i) const { return *FItems[i]; }
  // -1 when the record is not held.
  std::ptrdiff_t IndexOfInfo(const TUnitVersionInfo* info) const;
  // Adds the record unless it is already held.
  void Add(const TUnitVersionInfo* info);

private:
  uintptr_t FInstance;
  std::vector<std::unique_ptr<TUnitVersion>> FItems;
};

// Told when a module's records leave the registry.
class TCustomUnitVersioningProvider : public TObject {
public:
  virtual void ReleaseModuleInfo(uintptr_t instance) {}
};

class TUnitVersioning : public TObject {
public:
  size_t ModuleCount() const { return FModules.size(); }
  const TUnitVersioningModule& Modules(size_t i) const { return *FModules[i]; }
  // nullptr when the module has no entry.
  const TUnitVersioningModule* FindModule(uintptr_t instance) const;
  // Total number of records of all modules.
  size_t Count() const;

  void Add(uintptr_t instance, const TUnitVersionInfo* info);
  void UnregisterModule(uintptr_t instance);
  // Takes ownership.
  void RegisterProvider(TCustomUnitVersioningProvider* provider);

private:
  std::vector<std::unique_ptr<TUnitVersioningModule>> FModules;
  std::vector<std::unique_ptr<TCustomUnitVersioningProvider>> FProviders;
};

// Layout of the shared process block (one page).
namespace sharedblock {
constexpr size_t kPidWord1 = 0;
constexpr size_t kMagic1 = 4;
constexpr size_t kName = 8;  // length byte then up to 255 characters
constexpr size_t kRefCount = 264;
constexpr size_t kReserved = 268;
constexpr size_t kPidWord2 = 272;
constexpr size_t kMagic2 = 276;
constexpr size_t kData = 280;  // the shared reference (pointer-sized)
constexpr size_t kMinRegion = kData + sizeof(void*);
constexpr uint32_t kPidXor1 = 0x23456789;
constexpr uint32_t kMagicValue1 = 0xABCDEF01;
constexpr uint32_t kPidXor2 = 0x10FEDCBA;
constexpr uint32_t kMagicValue2 = 0x98765432;
constexpr int kCandidates = 21;

// Candidate address i (0..20): the highest application address rounded down
// to 64 KiB, minus i times 64 KiB, rounded down to a page multiple.
uintptr_t candidateAddress(int i, uintptr_t highestAddress, uint32_t pageSize);
// Writes the header of a new block (reference count 1, data 0).
void writeHeader(unsigned char* page, uint32_t processId, const char* name);
// True when a region of regionSize bytes at page is the block of that name for
// that process.
bool headerMatches(const unsigned char* page, size_t regionSize, uint32_t processId, const char* name);
}  // namespace sharedblock

// Finds or creates the process's block of that name: the address of its data
// area, or nullptr when none can be had. refCount receives the number of
// modules now using it.
void* FindSharedProcessBlock(const char* name, int& refCount);
// One module less: the remaining count; at 0 the page is released.
int ReleaseSharedProcessBlock(void* dataArea);

// The registry as one module sees it. Each module (program or DLL) holds one
// of these (ModuleVersionState); tests may make more to act as further modules.
class TUnitVersioningModuleState {
public:
  TUnitVersioningModuleState() = default;
  ~TUnitVersioningModuleState();
  TUnitVersioningModuleState(const TUnitVersioningModuleState&) = delete;
  TUnitVersioningModuleState& operator=(const TUnitVersioningModuleState&) = delete;

  TUnitVersioning* GetVersionRegistry();
  void ShutDownVersionRegistry();
  bool OwnsRegistry() const { return FOwns; }
  bool HasSharedBlock() const { return FBlock != nullptr; }

private:
  TUnitVersioning* FRegistry = nullptr;
  void* FBlock = nullptr;  // data area of the shared block
  bool FOwns = false;
};

TUnitVersioningModuleState& ModuleVersionState();
// Instance handle of the module this code is linked into.
uintptr_t ThisModuleInstance();

TUnitVersioning* GetVersionRegistry();
void ShutDownVersionRegistry();
void AddUnitVersionRecord(uintptr_t instance, const TUnitVersionInfo* info);
void RemoveModuleUnitVersions(uintptr_t instance);

// Start-up and shut-down bookkeeping of one unit: each runs its work once.
class TUnitLifecycle {
public:
  // True on the first start-up.
  bool StartUp() { return FStartCount++ == 0; }
  // True on the first shut-down only.
  bool ShutDown() { return FShutDownCount++ == -1; }
  int StartCount() const { return FStartCount; }

private:
  int FStartCount = 0;
  int FShutDownCount = -1;
};

// A library unit's start-up and shut-down: the first start-up records the
// unit's version, the first shut-down withdraws the module's records.
class TLibraryUnit {
public:
  explicit TLibraryUnit(const TUnitVersionInfo* info) : FInfo(info) {}
  bool StartUp() {
    if (!FLife.StartUp()) return false;
    AddUnitVersionRecord(ThisModuleInstance(), FInfo);
    return true;
  }
  bool ShutDown() {
    if (!FLife.ShutDown()) return false;
    RemoveModuleUnitVersions(ThisModuleInstance());
    return true;
  }

private:
  const TUnitVersionInfo* FInfo;
  TUnitLifecycle FLife;
};

}  // namespace om
