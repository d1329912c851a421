// kernel32 of the POSIX stand-in: handles and last error, waits, events, threads,
// critical sections, text conversion, modules, environment, time, the current
// directory and the core file and find calls. Semantics follow the Win32
// documentation; paths are Windows paths mapped onto the host (see paths.cpp).
#pragma once
#include "win32_types.h"

// ---- handles, last error -------------------------------------------------
OM_WIN32_API DWORD WINAPI GetLastError(void);
OM_WIN32_API void WINAPI SetLastError(DWORD code);
OM_WIN32_API BOOL WINAPI CloseHandle(HANDLE handle);

// ---- waits, events, threads ---------------------------------------------
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define STILL_ACTIVE 259u
#define CREATE_SUSPENDED 0x00000004u
#define SYNCHRONIZE 0x00100000u
#define EVENT_ALL_ACCESS 0x1F0003u

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);

OM_WIN32_API DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
OM_WIN32_API DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                                 DWORD milliseconds);
OM_WIN32_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                        BOOL initialState, LPCSTR name);
OM_WIN32_API HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                        BOOL initialState, LPCWSTR name);
OM_WIN32_API BOOL WINAPI SetEvent(HANDLE event);
OM_WIN32_API BOOL WINAPI ResetEvent(HANDLE event);
OM_WIN32_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                        LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                        DWORD creationFlags, LPDWORD threadId);
OM_WIN32_API DWORD WINAPI ResumeThread(HANDLE thread);
OM_WIN32_API BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
OM_WIN32_API DWORD WINAPI GetCurrentThreadId(void);
OM_WIN32_API DWORD WINAPI GetCurrentProcessId(void);
OM_WIN32_API HANDLE WINAPI GetCurrentProcess(void);
OM_WIN32_API HANDLE WINAPI GetCurrentThread(void);
OM_WIN32_API void WINAPI Sleep(DWORD milliseconds);

typedef struct _CRITICAL_SECTION {
  void* impl;  // a recursive mutex, created by InitializeCriticalSection
  LONG reserved[6];
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;
OM_WIN32_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
OM_WIN32_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
OM_WIN32_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
OM_WIN32_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

inline LONG InterlockedIncrement(LONG volatile* p) { return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(LONG volatile* p) { return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchange(LONG volatile* p, LONG v) { return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST); }
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

// ---- time ----------------------------------------------------------------
OM_WIN32_API DWORD WINAPI GetTickCount(void);
OM_WIN32_API ULONGLONG WINAPI GetTickCount64(void);
OM_WIN32_API BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
OM_WIN32_API BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);
OM_WIN32_API void WINAPI GetSystemTimeAsFileTime(LPFILETIME time);
OM_WIN32_API void WINAPI GetSystemTime(LPSYSTEMTIME time);
OM_WIN32_API void WINAPI GetLocalTime(LPSYSTEMTIME time);
OM_WIN32_API BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime);
OM_WIN32_API BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime);

// ---- text ----------------------------------------------------------------
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080
// The stand-in's ANSI code page is UTF-8 (65001), as on a Windows system with the
// UTF-8 option: host file names and texts round-trip through the A calls.
OM_WIN32_API UINT WINAPI GetACP(void);
OM_WIN32_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length,
                                            LPWSTR wide, int wideLength);
OM_WIN32_API int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength,
                                            LPSTR text, int length, LPCSTR defaultChar,
                                            LPBOOL usedDefaultChar);
OM_WIN32_API int WINAPI lstrlenW(LPCWSTR text);

// ---- messages --------------------------------------------------------------
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
// System texts for the codes the project reports, each ending in CR LF as on
// Windows. Inserts are not expanded (callers pass IGNORE_INSERTS).
OM_WIN32_API DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                         LPSTR buffer, DWORD size, void* arguments);
OM_WIN32_API DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                         LPWSTR buffer, DWORD size, void* arguments);
OM_WIN32_API HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
OM_WIN32_API HLOCAL WINAPI LocalFree(HLOCAL memory);

// ---- modules -----------------------------------------------------------------
// LoadLibrary maps "C:\dir\x.dll" onto the host path; a name without a folder is
// looked up among the stand-in's pseudo modules (e.g. "ntdll.dll"), then as the
// host library lib<x>.so beside the calling program and on the loader's path.
OM_WIN32_API HMODULE WINAPI LoadLibraryA(LPCSTR name);
OM_WIN32_API HMODULE WINAPI LoadLibraryW(LPCWSTR name);
OM_WIN32_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
OM_WIN32_API BOOL WINAPI FreeLibrary(HMODULE module);
OM_WIN32_API HMODULE WINAPI GetModuleHandleA(LPCSTR name);
OM_WIN32_API HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
// The Windows spelling of the module's host path ("C:\usr\bin\x" for /usr/bin/x).
OM_WIN32_API DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
OM_WIN32_API DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

// ---- environment, folders ----------------------------------------------------
OM_WIN32_API DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
OM_WIN32_API DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
OM_WIN32_API BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value);
OM_WIN32_API BOOL WINAPI SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value);
OM_WIN32_API DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer);
OM_WIN32_API DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
OM_WIN32_API BOOL WINAPI SetCurrentDirectoryA(LPCSTR path);
OM_WIN32_API BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path);
OM_WIN32_API DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer);
OM_WIN32_API DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer);

// ---- files and finds ---------------------------------------------------------
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_DEVICE 0x00000040
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define FILE_ATTRIBUTE_SPARSE_FILE 0x00000200
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define FILE_ATTRIBUTE_COMPRESSED 0x00000800
#define FILE_ATTRIBUTE_OFFLINE 0x00001000
#define FILE_ATTRIBUTE_NOT_CONTENT_INDEXED 0x00002000
#define FILE_ATTRIBUTE_ENCRYPTED 0x00004000

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define DELETE 0x00010000u
#define READ_CONTROL 0x00020000u
#define WRITE_DAC 0x00040000u
#define WRITE_OWNER 0x00080000u
#define ACCESS_SYSTEM_SECURITY 0x01000000u
#define FILE_READ_DATA 0x0001
#define FILE_LIST_DIRECTORY 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_READ_EA 0x0008
#define FILE_WRITE_EA 0x0010
#define FILE_EXECUTE 0x0020
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_FLAG_POSIX_SEMANTICS 0x01000000u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  union {
    struct {
      DWORD Offset;
      DWORD OffsetHigh;
    };
    PVOID Pointer;
  };
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

typedef struct _WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;
static_assert(sizeof(WIN32_FIND_DATAA) == 320, "WIN32_FIND_DATAA layout");
static_assert(sizeof(WIN32_FIND_DATAW) == 592, "WIN32_FIND_DATAW layout");
static_assert(offsetof(WIN32_FIND_DATAW, cFileName) == 44, "WIN32_FIND_DATAW layout");

// FILETIME from host times: 100 ns units since 1601-01-01 UTC.
OM_WIN32_API DWORD WINAPI GetFileAttributesA(LPCSTR path);
OM_WIN32_API DWORD WINAPI GetFileAttributesW(LPCWSTR path);
OM_WIN32_API HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
OM_WIN32_API HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
OM_WIN32_API BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data);
OM_WIN32_API BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
OM_WIN32_API BOOL WINAPI FindClose(HANDLE find);
OM_WIN32_API HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                                       DWORD disposition, DWORD flags, HANDLE templateFile);
OM_WIN32_API HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                                       DWORD disposition, DWORD flags, HANDLE templateFile);
OM_WIN32_API BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
OM_WIN32_API BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                                   LPOVERLAPPED overlapped);
OM_WIN32_API BOOL WINAPI FlushFileBuffers(HANDLE file);
OM_WIN32_API DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
OM_WIN32_API BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
OM_WIN32_API DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
OM_WIN32_API BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition,
                                          DWORD method);
OM_WIN32_API BOOL WINAPI SetEndOfFile(HANDLE file);
OM_WIN32_API BOOL WINAPI DeleteFileA(LPCSTR path);
OM_WIN32_API BOOL WINAPI DeleteFileW(LPCWSTR path);
OM_WIN32_API BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
OM_WIN32_API BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes);
OM_WIN32_API BOOL WINAPI RemoveDirectoryA(LPCSTR path);
OM_WIN32_API BOOL WINAPI RemoveDirectoryW(LPCWSTR path);
