// Disk space, drive types, volume paths and mount points of the POSIX stand-in.
//
// Drives: C: is the host root and fixed; another letter is a fixed drive when
// $OM_STANDIN_ROOT/drives/<letter> exists, else it has no root directory.
#pragma once
#include "win32_types.h"

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

// Volumes: every drive letter is one volume, named "\\?\Volume{4f6d7662-0000-0000-0000-0000000000<xx>}\"
// with <xx> the letter's code in hex; a mounted folder of C: has a name of its own.
// The mount points of C: are the host's folders mounted directly on its root file
// system; other volumes have none.
OM_WIN32_API BOOL WINAPI GetVolumePathNameW(LPCWSTR path, LPWSTR volumePath, DWORD length);
OM_WIN32_API BOOL WINAPI GetVolumeNameForVolumeMountPointW(LPCWSTR mountPoint, LPWSTR volumeName, DWORD length);
OM_WIN32_API HANDLE WINAPI FindFirstVolumeMountPointW(LPCWSTR rootPath, LPWSTR mountPoint, DWORD length);
OM_WIN32_API BOOL WINAPI FindNextVolumeMountPointW(HANDLE find, LPWSTR mountPoint, DWORD length);
OM_WIN32_API BOOL WINAPI FindVolumeMountPointClose(HANDLE find);
