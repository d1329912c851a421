// More of the POSIX stand-in: version and module entry calls, token privileges,
// disk space and drive types, change notifications, moves, registry hives and
// key security, and the import side of raw encrypted files.
//
// Privileges: the process token holds the well-known "Se...Privilege" names, all
// disabled at start. AdjustTokenPrivileges enables them process-wide; CreateFile
// with ACCESS_SYSTEM_SECURITY, SACL work on registry keys, and hive loading,
// unloading and replacing check them as Windows does (ERROR_PRIVILEGE_NOT_HELD).
//
// Drives: C: is the host root and fixed; another letter is a fixed drive when
// $OM_STANDIN_ROOT/drives/<letter> exists, else it has no root directory.
// Host symbolic links are reparse points in finds: one to a folder is reported as
// a junction (IO_REPARSE_TAG_MOUNT_POINT), any other as a symbolic link.
//
// Hive files are the stand-in's own format; loading an empty file gives an empty
// hive. Moves delayed until restart are appended to the registry value
// "PendingFileRenameOperations" of HKLM\SYSTEM\CurrentControlSet\Control\Session
// Manager, as Windows records them.
#pragma once
#include "win32_types.h"
#include "advapi32.h"
#include "fileapi_ext.h"

#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NOT_ALL_ASSIGNED 1300L
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_BADDB 1009L
#define ERROR_JOURNAL_NOT_ACTIVE 1179L

// ---- version, module entry ------------------------------------------------------
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
#define VER_NT_WORKSTATION 1
#define VER_NT_DOMAIN_CONTROLLER 2
#define VER_NT_SERVER 3
typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;
typedef struct _OSVERSIONINFOEXA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
} OSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA layout");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA layout");
// The stand-in reports Windows 10 workstation (NT platform); the size field must
// be that of one of the two structures.
OM_WIN32_API BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);
OM_WIN32_API BOOL WINAPI DisableThreadLibraryCalls(HMODULE module);

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

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

// ---- disk space, drives ---------------------------------------------------------------
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6
OM_WIN32_API BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                                             PULARGE_INTEGER totalFree);
OM_WIN32_API UINT WINAPI GetDriveTypeA(LPCSTR rootPath);
OM_WIN32_API UINT WINAPI GetDriveTypeW(LPCWSTR rootPath);

// ---- change notifications, moves ----------------------------------------------------------
#define FILE_NOTIFY_CHANGE_FILE_NAME 0x00000001
#define FILE_NOTIFY_CHANGE_DIR_NAME 0x00000002
#define FILE_NOTIFY_CHANGE_ATTRIBUTES 0x00000004
#define FILE_NOTIFY_CHANGE_SIZE 0x00000008
#define FILE_NOTIFY_CHANGE_LAST_WRITE 0x00000010
#define FILE_NOTIFY_CHANGE_LAST_ACCESS 0x00000020
#define FILE_NOTIFY_CHANGE_CREATION 0x00000040
#define FILE_NOTIFY_CHANGE_SECURITY 0x00000100
// The handle is signalled by the first matching change and stays so until
// FindNextChangeNotification re-arms it; changes in between are not lost.
OM_WIN32_API HANDLE WINAPI FindFirstChangeNotificationA(LPCSTR path, BOOL watchSubtree, DWORD filter);
OM_WIN32_API HANDLE WINAPI FindFirstChangeNotificationW(LPCWSTR path, BOOL watchSubtree, DWORD filter);
OM_WIN32_API BOOL WINAPI FindNextChangeNotification(HANDLE handle);
OM_WIN32_API BOOL WINAPI FindCloseChangeNotification(HANDLE handle);

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004
#define MOVEFILE_WRITE_THROUGH 0x00000008
OM_WIN32_API BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);

// ---- registry hives and key security ----------------------------------------------------
// Loading, unloading and replacing need SeBackupPrivilege and SeRestorePrivilege
// enabled; hives load under HKEY_USERS or HKEY_LOCAL_MACHINE only.
OM_WIN32_API LONG WINAPI RegLoadKeyW(HKEY key, LPCWSTR subKey, LPCWSTR file);
OM_WIN32_API LONG WINAPI RegUnLoadKeyW(HKEY key, LPCWSTR subKey);
OM_WIN32_API LONG WINAPI RegFlushKey(HKEY key);
// The hive's file becomes `oldFile` and `newFile` takes its place; the loaded
// hive keeps its contents until it is unloaded, which then writes nothing back.
OM_WIN32_API LONG WINAPI RegReplaceKeyW(HKEY key, LPCWSTR subKey, LPCWSTR newFile, LPCWSTR oldFile);
// Keys without security of their own report owner and group of the current
// user and a DACL granting the owner full control. SACLs need SeSecurityPrivilege.
OM_WIN32_API LONG WINAPI RegGetKeySecurity(HKEY key, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                                           LPDWORD size);
OM_WIN32_API LONG WINAPI RegSetKeySecurity(HKEY key, SECURITY_INFORMATION given, PSECURITY_DESCRIPTOR descriptor);

// ---- raw encrypted-file import -------------------------------------------------------------
// CREATE_FOR_IMPORT opens the file for writing; the import callback is asked for
// up to $OM_STANDIN_EFS_BLOCK bytes at a time until it reports length 0.
typedef DWORD(WINAPI* PFE_IMPORT_FUNC)(PBYTE data, PVOID callbackContext, PULONG length);
OM_WIN32_API DWORD WINAPI WriteEncryptedFileRaw(PFE_IMPORT_FUNC importCallback, PVOID callbackContext,
                                                PVOID context);

// ---- host, thread mode, volumes ------------------------------------------------------------
// Computer names come from the host name: NetBIOS forms are its first label in
// upper case (at most 15 characters), DNS forms the label, the rest, or the whole.
typedef enum _COMPUTER_NAME_FORMAT {
  ComputerNameNetBIOS,
  ComputerNameDnsHostname,
  ComputerNameDnsDomain,
  ComputerNameDnsFullyQualified,
  ComputerNamePhysicalNetBIOS,
  ComputerNamePhysicalDnsHostname,
  ComputerNamePhysicalDnsDomain,
  ComputerNamePhysicalDnsFullyQualified,
  ComputerNameMax
} COMPUTER_NAME_FORMAT;
OM_WIN32_API BOOL WINAPI GetComputerNameExW(COMPUTER_NAME_FORMAT format, LPWSTR buffer, LPDWORD size);

#define THREAD_MODE_BACKGROUND_BEGIN 0x00010000
#define THREAD_MODE_BACKGROUND_END 0x00020000
#define ERROR_THREAD_MODE_ALREADY_BACKGROUND 400L
#define ERROR_THREAD_MODE_NOT_BACKGROUND 401L
// Priorities are accepted and not applied; the background mode is kept per thread
// and only for the calling thread's pseudo handle.
OM_WIN32_API BOOL WINAPI SetThreadPriority(HANDLE thread, int priority);

// Volumes: every drive letter is one volume, named "\\?\Volume{4f6d7662-0000-0000-0000-0000000000<xx>}\"
// with <xx> the letter's code in hex; a mounted folder of C: has a name of its own.
// The mount points of C: are the host's folders mounted directly on its root file
// system; other volumes have none.
#define ERROR_NOT_A_REPARSE_POINT 4390L
OM_WIN32_API BOOL WINAPI GetVolumePathNameW(LPCWSTR path, LPWSTR volumePath, DWORD length);
OM_WIN32_API BOOL WINAPI GetVolumeNameForVolumeMountPointW(LPCWSTR mountPoint, LPWSTR volumeName, DWORD length);
OM_WIN32_API HANDLE WINAPI FindFirstVolumeMountPointW(LPCWSTR rootPath, LPWSTR mountPoint, DWORD length);
OM_WIN32_API BOOL WINAPI FindNextVolumeMountPointW(HANDLE find, LPWSTR mountPoint, DWORD length);
OM_WIN32_API BOOL WINAPI FindVolumeMountPointClose(HANDLE find);
