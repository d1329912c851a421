// Logon task definition and schtasks parameters; the console's heap, runtime
// choice, command line and agent properties.
#include <gtest/gtest.h>

#include <set>

#include "platform/testing/temp_folder.h"
#include "tray/console_launch.h"
#include "tray/logon_task.h"
#include "tray/tray_platform.h"

using namespace om;
using namespace om::testing;

namespace {

std::string Narrow(const std::u16string& w) {
  std::string s;
  for (char16_t c : w) s += c < 0x80 ? static_cast<char>(c) : '?';
  return s;
}

}  // namespace

TEST(LogonTask, DefinitionFromTheTemplate) {
  const std::u16string text = BuildTaskDefinition(u"C:\\Program Files\\App", u"omtray.exe", u"WORK", u"alice");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text[0], u'\xFEFF');
  const std::string expected =
      "?<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
      "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
      "  <RegistrationInfo>    <Date>2007-01-01T00:00:00</Date>    <Author>WORK\\alice</Author>  </RegistrationInfo>"
      "  <Triggers>    <LogonTrigger id=\"947151e5-b9ed-438b-8a4e-8207fcd151d1\">      <Enabled>true</Enabled>"
      "    </LogonTrigger>  </Triggers>"
      "  <Principals>    <Principal id=\"Author\">      <GroupId>S-1-5-32-544</GroupId>"
      "      <RunLevel>HighestAvailable</RunLevel>    </Principal>  </Principals>"
      "  <Settings>    <IdleSettings>      <Duration>PT10M</Duration>      <WaitTimeout>PT1H</WaitTimeout>"
      "      <StopOnIdleEnd>true</StopOnIdleEnd>      <RestartOnIdle>false</RestartOnIdle>    </IdleSettings>"
      "    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>"
      "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
      "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>    <AllowHardTerminate>false</AllowHardTerminate>"
      "    <StartWhenAvailable>false</StartWhenAvailable>"
      "    <RunOnlyIfNetworkAvailable>false</RunOnlyIfNetworkAvailable>"
      "    <AllowStartOnDemand>true</AllowStartOnDemand>    <Enabled>true</Enabled>    <Hidden>false</Hidden>"
      "    <RunOnlyIfIdle>false</RunOnlyIfIdle>    <WakeToRun>false</WakeToRun>"
      "    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>    <Priority>4</Priority>  </Settings>"
      "  <Actions Context=\"Author\">    <Exec>      <Command>\"C:\\Program Files\\App\\omtray.exe\"</Command>"
      "      <Arguments>-min</Arguments>      <WorkingDirectory>C:\\Program Files\\App</WorkingDirectory>"
      "    </Exec>  </Actions></Task>";
  EXPECT_EQ(Narrow(text), expected);
  const std::string bytes = Utf16LeBytes(u"\xFEFF" u"A\x0142");
  EXPECT_EQ(bytes, std::string("\xFF\xFE" "A\0" "\x42\x01", 6));
}

TEST(LogonTask, ValuesAreEscapedAndReplacementCannotLoop) {
  const std::string text = Narrow(BuildTaskDefinition(u"C:\\A&B <x>", u"omtray.exe", u"D", u"%UserName%"));
  EXPECT_NE(text.find("<WorkingDirectory>C:\\A&amp;B &lt;x&gt;</WorkingDirectory>"), std::string::npos);
  // A user name holding its own placeholder is inserted once.
  EXPECT_NE(text.find("<Author>D\\%UserName%</Author>"), std::string::npos);
  EXPECT_EQ(ReplaceAllW(u"aXbXc", u"X", u"XX"), u"aXXbXXc");
  EXPECT_EQ(ReplaceAllW(u"abc", u"", u"Z"), u"abc");
  EXPECT_EQ(ReplaceAllW(u"%A%%A%", u"%A%", u""), u"");
}

TEST(LogonTask, TaskNameAndParameters) {
  const std::vector<std::string> base{"omtray.exe", "-AddScheduledTask"};
  EXPECT_EQ(GetTaskName(base, "Brand Backup"), "Brand Backup");
  EXPECT_EQ(GetTaskName({"omtray.exe", "-AddScheduledTask", "bob", "-RUNTASK"}, "Brand"), "Brand");
  EXPECT_EQ(GetTaskName({"omtray.exe", "-RemoveScheduledTask", "anything", "MyTask"}, "Brand"), "MyTask");
  EXPECT_EQ(CreateTaskParameters("C:\\App\\OmTaskXml.xml", "Brand Backup"),
            "/create /xml \"C:\\App\\OmTaskXml.xml\" /tn \"Brand Backup\" /f");
  EXPECT_EQ(RunTaskParameters("T"), "/run /tn \"T\"");
  EXPECT_EQ(DeleteTaskParameters("MyTask"), "/delete /tn \"MyTask\" /f");
}

TEST(ConsoleLaunch, HeapFollowsThePhysicalMemory) {
  const uint64_t MB = 1024 * 1024;
  TConsoleHeap h = ComputeConsoleHeap(2048, 2048 * MB);
  EXPECT_EQ(h.Heap, 1024);
  EXPECT_TRUE(h.Warn);
  h = ComputeConsoleHeap(0, 1000 * MB);
  EXPECT_EQ(h.Heap, 500);
  EXPECT_FALSE(h.Warn);
  h = ComputeConsoleHeap(1024, 1000 * MB);
  EXPECT_EQ(h.Heap, 500);
  EXPECT_FALSE(h.Warn);
  h = ComputeConsoleHeap(0, 8192 * MB);
  EXPECT_EQ(h.Heap, 1024);
  h = ComputeConsoleHeap(3000, 8192 * MB);
  EXPECT_EQ(h.Heap, 3000);
  EXPECT_FALSE(h.Warn);
  h = ComputeConsoleHeap(4096, 0);  // unknown memory: as configured
  EXPECT_EQ(h.Heap, 4096);
  // Rounded to whole MB before the comparison: 1999.6 MB counts as 2000.
  h = ComputeConsoleHeap(1800, 1999 * MB + 600 * 1024);
  EXPECT_EQ(h.Heap, 1000);
  EXPECT_TRUE(h.Warn);
}

TEST(ConsoleLaunch, CommandLine) {
  const std::string javaw = "C:\\App\\OmJre\\jre1.8\\bin\\javaw.exe";
  EXPECT_EQ(RuntimeRoot(javaw), "C:\\App\\OmJre\\jre1.8\\");
  EXPECT_EQ(RuntimeRoot("D:\\bin\\App\\OmJre\\jre\\BIN\\javaw.exe"), "D:\\bin\\App\\OmJre\\jre\\");
  EXPECT_EQ(BuildConsoleCommandLine(javaw, 512, false, "C:\\App", ConsoleArguments("-show log", true, {"x"}), true),
            "\"C:\\App\\OmJre\\jre1.8\\bin\\javaw.exe\" -Xmx512m -Dsun.java2d.noddraw=true"
            " -Dsun.net.inetaddr.ttl=300 -classpath \"C:\\App\\lib\\*\""
            " -Djava.ext.dirs=\"C:\\App\\OmJre\\jre1.8\\lib\\ext\" com.ombrel.agentconsole.boot.GuiMain 0 -show log");
  const std::string cmd = BuildConsoleCommandLine(javaw, 1024, true, "C:\\App", ConsoleArguments("", false, {}), true);
  EXPECT_EQ(cmd.find("noddraw"), std::string::npos);
  EXPECT_EQ(cmd.substr(cmd.size() - 10), "GuiMain 0 ");
  EXPECT_EQ(ConsoleArguments("-show log", false, {"-min", "monitor"}), " -show log -min monitor");
  EXPECT_EQ(ConsoleArguments("", true, {"-min"}), "");
}

TEST(ConsoleLaunch, LastRuntimeWithJavawIsUsed) {
  std::set<std::string> files{"C:\\App\\OmJre\\jre1.6\\bin\\javaw.exe", "C:\\App\\OmJre\\jre1.8\\bin\\javaw.exe"};
  auto exists = [&](const std::string& p) { return files.count(p) > 0; };
  EXPECT_EQ(SelectJavaw("C:\\App\\OmJre", {"jre1.6", "jre1.8", "jre1.9"}, exists),
            "C:\\App\\OmJre\\jre1.8\\bin\\javaw.exe");
  EXPECT_EQ(SelectJavaw("C:\\App\\OmJre", {"jre2"}, exists), "");
}

TEST(ConsoleLaunch, AgentProperties) {
  TempFolder folder;
  EXPECT_EQ(GetConfiguredMemory(folder.path()), 0);
  EXPECT_TRUE(GetUseDirectDraw(folder.path()));
  const struct {
    const char* Content;
    int Memory;
    bool DirectDraw;
  } cases[] = {
      {"application.memory=2048\r\ngui.useddraw=false\r\n", 2048, false},
      {"application.memory=lots\ngui.useddraw=TRUE\n", 0, true},
      {"application.memory=-64\napplication.memory.x=1\n", 0, true},
      {"gui.useddraw=\n", 0, false},
  };
  for (const auto& c : cases) {
    folder.write("ombackup.properties", c.Content);
    EXPECT_EQ(GetConfiguredMemory(folder.path()), c.Memory) << c.Content;
    EXPECT_EQ(GetUseDirectDraw(folder.path()), c.DirectDraw) << c.Content;
  }
}
