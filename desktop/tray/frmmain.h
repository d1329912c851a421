// The tray monitor's main form: the notification-area icon with its menu and
// balloons, the small always-on-top status window, the one-second tick
// (self-upgrade, hand-over file, status composition) and the user's actions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "framework/actnlist.h"
#include "framework/forms.h"
#include "framework/graphics.h"
#include "framework/menus.h"
#include "framework/stdctrls.h"
#include "framework/stringlist.h"
#include "framework/timer.h"
#include "support/dkformmagnet.h"
#include "support/dktrayicon.h"
#include "tray/agent_requests.h"
#include "tray/client_comms.h"
#include "tray/sched.h"
#include "tray/service_state.h"
#include "tray/status_display.h"
#include "tray/tray_seams.h"

namespace om {

class TdlgDefaultUser;

class TfrmServiceStatus : public TForm, public TTrayHost, public TConsoleHost {
public:
  explicit TfrmServiceStatus(TComponent* AOwner);
  ~TfrmServiceStatus() override;

  // Components, in declaration order.
  TAction* actAbout;
  TAction* actBackupNow;
  TAction* actCancelBackup;
  TAction* actExit;
  TActionList* actLMain;
  TAction* actOpen;
  TMenuItem* CancelBackup1;
  TMenuItem* menBackupNow;
  TMenuItem* menExit;
  TMenuItem* menOpen;
  TMenuItem* About1;
  TMenuItem* N1;
  TGauge* Gauge = nullptr;
  TImageList* imglBackingUp;
  TImageList* imglBackingUpOld;
  TImageList* imglMain;
  TImageList* imglMainOld;
  TLabel* lblCurrent;
  TLabel* lblCurrentStatus;
  TLabel* lblNow;
  TPopupMenu* Popup;
  TTimer* Timer;
  TMenuItem* mnuOptions;
  TMenuItem* mnuNotifyonSuccess;
  TMenuItem* mnuNotifyonFailure;
  TMenuItem* mnuNotifyonWarnings;
  TTimer* NotifyTimer;

  // Event handlers.
  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void FormHide(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void FormDestroy(TObject* Sender);
  void TimerTimer(TObject* Sender);
  void NotifyTimerTimer(TObject* Sender);
  void PopupPopup(TObject* Sender);
  void actOpenExecute(TObject* Sender);
  void actBackupNowExecute(TObject* Sender);
  void actBackupNowUpdate(TObject* Sender);
  void actCancelBackupExecute(TObject* Sender);
  void actCancelBackupUpdate(TObject* Sender);
  void actAboutExecute(TObject* Sender);
  void actExitExecute(TObject* Sender);
  void mnuNotifyonSuccessClick(TObject* Sender);
  void mnuNotifyonFailureClick(TObject* Sender);
  void mnuNotifyonWarningsClick(TObject* Sender);
  void TrayIconClick(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void TrayIconDblClick(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void TrayIconBalloonClick(TObject* Sender);

  // Operations.
  void LoadTexts() override;
  void GetTrayCornerPosition(int& left, int& top);
  void SetTrayIcons(int index) override;
  void LoadBrandIcon(int n, TCustomImageList* list);
  void LoadBusyIcons();
  void LoadMainIcons();
  void ShowSplashWindow(bool modal);
  void QuitProgram() override;
  void UpdateStatusHint();
  uint8_t RefreshServiceState() override;
  void ReadMenuPolicy();
  void QueueNotification(const std::string& title, const std::string& text, int kind, int seconds);
  // The requests to the agent of these run behind the one in flight; then
  // runs when they are done (on this thread).
  void CheckClientVersion(std::function<void()> then);
  void CheckProfilingUser(std::function<void()> then);
  // Sends code to the agent on a connection of its own, ahead of the settings
  // exchanges; when the agent cannot be reached the user is told so.
  void SendAgentCommand(uint8_t code);
  // Asks the agent behind the request in flight; answered gets the reply
  // byte, or nothing when the exchange failed after it was opened.
  void QueryAgent(uint8_t code, std::function<void(std::optional<uint8_t>)> answered);
  bool ActivateGuiWindow();
  bool HandleCommandWords(const std::string& text) override;
  // An error of timer or message work, shown in the status window.
  void ShowStatusError(const std::string& message) override;
  void TerminateApplication() override;
  // The console launch with this form's console process.
  void LaunchJavaGui(const std::string& extra, bool noArguments) override;

  // What the console launch asks of the form.
  uint32_t ConsoleProcessId() override;
  void LaunchConsoleProcess(const std::string& commandLine, const std::string& folder) override;
  void BringFormToFront() override;
  void ShowMessage(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  std::string BrandLongName() override { return FBrandLongName; }
  void SetApplicationTitle(const std::string& title) override;
  std::string LanguageCode() override { return FLanguageCode; }
  void SetLanguageCode(const std::string& code) override { FLanguageCode = code; }
  void ShowBalloon(const std::string& title, const std::string& text) override;
  void HideBalloons() override;
  void ProcessMessages() override;
  void SetBusyCursor(bool busy) override;
  std::vector<std::string> ProgramArguments() override;

  // Fields other units read.
  TAgentRequests* Requests() const { return FRequests; }
  TDkTrayIcon* TrayIcon() const { return FTrayIcon; }
  TConsoleProcess* ConsoleProcess() const { return FConsoleProcess; }
  TDkFormMagnet* Magnet() const { return FMagnet; }
  TSched* Schedule() const { return FSchedule; }
  bool Closing() const { return FClosing; }
  void SetClosing(bool value) { FClosing = value; }
  bool ConnectionFilePresent() const { return FConnectionFilePresent; }
  bool MenuOptionsAllowed() const { return FMenuOptionsAllowed; }
  bool CancelAllowed() const { return FCancelAllowed; }
  bool MenuPermission() const { return FMenuPermission; }
  TComposerState& Composer() { return FComposer; }
  bool NoBackupCopiesAtStart() const { return FNoBackupCopiesAtStart; }
  const std::string& PendingBalloonTitle() const { return FPendingBalloonTitle; }
  const std::string& PendingBalloonText() const { return FPendingBalloonText; }
  int PendingBalloonKind() const { return FPendingBalloonKind; }
  int PendingBalloonSeconds() const { return FPendingBalloonSeconds; }
  TServiceStateThread* StateThread() const { return FStateThread; }

  // The confirmation dialog (Yes: true); replaceable for tests.
  static bool (*Confirm)(const std::string& text);
  // The default-user dialog, run modally; replaceable for tests.
  static void (*RunDefaultUserDialog)(TdlgDefaultUser& dialog);

protected:
  std::string WindowClassName() const override { return "TfrmServiceStatus"; }
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;

private:
  // A dialog shown from the tick lets the tick go on while it is open: status,
  // hand-over files and control messages do not wait for the user.
  class TDialogScope {
  public:
    explicit TDialogScope(TfrmServiceStatus& form);
    ~TDialogScope();

  private:
    TfrmServiceStatus& FForm;
    bool FResume;
  };
  void FormCloseHandler(TObject* Sender, TCloseAction& Action);
  void ListBackupCopies(TStringList& list);
  void TerminateStateThread();
  // Stops the state thread and waits for its end.
  void StopStateThread();
  std::string ProgramPath() const;
  void ApplyView(const TStatusView& view);
  void ToggleSetting(TMenuItem* item, const std::string& key);
  void RefreshSettingsIfDue(uint8_t cur);
  void RefreshSettings();
  void ApplyMenuPermission(std::optional<uint8_t> answer);
  void ApplyProfilingPlan(const TProfilingPlan& plan, const std::string& home);
  void ReadNotificationSwitches(std::function<void()> then);

  // The one-shot requests to the agent (the connection of TClientComms): the
  // settings, the permission and the profiling user; the user's commands
  // (backup, cancel) on their own, so they never wait behind those.
  TAgentRequests* FRequests = nullptr;
  TAgentRequests* FCommands = nullptr;
  std::string FBrandLongName;
  bool FClosing = false;
  TServiceStateThread* FStateThread = nullptr;
  // FormCreate has run to its end; ticks before that do nothing.
  bool FCreated = false;
  // Ticks running (more than one while a dialog of the tick is open).
  int FTickDepth = 0;
  // The settings are being read back; the menu permission is being asked.
  bool FRefreshingSettings = false;
  bool FPermissionPending = false;
  // Compositions that found the agent not connected: a settings refresh
  // during which this changed leaves the next one due.
  unsigned FDisconnectedCompositions = 0;
  // Silent backups asked for before the agent's state was known.
  int FBackupsOnceKnown = 0;
  // When this program started: older hand-over files are not acted on.
  int64_t FStartTime = 0;
  TSched* FSchedule = nullptr;
  bool FMenuOptionsAllowed = false;
  bool FCancelAllowed = false;
  bool FConnectionFilePresent = false;
  int FDayOfWeek = 0;
  uint8_t FPreviousState = ssConnecting;
  bool FNoBackupCopiesAtStart = true;
  std::string FPendingBalloonTitle;
  std::string FPendingBalloonText;
  int FPendingBalloonKind = 0;
  int FPendingBalloonSeconds = 0;
  std::string FLanguageCode;
  TDkFormMagnet* FMagnet = nullptr;
  TDkTrayIcon* FTrayIcon = nullptr;
  TConsoleProcess* FConsoleProcess = nullptr;
  // Status composition (last composed state, backup requested, settings
  // refresh due, cached texts) and the menu permission.
  TComposerState FComposer;
  int64_t FLastNotificationStamp = -1;
  bool FMenuPermission = false;
  std::string FNoAgentText;
  std::string FDisabledText;
  bool FVisibleSeen = false;
};

// Program-wide: the hand-over file path (set by FormCreate).
extern std::string ParamsFilePath;

// The program body: start-up switches, the form, the message loop. Returns
// the process exit code.
int RunTrayProgram();

}  // namespace om
