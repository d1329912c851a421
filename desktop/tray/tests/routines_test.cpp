// File search, program path, subfolders, ticks, environment and the shell start.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "platform/testing/temp_folder.h"
#include "tray/routines.h"
#include "tray/tray_platform.h"

using namespace om;
using namespace om::testing;

TEST(Routines, FindFiles) {
  TempFolder t;
  t.write("top.txt", "1");
  t.write("a\\y.txt", "1");
  t.write("a\\b\\x.txt", "1");
  t.write("omtray.exe.bak", "1");
  t.write("omtray.exe.bak2", "1");
  TStringList all;
  FindFiles(t.path(), "*.*", true, all);
  all.SetSorted(true);
  EXPECT_EQ(all.Text(), "a\\b\\x.txt\r\na\\y.txt\r\nomtray.exe.bak\r\nomtray.exe.bak2\r\ntop.txt\r\n");
  TStringList flat;
  FindFiles(t.path() + "\\", "*.txt", false, flat);
  EXPECT_EQ(flat.Text(), "top.txt\r\n");
  TStringList baks;
  FindFiles(t.path(), "omtray.exe.bak*", false, baks);
  baks.SetSorted(true);
  EXPECT_EQ(baks.Text(), "omtray.exe.bak\r\nomtray.exe.bak2\r\n");
  TStringList none;
  FindFiles(t.file("missing"), "*.*", true, none);
  FindFiles("", "*.*", true, none);
  EXPECT_EQ(none.Count(), 0);
}

TEST(Routines, ExtractProgramPath) {
  TempFolder t;
  t.write("dir with blank\\prog.exe", "MZ");
  std::string prog = t.file("dir with blank\\prog.exe");
  EXPECT_EQ(ExtractProgramPath(prog + " -start -x"), prog);
  EXPECT_EQ(ExtractProgramPath("  " + prog + "  "), prog);
  EXPECT_EQ(ExtractProgramPath(prog), prog);
  EXPECT_EQ(ExtractProgramPath("\"C:\\no such\\x.exe\" -a b"), "C:\\no such\\x.exe");
  EXPECT_EQ(ExtractProgramPath("\"a\"\"b\" x"), "a\"b");
  EXPECT_EQ(ExtractProgramPath("C:\\no such\\file.exe -x "), "C:\\no such\\file.exe -x");
  EXPECT_EQ(ExtractProgramPath("nospace"), "nospace");
  EXPECT_EQ(ExtractProgramPath(""), "");
  EXPECT_EQ(ExtractProgramPath("\"\" " + prog), "\"\" " + prog);  // empty quoted part: the blank rule
}

TEST(Routines, ListSubfolders) {
  TempFolder t;
  for (const char* d : {"jre1.6.0", "JRE6", "myjre", "jrx"}) t.makeFolder(d);
  t.write("jre.txt", "x");
  TStringList l;
  l.Add("stale");
  ListSubfolders(l, t.path(), "jre", true, false);
  EXPECT_EQ(l.Text(), "jre1.6.0\r\nJRE6\r\n");
  ListSubfolders(l, t.path(), "jre", false, true);
  EXPECT_EQ(l.Text(), "jre1.6.0\r\n");
  TStringList all;
  ListSubfolders(all, t.path() + "\\", "", true, false);
  EXPECT_EQ(all.Count(), 4);
  ListSubfolders(all, t.file("missing"), "", true, false);
  EXPECT_EQ(all.Count(), 0);
}

TEST(Routines, TicksAndEnvironment) {
  EXPECT_EQ(TicksBetween(0xFFFFFFFFu - 295u, 200u), 496u);
  EXPECT_EQ(TicksBetween(1000u, 1500u), 500u);
  EXPECT_LT(TicksSince(GetTickCount()), 1000u);

  char temp[MAX_PATH] = {0};
  GetEnvironmentVariableA("TEMP", temp, sizeof temp);
  EXPECT_EQ(ExpandEnvironment("%TEMP%"), temp);
  std::string longValue(5000, 'x');
  SetEnvironmentVariableA("OM_TRAY_LONG", longValue.c_str());
  EXPECT_EQ(ExpandEnvironment("<%OM_TRAY_LONG%>"), "<" + longValue + ">");
  EXPECT_EQ(ExpandEnvironment("%OM_TRAY_NO_SUCH%"), "%OM_TRAY_NO_SUCH%");
  EXPECT_EQ(ExpandEnvironment(""), "");
}

TEST(Routines, ShellExecuteAndWait) {
  std::string exe = ExtractFilePath(ProgramFileName()) + "om_tray_test_service.exe";
  int waits = 0;
  auto count = [&] { ++waits; };
  EXPECT_EQ(ShellExecuteAndWait("", exe, "sleep 0 7", nullptr, SW_HIDE, nullptr), 7u);
  EXPECT_EQ(ShellExecuteAndWait(ExtractFilePath(exe), exe, "sleep 1600 3", count, SW_HIDE, nullptr), 3u);
  EXPECT_GE(waits, 1);
  // Shutting down ends the wait with the still-active code.
  auto shutdown = [] { ShuttingDown = true; };
  EXPECT_EQ(ShellExecuteAndWait("", exe, "sleep 5000 3", shutdown, SW_HIDE, nullptr), static_cast<uint32_t>(STILL_ACTIVE));
  ShuttingDown = true;
  EXPECT_EQ(ShellExecuteAndWait("", exe, "sleep 5000 3", nullptr, SW_HIDE, nullptr), static_cast<uint32_t>(STILL_ACTIVE));
  ShuttingDown = false;
  try {
    ShellExecuteAndWait("", exe + ".missing.exe", "", nullptr, SW_HIDE, nullptr);
    ADD_FAILURE() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(e.Message().find("System Error.  Code: 2."), std::string::npos);
  }
}
