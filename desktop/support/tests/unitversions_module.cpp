// A second module of the test process, linked with the support library.
#include "support/unitversions.h"

namespace {
const om::TUnitVersionInfo kModuleVersion = {"unitversions_module.cpp", "1", "2026-12-09", "", "", ""};
}

extern "C" __declspec(dllexport) void* OmModuleRegistry() {
  om::AddUnitVersionRecord(om::ThisModuleInstance(), &kModuleVersion);
  return om::GetVersionRegistry();
}

extern "C" __declspec(dllexport) void OmModuleLeave() {
  om::RemoveModuleUnitVersions(om::ThisModuleInstance());
  om::ShutDownVersionRegistry();
}
