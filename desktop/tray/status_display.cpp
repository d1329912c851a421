#include "tray/status_display.h"

#include <cmath>
#include <cstdio>

#include "framework/stringlist.h"
#include "framework/strutils.h"
#include "hash/hashes.h"
#include "hash/protection.h"
#include "tray/handover.h"
#include "tray/tray_platform.h"

namespace om {

// --- Dates -------------------------------------------------------------------

namespace {

struct TCivil {
  int Year, Month, Day, Hour, Minute, Second;
};

TCivil Decode(TDateTime t) {
  double whole = std::floor(t);
  int64_t days = static_cast<int64_t>(whole) - 25569;  // days since 1970-01-01
  int64_t ms = static_cast<int64_t>(std::llround((t - whole) * 86400000.0));
  if (ms >= 86400000) {
    ms -= 86400000;
    ++days;
  }
  // Civil date from a day count (proleptic Gregorian).
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  TCivil c;
  c.Year = static_cast<int>(y);
  c.Month = static_cast<int>(m);
  c.Day = static_cast<int>(d);
  int64_t secs = ms / 1000;
  c.Hour = static_cast<int>(secs / 3600);
  c.Minute = static_cast<int>(secs / 60 % 60);
  c.Second = static_cast<int>(secs % 60);
  return c;
}

}  // namespace

int DayOfTheWeek(TDateTime t) {
  int64_t d = static_cast<int64_t>(std::floor(t));
  // Day 0 (1899-12-30) was a Saturday.
  int64_t r = ((d - 2) % 7 + 7) % 7;
  return static_cast<int>(r) + 1;
}

std::string FormatHourMinuteAmPm(TDateTime t) {
  TCivil c = Decode(t);
  int h = c.Hour % 12;
  if (h == 0) h = 12;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d %s", h, c.Minute, c.Hour < 12 ? "AM" : "PM");
  return buf;
}

std::string FormatDateTimePortable(TDateTime t) {
  TCivil c = Decode(t);
  int h = c.Hour % 12;
  if (h == 0) h = 12;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d/%d/%d %d:%02d:%02d %s", c.Month, c.Day, c.Year, h, c.Minute, c.Second,
                c.Hour < 12 ? "AM" : "PM");
  return buf;
}

std::function<std::string(TDateTime)> FormatDefaultDateTime = FormatDateTimePortable;

bool DayChanged(int& dayOfWeek, TDateTime now) {
  int today = DayOfTheWeek(now);
  if (today == dayOfWeek) return false;
  dayOfWeek = today;
  return true;
}

// --- Tip, notifications ------------------------------------------------------

std::string TrayTipText(const std::string& hint) {
  if (hint.size() <= 120) return hint;
  return hint.substr(0, kTrayTipLength - 3) + "...";
}

std::string TrimText(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::optional<TBalloonRequest> NotificationBalloon(const TNotificationCopy& n, int64_t& lastStamp) {
  if (n.ChangeCount <= 1 || n.Stamp == lastStamp) return std::nullopt;
  lastStamp = n.Stamp;
  switch (n.Kind) {
    case 1: return TBalloonRequest{bkInfo, 9};
    case 2: return TBalloonRequest{bkWarning, 86400};
    case 3: return TBalloonRequest{bkError, 86400};
    default: return std::nullopt;
  }
}

bool BalloonAllowed(int kind, bool onSuccess, bool onWarnings, bool onFailures, bool menuOptionsAllowed) {
  return (kind == bkInfo && onSuccess) || (kind == bkWarning && onWarnings) || (kind == bkError && onFailures) ||
         !menuOptionsAllowed;
}

TClientVersionAction ClientVersionAction(const std::string& version, const std::string& last) {
  TClientVersionAction a;
  if (version.empty()) return a;
  if (last.empty()) {
    a.Store = true;
    a.TextKey = "RUNNER_Hint_Installation_Success";
  } else if (last != version) {
    a.Store = true;
    a.TextKey = "RUNNER_Hint_Auto_Update_Success";
  }
  return a;
}

std::string ReplaceFirstPlaceholder(const std::string& text, const std::string& value) {
  size_t p = text.find("%s");
  if (p == std::string::npos) return text;
  return text.substr(0, p) + value + text.substr(p + 2);
}

// --- The status composition --------------------------------------------------

TStatusView ComposeStatus(TComposerState& st, const TComposeInput& in) {
  TStatusView v;
  auto text = [&](const char* key) { return in.Text ? in.Text(key) : std::string(key); };
  std::string hint = in.BrandLongName + kCrLf;
  uint8_t cur = in.Cur;
  switch (cur) {
    case ssIdle:
    case ssIdleBusy:
    case ssLastBackupFailed:
    case ssSelectionEmpty: {
      hint = TrimText(hint);
      v.CurrentStatus = hint;
      if (in.ConnectionFilePresent) {
        bool dayChanged = false;
        if (cur == ssLastBackupFailed) {
          st.LastBackupText = std::string(kCrLf) + text("RUNNER_Last_Backup") + " " + text("RUNNER_Last_Backup_Fail");
        } else {
          TDateTime t = in.LastBackupTime ? in.LastBackupTime() : 0;
          bool rebuild = t > st.CachedLastBackup;
          if (!rebuild) rebuild = dayChanged = DayChanged(st.DayOfWeek, in.Now);
          if (rebuild) {
            st.CachedLastBackup = t;
            std::string when;
            double day = std::floor(t), today = std::floor(in.Now);
            if (day == today) when = FormatHourMinuteAmPm(t) + " " + text("RUNNER_today");
            else if (day == today - 1) when = FormatHourMinuteAmPm(t) + " " + text("RUNNER_yesterday");
            else when = FormatDefaultDateTime(t);
            st.LastBackupText = std::string(kCrLf) + text("RUNNER_Last_Backup") + " " + when;
          }
        }
        v.Current = TrimText(st.LastBackupText);
        hint += st.LastBackupText;
        TDateTime n = in.NextBackupTime ? in.NextBackupTime() : -1;
        if (n <= -1) {
          hint += std::string(kCrLf) + in.DisabledText;
        } else {
          if (n != st.CachedNextBackup || dayChanged) {
            st.CachedNextBackup = n;
            try {
              std::string day = DayOfTheWeek(n) == DayOfTheWeek(in.Now)
                                    ? text("RUNNER_today")
                                    : (in.DayName ? in.DayName(DayOfTheWeek(n) - 1) : std::string());
              st.NextBackupText = text("RUNNER_Next_Backup") + " " + day + " " + FormatHourMinuteAmPm(n);
            } catch (const std::exception&) {
              st.NextBackupText = text("RUNNER_Error_computing_next_backup");
            }
          }
          hint += std::string(kCrLf) + st.NextBackupText;
          v.Now = st.NextBackupText;
        }
      } else {
        v.Now = std::string();
      }
      v.Tip = TrayTipText(hint);
      v.GaugeVisible = false;
      v.GaugePosition = 0;
      if (cur == ssIdle) v.Icon = iaMain;
      if (st.LastComposedState != cur) {
        v.Icon = iaMain;
        bool ended = st.LastComposedState == ssBackingUp || st.LastComposedState == ssConnecting ||
                     st.LastComposedState == ssUpdatingCache;
        if (ended && cur == ssSelectionEmpty && st.BackupRequested) v.AskEmptySelection = true;
        if (ended) st.BackupRequested = false;
      }
      break;
    }
    case ssBackingUp:
    case ssRestoring:
    case ssUpdatingCache: {
      v.Icon = iaBusy;
      std::string caption = cur == ssBackingUp       ? text("RUNNER_Hint_Backup")
                            : cur == ssUpdatingCache ? text("B_D_Updating_local_cache")
                                                     : text("RUNNER_Hint_Restore");
      v.CurrentStatus = caption;
      v.Tip = hint + caption;
      break;
    }
    case ssHealthCheck: {
      v.GaugePosition = 0;
      v.GaugeVisible = true;
      v.Icon = iaBusy;
      std::string caption = text("RUNNER_Hint_Health_check");
      v.CurrentStatus = caption;
      v.Tip = hint + caption;
      v.Current = std::string();
      v.Now = std::string();
      break;
    }
    case ssNotReachable:
      v.NotifyTimerOff = true;
      v.Tip = in.BrandLongName + kCrLf + in.NoAgentText;
      v.CurrentStatus = in.NoAgentText;
      v.Current = std::string();
      v.Now = std::string();
      v.GaugeVisible = false;
      v.GaugePosition = 0;
      v.Icon = iaNotReachable;
      st.SettingsRefreshDue = true;
      break;
    case ssConnecting:
      v.Tip = in.BrandLongName;
      v.CurrentStatus = in.BrandLongName;
      v.Current = std::string();
      v.Now = std::string();
      v.GaugeVisible = false;
      v.GaugePosition = 0;
      st.SettingsRefreshDue = true;
      break;
    case ssUpdating:
      v.GaugePosition = 0;
      v.GaugeVisible = true;
      v.Tip = hint + kCrLf + " " + std::to_string(0) + text("RUNNER_Progress");
      v.Icon = iaBusy;
      v.CurrentStatus = text("RUNNER_Hint_Updating");
      v.Current = std::string();
      v.Now = std::string();
      break;
    default:
      break;
  }
  if (cur != ssUpdating && st.LastComposedState != cur) st.LastComposedState = cur;
  return v;
}

// --- Command words -----------------------------------------------------------

TCommandWordsPlan PlanCommandWords(const std::string& text, bool connectionFilePresent, uint8_t serviceState) {
  TCommandWordsPlan p;
  std::string t = LowerCaseAscii(text);
  p.ShowMonitor = t.find("monitor") != std::string::npos;
  if (t.find("backupnow") == std::string::npos) {
    p.OpenConsole = true;
    return p;
  }
  bool silent = HandOverIsSilent(text);
  p.OpenConsole = !silent;
  if (silent && connectionFilePresent) {
    p.SendBackup = SilentBackupAllowed(serviceState);
    p.BackupOnceKnown = serviceState == ssConnecting;
  }
  return p;
}

bool SilentBackupAllowed(uint8_t serviceState) {
  return serviceState == ssIdle || serviceState == ssIdleBusy || serviceState == ssLastBackupFailed ||
         serviceState == ssSelectionEmpty;
}

// --- Menu policy -------------------------------------------------------------

void RemoveChar(std::string& text, char c) {
  std::string out;
  out.reserve(text.size());
  for (char x : text)
    if (x != c) out += x;
  text.swap(out);
}

namespace {

void LoadDecoded(const std::string& path, TStringList& decoded) {
  TStringList raw;
  raw.LoadFromFile(path);
  for (const std::string& l : raw.Items()) decoded.Add(Utf8ToAnsi(l));
}

}  // namespace

bool PolicyHashMismatch(const std::string& folder) {
  TStringList defaults;
  LoadDecoded(folder + kPathDelim + "defaults.properties", defaults);
  TStringList policy;
  policy.LoadFromFile(folder + kPathDelim + "system2.properties");
  std::string stored = defaults.Values("HASH");
  if (stored.empty()) return true;
  RemoveChar(stored, '\\');
  std::string digest = THash::CalcStringDigest(THash_MD5::ClassInfo, policy.Text(), nullptr, -1);
  return !SameText(stored, digest);
}

void ReadMenuPolicy(const std::string& folder, bool& cancelAllowed, bool& menuOptionsAllowed) {
  if (PolicyHashMismatch(folder)) {
    cancelAllowed = false;
    menuOptionsAllowed = false;
    return;
  }
  TStringList policy;
  LoadDecoded(folder + kPathDelim + "system2.properties", policy);
  cancelAllowed = SameText(policy.Values("cancelbackup"), "ON");
  menuOptionsAllowed = SameText(policy.Values("option"), "ON");
}

// --- Profiling prompt --------------------------------------------------------

TProfilingPlan PlanProfilingUser(const std::string& user, const std::string& domain, const std::string& computer,
                                 const std::string& storedName, const std::string& on, const std::string& ask) {
  TProfilingPlan p;
  p.ProfileName = domain + "." + user;
  if (storedName.empty()) {
    p.Kind = TProfilingPlan::pkStoreAll;
  } else if (SameText(storedName, p.ProfileName)) {
    p.Kind = TProfilingPlan::pkStoreHome;
  } else if (on == "true" && ask == "true") {
    p.Kind = TProfilingPlan::pkAsk;
    if (!computer.empty() && storedName.find(computer) != std::string::npos)
      p.Items[0] = computer.size() + 1 < storedName.size() ? storedName.substr(computer.size() + 1, 100) : std::string();
    else
      p.Items[0] = storedName;
    p.Items[1] = domain == computer ? user : p.ProfileName;
  }
  return p;
}

// --- Placement ---------------------------------------------------------------

TCornerPosition TrayCornerPosition(bool taskbarFound, int tbLeft, int tbTop, int tbRight, int /*tbBottom*/,
                                   int W, int H, int w, int h) {
  if (!taskbarFound) return {0, 0};
  if (tbTop > H / 2 && tbRight >= W) return {W - w, tbTop - h};
  if (tbLeft >= W / 2) return {tbLeft - w, H - h};
  return {W - w, H - h};
}

}  // namespace om
