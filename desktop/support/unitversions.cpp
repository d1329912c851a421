#include "support/unitversions.h"

#include <cstring>

namespace om {

std::ptrdiff_t TUnitVersioningModule::IndexOfInfo(const TUnitVersionInfo* info) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i]->Info() == info) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

void TUnitVersioningModule::Add(const TUnitVersionInfo* info) {
  if (IndexOfInfo(info) < 0) FItems.push_back(std::make_unique<TUnitVersion>(info));
}

const TUnitVersioningModule* TUnitVersioning::FindModule(uintptr_t instance) const {
  for (const auto& m : FModules)
    if (m->Instance() == instance) return m.get();
  return nullptr;
}

size_t TUnitVersioning::Count() const {
  size_t n = 0;
  for (const auto& m : FModules) n += m->Count();
  return n;
}

void TUnitVersioning::Add(uintptr_t instance, const TUnitVersionInfo* info) {
  TUnitVersioningModule* module = nullptr;
  for (const auto& m : FModules)
    if (m->Instance() == instance) {
      module = m.get();
      break;
    }
  if (!module) {
    FModules.push_back(std::make_unique<TUnitVersioningModule>(instance));
    module = FModules.back().get();
  }
  module->Add(info);
}

void TUnitVersioning::UnregisterModule(uintptr_t instance) {
  for (size_t i = FModules.size(); i-- > 0;)
    if (FModules[i]->Instance() == instance) {
      FModules.erase(FModules.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  for (const auto& p : FProviders) p->ReleaseModuleInfo(instance);
}

void TUnitVersioning::RegisterProvider(TCustomUnitVersioningProvider* provider) {
  FProviders.emplace_back(provider);
}

namespace sharedblock {

namespace {
void put32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }
uint32_t get32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
}  // namespace

uintptr_t candidateAddress(int i, uintptr_t highestAddress, uint32_t pageSize) {
  uintptr_t a = (highestAddress & ~static_cast<uintptr_t>(0xFFFF)) - static_cast<uintptr_t>(i) * 0x10000;
  if (pageSize) a -= a % pageSize;
  return a;
}

void writeHeader(unsigned char* page, uint32_t processId, const char* name) {
  std::memset(page, 0, kMinRegion);
  put32(page + kPidWord1, processId ^ kPidXor1);
  put32(page + kMagic1, kMagicValue1);
  size_t n = std::strlen(name);
  if (n > 255) n = 255;
  page[kName] = static_cast<unsigned char>(n);
  std::memcpy(page + kName + 1, name, n);
  put32(page + kRefCount, 1);
  put32(page + kReserved, 0);
  put32(page + kPidWord2, processId ^ kPidXor2);
  put32(page + kMagic2, kMagicValue2);
}

bool headerMatches(const unsigned char* page, size_t regionSize, uint32_t processId, const char* name) {
  if (regionSize < kMinRegion) return false;
  if (get32(page + kPidWord1) != (processId ^ kPidXor1) || get32(page + kMagic1) != kMagicValue1 ||
      get32(page + kPidWord2) != (processId ^ kPidXor2) || get32(page + kMagic2) != kMagicValue2)
    return false;
  size_t n = std::strlen(name);
  if (n > 255) n = 255;
  return page[kName] == n && std::memcmp(page + kName + 1, name, n) == 0;
}

}  // namespace sharedblock

namespace {
constexpr char kBlockName[] = "UnitVersioning";

TUnitVersioning*& sharedReference(void* dataArea) { return *static_cast<TUnitVersioning**>(dataArea); }
}  // namespace

TUnitVersioningModuleState::~TUnitVersioningModuleState() { ShutDownVersionRegistry(); }

TUnitVersioning* TUnitVersioningModuleState::GetVersionRegistry() {
  if (FRegistry) {
    if (FBlock) {
      // Another module may have replaced the registry, or its owner left.
      TUnitVersioning* shared = sharedReference(FBlock);
      if (shared) {
        FRegistry = shared;
      } else {
        FRegistry = new TUnitVersioning;
        FOwns = true;
        sharedReference(FBlock) = FRegistry;
      }
    }
    return FRegistry;
  }
  int refCount = 0;
  FBlock = FindSharedProcessBlock(kBlockName, refCount);
  if (FBlock) {
    TUnitVersioning* shared = sharedReference(FBlock);
    if (shared && refCount > 1) {
      FRegistry = shared;
      FOwns = false;
    } else {
      FRegistry = new TUnitVersioning;
      FOwns = true;
      sharedReference(FBlock) = FRegistry;
    }
  } else {
    FRegistry = new TUnitVersioning;
    FOwns = true;
  }
  return FRegistry;
}

void TUnitVersioningModuleState::ShutDownVersionRegistry() {
  try {
    if (FBlock) {
      TUnitVersioning*& shared = sharedReference(FBlock);
      // Others keep using the page: withdraw our registry before it goes.
      if (FOwns && shared == FRegistry) shared = nullptr;
      ReleaseSharedProcessBlock(FBlock);
      FBlock = nullptr;
    }
    if (FOwns) delete FRegistry;
  } catch (...) {
  }
  FRegistry = nullptr;
  FOwns = false;
}

TUnitVersioningModuleState& ModuleVersionState() {
  static TUnitVersioningModuleState state;
  return state;
}

TUnitVersioning* GetVersionRegistry() { return ModuleVersionState().GetVersionRegistry(); }

void ShutDownVersionRegistry() { ModuleVersionState().ShutDownVersionRegistry(); }

void AddUnitVersionRecord(uintptr_t instance, const TUnitVersionInfo* info) {
  GetVersionRegistry()->Add(instance, info);
}

void RemoveModuleUnitVersions(uintptr_t instance) { GetVersionRegistry()->UnregisterModule(instance); }

#ifndef _WIN32
// Without the Windows memory calls each module keeps a private registry.
void* FindSharedProcessBlock(const char*, int& refCount) {
  refCount = 0;
  return nullptr;
}
int ReleaseSharedProcessBlock(void*) { return 0; }

uintptr_t ThisModuleInstance() {
  static const char anchor = 0;
  return reinterpret_cast<uintptr_t>(&anchor);
}
#endif

}  // namespace om
