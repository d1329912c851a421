// Never built: the sample suite that the conformance coverage check's own test
// reads. Its cases call CreateFileW (through a function of the suite) and
// GetProcAddress; every other function here is only named, which is no case.
#include "platform/win32.h"

// MoveFileExW in a comment.
void calledByNoCase() { DeleteService(nullptr); }

HANDLE opened(const WCHAR* path) { return CreateFileW(path, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr); }

TEST(Sample, OpensThroughAFunction) { EXPECT_NE(opened(nullptr), nullptr); }

TEST(Sample, OnlyNames) {
  SCOPED_TRACE("SetFileAttributesW");
  SCOPED_TRACE(testing::Message() << GetFileAttributesW);
  EXPECT_TRUE(true) << "FindFirstFileW" << ReadFile(nullptr, nullptr, 0, nullptr, nullptr);
  const char* name = "WriteFile";
  EXPECT_NE(GetProcAddress(nullptr, "NtQueryDirectoryFile"), nullptr);  // loaded, never called
#ifdef _WIN32
  GetDriveTypeW(nullptr);
#endif
}
