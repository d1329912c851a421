#include "tray/frmmain.h"

#include <ctime>

#include "framework/exceptions.h"
#include "framework/strutils.h"
#include "hash/hash_support.h"
#include "support/chartables.h"
#include "support/localetext.h"
#include "support/unitregistries.h"
#include "tray/handover.h"
#include "tray/resources.h"
#include "tray/routines.h"
#include "tray/tray_platform.h"

namespace om {

std::string ParamsFilePath;

namespace {

std::string Text(const std::string& key) { return GetResourceString(key); }

// The status window's client area as designed, and its gauge, which keeps
// its margins when the window is widened.
constexpr int kClientWidth = 290, kClientHeight = 70;
constexpr int kGaugeLeft = 6, kGaugeTop = 48, kGaugeWidth = 279, kGaugeHeight = 17;
constexpr int kGaugeRightMargin = kClientWidth - kGaugeLeft - kGaugeWidth;

// At the program's end the user's commands taken so far get this long to reach
// the agent, the rest given up: with the tick that takes a loader's "-close",
// the tray is gone well inside the loader's 5 s close wait.
constexpr DWORD kCommandsAtEndMs = 2000;

// This process's arguments, ParamStr(0) first.
std::vector<std::string> ProgramParams() { return ParamStrList(GetCommandLineA()); }

// A program argument "-word" or "/word", letter case ignored.
bool FindCmdLineSwitch(const std::string& word) { return om::FindCmdLineSwitch(ProgramParams(), word); }

// The current local time as a date-time.
TDateTime NowLocal() { return NowAsDateTime(); }

bool DefaultConfirm(const std::string& text) {
  return MessageBoxA(nullptr, text.c_str(), Application()->Title().c_str(),
                     MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST) == IDYES;
}

std::string LocaleDateTime(TDateTime t) {
  // The locale's short date and long time.
  const int64_t ticks = dateTimeToFileTime(t);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&ft, &st)) return FormatDateTimePortable(t);
  char date[128] = {}, time[128] = {};
  GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, sizeof date);
  GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, sizeof time);
  return std::string(date) + " " + time;
}

}  // namespace

bool (*TfrmServiceStatus::Confirm)(const std::string& text) = DefaultConfirm;

TfrmServiceStatus::TfrmServiceStatus(TComponent* AOwner) : TForm(AOwner) {
  SetName("frmServiceStatus");
  SetCaption("Backup Service");
  FormatDefaultDateTime = LocaleDateTime;

  actLMain = new TActionList(this);
  auto action = [&](const char* caption) {
    auto* a = new TAction(this);
    a->SetCaption(caption);
    a->SetActionList(actLMain);
    return a;
  };
  actAbout = action("About");
  actAbout->OnExecute = MakeMethod<&TfrmServiceStatus::actAboutExecute>(this);
  actBackupNow = action("Backup Now");
  actBackupNow->OnExecute = MakeMethod<&TfrmServiceStatus::actBackupNowExecute>(this);
  actBackupNow->OnUpdate = MakeMethod<&TfrmServiceStatus::actBackupNowUpdate>(this);
  actCancelBackup = action("Cancel Backup");
  actCancelBackup->OnExecute = MakeMethod<&TfrmServiceStatus::actCancelBackupExecute>(this);
  actCancelBackup->OnUpdate = MakeMethod<&TfrmServiceStatus::actCancelBackupUpdate>(this);
  actExit = action("Exit");
  actExit->OnExecute = MakeMethod<&TfrmServiceStatus::actExitExecute>(this);
  actOpen = action("Open");
  actOpen->OnExecute = MakeMethod<&TfrmServiceStatus::actOpenExecute>(this);

  Popup = new TPopupMenu(this);
  Popup->OnPopup = MakeMethod<&TfrmServiceStatus::PopupPopup>(this);
  auto item = [&](TAction* a) {
    auto* m = new TMenuItem(this);
    Popup->Items()->Add(m);
    if (a) a->LinkMenuItem(m);
    return m;
  };
  menOpen = item(actOpen);
  menOpen->Default = true;
  menBackupNow = item(actBackupNow);
  CancelBackup1 = item(actCancelBackup);
  CancelBackup1->Visible = false;
  mnuOptions = item(nullptr);
  mnuOptions->Caption = "Notifications";
  mnuOptions->Visible = false;
  auto sub = [&](const char* caption) {
    auto* m = new TMenuItem(this);
    m->Caption = caption;
    m->Checked = true;
    mnuOptions->Add(m);
    return m;
  };
  mnuNotifyonSuccess = sub("Notify on Success");
  mnuNotifyonSuccess->OnClick = MakeMethod<&TfrmServiceStatus::mnuNotifyonSuccessClick>(this);
  mnuNotifyonFailure = sub("Notify on Failures");
  mnuNotifyonFailure->OnClick = MakeMethod<&TfrmServiceStatus::mnuNotifyonFailureClick>(this);
  mnuNotifyonWarnings = sub("Notify on Warnings");
  mnuNotifyonWarnings->OnClick = MakeMethod<&TfrmServiceStatus::mnuNotifyonWarningsClick>(this);
  About1 = item(actAbout);
  N1 = item(nullptr);
  N1->Caption = "-";
  menExit = item(actExit);

  // Client area 290 x 70.
  RECT r{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&r, WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, FALSE, WS_EX_TOOLWINDOW);
  SetBounds(Left(), Top(), r.right - r.left, r.bottom - r.top);

  Gauge = new TGauge(this, this);
  Gauge->SetBounds(kGaugeLeft, kGaugeTop, kGaugeWidth, kGaugeHeight);
  imglBackingUp = new TImageList(this);
  imglBackingUpOld = new TImageList(this);
  imglMain = new TImageList(this);
  imglMainOld = new TImageList(this);
  lblCurrent = new TLabel(this, this);
  lblCurrent->SetBounds(6, 16, 279, 16);
  lblCurrentStatus = new TLabel(this, this);
  lblCurrentStatus->Bold = true;
  lblCurrentStatus->SetBounds(6, 0, 279, 16);
  lblNow = new TLabel(this, this);
  lblNow->SetBounds(6, 32, 279, 16);

  Timer = new TTimer(this);
  Timer->SetEnabled(false);
  Timer->SetInterval(1000);
  Timer->SetOnTimer(MakeMethod<&TfrmServiceStatus::TimerTimer>(this));
  NotifyTimer = new TTimer(this);
  NotifyTimer->SetEnabled(false);
  NotifyTimer->SetInterval(2000);
  NotifyTimer->SetOnTimer(MakeMethod<&TfrmServiceStatus::NotifyTimerTimer>(this));

  OnClose = MakeMethod<&TfrmServiceStatus::FormCloseHandler>(this);
  FormCreate(this);
}

TfrmServiceStatus::~TfrmServiceStatus() {
  StopStateThread();
  FormDestroy(this);
}

void TfrmServiceStatus::CreateParams(TCreateParams& Params) {
  TForm::CreateParams(Params);
  Params.Style = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  Params.ExStyle |= WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
}

std::string TfrmServiceStatus::ProgramPath() const { return ProgramFileName(); }

void TfrmServiceStatus::FormCreate(TObject*) {
  // 1. Magnet and tray icon.
  FMagnet = new TDkFormMagnet(this);
  FMagnet->Active = true;
  FTrayIcon = new TDkTrayIcon(this);
  FTrayIcon->SetIcons(imglBackingUp);
  FTrayIcon->SetPopupMenu(Popup);
  FTrayIcon->SetDelay(200);
  FTrayIcon->OnDblClick = MakeMethod<&TfrmServiceStatus::TrayIconDblClick>(this);
  FTrayIcon->OnClick = MakeMethod<&TfrmServiceStatus::TrayIconClick>(this);
  FTrayIcon->OnBalloonClick = MakeMethod<&TfrmServiceStatus::TrayIconBalloonClick>(this);
  // 2, 3.
  FComposer.SettingsRefreshDue = true;
  FLastNotificationStamp = -1;
  FConsoleProcess = new TConsoleProcess(this);
  FPreviousState = ssConnecting;
  FComposer.LastComposedState = ssConnecting;
  // 4.
  FRequests = new TAgentRequests(std::make_unique<TClientComms>(ProgramFolder(), "ombackup.properties"));
  FRequests->OnError = [this](const std::string& message) { ShowStatusError(message); };
  FCommands = new TAgentRequests(std::make_unique<TClientComms>(ProgramFolder(), "ombackup.properties"));
  // 5. No taskbar button for the application window. It stays hidden: a
  // taskbar that lists tool windows as well (Wine's) would show it during
  // the splash otherwise; the tray icon hides it after start anyway.
  HWND app = Application()->Handle();
  ShowWindow(app, SW_HIDE);
  SetWindowLongPtrA(app, GWL_EXSTYLE, GetWindowLongPtrA(app, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
  // 6.
  FConnectionFilePresent = FileExists(ProgramFolder() + "\\connection.properties");
  // 7.
  int left, top;
  GetTrayCornerPosition(left, top);
  SetBounds(left, top, Width(), Height());
  // 8.
  FClosing = false;
  SetTrayIcons(0);
  Timer->SetEnabled(true);
  // 9.
  CreateStatusLock();
  FStateThread = new TServiceStateThread();
  // 10.
  LoadBusyIcons();
  LoadMainIcons();
  FTrayIcon->SetIcons(imglBackingUp);
  // 11.
  FSchedule = new TSched(ProgramFolder() + "\\ombackup.properties", ProgramFolder() + "\\p_ombackup.properties");
  // 12.
  FDayOfWeek = DayOfTheWeek(NowLocal());
  FComposer.DayOfWeek = FDayOfWeek;
  FComposer.BackupRequested = false;
  LoadTexts();
  try {
    FLanguageCode = GetLanguageCode();
  } catch (const ELanguageCodeError&) {
    // No code for the user's language: the base texts stay.
    FLanguageCode.clear();
  }
  // 13.
  ParamsFilePath = HandOverFilePath(ExpandEnvironment("%TEMP%"), ProgramPath());
  FStartTime = ProcessStartTime();
  // Only now the window (which a second start or a loader finds) and the icon
  // (which the user clicks) come to be: what they reach is ready.
  lblCurrent->Show();
  lblCurrentStatus->Show();
  lblNow->Show();
  FTrayIcon->SetActive(true);
  // Set once active, so that the application goes to the tray (no taskbar
  // button) as it leaves the taskbar.
  FTrayIcon->SetVisibility(TrayVis(tvVisibleTaskList) | TrayVis(tvAutoHide));
  // 14. The command words are looked for in the arguments, not in the
  // program's own path.
  if (FindCmdLineSwitch("min")) {
    if (!FindCmdLineSwitch("nosplash")) ShowSplashWindow(false);
    if (FindCmdLineSwitch("monitor")) Show();
  } else {
    const std::string line = GetCommandLineA();
    if (HandleCommandWords(line.substr(SkipProgramName(line)))) LaunchJavaGui("", false);
  }
  // 15. Copies an installer left behind.
  TStringList list;
  FindFiles(ProgramFolder(), ExtractFileName(ProgramPath()) + ".bak*", false, list);
  if (list.Count() > 0) {
    for (const std::string& name : list.Items()) DeleteFileA((ProgramFolder() + "\\" + name).c_str());
    list.Clear();
    FindFiles(ProgramFolder(), ExtractFileName(ProgramPath()) + ".bak*", false, list);
  }
  FNoBackupCopiesAtStart = list.Count() == 0;
  FCreated = true;
}

void TfrmServiceStatus::LoadTexts() {
  FBrandLongName = GetSecondaryResourceString("brandLongName");
  CancelBackup1->Caption = Text("RUNNER_MENU_Cancel");
  menBackupNow->Caption = Text("RUNNER_MENU_Backup");
  menExit->Caption = Text("RUNNER_MENU_Exit");
  menOpen->Caption = Text("RUNNER_MENU_Open");
  About1->Caption = Text("RUNNER_MENU_About");
  mnuOptions->Caption = Text("RUNNER_MENU_Notification");
  mnuNotifyonSuccess->Caption = Text("RUNNER_MENU_Success");
  mnuNotifyonFailure->Caption = Text("RUNNER_MENU_Failure");
  mnuNotifyonWarnings->Caption = Text("RUNNER_MENU_Warning");
  LoadDayNames();
  FNoAgentText = Text("RUNNER_Hint_NoSrc");
  FDisabledText = Text("RUNNER_Automatic_backups_disabled");
}

void TfrmServiceStatus::GetTrayCornerPosition(int& left, int& top) {
  HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
  RECT r{};
  bool found = tray && GetWindowRect(tray, &r);
  TCornerPosition p = TrayCornerPosition(found, r.left, r.top, r.right, r.bottom, GetSystemMetrics(SM_CXSCREEN),
                                         GetSystemMetrics(SM_CYSCREEN), Width(), Height());
  left = p.Left;
  top = p.Top;
}

void TfrmServiceStatus::SetTrayIcons(int index) {
  if (index < 0) {
    FTrayIcon->SetIcons(imglBackingUp);
    FTrayIcon->SetAnimated(true);
  } else {
    FTrayIcon->SetAnimated(false);
    FTrayIcon->SetIcons(imglMain);
    FTrayIcon->SetIconIndex(index);
  }
}

void TfrmServiceStatus::LoadBrandIcon(int n, TCustomImageList* list) {
  std::string path = ProgramFolder() + "\\brand\\images\\" + "Runner" + std::to_string(n) + ".ico";
  TIcon icon;
  HANDLE h = LoadImageA(nullptr, path.c_str(), IMAGE_ICON, list->Width(), list->Height(), LR_LOADFROMFILE);
  // A missing or unreadable icon file leaves the application's icon in its
  // place, so the positions in the list stay what the status display expects.
  icon.SetHandle(h ? static_cast<HICON>(h) : CopyIcon(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION))));
  list->AddIcon(&icon);
}

void TfrmServiceStatus::LoadBusyIcons() {
  imglBackingUp->Clear();
  for (int n : {1, 3, 4, 5, 6, 5, 4, 3}) LoadBrandIcon(n, imglBackingUp);
}

void TfrmServiceStatus::LoadMainIcons() {
  imglMain->Clear();
  LoadBrandIcon(1, imglMain);
  LoadBrandIcon(2, imglMain);
}

void TfrmServiceStatus::ShowSplashWindow(bool modal) {
  SetForegroundWindow(Handle());
  ShowSplashForm(modal);
}

void TfrmServiceStatus::FormShow(TObject*) { Application()->SetTitle(Text("RUNNER_Title")); }

void TfrmServiceStatus::FormHide(TObject*) { Application()->SetTitle(""); }

void TfrmServiceStatus::FormClose(TObject* Sender, TCloseAction& Action) { FormCloseHandler(Sender, Action); }

void TfrmServiceStatus::FormCloseHandler(TObject*, TCloseAction& Action) {
  if (FClosing) {
    StopStateThread();
    FreeStatusLock();
    return;
  }
  Action = caNone;
  Hide();
}

void TfrmServiceStatus::FormDestroy(TObject*) {
  // The user's commands taken so far are still sent, for a moment; any other
  // exchange in flight is given up, and answers still due are dropped.
  if (FCommands) FCommands->Finish(kCommandsAtEndMs);
  delete FRequests;
  FRequests = nullptr;
  delete FCommands;
  FCommands = nullptr;
  delete FSchedule;
  FSchedule = nullptr;
}

void TfrmServiceStatus::TerminateStateThread() {
  if (FStateThread) FStateThread->Terminate();
}

void TfrmServiceStatus::StopStateThread() {
  delete FStateThread;  // waits for its end
  FStateThread = nullptr;
}

TfrmServiceStatus::TDialogScope::TDialogScope(TfrmServiceStatus& form)
    : FForm(form), FResume(form.FTickDepth > 0 && !form.Timer->Enabled()) {
  if (FResume) FForm.Timer->SetEnabled(true);
}

TfrmServiceStatus::TDialogScope::~TDialogScope() {
  if (FResume && !FForm.FClosing) FForm.Timer->SetEnabled(false);
}

void TfrmServiceStatus::QuitProgram() {
  FClosing = true;
  TerminateStateThread();
  Timer->SetEnabled(false);
  FTrayIcon->SetActive(false);
  Application()->Terminate();
}

void TfrmServiceStatus::ShowStatusError(const std::string& message) { lblNow->SetCaption(message); }

void TfrmServiceStatus::TerminateApplication() { Application()->Terminate(); }

void TfrmServiceStatus::LaunchJavaGui(const std::string& extra, bool noArguments) {
  std::string commandLine;
  om::LaunchJavaGui(static_cast<TConsoleHost&>(*this), commandLine, extra, noArguments);
}

// --- What the console launch asks of the form --------------------------------

uint32_t TfrmServiceStatus::ConsoleProcessId() {
  return FConsoleProcess->Waiting() ? FConsoleProcess->ProcessId() : 0;
}

void TfrmServiceStatus::LaunchConsoleProcess(const std::string& commandLine, const std::string& folder) {
  FConsoleProcess->CommandLine = commandLine;
  FConsoleProcess->CurrentDirectory = folder;
  FConsoleProcess->LaunchProcess();
}

void TfrmServiceStatus::BringFormToFront() { SetForegroundWindow(Handle()); }

void TfrmServiceStatus::ShowMessage(const std::string& text) {
  TDialogScope dialog(*this);
  MessageBoxA(nullptr, text.c_str(), Application()->Title().c_str(), MB_OK | MB_TASKMODAL | MB_TOPMOST);
}

void TfrmServiceStatus::ShowWarning(const std::string& text) {
  TDialogScope dialog(*this);
  MessageBoxA(nullptr, text.c_str(), Application()->Title().c_str(), MB_OK | MB_ICONWARNING | MB_TASKMODAL | MB_TOPMOST);
}

void TfrmServiceStatus::SetApplicationTitle(const std::string& title) { Application()->SetTitle(title); }

void TfrmServiceStatus::ShowBalloon(const std::string& title, const std::string& text) {
  FTrayIcon->ShowBalloon(title, text, btInfo, 10000, true);
}

void TfrmServiceStatus::HideBalloons() { FTrayIcon->HideBalloons(); }

void TfrmServiceStatus::ProcessMessages() { Application()->ProcessMessages(); }

void TfrmServiceStatus::SetBusyCursor(bool busy) {
  SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(busy ? IDC_APPSTARTING : IDC_ARROW)));
}

std::vector<std::string> TfrmServiceStatus::ProgramArguments() {
  std::vector<std::string> args = ProgramParams();
  if (!args.empty()) args.erase(args.begin());
  return args;
}

void TfrmServiceStatus::ListBackupCopies(TStringList& list) {
  list.Clear();
  FindFiles(ProgramFolder(), ExtractFileName(ProgramPath()) + ".bak*", false, list);
}

void TfrmServiceStatus::TimerTimer(TObject*) {
  // Nothing before the form is complete.
  if (!FCreated) return;
  Timer->SetEnabled(false);
  ++FTickDepth;
  TStringList scratch;
  try {
    ListBackupCopies(scratch);
    if (FNoBackupCopiesAtStart && FileExists(ProgramPath()) && scratch.Count() > 0) {
      // An installer moved this program aside and put a new one in its place.
      FTrayIcon->SetIconShown(false);
      Application()->ProcessMessages();
      Sleep(2000);
      FConsoleProcess->DetachFromProcess();
      FConsoleProcess->CommandLine = "\"" + ProgramPath() + "\" -min -nosplash -upgrade";
      FConsoleProcess->CurrentDirectory = ProgramFolder();
      FConsoleProcess->SetWaitForTerminate(false);
      FConsoleProcess->LaunchProcess();
      QuitProgram();
    } else {
      if (!FNoBackupCopiesAtStart) {
        for (const std::string& name : scratch.Items()) DeleteFileA((ProgramFolder() + "\\" + name).c_str());
        ListBackupCopies(scratch);
        FNoBackupCopiesAtStart = scratch.Count() == 0;
      }
      Sleep(0);
      ProcessHandOverFile(*this, ParamsFilePath, FStartTime);
      if (!FClosing) {
        Sleep(0);
        if (!FConnectionFilePresent) FConnectionFilePresent = FileExists(ProgramFolder() + "\\connection.properties");
        UpdateStatusHint();
      }
    }
  } catch (const std::exception& e) {
    lblNow->SetCaption(e.what());
  }
  --FTickDepth;
  if (!FClosing) Timer->SetEnabled(true);
}

// --- Status display --------------------------------------------------------

uint8_t TfrmServiceStatus::RefreshServiceState() {
  const uint8_t cur = GetServiceState();
  const bool reconnected = (FPreviousState == ssNotReachable && cur != ssNotReachable) ||
                           (FPreviousState == ssConnecting && cur != ssNotReachable && cur != ssConnecting);
  // Taken before the agent is asked: whoever reads the state while the answer
  // is due reads it as it is, and asks nothing again.
  FPreviousState = cur;
  if (reconnected) {
    FPermissionPending = true;
    QueryAgent(cmdMenuPermission, [this](std::optional<uint8_t> answer) {
      FPermissionPending = false;
      ApplyMenuPermission(answer);
      RefreshSettingsIfDue(GetServiceState());
    });
  }
  return cur;
}

void TfrmServiceStatus::ApplyMenuPermission(std::optional<uint8_t> answer) {
  // A failed exchange leaves the entries as they are.
  if (!answer) return;
  try {
    FMenuPermission = *answer == 1;
    if (*answer == 1) {
      CancelBackup1->Visible = true;
      mnuOptions->Visible = true;
      FMenuOptionsAllowed = true;
    } else {
      ReadMenuPolicy();
      CancelBackup1->Visible = FCancelAllowed;
      mnuOptions->Visible = FMenuOptionsAllowed;
    }
  } catch (const std::exception&) {
    // A policy file missing: the entries keep their visibility.
  }
}

void TfrmServiceStatus::ReadMenuPolicy() { om::ReadMenuPolicy(ProgramFolder(), FCancelAllowed, FMenuOptionsAllowed); }

void TfrmServiceStatus::UpdateStatusHint() {
  actExit->SetEnabled(!FConsoleProcess->Waiting());
  uint8_t cur = RefreshServiceState();
  if (cur == ssNotReachable || cur == ssConnecting) ++FDisconnectedCompositions;
  for (; FBackupsOnceKnown > 0 && cur != ssConnecting; --FBackupsOnceKnown)
    if (SilentBackupAllowed(cur)) SendAgentCommand(cmdBackupNow);
  RefreshSettingsIfDue(cur);
  TNotificationCopy n = GetNotification();
  if (auto balloon = NotificationBalloon(n, FLastNotificationStamp))
    QueueNotification(FBrandLongName, n.Text, balloon->Kind, balloon->Seconds);

  TComposeInput in;
  in.Cur = cur;
  in.ConnectionFilePresent = FConnectionFilePresent;
  in.Now = NowLocal();
  in.LastBackupTime = [] { return GetLastBackupTime(); };
  in.NextBackupTime = [] { return GetNextBackupTime(); };
  in.BrandLongName = FBrandLongName;
  in.NoAgentText = FNoAgentText;
  in.DisabledText = FDisabledText;
  in.Text = [](const std::string& key) { return GetResourceString(key); };
  in.DayName = [](int i) { return DayNames().at(static_cast<size_t>(i)); };
  FComposer.DayOfWeek = FDayOfWeek;
  TStatusView view = ComposeStatus(FComposer, in);
  FDayOfWeek = FComposer.DayOfWeek;
  ApplyView(view);
  if (view.AskEmptySelection && !IsGuiInForeground(*this)) {
    bool yes;
    {
      TDialogScope dialog(*this);
      yes = Confirm(Text("RUNNER_Backup_Empty"));
    }
    if (yes) LaunchJavaGui("", true);
  }
  actLMain->UpdateActions();
}

void TfrmServiceStatus::RefreshSettingsIfDue(uint8_t cur) {
  // Once the menu permission is known; a refresh under way (its profiling
  // dialog open, perhaps) is not started again.
  if (FComposer.SettingsRefreshDue && cur != ssNotReachable && cur != ssConnecting && !FRefreshingSettings &&
      !FPermissionPending)
    RefreshSettings();
}

void TfrmServiceStatus::RefreshSettings() {
  // One request after the other: the profiling user (unless the agent granted
  // the menu permission), the notification switches, the client version.
  FRefreshingSettings = true;
  const unsigned disconnected = FDisconnectedCompositions;
  auto versionChecked = [this, disconnected] {
    if (FDisconnectedCompositions == disconnected) FComposer.SettingsRefreshDue = false;
    FRefreshingSettings = false;
  };
  auto profilingChecked = [this, versionChecked] {
    ReadNotificationSwitches([this, versionChecked] { CheckClientVersion(versionChecked); });
  };
  try {
    if (FMenuPermission) profilingChecked();
    else CheckProfilingUser(profilingChecked);
  } catch (...) {
    FRefreshingSettings = false;
    throw;
  }
}

void TfrmServiceStatus::ReadNotificationSwitches(std::function<void()> then) {
  FRequests->Post([this, then](TClientComms& comms) -> TAgentRequests::TDone {
    const bool success = comms.GetBooleanSetting("runner.displaysuccess", true, true);
    const bool warnings = comms.GetBooleanSetting("runner.displaywarning", true, true);
    const bool failures = comms.GetBooleanSetting("runner.displayfailure", true, false);
    return [this, then, success, warnings, failures] {
      mnuNotifyonSuccess->Checked = success;
      mnuNotifyonWarnings->Checked = warnings;
      mnuNotifyonFailure->Checked = failures;
      then();
    };
  });
}

void TfrmServiceStatus::ApplyView(const TStatusView& v) {
  if (v.NotifyTimerOff) NotifyTimer->SetEnabled(false);
  if (v.Tip) FTrayIcon->SetHint(*v.Tip);
  if (v.CurrentStatus) lblCurrentStatus->SetCaption(*v.CurrentStatus);
  if (v.Current) lblCurrent->SetCaption(*v.Current);
  if (v.Now) lblNow->SetCaption(*v.Now);
  if (v.GaugePosition) Gauge->SetProgress(*v.GaugePosition);
  if (v.GaugeVisible) Gauge->SetVisible(*v.GaugeVisible);
  switch (v.Icon) {
    case iaMain: SetTrayIcons(0); break;
    case iaBusy: SetTrayIcons(-1); break;
    case iaNotReachable: SetTrayIcons(1); break;
    case iaNone: break;
  }
}

void TfrmServiceStatus::QueueNotification(const std::string& title, const std::string& text, int kind, int seconds) {
  NotifyTimer->SetEnabled(false);
  if (!BalloonAllowed(kind, mnuNotifyonSuccess->Checked, mnuNotifyonWarnings->Checked, mnuNotifyonFailure->Checked,
                      FMenuOptionsAllowed))
    return;
  FPendingBalloonTitle = title;
  FPendingBalloonText = text;
  FPendingBalloonKind = kind;
  FPendingBalloonSeconds = seconds;
  NotifyTimer->SetEnabled(true);
}

void TfrmServiceStatus::NotifyTimerTimer(TObject*) {
  NotifyTimer->SetEnabled(false);
  FTrayIcon->ShowBalloon(FPendingBalloonTitle, FPendingBalloonText, static_cast<TTrayBalloonIcon>(FPendingBalloonKind),
                         static_cast<unsigned>(FPendingBalloonSeconds) * 1000u, true);
  SetTrayIcons(0);
  // Error and warning balloons leave the two main icons alternating.
  FTrayIcon->SetAnimated(FPendingBalloonKind != bkInfo);
}

void TfrmServiceStatus::CheckClientVersion(std::function<void()> then) {
  FRequests->Post([this, then](TClientComms& comms) -> TAgentRequests::TDone {
    std::string v;
    TClientVersionAction a;
    try {
      v = comms.GetClientVersion();
      if (!v.empty()) {
        a = ClientVersionAction(v, comms.GetSetting("runner.last_known_client_version", "", false));
        if (a.Store) comms.SetSetting("runner.last_known_client_version", v);
      }
    } catch (const std::exception&) {
      a = TClientVersionAction();
    }
    return [this, then, v, a] {
      if (a.Store) QueueNotification(FBrandLongName, ReplaceFirstPlaceholder(Text(a.TextKey), v), bkInfo, 30);
      then();
    };
  });
}

void TfrmServiceStatus::ToggleSetting(TMenuItem* item, const std::string& key) {
  item->Checked = !item->Checked;
  const bool value = item->Checked;
  FRequests->Post([key, value](TClientComms& comms) {
    comms.SetBooleanSetting(key, value);
    return TAgentRequests::TDone();
  });
}

void TfrmServiceStatus::mnuNotifyonSuccessClick(TObject*) { ToggleSetting(mnuNotifyonSuccess, "runner.displaysuccess"); }
void TfrmServiceStatus::mnuNotifyonFailureClick(TObject*) { ToggleSetting(mnuNotifyonFailure, "runner.displayfailure"); }
void TfrmServiceStatus::mnuNotifyonWarningsClick(TObject*) {
  ToggleSetting(mnuNotifyonWarnings, "runner.displaywarning");
}

// --- Window messages -------------------------------------------------------

void TfrmServiceStatus::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case kControlMessage:
      HandleControlMessage(*this, Message.WParam, Message.LParam);
      return;
    case WM_COPYDATA:
      Message.Result = HandleCopyDataMessage(*this, reinterpret_cast<const void*>(Message.LParam)) ? TRUE : FALSE;
      return;
    case WM_SIZE:
      TForm::WndProc(Message);
      // The gauge is anchored left and right.
      if (Gauge && Message.WParam != SIZE_MINIMIZED)
        Gauge->SetBounds(kGaugeLeft, Gauge->Top(), LOWORD(Message.LParam) - kGaugeLeft - kGaugeRightMargin,
                         Gauge->Height());
      return;
    case WM_CLOSE:
      if (HandleCloseMessage(*this, Message.LParam)) return;
      break;
    case WM_SHOWWINDOW:
      if (Message.WParam) FormShow(this);
      else FormHide(this);
      break;
    case WM_GETMINMAXINFO: {
      auto* mm = reinterpret_cast<MINMAXINFO*>(Message.LParam);
      TForm::WndProc(Message);
      mm->ptMinTrackSize.x = 228;
      mm->ptMaxTrackSize.x = 400;
      mm->ptMinTrackSize.y = 94;
      mm->ptMaxTrackSize.y = 104;
      return;
    }
    case WM_CONTEXTMENU: {
      POINT p{static_cast<short>(LOWORD(Message.LParam)), static_cast<short>(HIWORD(Message.LParam))};
      if (p.x == -1 && p.y == -1) GetCursorPos(&p);
      Popup->Popup(p.x, p.y);
      return;
    }
    default:
      break;
  }
  TForm::WndProc(Message);
}

// --- Program body ----------------------------------------------------------

namespace {

// The units the program runs on, in the order they start: the support
// library's, the hash library's (before the program's own), the message
// resources. Units without a shut-down of their own have none here.
struct TProgramUnit {
  void (*Startup)();
  void (*Shutdown)();
};
const TProgramUnit kProgramUnits[] = {
    {InitializeStringsUnit, FinalizeStringsUnit},
    {InitializeSysUtilsUnit, FinalizeSysUtilsUnit},
    {InitializeUnicodeUnit, FinalizeUnicodeUnit},
    {InitializeCharStepUnit, nullptr},
    {InitializeTextDrawingUnit, nullptr},
    {InitializeSysInfoUnit, FinalizeSysInfoUnit},
    {InitializeRttiUnit, FinalizeRttiUnit},
    {InitializeAppStorageUnit, FinalizeAppStorageUnit},
    {InitializeRegistryTimeZonesUnit, FinalizeRegistryTimeZonesUnit},
    {HashLibraryStartup, HashLibraryShutdown},
    {InitResources, FreeResources},
};

// The units that started end, in the reverse order, when it goes (also when
// the program body raises).
struct TProgramUnitsScope {
  size_t Started = 0;
  ~TProgramUnitsScope() {
    while (Started > 0) {
      const TProgramUnit& unit = kProgramUnits[--Started];
      if (unit.Shutdown) unit.Shutdown();
    }
  }
};

}  // namespace

int RunTrayProgram() {
  TProgramUnitsScope units;
  for (const TProgramUnit& unit : kProgramUnits) {
    unit.Startup();
    ++units.Started;
  }
  SetPhysicalMemoryQuery(&physicalMemoryTotal);
  HandleStartupSwitches();
  if (SkipInterface) return static_cast<int>(StartupExitCode);
  Application()->SetTitle("Backup Client");
  Application()->ShowMainForm = false;
  auto* form = new TfrmServiceStatus(Application());
  Application()->SetMainForm(form);
  form->TrayIcon()->MinimizeToTray();
  Application()->Run();
  FreeApplication();
  FreeStatusLock();
  return static_cast<int>(StartupExitCode);
}

}  // namespace om
