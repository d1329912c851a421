// Native-side checks of omnative-win32-x64: the GUID byte order, and on Windows
// that the DLL loads and exports its natives; on Linux the stand-in calls the
// natives rest on (backup streams, NT directory queries, virtual memory).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/xattr.h>
#endif

#include "jnienv.h"

TEST(SnapshotFsGuid, BytesInMemoryOrder) {
  GUID guid{0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  jbyte bytes[16];
  omnative::guidBytes(guid, bytes);
  const unsigned char expected[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                      0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(0, std::memcmp(bytes, expected, 16));
}

TEST(SnapshotFsVirtual, AllocationsArePageAligned) {
  void* block = VirtualAlloc(nullptr, 10000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % 4096);
  std::memset(block, 0x5A, 10000);
  EXPECT_FALSE(VirtualFree(block, 10000, MEM_RELEASE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
}

#ifdef _WIN32

TEST(SnapshotFsDll, LoadsAndExportsNatives) {
  HMODULE module = LoadLibraryA(OMNATIVE_DLL);
  ASSERT_NE(nullptr, module) << GetLastError();
  for (const char* name : {"Java_com_ombrel_disk_win32_Win32Kernel_FindFirstFile0",
                           "Java_com_ombrel_disk_win32_Win32Kernel_BackupRead",
                           "Java_com_ombrel_disk_win32_Win32NtDll_NtQueryDirectoryFile",
                           "Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s__JI_3B",
                           "Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s___3BJI",
                           "Java_com_ombrel_host_win32_Win32CpuId_cpuid"})
    EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(module, name))) << name;
  FreeLibrary(module);
}

#else

namespace {

std::string tempFolder() {
  char pattern[] = "/tmp/omsnapfs.XXXXXX";
  return mkdtemp(pattern);
}

std::u16string windowsPath(const std::string& host) {
  std::string windows = "C:" + host;
  for (char& c : windows)
    if (c == '/') c = '\\';
  return std::u16string(windows.begin(), windows.end());
}

}  // namespace

TEST(SnapshotFsStandIn, BackupStreamsRoundTripInAnyChunks) {
  std::string folder = tempFolder();
  std::u16string source = windowsPath(folder + "/source.bin");
  HANDLE file = CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  std::vector<BYTE> content(10000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<BYTE>(i * 7);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  CloseHandle(file);
  ASSERT_EQ(0, setxattr((folder + "/source.bin").c_str(), "user.notes", "hello", 5, 0));

  file = CreateFileW(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  std::vector<BYTE> stream;
  LPVOID context = nullptr;
  BYTE chunk[333];
  DWORD got = 0;
  do {
    ASSERT_TRUE(BackupRead(file, chunk, sizeof chunk, &got, FALSE, TRUE, &context));
    stream.insert(stream.end(), chunk, chunk + got);
  } while (got);
  ASSERT_TRUE(BackupRead(file, nullptr, 0, &got, TRUE, TRUE, &context));
  EXPECT_EQ(nullptr, context);
  CloseHandle(file);

  for (DWORD size : {1u, 7u, 4096u}) {
    std::u16string copy = windowsPath(folder + "/copy" + std::to_string(size));
    HANDLE target = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, target);
    LPVOID writing = nullptr;
    for (size_t at = 0; at < stream.size(); at += size) {
      DWORD n = static_cast<DWORD>(std::min<size_t>(size, stream.size() - at));
      DWORD put = 0;
      ASSERT_TRUE(BackupWrite(target, stream.data() + at, n, &put, FALSE, TRUE, &writing));
      ASSERT_EQ(n, put);
    }
    ASSERT_TRUE(BackupWrite(target, nullptr, 0, &written, TRUE, TRUE, &writing));
    CloseHandle(target);
    std::string host = folder + "/copy" + std::to_string(size);
    char notes[16] = {};
    EXPECT_EQ(5, getxattr(host.c_str(), "user.notes", notes, sizeof notes));
    EXPECT_STREQ("hello", notes);
    FILE* f = fopen(host.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    std::vector<BYTE> back(content.size() + 1);
    EXPECT_EQ(content.size(), fread(back.data(), 1, back.size(), f));
    fclose(f);
    back.resize(content.size());
    EXPECT_EQ(content, back);
  }
  std::string cleanup = "rm -rf " + folder;
  EXPECT_EQ(0, system(cleanup.c_str()));
}

TEST(SnapshotFsStandIn, DirectoryQueryListsEveryEntryOnce) {
  std::string folder = tempFolder();
  for (int i = 0; i < 25; ++i) {
    std::string path = folder + "/entry-" + std::to_string(i) + ".txt";
    FILE* f = fopen(path.c_str(), "w");
    fclose(f);
  }
  std::u16string name = windowsPath(folder);
  HANDLE dir = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, dir);
  HMODULE ntdll = LoadLibraryA("ntdll.dll");
  ASSERT_NE(nullptr, ntdll);
  typedef LONG (*Query)(HANDLE, HANDLE, PVOID, PVOID, void*, PVOID, ULONG, int, BOOLEAN, PVOID, BOOLEAN);
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryDirectoryFile")));
  ASSERT_NE(nullptr, query);
  ULONG_PTR block[2];
  std::vector<BYTE> buffer(300);
  size_t count = 0;
  for (;;) {
    LONG status = query(dir, nullptr, nullptr, nullptr, block, buffer.data(), static_cast<ULONG>(buffer.size()), 1,
                        FALSE, nullptr, FALSE);
    if (status == static_cast<LONG>(0x80000006)) break;
    ASSERT_EQ(0, status);
    for (ULONG at = 0;;) {
      ++count;
      ULONG next;
      std::memcpy(&next, buffer.data() + at, 4);
      if (!next) break;
      EXPECT_EQ(0u, (at + next) % 8);
      at += next;
    }
  }
  EXPECT_EQ(27u, count);  // "." and ".." too
  CloseHandle(dir);
  std::string cleanup = "rm -rf " + folder;
  EXPECT_EQ(0, system(cleanup.c_str()));
}

#endif
