// The registry of the POSIX stand-in. Keys live as folders under
// $OM_STANDIN_ROOT/registry/<root>/..., values as files, so every process of a
// test sees one registry. Names compare without regard to case and keep the
// case they were created with. Calls return Win32 error codes (LONG).
#pragma once
#include "securitybase.h"
#include "win32_types.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE 0x20019
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

OM_WIN32_API LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                                         REGSAM access, LPSECURITY_ATTRIBUTES attributes, PHKEY result,
                                         LPDWORD disposition);
OM_WIN32_API LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className,
                                         DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES attributes,
                                         PHKEY result, LPDWORD disposition);
OM_WIN32_API LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
OM_WIN32_API LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
OM_WIN32_API LONG WINAPI RegCloseKey(HKEY key);
OM_WIN32_API LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                        DWORD size);
OM_WIN32_API LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                        DWORD size);
OM_WIN32_API LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                          LPDWORD size);
OM_WIN32_API LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                          LPDWORD size);
OM_WIN32_API LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name);
OM_WIN32_API LONG WINAPI RegDeleteValueW(HKEY key, LPCWSTR name);
OM_WIN32_API LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);
OM_WIN32_API LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey);
OM_WIN32_API LONG WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                                       LPSTR className, LPDWORD classLength, PFILETIME lastWrite);
OM_WIN32_API LONG WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                                       LPWSTR className, LPDWORD classLength, PFILETIME lastWrite);
OM_WIN32_API LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                                       LPDWORD type, LPBYTE data, LPDWORD dataLength);
OM_WIN32_API LONG WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                                       LPDWORD type, LPBYTE data, LPDWORD dataLength);

// ---- hives and key security ----------------------------------------------------
// Loading, unloading and replacing need SeBackupPrivilege and SeRestorePrivilege
// enabled; hives load under HKEY_USERS or HKEY_LOCAL_MACHINE only. Hive files are
// the stand-in's own format; loading an empty file gives an empty hive.
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
