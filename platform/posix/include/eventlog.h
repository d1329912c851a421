// The event log of the POSIX stand-in. Every ReportEvent is appended as one line
// to $OM_STANDIN_ROOT/eventlog/Application.log:
//   source <TAB> type <TAB> category <TAB> event id (0x%08x) <TAB> SID string <TAB> strings (TAB-separated)
// (the SID field is "-" when none was given).
#pragma once
#include "win32_types.h"
#include "securitybase.h"

#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
#define EVENTLOG_AUDIT_SUCCESS 0x0008
#define EVENTLOG_AUDIT_FAILURE 0x0010

OM_WIN32_API HANDLE WINAPI RegisterEventSourceA(LPCSTR server, LPCSTR sourceName);
OM_WIN32_API BOOL WINAPI DeregisterEventSource(HANDLE eventLog);
OM_WIN32_API BOOL WINAPI ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                                      WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData);
