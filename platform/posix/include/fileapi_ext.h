// Extended file calls of the POSIX stand-in: the extended find and attribute
// calls, file information by handle, file security, the backup-semantics stream
// calls, raw reads of encrypted files and virtual memory. Layouts are Win64's.
#pragma once
#include "win32_types.h"
#include "kernel32.h"

#define ERROR_BAD_LENGTH 24L
#ifndef ANYSIZE_ARRAY
#define ANYSIZE_ARRAY 1
#endif

// ---- extended find and attributes ------------------------------------------
typedef enum _FINDEX_INFO_LEVELS { FindExInfoStandard = 0, FindExInfoBasic = 1, FindExInfoMaxInfoLevel = 2 } FINDEX_INFO_LEVELS;
typedef enum _FINDEX_SEARCH_OPS {
  FindExSearchNameMatch = 0,
  FindExSearchLimitToDirectories = 1,
  FindExSearchLimitToDevices = 2,
  FindExSearchMaxSearchOp = 3
} FINDEX_SEARCH_OPS;
#define FIND_FIRST_EX_CASE_SENSITIVE 0x00000001
#define FIND_FIRST_EX_LARGE_FETCH 0x00000002

typedef enum _GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0, GetFileExMaxInfoLevel = 1 } GET_FILEEX_INFO_LEVELS;

typedef struct _WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;
static_assert(sizeof(WIN32_FILE_ATTRIBUTE_DATA) == 36, "WIN32_FILE_ATTRIBUTE_DATA layout");
static_assert(offsetof(WIN32_FILE_ATTRIBUTE_DATA, nFileSizeLow) == 32, "WIN32_FILE_ATTRIBUTE_DATA layout");

typedef struct _BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == 52, "BY_HANDLE_FILE_INFORMATION layout");
static_assert(offsetof(BY_HANDLE_FILE_INFORMATION, dwVolumeSerialNumber) == 28, "BY_HANDLE_FILE_INFORMATION layout");

OM_WIN32_API HANDLE WINAPI FindFirstFileExW(LPCWSTR path, FINDEX_INFO_LEVELS level, LPVOID findData,
                                            FINDEX_SEARCH_OPS searchOp, LPVOID filter, DWORD flags);
OM_WIN32_API BOOL WINAPI GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information);
OM_WIN32_API BOOL WINAPI SetFileAttributesW(LPCWSTR path, DWORD attributes);
OM_WIN32_API BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);

// ---- file information by handle ------------------------------------------------
typedef enum _FILE_INFO_BY_HANDLE_CLASS {
  FileBasicInfo = 0,
  FileStandardInfo = 1,
  FileNameInfo = 2,
  FileRenameInfo = 3,
  FileDispositionInfo = 4,
  FileAllocationInfo = 5,
  FileEndOfFileInfo = 6,
  FileStreamInfo = 7,
  FileIdInfo = 18,
} FILE_INFO_BY_HANDLE_CLASS;

typedef struct _FILE_BASIC_INFO {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  DWORD FileAttributes;
} FILE_BASIC_INFO, *PFILE_BASIC_INFO;
static_assert(sizeof(FILE_BASIC_INFO) == 40, "FILE_BASIC_INFO layout");

typedef struct _FILE_STANDARD_INFO {
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  DWORD NumberOfLinks;
  BOOLEAN DeletePending;
  BOOLEAN Directory;
} FILE_STANDARD_INFO, *PFILE_STANDARD_INFO;
static_assert(sizeof(FILE_STANDARD_INFO) == 24, "FILE_STANDARD_INFO layout");

typedef struct _FILE_NAME_INFO {
  DWORD FileNameLength;
  WCHAR FileName[1];
} FILE_NAME_INFO, *PFILE_NAME_INFO;

typedef struct _FILE_DISPOSITION_INFO {
  BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO;

typedef struct _FILE_END_OF_FILE_INFO {
  LARGE_INTEGER EndOfFile;
} FILE_END_OF_FILE_INFO;

typedef struct _FILE_ID_128 {
  BYTE Identifier[16];
} FILE_ID_128;
typedef struct _FILE_ID_INFO {
  ULONGLONG VolumeSerialNumber;
  FILE_ID_128 FileId;
} FILE_ID_INFO;
static_assert(sizeof(FILE_ID_INFO) == 24, "FILE_ID_INFO layout");

OM_WIN32_API BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass,
                                                      LPVOID information, DWORD size);
OM_WIN32_API BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass,
                                                    LPVOID information, DWORD size);

// ---- security ------------------------------------------------------------------
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

// ---- backup-semantics streams ------------------------------------------------------
#define BACKUP_INVALID 0x00000000
#define BACKUP_DATA 0x00000001
#define BACKUP_EA_DATA 0x00000002
#define BACKUP_SECURITY_DATA 0x00000003
#define BACKUP_ALTERNATE_DATA 0x00000004
#define BACKUP_LINK 0x00000005
#define BACKUP_PROPERTY_DATA 0x00000006
#define BACKUP_OBJECT_ID 0x00000007
#define BACKUP_REPARSE_DATA 0x00000008
#define BACKUP_SPARSE_BLOCK 0x00000009
#define STREAM_NORMAL_ATTRIBUTE 0x00000000
#define STREAM_MODIFIED_WHEN_READ 0x00000001
#define STREAM_CONTAINS_SECURITY 0x00000002

typedef struct _WIN32_STREAM_ID {
  DWORD dwStreamId;
  DWORD dwStreamAttributes;
  LARGE_INTEGER Size;
  DWORD dwStreamNameSize;
  WCHAR cStreamName[ANYSIZE_ARRAY];
} WIN32_STREAM_ID, *LPWIN32_STREAM_ID;
static_assert(offsetof(WIN32_STREAM_ID, cStreamName) == 20, "WIN32_STREAM_ID layout");

OM_WIN32_API BOOL WINAPI BackupRead(HANDLE file, LPBYTE buffer, DWORD toRead, LPDWORD read, BOOL abort,
                                    BOOL processSecurity, LPVOID* context);
OM_WIN32_API BOOL WINAPI BackupSeek(HANDLE file, DWORD lowBytesToSeek, DWORD highBytesToSeek, LPDWORD lowSeeked,
                                    LPDWORD highSeeked, LPVOID* context);
OM_WIN32_API BOOL WINAPI BackupWrite(HANDLE file, LPBYTE buffer, DWORD toWrite, LPDWORD written, BOOL abort,
                                     BOOL processSecurity, LPVOID* context);

// ---- raw encrypted files -------------------------------------------------------------
// The stand-in's raw export hands out the file's bytes in blocks of
// $OM_STANDIN_EFS_BLOCK bytes (default 65536).
#define CREATE_FOR_IMPORT 0x00000001
#define CREATE_FOR_DIR 0x00000002
#define OVERWRITE_HIDDEN 0x00000004
typedef DWORD(WINAPI* PFE_EXPORT_FUNC)(PBYTE data, PVOID callbackContext, ULONG length);
OM_WIN32_API DWORD WINAPI OpenEncryptedFileRawW(LPCWSTR path, ULONG flags, PVOID* context);
OM_WIN32_API DWORD WINAPI ReadEncryptedFileRaw(PFE_EXPORT_FUNC exportCallback, PVOID callbackContext, PVOID context);
OM_WIN32_API void WINAPI CloseEncryptedFileRaw(PVOID context);

// ---- virtual memory --------------------------------------------------------------------
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
#define PAGE_WRITECOPY 0x08
#define PAGE_EXECUTE_WRITECOPY 0x80
#define PAGE_GUARD 0x100
#define MEM_FREE 0x00010000
#define MEM_PRIVATE 0x00020000
typedef struct {
  PVOID BaseAddress;
  PVOID AllocationBase;
  DWORD AllocationProtect;
  SIZE_T RegionSize;
  DWORD State;
  DWORD Protect;
  DWORD Type;
} MEMORY_BASIC_INFORMATION, *PMEMORY_BASIC_INFORMATION;
// Regions are reserved on 64 KiB boundaries, committed in 4 KiB pages.
OM_WIN32_API LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protection);
OM_WIN32_API BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);
// Any address of the process, as the host maps it: the run of pages from the
// address's page on with one state and protection (reserved pages are mapped
// without access, free ones not at all).
OM_WIN32_API SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length);
