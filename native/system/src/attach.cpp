// Process attach and detach of the system bridge. On Windows the library's entry
// routine calls it; the Linux build runs it when the library is loaded and unloaded.
#include "bridge.h"

namespace rasbridge {

BOOL bridgeAttach(HINSTANCE instance, DWORD reason) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    ras.usable = false;
    isNtPlatform = queryNtPlatform();
    ras.module = LoadLibraryA("RASAPI32.DLL");
    libraryInstance = instance;
    if (ras.module) {
      ras.hangUp = GetProcAddress(ras.module, "RasHangUpA");
      ras.enumEntries = GetProcAddress(ras.module, "RasEnumEntriesA");
      ras.enumConnections = GetProcAddress(ras.module, "RasEnumConnectionsA");
      ras.dial = GetProcAddress(ras.module, "RasDialA");
      ras.getConnectStatus = GetProcAddress(ras.module, "RasGetConnectStatusA");
      ras.usable = ras.hangUp != nullptr;
    }
  } else if (reason == DLL_PROCESS_DETACH) {
    if (ras.module) FreeLibrary(ras.module);
    ras.module = nullptr;
    ras.usable = false;
  }
  return TRUE;
}

}  // namespace rasbridge

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  return rasbridge::bridgeAttach(instance, reason);
}
#else
namespace {
// The stand-in has no module handle for a library that is still being loaded;
// nothing on Linux needs it.
__attribute__((constructor)) void attachProcess() { rasbridge::bridgeAttach(nullptr, DLL_PROCESS_ATTACH); }
__attribute__((destructor)) void detachProcess() { rasbridge::bridgeAttach(nullptr, DLL_PROCESS_DETACH); }
}  // namespace
#endif
