// Security identifiers, access tokens, privileges and security descriptors of
// the POSIX stand-in.
//
// The process token's user is the Unix user, as the SID S-1-22-1-<uid>; threads
// have no token of their own (OpenThreadToken fails with ERROR_NO_TOKEN).
// Privileges: the process token holds the well-known "Se...Privilege" names, all
// disabled at start. AdjustTokenPrivileges enables them process-wide; CreateFile
// with ACCESS_SYSTEM_SECURITY, SACL work on registry keys, and hive loading,
// unloading and replacing check them as Windows does (ERROR_PRIVILEGE_NOT_HELD).
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

// ---- privileges -------------------------------------------------------------------
#define MAXIMUM_ALLOWED 0x02000000u
#define SE_PRIVILEGE_ENABLED_BY_DEFAULT 0x00000001
#define SE_PRIVILEGE_ENABLED 0x00000002
#define SE_PRIVILEGE_REMOVED 0x00000004
typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;
typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES;
typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "TOKEN_PRIVILEGES layout");
OM_WIN32_API BOOL WINAPI LookupPrivilegeValueW(LPCWSTR system, LPCWSTR name, PLUID luid);
// Needs a token opened with TOKEN_ADJUST_PRIVILEGES (or MAXIMUM_ALLOWED). Succeeds
// with last error ERROR_SUCCESS, or ERROR_NOT_ALL_ASSIGNED for a LUID the token lacks.
OM_WIN32_API BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                               DWORD length, PTOKEN_PRIVILEGES previousState, PDWORD returned);

// ---- security descriptors ------------------------------------------------------------------
typedef DWORD SECURITY_INFORMATION, *PSECURITY_INFORMATION;
typedef PVOID PSECURITY_DESCRIPTOR;
#define OWNER_SECURITY_INFORMATION 0x00000001
#define GROUP_SECURITY_INFORMATION 0x00000002
#define DACL_SECURITY_INFORMATION 0x00000004
#define SACL_SECURITY_INFORMATION 0x00000008
#define SE_DACL_PRESENT 0x0004
#define SE_SELF_RELATIVE 0x8000
#define SECURITY_DESCRIPTOR_REVISION 1
#define ACL_REVISION 2
#define ACCESS_ALLOWED_ACE_TYPE 0

typedef struct _SECURITY_DESCRIPTOR_RELATIVE {
  BYTE Revision;
  BYTE Sbz1;
  WORD Control;
  DWORD Owner;
  DWORD Group;
  DWORD Sacl;
  DWORD Dacl;
} SECURITY_DESCRIPTOR_RELATIVE;
static_assert(sizeof(SECURITY_DESCRIPTOR_RELATIVE) == 20, "SECURITY_DESCRIPTOR_RELATIVE layout");

typedef struct _ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
} ACL, *PACL;
typedef struct _ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
} ACE_HEADER;

// Two-call protocol: with a buffer too small (or none) the call fails with
// ERROR_INSUFFICIENT_BUFFER and reports the size needed.
OM_WIN32_API BOOL WINAPI GetFileSecurityW(LPCWSTR path, SECURITY_INFORMATION requested,
                                          PSECURITY_DESCRIPTOR descriptor, DWORD size, LPDWORD needed);
