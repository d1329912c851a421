// Backup-semantics streams and raw encrypted-file access of the POSIX stand-in.
// The stand-in's raw export and import move the file's bytes in blocks of
// $OM_STANDIN_EFS_BLOCK bytes (default 65536).
#pragma once
#include "win32_types.h"
#include "fileapi.h"

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
#define CREATE_FOR_IMPORT 0x00000001
#define CREATE_FOR_DIR 0x00000002
#define OVERWRITE_HIDDEN 0x00000004
typedef DWORD(WINAPI* PFE_EXPORT_FUNC)(PBYTE data, PVOID callbackContext, ULONG length);
OM_WIN32_API DWORD WINAPI OpenEncryptedFileRawW(LPCWSTR path, ULONG flags, PVOID* context);
OM_WIN32_API DWORD WINAPI ReadEncryptedFileRaw(PFE_EXPORT_FUNC exportCallback, PVOID callbackContext, PVOID context);
OM_WIN32_API void WINAPI CloseEncryptedFileRaw(PVOID context);
// CREATE_FOR_IMPORT opens the file for writing; the import callback is asked for
// up to $OM_STANDIN_EFS_BLOCK bytes at a time until it reports length 0.
typedef DWORD(WINAPI* PFE_IMPORT_FUNC)(PBYTE data, PVOID callbackContext, PULONG length);
OM_WIN32_API DWORD WINAPI WriteEncryptedFileRaw(PFE_IMPORT_FUNC importCallback, PVOID callbackContext,
                                                PVOID context);
