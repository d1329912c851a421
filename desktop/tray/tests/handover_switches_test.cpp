// Hand-over file format, command-line splitting, the start-up decision and the
// window-search rules; parsers of outside input get property tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "platform/testing/temp_folder.h"
#include "tray/handover.h"
#include "tray/startup_switches.h"

using namespace om;
using namespace om::testing;

namespace {

struct THostDouble : TTrayHost {
  std::vector<std::string> Calls;
  bool OpenConsole = true;
  void QuitProgram() override { Calls.push_back("quit"); }
  void TerminateApplication() override { Calls.push_back("terminate"); }
  bool HandleCommandWords(const std::string& text) override {
    Calls.push_back("words[" + text + "]");
    return OpenConsole;
  }
  void LaunchJavaGui(const std::string& extra, bool noArguments) override {
    Calls.push_back("gui[" + extra + "]" + (noArguments ? "noargs" : "args"));
  }
  void ShowStatusError(const std::string& message) override { Calls.push_back("error[" + message + "]"); }
};

std::vector<std::string> Args(std::initializer_list<const char*> list) {
  std::vector<std::string> v{"C:\\App\\omtray.exe"};
  for (const char* a : list) v.push_back(a);
  return v;
}

// Independent line splitter: CR LF, LF or lone CR end a line; every line then
// ends with CR LF.
std::string LinesJoined(const std::string& bytes) {
  std::string out, line;
  bool any = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r' || c == '\n') {
      out += line + "\r\n";
      line.clear();
      any = false;
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      line += c;
      any = true;
    }
  }
  if (any) out += line + "\r\n";
  return out;
}

}  // namespace

TEST(HandOverFile, NameIsUpperCaseMd5OfThePathBytes) {
  // Expected digests from Python's hashlib.
  EXPECT_EQ(ParamsFileName("C:\\App\\omtray.exe"), "49A87482E0367E36E9E706F19E43414A");
  EXPECT_EQ(ParamsFileName(""), "D41D8CD98F00B204E9800998ECF8427E");
  // Another spelling of the same path is another name.
  EXPECT_EQ(ParamsFileName("c:\\app\\OMTRAY.EXE"), "D53C5A3CD722024286C501BFA43C142F");
}

TEST(HandOverFile, FolderDropsANumberedSessionFolder) {
  EXPECT_EQ(HandOverFolder("C:\\Users\\Al\\AppData\\Local\\Temp\\2"), "C:\\Users\\Al\\AppData\\Local\\Temp\\omparams\\");
  EXPECT_EQ(HandOverFolder("C:\\Users\\Al\\AppData\\Local\\Temp"), "C:\\Users\\Al\\AppData\\Local\\Temp\\omparams\\");
  EXPECT_EQ(HandOverFolder("C:\\Windows\\TEMP\\"), "C:\\Windows\\TEMP\\omparams\\");
  // A folder named like "temp" higher up is not cut to.
  EXPECT_EQ(HandOverFolder("C:\\Users\\tempuser\\AppData\\Local\\Temp\\2"),
            "C:\\Users\\tempuser\\AppData\\Local\\Temp\\omparams\\");
  EXPECT_EQ(HandOverFolder("D:\\scratch\\12a"), "D:\\scratch\\12a\\omparams\\");
  EXPECT_EQ(HandOverFilePath("C:\\T\\1", "C:\\App\\omtray.exe"),
            "C:\\T\\omparams\\49A87482E0367E36E9E706F19E43414A");
}

TEST(HandOverFile, WrittenTextIsReadBackOnceAsLines) {
  TempFolder folder;
  const std::string path = folder.file("h");
  WriteParamsFile(path, " -show log");
  std::string text;
  ASSERT_TRUE(TakeParamsFile(path, text));
  EXPECT_EQ(text, " -show log\r\n");
  EXPECT_FALSE(TakeParamsFile(path, text));  // deleted

  WriteParamsFile(path, "first");
  WriteParamsFile(path, "");  // replaces, zero bytes
  ASSERT_TRUE(TakeParamsFile(path, text));
  EXPECT_EQ(text, "");
}

TEST(HandOverFile, ReaderPropertyOnArbitraryBytes) {
  TempFolder folder;
  const std::string path = folder.file("fuzz");
  std::mt19937 rng(1234);
  const char alphabet[] = {'a', ' ', '\r', '\n', '\0', '\x80', '\xff', '"', '-'};
  for (int round = 0; round < 400; ++round) {
    std::string bytes;
    size_t n = rng() % 64;
    for (size_t i = 0; i < n; ++i)
      bytes += (rng() % 3 == 0) ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % sizeof alphabet];
    WriteParamsFile(path, bytes);
    std::string text;
    ASSERT_TRUE(TakeParamsFile(path, text));
    EXPECT_EQ(text, LinesJoined(bytes)) << "round " << round;
    ASSERT_FALSE(folder.path().empty());
    EXPECT_FALSE(TakeParamsFile(path, text));
  }
}

TEST(HandOverFile, TickStepActsOnTheText) {
  TempFolder folder;
  const std::string path = folder.file("h");
  {
    THostDouble host;
    EXPECT_FALSE(ProcessHandOverFile(host, path));
    // A folder in its place is no file: no error on every tick.
    std::filesystem::create_directory(path);
    EXPECT_FALSE(ProcessHandOverFile(host, path));
    std::filesystem::remove(path);
    EXPECT_TRUE(host.Calls.empty());
  }
  {
    THostDouble host;
    WriteParamsFile(path, " -close");
    EXPECT_TRUE(ProcessHandOverFile(host, path));
    EXPECT_EQ(host.Calls, std::vector<std::string>{"quit"});
  }
  {
    THostDouble host;
    WriteParamsFile(path, " -Close");  // exact letter case only
    ProcessHandOverFile(host, path);
    EXPECT_EQ(host.Calls, (std::vector<std::string>{"words[ -Close\r\n]", "gui[ -Close\r\n]noargs"}));
  }
  {
    THostDouble host;
    WriteParamsFile(path, " -show \"D:\\my-closet\" x-close");  // a whole argument only
    ProcessHandOverFile(host, path);
    EXPECT_EQ(host.Calls.size(), 2u);
    EXPECT_EQ(host.Calls[0], "words[ -show \"D:\\my-closet\" x-close\r\n]");
  }
  for (const std::string& text : {std::string("\"-close\""), std::string("a\0 -close", 9)}) {
    THostDouble host;
    WriteParamsFile(path, text);
    ProcessHandOverFile(host, path);
    EXPECT_EQ(host.Calls, std::vector<std::string>{"quit"}) << text;
  }
  {
    THostDouble host;
    host.OpenConsole = false;
    WriteParamsFile(path, " backupnow silent");
    ProcessHandOverFile(host, path);
    EXPECT_EQ(host.Calls, std::vector<std::string>{"words[ backupnow silent\r\n]"});
  }
  {
    THostDouble host;
    WriteParamsFile(path, "");
    ProcessHandOverFile(host, path);
    EXPECT_EQ(host.Calls, (std::vector<std::string>{"words[]", "gui[]noargs"}));
  }
}

TEST(CommandLine, ProgramNameIsSkippedTailKeepsItsBlanks) {
  auto tail = [](const std::string& c) { return c.substr(SkipProgramName(c)); };
  EXPECT_EQ(tail("\"C:\\Program Files\\App\\omloader.exe\" -show log"), " -show log");
  EXPECT_EQ(tail("C:\\App\\omloader.exe"), "");
  EXPECT_EQ(tail("  \"\"  omloader.exe   a  b"), "   a  b");
  EXPECT_EQ(tail("C:\\A\"b c\"d.exe x"), " x");
  EXPECT_EQ(tail("\"unterminated quote"), "");
  EXPECT_EQ(tail(""), "");
  // A double-byte character whose trail byte is a quote stays one character.
  auto lead = [](unsigned char c) { return c == 0x81; };
  const std::string dbcs = std::string("\"a\x81\"b\" rest");
  EXPECT_EQ(dbcs.substr(SkipProgramName(dbcs, lead)), " rest");
}

TEST(CommandLine, ArgumentsSplitLikeTheRunTimeLibrary) {
  EXPECT_EQ(ParamStrList("\"C:\\Program Files\\omtray.exe\" -min  \"two words\" a\"b c\"d"),
            (std::vector<std::string>{"C:\\Program Files\\omtray.exe", "-min", "two words", "ab cd"}));
  EXPECT_EQ(ParamStrList(""), std::vector<std::string>{});
  EXPECT_EQ(ParamStrList("x \"\" y"), (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(FindCmdLineSwitch(Args({"/addscheduledtask"}), "AddScheduledTask"));
  EXPECT_TRUE(FindCmdLineSwitch(Args({"user", "-CLOSE"}), "close"));
  EXPECT_FALSE(FindCmdLineSwitch(Args({"close"}), "close"));
  EXPECT_FALSE(FindCmdLineSwitch(Args({"--close"}), "close"));
  EXPECT_FALSE(FindCmdLineSwitch({"-close"}, "close"));  // the program name is no switch
}

TEST(CommandLine, SplittingPropertyOnArbitraryText) {
  std::mt19937 rng(99);
  const char alphabet[] = {'a', 'b', ' ', '\t', '"', '-', '/', '\x01', '\x90'};
  for (int round = 0; round < 2000; ++round) {
    std::string line;
    size_t n = rng() % 40;
    for (size_t i = 0; i < n; ++i) line += alphabet[rng() % sizeof alphabet];
    std::vector<std::string> args = ParamStrList(line);
    size_t skip = SkipProgramName(line);
    ASSERT_LE(skip, line.size());
    for (const std::string& a : args) EXPECT_EQ(a.find('"'), std::string::npos);
    // The tail splits into the same arguments as the line after its first one.
    if (!args.empty()) {
      std::vector<std::string> rest = ParamStrList("x" + line.substr(skip));
      rest.erase(rest.begin());
      EXPECT_EQ(rest, std::vector<std::string>(args.begin() + 1, args.end())) << line;
    }
  }
}

TEST(StartupDecision, SwitchesAndRunningInstance) {
  using A = TStartupAction;
  EXPECT_EQ(DecideStartupAction(Args({"-AddScheduledTask"}), true), A::CreateScheduledTask);
  EXPECT_EQ(DecideStartupAction(Args({"-RemoveScheduledTask", "x", "MyTask"}), false), A::RemoveScheduledTask);
  EXPECT_FALSE(StartupNeedsInstanceSearch(Args({"/RemoveScheduledTask"})));
  EXPECT_TRUE(StartupNeedsInstanceSearch(Args({"-close"})));
  EXPECT_EQ(DecideStartupAction(Args({}), true), A::HandOver);
  EXPECT_EQ(DecideStartupAction(Args({"monitor"}), true), A::HandOver);
  EXPECT_EQ(DecideStartupAction(Args({"-min"}), true), A::EndQuietly);
  EXPECT_EQ(DecideStartupAction(Args({"-close"}), true), A::CloseInstance);
  EXPECT_EQ(DecideStartupAction(Args({"-close"}), false), A::CloseNoInstance);
  EXPECT_EQ(DecideStartupAction(Args({"-upgrade", "-min"}), true), A::UpgradeGoOn);
  EXPECT_EQ(DecideStartupAction(Args({"-upgrade"}), false), A::GoOn);
  EXPECT_EQ(DecideStartupAction(Args({"-min"}), false), A::GoOn);
}

TEST(WindowSearch, ClassTestTakesTheWindowClassAsLeadingPart) {
  EXPECT_TRUE(WindowClassMatches("SunAwtFrame", "SunAwtFrame"));
  EXPECT_TRUE(WindowClassMatches("sunawtframe", "SunAwtFrame"));
  EXPECT_TRUE(WindowClassMatches("Sun", "SunAwtFrame"));
  EXPECT_FALSE(WindowClassMatches("SunAwtFrameX", "SunAwtFrame"));
  EXPECT_FALSE(WindowClassMatches("SunAwtDialog", "SunAwtFrame"));
  EXPECT_FALSE(WindowClassMatches("", "SunAwtFrame"));
}

TEST(WindowSearch, FolderTestOfAnotherProcess) {
  std::set<std::string> files;
  auto exists = [&](const std::string& p) { return files.count(p) > 0; };
  EXPECT_TRUE(AcceptWindowProcessFolder("C:\\App", "c:\\app", exists));
  EXPECT_FALSE(AcceptWindowProcessFolder("C:\\Other", "C:\\App", exists));
  EXPECT_FALSE(AcceptWindowProcessFolder("", "C:\\App", exists));
  // The installation's runtime counts as the installation.
  files.insert("C:\\App\\ombackup.exe");
  EXPECT_TRUE(AcceptWindowProcessFolder("C:\\App\\OmJre\\jre1.8\\bin", "C:\\App", exists));
  files = {"C:\\Other\\lib\\omgui.jar"};
  EXPECT_FALSE(AcceptWindowProcessFolder("C:\\Other\\omjre\\jre1.8\\bin", "C:\\App", exists));
  // A runtime whose installation holds neither marker is accepted.
  files.clear();
  EXPECT_TRUE(AcceptWindowProcessFolder("C:\\Loose\\OmJre\\jre\\bin", "C:\\App", exists));
}
