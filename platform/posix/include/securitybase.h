// Security identifiers, access tokens, the event log and the console control
// handler of the POSIX stand-in.
//
// The process token's user is the Unix user, as the SID S-1-22-1-<uid>; threads
// have no token of their own (OpenThreadToken fails with ERROR_NO_TOKEN). Every
// ReportEvent is appended as one line to $OM_STANDIN_ROOT/eventlog/Application.log:
//   source <TAB> type <TAB> category <TAB> event id (0x%08x) <TAB> SID string <TAB> strings (TAB-separated)
// (the SID field is "-" when none was given).
#pragma once
#include "win32_types.h"

typedef PVOID PSID;
typedef struct _SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;
typedef struct _SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
} SID;
typedef struct _SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
  SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;
typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenGroups, TokenPrivileges } TOKEN_INFORMATION_CLASS;

#define TOKEN_QUERY 0x0008
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define SECURITY_MAX_SID_SIZE 68

OM_WIN32_API BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
OM_WIN32_API BOOL WINAPI OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, PHANDLE token);
OM_WIN32_API BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                             DWORD size, PDWORD returned);
OM_WIN32_API BOOL WINAPI IsValidSid(PSID sid);
OM_WIN32_API DWORD WINAPI GetLengthSid(PSID sid);
OM_WIN32_API BOOL WINAPI CopySid(DWORD size, PSID destination, PSID source);
OM_WIN32_API BOOL WINAPI ConvertSidToStringSidA(PSID sid, LPSTR* text);  // free with LocalFree

// ---- event log ----------------------------------------------------------------
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

// ---- console ------------------------------------------------------------------
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD ctrlType);
// Keeps the handler list; the stand-in raises no console events itself.
OM_WIN32_API BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
