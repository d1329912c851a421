// The decisions of the status display, free of window calls: the tray tip,
// the texts of the status window, the icon to show, which notifications
// become balloons, the menu policy files, the command words, the profiling
// prompt and where the status window goes. The status form applies them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tray/service_state.h"

namespace om {

// --- Dates -------------------------------------------------------------------

// 1 Monday .. 7 Sunday.
int DayOfTheWeek(TDateTime t);
// "h:nn ampm": hour on the 12-hour clock without leading zero, minutes, AM/PM.
std::string FormatHourMinuteAmPm(TDateTime t);
// The default short date and long time (replaced by the locale's on Windows).
extern std::function<std::string(TDateTime)> FormatDefaultDateTime;
std::string FormatDateTimePortable(TDateTime t);

// True once per change of the weekday; stores the new weekday.
bool DayChanged(int& dayOfWeek, TDateTime now);

// --- Tip, notifications ------------------------------------------------------

constexpr char kCrLf[] = "\r\n";
// Characters a tray tip holds.
constexpr size_t kTrayTipLength = 127;
// Tips of at most 120 characters unchanged, else cut to fit the tip with "..."
// after them.
std::string TrayTipText(const std::string& hint);
std::string TrimText(const std::string& s);

// Balloon kinds of the tray icon.
enum : int { bkError = 1, bkInfo = 2, bkWarning = 3 };

struct TBalloonRequest {
  int Kind = 0;
  int Seconds = 0;
};
// The balloon a notification asks for: only a new stamp after the first
// notification (change count > 1); lastStamp is updated when the stamp is new.
std::optional<TBalloonRequest> NotificationBalloon(const TNotificationCopy& n, int64_t& lastStamp);
// Whether a queued balloon of kind is shown under the notification switches.
bool BalloonAllowed(int kind, bool onSuccess, bool onWarnings, bool onFailures, bool menuOptionsAllowed);

// The client version check: which text to queue (empty: none) when v is the
// agent's version and last the stored one; store says whether to store v.
struct TClientVersionAction {
  bool Store = false;
  std::string TextKey;
};
TClientVersionAction ClientVersionAction(const std::string& version, const std::string& last);
// text with its first "%s" replaced by value.
std::string ReplaceFirstPlaceholder(const std::string& text, const std::string& value);

// --- The status composition --------------------------------------------------

enum TIconAction { iaNone, iaMain, iaBusy, iaNotReachable };

// The state the composition keeps between ticks.
struct TComposerState {
  uint8_t LastComposedState = ssConnecting;
  bool BackupRequested = false;
  bool SettingsRefreshDue = true;
  int DayOfWeek = 0;
  TDateTime CachedLastBackup = 0;
  TDateTime CachedNextBackup = 0;
  std::string LastBackupText;
  std::string NextBackupText;
};

struct TComposeInput {
  uint8_t Cur = 0;
  bool ConnectionFilePresent = false;
  TDateTime Now = 0;
  // Read only in the idle states with the connection file.
  std::function<TDateTime()> LastBackupTime;
  std::function<TDateTime()> NextBackupTime;
  std::string BrandLongName;
  std::string NoAgentText;
  std::string DisabledText;
  std::function<std::string(const std::string&)> Text;  // message resource lookup
  // Monday first.
  std::function<std::string(int)> DayName;
};

// What the form shows; fields left empty stay as they are.
struct TStatusView {
  std::optional<std::string> Tip;
  std::optional<std::string> CurrentStatus;  // lblCurrentStatus
  std::optional<std::string> Current;        // lblCurrent
  std::optional<std::string> Now;            // lblNow
  std::optional<bool> GaugeVisible;
  std::optional<int> GaugePosition;
  TIconAction Icon = iaNone;
  bool NotifyTimerOff = false;
  // Ask the empty-selection question unless the console is in the foreground.
  bool AskEmptySelection = false;
};

// Steps 5 to 7 of one composition (the hint, texts, icon by state).
TStatusView ComposeStatus(TComposerState& state, const TComposeInput& in);

// --- Command words -----------------------------------------------------------

struct TCommandWordsPlan {
  bool ShowMonitor = false;
  bool SendBackup = false;   // send code 1 (silent backup)
  // A silent backup asked for before the agent's state is known: decided by
  // SilentBackupAllowed once it is.
  bool BackupOnceKnown = false;
  bool OpenConsole = false;  // the result: the caller opens the console
};
// A silent backup is sent in this service state.
bool SilentBackupAllowed(uint8_t serviceState);
TCommandWordsPlan PlanCommandWords(const std::string& text, bool connectionFilePresent, uint8_t serviceState);

// --- Menu policy -------------------------------------------------------------

void RemoveChar(std::string& text, char c);
// Raises when a policy file is missing.
bool PolicyHashMismatch(const std::string& folder);
void ReadMenuPolicy(const std::string& folder, bool& cancelAllowed, bool& menuOptionsAllowed);

// --- Profiling prompt --------------------------------------------------------

struct TProfilingPlan {
  enum TKind { pkStoreAll, pkStoreHome, pkAsk, pkNothing } Kind = pkNothing;
  std::string ProfileName;  // domain "." user
  std::string Items[2];     // radio items of the dialog (pkAsk)
};
TProfilingPlan PlanProfilingUser(const std::string& user, const std::string& domain, const std::string& computer,
                                 const std::string& storedName, const std::string& on, const std::string& ask);

// --- Placement ---------------------------------------------------------------

struct TCornerPosition {
  int Left = 0;
  int Top = 0;
};
// Next to the taskbar (left, top, right, bottom); (0, 0) without a taskbar.
TCornerPosition TrayCornerPosition(bool taskbarFound, int tbLeft, int tbTop, int tbRight, int tbBottom,
                                   int screenWidth, int screenHeight, int formWidth, int formHeight);

}  // namespace om
