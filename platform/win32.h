// The one header project code includes for the Win32 API.
//
// On Windows it is the real <windows.h> (plus the few extra system headers the
// project uses). Elsewhere it declares our POSIX stand-in (platform/posix), which
// implements exactly the Win32 calls this project makes, with the same names,
// types, error codes and documented behaviour, so agent-side code builds and
// runs natively on Linux for the tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <winsvc.h>
#include <shellapi.h>
#include <winioctl.h>
#else
#include "posix/include/win32_types.h"
#include "posix/include/win32_errors.h"
#include "posix/include/kernel32.h"
#include "posix/include/sysinfo.h"
#include "posix/include/memoryapi.h"
#include "posix/include/fileapi.h"
#include "posix/include/backup.h"
#include "posix/include/volumes.h"
#include "posix/include/securitybase.h"
#include "posix/include/eventlog.h"
#include "posix/include/winreg.h"
#include "posix/include/winsvc.h"
#include "posix/include/journal.h"
#endif

// The Volume Shadow Copy requestor interfaces, for the code that asks for them
// (the system headers bring COM declarations that other code does without).
#ifdef OM_WIN32_VSS
#ifdef _WIN32
#include <objbase.h>
#include <oleauto.h>
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
#include <vsserror.h>
#else
#include "posix/include/oleauto.h"
#include "posix/include/vss.h"
#endif
#endif

#include "om_platform.h"
