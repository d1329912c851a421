// Update sequence number (USN) change journals: DeviceIoControl with the four
// journal controls on a volume handle. The stand-in's volume handle is the volume's
// root folder opened with FILE_FLAG_BACKUP_SEMANTICS ("J:\"); its journal is kept
// in $OM_STANDIN_ROOT/journals/<letter>. A record's USN is its offset in the
// journal's record stream; files are numbered by their host inode. The stand-in's
// CreateFile (a new file: FILE_CREATE | CLOSE), DeleteFile (FILE_DELETE | CLOSE)
// and MoveFileEx (RENAME_OLD_NAME, then RENAME_NEW_NAME | CLOSE) write records
// while the volume's journal is active; OmStandinJournalNote writes one for tests.
#pragma once
#include <cstddef>

#include "kernel32.h"
#include "win32_types.h"

typedef LONGLONG USN;

#define FILE_DEVICE_FILE_SYSTEM 0x00000009
#define FSCTL_ENUM_USN_DATA 0x000900b3
#define FSCTL_READ_USN_JOURNAL 0x000900bb
#define FSCTL_CREATE_USN_JOURNAL 0x000900e7
#define FSCTL_QUERY_USN_JOURNAL 0x000900f4

#ifndef ERROR_WRITE_FAULT
#define ERROR_WRITE_FAULT 29L
#endif
#define ERROR_JOURNAL_DELETE_IN_PROGRESS 1178L
#define ERROR_JOURNAL_NOT_ACTIVE 1179L
#define ERROR_JOURNAL_ENTRY_DELETED 1181L

#define USN_REASON_DATA_OVERWRITE 0x00000001
#define USN_REASON_DATA_EXTEND 0x00000002
#define USN_REASON_DATA_TRUNCATION 0x00000004
#define USN_REASON_FILE_CREATE 0x00000100
#define USN_REASON_FILE_DELETE 0x00000200
#define USN_REASON_RENAME_OLD_NAME 0x00001000
#define USN_REASON_RENAME_NEW_NAME 0x00002000
#define USN_REASON_BASIC_INFO_CHANGE 0x00008000
#define USN_REASON_CLOSE 0x80000000

typedef struct {
  DWORDLONG StartFileReferenceNumber;
  USN LowUsn;
  USN HighUsn;
} MFT_ENUM_DATA, *PMFT_ENUM_DATA;

typedef struct {
  DWORDLONG MaximumSize;
  DWORDLONG AllocationDelta;
} CREATE_USN_JOURNAL_DATA, *PCREATE_USN_JOURNAL_DATA;

typedef struct {
  USN StartUsn;
  DWORD ReasonMask;
  DWORD ReturnOnlyOnClose;
  DWORDLONG Timeout;
  DWORDLONG BytesToWaitFor;
  DWORDLONG UsnJournalID;
} READ_USN_JOURNAL_DATA, *PREAD_USN_JOURNAL_DATA;

typedef struct {
  DWORD RecordLength;
  WORD MajorVersion;
  WORD MinorVersion;
  DWORDLONG FileReferenceNumber;
  DWORDLONG ParentFileReferenceNumber;
  USN Usn;
  LARGE_INTEGER TimeStamp;
  DWORD Reason;
  DWORD SourceInfo;
  DWORD SecurityId;
  DWORD FileAttributes;
  WORD FileNameLength;
  WORD FileNameOffset;
  WCHAR FileName[1];
} USN_RECORD, *PUSN_RECORD;

typedef struct {
  DWORDLONG UsnJournalID;
  USN FirstUsn;
  USN NextUsn;
  USN LowestValidUsn;
  USN MaxUsn;
  DWORDLONG MaximumSize;
  DWORDLONG AllocationDelta;
} USN_JOURNAL_DATA, *PUSN_JOURNAL_DATA;

static_assert(sizeof(MFT_ENUM_DATA) == 24, "MFT_ENUM_DATA");
static_assert(sizeof(CREATE_USN_JOURNAL_DATA) == 16, "CREATE_USN_JOURNAL_DATA");
static_assert(sizeof(READ_USN_JOURNAL_DATA) == 40 && offsetof(READ_USN_JOURNAL_DATA, ReasonMask) == 8 &&
                  offsetof(READ_USN_JOURNAL_DATA, ReturnOnlyOnClose) == 12 &&
                  offsetof(READ_USN_JOURNAL_DATA, UsnJournalID) == 32,
              "READ_USN_JOURNAL_DATA");
static_assert(offsetof(USN_RECORD, FileReferenceNumber) == 8 && offsetof(USN_RECORD, ParentFileReferenceNumber) == 16 &&
                  offsetof(USN_RECORD, Usn) == 24 && offsetof(USN_RECORD, TimeStamp) == 32 &&
                  offsetof(USN_RECORD, Reason) == 40 && offsetof(USN_RECORD, SourceInfo) == 44 &&
                  offsetof(USN_RECORD, SecurityId) == 48 && offsetof(USN_RECORD, FileAttributes) == 52 &&
                  offsetof(USN_RECORD, FileNameLength) == 56 && offsetof(USN_RECORD, FileNameOffset) == 58 &&
                  offsetof(USN_RECORD, FileName) == 60 && sizeof(USN_RECORD) == 64,
              "USN_RECORD");
static_assert(sizeof(USN_JOURNAL_DATA) == 56 && offsetof(USN_JOURNAL_DATA, MaximumSize) == 40, "USN_JOURNAL_DATA");

OM_WIN32_API BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                         DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped);

// Appends a record for an existing file (or, for USN_REASON_FILE_DELETE, one
// that is going away) to its volume's journal when that journal is active.
// FALSE with ERROR_JOURNAL_NOT_ACTIVE when it is not.
OM_WIN32_API BOOL WINAPI OmStandinJournalNote(LPCWSTR path, DWORD reason);
