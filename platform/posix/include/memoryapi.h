// Virtual memory of the POSIX stand-in.
#pragma once
#include "win32_types.h"

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_DECOMMIT 0x00004000
#define MEM_RELEASE 0x00008000
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_EXECUTE 0x10
#define PAGE_EXECUTE_READ 0x20
#define PAGE_EXECUTE_READWRITE 0x40
// Regions are reserved on 64 KiB boundaries, committed in 4 KiB pages.
OM_WIN32_API LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protection);
OM_WIN32_API BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);
