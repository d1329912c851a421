// The stand-in's change journals through DeviceIoControl: records written by
// the stand-in's own file calls and by the test hook, their byte layout, the
// journal's size limit and the documented failures.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/testing/temp_folder.h"
#include "platform/win32.h"

namespace {

class StandinJournal : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.path();
    setenv("OM_STANDIN_ROOT", root_.c_str(), 1);
    mkdir((root_ + "/drives").c_str(), 0777);
    mkdir((root_ + "/drives/p").c_str(), 0777);
    volume_ = CreateFileW(u"P:\\", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(volume_, INVALID_HANDLE_VALUE);
  }
  void TearDown() override { CloseHandle(volume_); }

  BOOL control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    return DeviceIoControl(volume_, code, const_cast<void*>(in), inSize, out, outSize, returned, nullptr);
  }
  USN_JOURNAL_DATA query() {
    USN_JOURNAL_DATA data{};
    DWORD returned = 0;
    EXPECT_TRUE(control(FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &data, sizeof data, &returned));
    EXPECT_EQ(returned, sizeof data);
    return data;
  }
  void activate(DWORDLONG maximum = 0, DWORDLONG delta = 0) {
    CREATE_USN_JOURNAL_DATA create{maximum, delta};
    DWORD returned = 0;
    ASSERT_TRUE(control(FSCTL_CREATE_USN_JOURNAL, &create, sizeof create, nullptr, 0, &returned));
  }
  // All records from `start` on, with every reason.
  std::vector<std::vector<BYTE>> readAll(USN start = 0) {
    READ_USN_JOURNAL_DATA request{start, 0xFFFFFFFF, 0, 0, 0, query().UsnJournalID};
    std::vector<std::vector<BYTE>> records;
    for (;;) {
      BYTE buffer[4096];
      DWORD filled = 0;
      if (!control(FSCTL_READ_USN_JOURNAL, &request, sizeof request, buffer, sizeof buffer, &filled)) {
        ADD_FAILURE() << GetLastError();
        return records;
      }
      if (filled <= 8) return records;
      for (DWORD at = 8; at < filled;) {
        DWORD length;
        std::memcpy(&length, buffer + at, 4);
        records.emplace_back(buffer + at, buffer + at + length);
        at += length;
      }
      std::memcpy(&request.StartUsn, buffer, 8);
    }
  }

  om::testing::TempFolder folder_{"om-journal-"};
  std::string root_;
  HANDLE volume_ = INVALID_HANDLE_VALUE;
};

USN_RECORD header(const std::vector<BYTE>& record) {
  USN_RECORD r;
  std::memcpy(&r, record.data(), offsetof(USN_RECORD, FileName));
  return r;
}
std::u16string name(const std::vector<BYTE>& record) {
  USN_RECORD r = header(record);
  return std::u16string(reinterpret_cast<const char16_t*>(record.data() + r.FileNameOffset), r.FileNameLength / 2);
}

TEST_F(StandinJournal, FileCallsAndHookWriteRecords) {
  EXPECT_FALSE(OmStandinJournalNote(u"P:\\", USN_REASON_DATA_EXTEND));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_JOURNAL_NOT_ACTIVE));
  activate();
  HANDLE file = CreateFileW(u"P:\\\u00e9t\u00e9.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  struct stat st;
  ASSERT_EQ(stat((root_ + "/drives/p/\xc3\xa9t\xc3\xa9.txt").c_str(), &st), 0);
  struct stat folder;
  ASSERT_EQ(stat((root_ + "/drives/p").c_str(), &folder), 0);
  ASSERT_TRUE(OmStandinJournalNote(u"P:\\\u00e9t\u00e9.txt", USN_REASON_DATA_EXTEND));
  ASSERT_TRUE(DeleteFileW(u"P:\\\u00e9t\u00e9.txt"));

  std::vector<std::vector<BYTE>> records = readAll();
  ASSERT_EQ(records.size(), 3u);
  const DWORD reasons[] = {USN_REASON_FILE_CREATE | USN_REASON_CLOSE, USN_REASON_DATA_EXTEND,
                           USN_REASON_FILE_DELETE | USN_REASON_CLOSE};
  USN usn = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    USN_RECORD r = header(records[i]);
    EXPECT_EQ(r.RecordLength % 8, 0u);
    EXPECT_EQ(r.RecordLength, records[i].size());
    EXPECT_EQ(r.MajorVersion, 2);
    EXPECT_EQ(r.MinorVersion, 0);
    EXPECT_EQ(r.FileNameOffset, 60);
    EXPECT_EQ(r.FileNameLength, 14);
    EXPECT_EQ(name(records[i]), u"\u00e9t\u00e9.txt");
    EXPECT_EQ(r.Reason, reasons[i]);
    EXPECT_EQ(r.FileReferenceNumber, st.st_ino);
    EXPECT_EQ(r.ParentFileReferenceNumber, folder.st_ino);
    EXPECT_EQ(r.Usn, usn);  // a record's USN is its place in the stream
    EXPECT_GT(r.TimeStamp.QuadPart, 0);
    usn += r.RecordLength;
  }
  EXPECT_EQ(query().NextUsn, usn);
}

TEST_F(StandinJournal, DocumentedFailures) {
  DWORD returned = 7;
  USN_JOURNAL_DATA data;
  EXPECT_FALSE(control(FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &data, sizeof data, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_JOURNAL_NOT_ACTIVE));
  EXPECT_EQ(returned, 0u);
  CREATE_USN_JOURNAL_DATA create{};
  EXPECT_FALSE(control(FSCTL_CREATE_USN_JOURNAL, &create, 8, nullptr, 0, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  activate();
  EXPECT_FALSE(control(FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &data, 40, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(control(0x00090000, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  READ_USN_JOURNAL_DATA request{0, 0xFFFFFFFF, 0, 0, 0, query().UsnJournalID};
  BYTE buffer[64];
  EXPECT_FALSE(control(FSCTL_READ_USN_JOURNAL, &request, 32, buffer, sizeof buffer, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(control(FSCTL_READ_USN_JOURNAL, &request, sizeof request, buffer, 4, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // A record larger than the whole output buffer.
  ASSERT_TRUE(OmStandinJournalNote(u"P:\\", USN_REASON_BASIC_INFO_CHANGE));
  EXPECT_FALSE(control(FSCTL_READ_USN_JOURNAL, &request, sizeof request, buffer, 8 + 16, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  MFT_ENUM_DATA enumData{0, 0, 0x7fffffffffffffffll};
  EXPECT_FALSE(control(FSCTL_ENUM_USN_DATA, &enumData, 16, buffer, sizeof buffer, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(control(FSCTL_ENUM_USN_DATA, &enumData, sizeof enumData, buffer, sizeof buffer, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));  // an empty volume

  // Only a volume's root is a volume handle.
  mkdir((root_ + "/drives/p/sub").c_str(), 0777);
  HANDLE folder = CreateFileW(u"P:\\sub", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeviceIoControl(folder, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &data, sizeof data, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  CloseHandle(folder);
  EXPECT_FALSE(DeviceIoControl(reinterpret_cast<HANDLE>(0x4321), FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &data,
                               sizeof data, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(StandinJournal, OldRecordsGoPastTheMaximumSize) {
  activate(4096, 1024);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(OmStandinJournalNote(u"P:\\", USN_REASON_BASIC_INFO_CHANGE));
  USN_JOURNAL_DATA data = query();
  EXPECT_GT(data.FirstUsn, 0);
  EXPECT_EQ(data.LowestValidUsn, data.FirstUsn);
  EXPECT_LE(data.NextUsn - data.FirstUsn, 4096 + 1024);
  EXPECT_EQ(data.MaximumSize, 4096u);
  std::vector<std::vector<BYTE>> records = readAll();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(header(records.front()).Usn, data.FirstUsn);
  READ_USN_JOURNAL_DATA request{data.FirstUsn - 8, 0xFFFFFFFF, 0, 0, 0, data.UsnJournalID};
  BYTE buffer[512];
  DWORD returned = 0;
  EXPECT_FALSE(control(FSCTL_READ_USN_JOURNAL, &request, sizeof request, buffer, sizeof buffer, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_JOURNAL_ENTRY_DELETED));
  // Activating again with other sizes keeps the journal and its records.
  activate(1 << 20, 0);
  EXPECT_EQ(query().UsnJournalID, data.UsnJournalID);
  EXPECT_EQ(query().NextUsn, data.NextUsn);
  EXPECT_EQ(query().AllocationDelta, data.AllocationDelta);
}

TEST_F(StandinJournal, DamagedJournalFileIsCutAtTheDamage) {
  activate();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(OmStandinJournalNote(u"P:\\", USN_REASON_BASIC_INFO_CHANGE));
  std::vector<std::vector<BYTE>> whole = readAll();
  ASSERT_EQ(whole.size(), 3u);
  // The third record's length field zeroed: reading stops before it, and goes on.
  std::string path = root_ + "/journals/p";
  FILE* file = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  DWORD zero = 0;
  std::fseek(file, static_cast<long>(56 + whole[0].size() + whole[1].size()), SEEK_SET);
  std::fwrite(&zero, sizeof zero, 1, file);
  std::fclose(file);
  EXPECT_EQ(readAll().size(), 2u);
  EXPECT_EQ(query().NextUsn, static_cast<USN>(whole[0].size() + whole[1].size()));
  ASSERT_TRUE(OmStandinJournalNote(u"P:\\", USN_REASON_DATA_EXTEND));
  std::vector<std::vector<BYTE>> after = readAll();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(header(after[2]).Reason, static_cast<DWORD>(USN_REASON_DATA_EXTEND));
}

}  // namespace
