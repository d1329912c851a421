// kernel32 of the POSIX stand-in: handles and last error, waits, events, threads,
// critical sections, time, text conversion, messages, modules, environment, the
// current and temporary folders and the console. Semantics follow the Win32
// documentation. Files are in fileapi.h, memory in memoryapi.h.
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

#define THREAD_MODE_BACKGROUND_BEGIN 0x00010000
#define THREAD_MODE_BACKGROUND_END 0x00020000
// Priorities are accepted and not applied; the background mode is kept per thread
// and only for the calling thread's pseudo handle.
OM_WIN32_API BOOL WINAPI SetThreadPriority(HANDLE thread, int priority);

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
// Stand-in only, for tests: from now on the tick count (GetTickCount,
// GetTickCount64) runs `rate` times as fast as real time; 1 restores real time.
// Waits and Sleep keep real time, so a caller's time-out that counts ticks is
// reached in a moment while the work it waits for takes its usual time.
OM_WIN32_API void WINAPI OmStandinClockRate(DWORD rate);
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
#define WC_NO_BEST_FIT_CHARS 0x00000400
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

OM_WIN32_API BOOL WINAPI DisableThreadLibraryCalls(HMODULE module);

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

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

// ---- console ------------------------------------------------------------------
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD ctrlType);
// Keeps the handler list; the stand-in raises no console events itself.
OM_WIN32_API BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
