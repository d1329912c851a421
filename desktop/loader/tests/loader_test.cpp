// omloader end to end under Wine: a stand-in tray program (its window class,
// the real hand-over reader and start-up switches) beside a copy of the
// loader, in a fresh folder per test.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "process_harness.h"
#include "tray/handover.h"

using namespace om::testing;

namespace {

class Loader : public ::testing::Test {
protected:
  void SetUp() override {
    Folder.Copy(WinePath(OM_LOADER_EXE), "omloader.exe");
    Folder.Copy(WinePath(OM_HOST_EXE), "omtray.exe");
  }
  long RunLoader(const std::string& args) {
    TProcess loader(Folder.File("omloader.exe"), args);
    EXPECT_TRUE(loader.Started) << loader.Error;
    return loader.Wait();
  }
  // Starts the stand-in tray and waits for its window.
  std::unique_ptr<TProcess> StartTray(TProcessFolder& folder, const std::string& exe = "omtray.exe") {
    auto p = std::make_unique<TProcess>(folder.File(exe), "");
    EXPECT_TRUE(folder.WaitForEvent("window"));
    return p;
  }
  // The hand-over file the stand-in tray of Folder reads.
  std::string HandOverPath() {
    char temp[2048];
    ExpandEnvironmentStringsA("%TEMP%", temp, sizeof temp);
    return om::HandOverFilePath(temp, Folder.File("omtray.exe"));
  }
  TProcessFolder Folder{"lo ader"};  // a blank in every path
};

}  // namespace

TEST_F(Loader, HandsTheTailToTheRunningTray) {
  auto tray = StartTray(Folder);
  EXPECT_EQ(RunLoader(" -show log"), 0);
  EXPECT_TRUE(Folder.WaitForEvent("words[ -show log\\r\\n]"));
  EXPECT_TRUE(Folder.WaitForEvent("gui[ -show log\\r\\n]noargs"));
  // Words that open nothing.
  EXPECT_EQ(RunLoader("  backupnow silent"), 0);
  EXPECT_TRUE(Folder.WaitForEvent("words[  backupnow silent\\r\\n]"));
  // Without arguments: an empty text.
  EXPECT_EQ(RunLoader(""), 0);
  EXPECT_TRUE(Folder.WaitForEvent("words[]"));
  EXPECT_EQ(Folder.CountEvents("start "), 1);  // nothing else was started
}

TEST_F(Loader, LoadersStartedTogetherEachHandTheirTailOver) {
  auto tray = StartTray(Folder);
  for (int round = 0; round < 3; ++round) {
    TProcess a(Folder.File("omloader.exe"), " alpha");
    TProcess b(Folder.File("omloader.exe"), " beta");
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
  }
  EXPECT_TRUE(Folder.WaitForEvent("words[ alpha\\r\\n]", "", 3));
  EXPECT_TRUE(Folder.WaitForEvent("words[ beta\\r\\n]", "", 3));
  EXPECT_EQ(Folder.CountEvents("words["), 6);
}

TEST_F(Loader, WritesTheHandOverFileTheTrayReads) {
  // The file itself: with the tray ignoring it, this test takes it.
  Folder.Write("host.cfg", "ignore");
  auto tray = StartTray(Folder);
  TProcess loader(Folder.File("omloader.exe"), " -x \"a b\"");
  ASSERT_TRUE(loader.Started);
  const std::string path = HandOverPath();
  std::string text;
  for (int i = 0; i < 600 && text.empty(); ++i) {
    const om::UniqueFile f(
        CreateFileA(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) {
      Sleep(50);
      continue;
    }
    char buf[64];
    DWORD n = 0;
    ReadFile(f.get(), buf, sizeof buf, &n, nullptr);
    text.assign(buf, n);
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(f.get(), FileDispositionInfo, &disposition, sizeof disposition);
  }
  EXPECT_EQ(text, " -x \"a b\"");
  // Taken: handed over.
  EXPECT_EQ(loader.Wait(), 0);
}

TEST_F(Loader, StartsTheTrayWhenNoneRuns) {
  // "-close" inside an argument is no close request.
  EXPECT_EQ(RunLoader(" -min monitor D:\\my-closet"), 0);
  EXPECT_TRUE(Folder.WaitForEvent(" -min monitor D:\\my-closet]"));
  EXPECT_TRUE(Folder.WaitForEvent("window"));  // the started tray went on
}

TEST_F(Loader, TrayOfAnotherFolderDoesNotCount) {
  TProcessFolder other("other");
  other.Copy(WinePath(OM_HOST_EXE), "omtray.exe");
  auto foreign = StartTray(other);
  EXPECT_EQ(RunLoader(" monitor"), 0);
  EXPECT_TRUE(Folder.WaitForEvent(" monitor]"));
  EXPECT_EQ(other.CountEvents("words["), 0);
}

TEST_F(Loader, CloseWithoutTrayStartsNothing) {
  EXPECT_EQ(RunLoader(" -close"), 0);
  Sleep(1500);
  EXPECT_EQ(Folder.CountEvents("start "), 0);
}

TEST_F(Loader, CloseEndsTheTrayThenStartsItWithClose) {
  auto tray = StartTray(Folder);
  EXPECT_EQ(RunLoader(" -close"), 0);
  EXPECT_EQ(tray->Wait(), 0);
  EXPECT_GE(Folder.CountEvents("quit"), 1);
  // The tray program started afterwards finds no instance and ends at once.
  EXPECT_TRUE(Folder.WaitForEvent(" -close]"));
  EXPECT_TRUE(Folder.WaitForEvent("skip exit 0"));
}

TEST_F(Loader, CloseThatTheTrayIgnoresTimesOut) {
  Folder.Write("host.cfg", "ignore");
  auto tray = StartTray(Folder);
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunLoader(" -close"), 1);
  EXPECT_GE(GetTickCount() - start, 5000u);
  // The close it gave up on is not left for the next tray started.
  char temp[2048];
  ExpandEnvironmentStringsA("%TEMP%", temp, sizeof temp);
  EXPECT_EQ(GetFileAttributesA(om::HandOverFilePath(temp, Folder.File("omtray.exe")).c_str()),
            INVALID_FILE_ATTRIBUTES);
  // "omtray.exe -close" was started; its own close handling gives up too.
  EXPECT_TRUE(Folder.WaitForEvent(" -close]"));
  EXPECT_TRUE(Folder.WaitForEvent("skip exit 1"));
}

TEST_F(Loader, LoadersQueuedAtATrayThatTakesNothingEachGiveUpInTime) {
  Folder.Write("host.cfg", "ignore");
  auto tray = StartTray(Folder);
  const DWORD start = GetTickCount();
  std::vector<std::unique_ptr<TProcess>> loaders;
  for (int i = 0; i < 3; ++i)
    loaders.push_back(std::make_unique<TProcess>(Folder.File("omloader.exe"), " backupnow silent"));
  // A loader's removal of its own file is no sign of the tray taking files:
  // none waits a turn more for it.
  for (auto& loader : loaders) {
    EXPECT_EQ(loader->Wait(), ERROR_TIMEOUT);
    EXPECT_LT(GetTickCount() - start, 2 * om::kHandOverWaitMs);
  }
  EXPECT_EQ(GetFileAttributesA(HandOverPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Loader, ASuccessfulCloseLeavesNoHandOverFile) {
  // The tray's window stays a moment after it took the close.
  Folder.Write("host.cfg", "linger");
  auto tray = StartTray(Folder);
  EXPECT_EQ(RunLoader(" -close"), 0);
  EXPECT_EQ(tray->Wait(), 0);
  EXPECT_EQ(Folder.CountEvents("quit"), 1);
  EXPECT_EQ(GetFileAttributesA(HandOverPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Loader, AlternativeProgramWhenTheTrayIsMissing) {
  DeleteFileA(Folder.File("omtray.exe").c_str());
  Folder.Copy(WinePath(OM_HOST_EXE), "Velbrook.exe");
  EXPECT_EQ(RunLoader(" monitor"), 0);
  EXPECT_TRUE(Folder.WaitForEvent(" monitor]"));
  // A running one is handed the tail like the tray.
  EXPECT_TRUE(Folder.WaitForEvent("window"));
  EXPECT_EQ(RunLoader(" again"), 0);
  EXPECT_TRUE(Folder.WaitForEvent("words[ again\\r\\n]"));
}

TEST_F(Loader, TrayFileInAnotherLetterCaseStillGetsTheTail) {
  // The tray's file is spelled "OmTray.exe": the loader's own spelling of the
  // path ("omtray.exe") names another hand-over file than the tray's.
  DeleteFileA(Folder.File("omtray.exe").c_str());
  Folder.Copy(WinePath(OM_HOST_EXE), "OmTray.exe");
  TProcess tray(Folder.File("OmTray.exe"), "");
  ASSERT_TRUE(Folder.WaitForEvent("window"));
  ASSERT_EQ(Folder.CountEvents("program " + Folder.File("OmTray.exe")), 1) << Folder.Read("events.log");
  EXPECT_NE(om::ParamsFileName(Folder.File("OmTray.exe")), om::ParamsFileName(Folder.File("omtray.exe")));
  EXPECT_EQ(RunLoader(" monitor"), 0);
  EXPECT_TRUE(Folder.WaitForEvent("words[ monitor\\r\\n]"));
  EXPECT_EQ(Folder.CountEvents("start "), 1);
}

TEST_F(Loader, NumberedTempFolderIsSharedWithTheTray) {
  char old[2048] = {};
  GetEnvironmentVariableA("TEMP", old, sizeof old);
  SetEnvironmentVariableA("TEMP", Folder.File("Temp\\2").c_str());
  auto tray = StartTray(Folder);
  EXPECT_EQ(RunLoader(" -show log"), 0);
  SetEnvironmentVariableA("TEMP", old);
  EXPECT_TRUE(Folder.WaitForEvent("words[ -show log\\r\\n]"));
  // The file went to the base folder, which the loader created.
  EXPECT_TRUE(Folder.Exists("Temp\\omparams"));
  EXPECT_FALSE(Folder.Exists("Temp\\2"));
}

namespace {

struct TDialogSearch {
  DWORD ProcessId;
  HWND Found;
};

BOOL CALLBACK FindErrorBox(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<TDialogSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char title[128] = {};
  GetWindowTextA(window, title, sizeof title);
  if (pid == search.ProcessId && std::string(title) == "Unable to Launch Backup Client") {
    search.Found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

TEST_F(Loader, MissingProgramsShowTheSystemError) {
  DeleteFileA(Folder.File("omtray.exe").c_str());
  TProcess loader(Folder.File("omloader.exe"), " monitor");
  ASSERT_TRUE(loader.Started);
  TDialogSearch search{loader.Id, nullptr};
  for (int i = 0; i < 600 && !search.Found; ++i) {
    EnumWindows(FindErrorBox, reinterpret_cast<LPARAM>(&search));
    if (!search.Found) Sleep(100);
  }
  ASSERT_NE(search.Found, nullptr);
  // The message box's text: the system's text for "file not found", without
  // its closing full stop and line end.
  char expected[261] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND, 0, expected,
                 sizeof expected, nullptr);
  std::string want = expected;
  while (!want.empty() && (static_cast<unsigned char>(want.back()) < 33 || want.back() == '.')) want.pop_back();
  char text[512] = {};
  GetDlgItemTextA(search.Found, 0xFFFF, text, sizeof text);
  EXPECT_FALSE(want.empty());
  EXPECT_EQ(std::string(text), want);
  PostMessageA(search.Found, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(loader.Wait(), ERROR_FILE_NOT_FOUND);  // not a success
}

TEST_F(Loader, ALoaderWhoseTextIsNotTakenSaysSoAndReplacesNothing) {
  // The tray takes no file.
  Folder.Write("host.cfg", "ignore");
  auto tray = StartTray(Folder);
  // Its own file not taken: not handed over, and nothing left for a later tray.
  EXPECT_EQ(RunLoader(" first silent"), ERROR_TIMEOUT);
  const std::string path = HandOverPath();
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
  // Another's file in place is not replaced.
  om::WriteParamsFile(path, " first");
  TProcess silent(Folder.File("omloader.exe"), " backupnow silent");
  TProcess shown(Folder.File("omloader.exe"), " second");
  ASSERT_TRUE(silent.Started && shown.Started);
  // Not handed over: a failure, said in an error box unless the words are silent.
  EXPECT_NE(silent.Wait(), 0);
  TDialogSearch search{shown.Id, nullptr};
  for (int i = 0; i < 600 && !search.Found; ++i) {
    EnumWindows(FindErrorBox, reinterpret_cast<LPARAM>(&search));
    if (!search.Found) Sleep(100);
  }
  ASSERT_NE(search.Found, nullptr);
  PostMessageA(search.Found, WM_COMMAND, IDOK, 0);
  EXPECT_NE(shown.Wait(), 0);
  // The text in place is still the first one.
  std::string text;
  {
    const om::UniqueFile f(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(f) << path;
    char buf[64];
    DWORD n = 0;
    ReadFile(f.get(), buf, sizeof buf, &n, nullptr);
    text.assign(buf, n);
  }
  DeleteFileA(path.c_str());
  EXPECT_EQ(text, " first");
}
