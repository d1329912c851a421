// Test hooks of the shadow-copy stand-in (our vssapi): what a test reads back
// after driving the requestor interfaces.
#pragma once

#ifdef _WIN32
#define OM_VSS_HOOK extern "C" __declspec(dllexport)
#else
#define OM_VSS_HOOK extern "C" __attribute__((visibility("default")))
#endif

// Objects of the stand-in alive now (interfaces and component-information blocks).
OM_VSS_HOOK long OmVssStandInLiveObjects();
// BSTRs alive now; -1 where the stand-in cannot count them (BSTRs of the system's oleaut32).
OM_VSS_HOOK long OmVssStandInLiveBstrs();
// The call log, one "Interface::Method(arguments)" line each, UTF-8, NUL-terminated.
// Returns the size the whole log needs including the NUL; copies only when it fits.
OM_VSS_HOOK int OmVssStandInCallLog(char* buffer, int size);
OM_VSS_HOOK void OmVssStandInClearLog();
