#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/temp_folder.h"
#include "platform/win32_owners.h"
#include "support/chartables.h"

namespace om {
namespace {

void fillFromSystem() {
  ResetCaseTables();
  FillCharTypeTable();
  FillCaseTables();
}

TEST(SystemCharTables, AgreeWithPerCharacterCalls) {
  fillFromSystem();
  for (int c = 1; c < 256; ++c) {
    char ch = static_cast<char>(c);
    WORD type = 0;
    ASSERT_TRUE(GetStringTypeA(LOCALE_USER_DEFAULT, CT_CTYPE1, &ch, 1, &type));
    EXPECT_EQ(type, CharTypeTable()[c]) << c;
    const auto lower = static_cast<uint8_t>(reinterpret_cast<uintptr_t>(CharLowerA(reinterpret_cast<LPSTR>(static_cast<uintptr_t>(c)))));
    const auto upper = static_cast<uint8_t>(reinterpret_cast<uintptr_t>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<uintptr_t>(c)))));
    EXPECT_EQ(lower, LowerCaseTable()[c]) << c;
    EXPECT_EQ(upper, UpperCaseTable()[c]) << c;
    EXPECT_EQ(IsCharUpperA(ch) != 0, IsUpperChar(ch)) << c;
    EXPECT_EQ(IsCharLowerA(ch) != 0, IsLowerChar(ch)) << c;
  }
}

TEST(SystemCharTables, SwappedCase) {
  fillFromSystem();
  const uint8_t* swapped = SwappedCaseTable();
  EXPECT_EQ('a', swapped['A']);
  EXPECT_EQ('A', swapped['a']);
  for (int c = '0'; c <= '9'; ++c) EXPECT_EQ(c, swapped[c]);
  for (int c = 0; c < 256; ++c) {
    if (swapped[c] != c) {
      // Swapping twice gives the code back for every letter that has a partner.
      EXPECT_EQ(c, swapped[swapped[c]]) << c;
    }
  }
  if (GetACP() == 1252) {
    for (int c = 0xC0; c <= 0xDE; ++c) {
      if (c == 0xD7) continue;  // the multiplication sign
      EXPECT_EQ(c + 0x20, swapped[c]) << c;
      EXPECT_EQ(c, swapped[c + 0x20]) << c;
    }
    EXPECT_EQ(0xD7, swapped[0xD7]);
    EXPECT_EQ(0xF7, swapped[0xF7]);
    EXPECT_EQ(0x9A, swapped[0x8A]);  // S with caron
  }
}

// The block is what CreateProcess takes as an environment: a child started
// with it sees exactly these variables.
TEST(MultiSzEnvironment, ChildSeesTheBlock) {
  testing::TempFolder folder;
  const std::string file = folder.file("environment.txt");
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  UniqueFile out(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                             CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(out);
  char system[MAX_PATH];
  UINT sn = GetSystemDirectoryA(system, MAX_PATH);
  char windows[MAX_PATH];
  UINT wn = GetWindowsDirectoryA(windows, MAX_PATH);
  const std::vector<std::string> env = {"OM_ONE=1", "OM_TWO=two words = three",
                                        "SystemRoot=" + std::string(windows, wn)};
  char* block = nullptr;
  StringsToMultiSz(block, env);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out.get();
  si.hStdError = out.get();
  PROCESS_INFORMATION pi = {};
  std::string cmd = std::string(system, sn) + "\\cmd.exe";
  std::string line = "cmd.exe /c set OM_";
  BOOL started = CreateProcessA(cmd.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, block, nullptr, &si, &pi);
  ReleaseStringBlock(block);
  out.reset();
  ASSERT_TRUE(started);
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 30000));
  std::string text = folder.read("environment.txt"), cleaned;
  for (char c : text)
    if (c != '\r') cleaned += c;
  EXPECT_EQ("OM_ONE=1\nOM_TWO=two words = three\n", cleaned);
}

}  // namespace
}  // namespace om
