#include "tray/actions.h"

#include <utility>
#include <vector>

#include "tray/default_user.h"
#include "tray/frmmain.h"
#include "tray/resources.h"

namespace om {

namespace {

std::string Text(const std::string& key) { return GetResourceString(key); }

void DefaultRunDefaultUserDialog(TdlgDefaultUser& dialog) { dialog.ShowModal(); }

}  // namespace

void (*TfrmServiceStatus::RunDefaultUserDialog)(TdlgDefaultUser& dialog) = DefaultRunDefaultUserDialog;

void TfrmServiceStatus::actOpenExecute(TObject*) { LaunchJavaGui("", true); }

void TfrmServiceStatus::actBackupNowExecute(TObject*) {
  uint8_t cur = RefreshServiceState();
  if (cur == ssSelectionEmpty) {
    if (Confirm(Text("RUNNER_Backup_Empty"))) LaunchJavaGui("", true);
    return;
  }
  SendAgentCommand(cmdBackupNow);
  FComposer.BackupRequested = true;
  ActivateGuiWindow();
}

void TfrmServiceStatus::actBackupNowUpdate(TObject*) {
  actCancelBackup->SetVisible(FConnectionFilePresent);
  actBackupNow->SetVisible(FConnectionFilePresent);
  actBackupNow->SetEnabled(GetServiceState() != ssNotReachable);
  if (actBackupNow->Enabled()) {
    uint8_t cur = RefreshServiceState();
    actBackupNow->SetEnabled(cur != ssBackingUp && cur != ssRestoring && cur != ssHealthCheck);
  }
}

void TfrmServiceStatus::actCancelBackupExecute(TObject*) { SendAgentCommand(cmdCancelBackup); }

void TfrmServiceStatus::actCancelBackupUpdate(TObject*) { actCancelBackup->SetEnabled(GetServiceState() == ssBackingUp); }

void TfrmServiceStatus::actAboutExecute(TObject*) { ShowSplashWindow(true); }

void TfrmServiceStatus::actExitExecute(TObject*) {
  FClosing = true;
  TerminateStateThread();
  Timer->SetEnabled(false);
  FTrayIcon->SetActive(false);
  Sleep(1000);
  Application()->Terminate();
}

void TfrmServiceStatus::PopupPopup(TObject*) {
  // The actions settle their state before the menu shows.
  actLMain->UpdateActions();
  menBackupNow->Caption = Text("RUNNER_MENU_Backup");
}

void TfrmServiceStatus::TrayIconClick(TObject*, TMouseButton Button, TShiftState, int X, int Y) {
  if (Button != mbLeft) return;
  SetForegroundWindow(Handle());
  if (FTrayIcon->PopupMenu()) FTrayIcon->PopupMenu()->Popup(X, Y);
  PostMessageA(Handle(), WM_NULL, 0, 0);
}

void TfrmServiceStatus::TrayIconDblClick(TObject*, TMouseButton, TShiftState, int, int) {
  try {
    std::string extra = FTrayIcon->Animated() && FTrayIcon->Icons() == imglMain ? kShowLogArgument : "";
    LaunchJavaGui(extra, true);
  } catch (const std::exception&) {
  }
}

void TfrmServiceStatus::TrayIconBalloonClick(TObject*) {
  FTrayIcon->HideBalloons();
  LaunchJavaGui(kShowLogArgument, true);
}

void TfrmServiceStatus::SendAgentCommand(uint8_t code) {
  FCommands->Post([this, code](TClientComms& comms) -> TAgentRequests::TDone {
    bool sent = false;
    try {
      sent = comms.SendCommand(code);
    } catch (const std::exception&) {
    }
    if (!sent)
      return [this] {
        BringFormToFront();
        ShowMessage(Text("RUNNER_Service_Not_Running"));
      };
    if (code != cmdBackupNow) return nullptr;
    // The next idle state ends this backup for the status display.
    return [this] { FComposer.LastComposedState = ssBackingUp; };
  });
}

void TfrmServiceStatus::QueryAgent(uint8_t code, std::function<void(std::optional<uint8_t>)> answered) {
  FRequests->Post([code, answered](TClientComms& comms) -> TAgentRequests::TDone {
    std::optional<uint8_t> answer;
    try {
      answer = comms.SendQuery(code);
    } catch (const std::exception&) {
    }
    return [answered, answer] { answered(answer); };
  });
}

bool TfrmServiceStatus::ActivateGuiWindow() {
  HWND w = static_cast<HWND>(FindGuiWindow(*this));
  if (w) SetForegroundWindow(w);
  return w != nullptr;
}

bool TfrmServiceStatus::HandleCommandWords(const std::string& text) {
  TCommandWordsPlan plan = PlanCommandWords(text, FConnectionFilePresent, GetServiceState());
  if (plan.ShowMonitor) Show();
  if (plan.SendBackup) SendAgentCommand(cmdBackupNow);
  if (plan.BackupOnceKnown) ++FBackupsOnceKnown;
  return plan.OpenConsole;
}

void TfrmServiceStatus::CheckProfilingUser(std::function<void()> then) {
  const std::string user = GetLocalUserName();
  const std::string domain = GetCurrentUserDomain();
  const std::string home = GetProfileFolder();
  const std::string computer = GetLocalComputerName();
  FRequests->Post([=](TClientComms& comms) -> TAgentRequests::TDone {
    const std::string name = comms.GetSetting("profiling.user.name", "", false);
    comms.GetSetting("profiling.user.home", "", false);
    const std::string on = comms.GetSetting("profiling.on", "", false);
    const std::string ask = comms.GetSetting("profiling.user.ask", "", false);
    const TProfilingPlan plan = PlanProfilingUser(user, domain, computer, name, on, ask);
    return [this, then, plan, home] {
      try {
        ApplyProfilingPlan(plan, home);
      } catch (...) {
        FRefreshingSettings = false;  // asked again at the next tick
        throw;
      }
      then();
    };
  });
}

namespace {

// Writes the settings in order, on the request thread.
TAgentRequests::TWork WriteSettings(std::vector<std::pair<std::string, std::string>> settings) {
  return [settings](TClientComms& comms) {
    for (const auto& s : settings) comms.SetSetting(s.first, s.second);
    return TAgentRequests::TDone();
  };
}

}  // namespace

void TfrmServiceStatus::ApplyProfilingPlan(const TProfilingPlan& plan, const std::string& home) {
  switch (plan.Kind) {
    case TProfilingPlan::pkStoreAll:
      FRequests->Post(WriteSettings(
          {{"profiling.user.ask", "true"}, {"profiling.user.name", plan.ProfileName}, {"profiling.user.home", home}}));
      break;
    case TProfilingPlan::pkStoreHome:
      FRequests->Post(WriteSettings({{"profiling.user.home", home}}));
      break;
    case TProfilingPlan::pkAsk: {
      std::unique_ptr<TdlgDefaultUser> dialog(new TdlgDefaultUser(nullptr));
      dialog->SetCaption(Text("RUNNER_Profile_Title"));
      dialog->lblMessage->SetCaption(Text("RUNNER_Profile_Default_User"));
      dialog->cbAsk->SetCaption(Text("RUNNER_Profile_Ask_Again"));
      dialog->btnOk->SetCaption(Text("Ok"));
      dialog->btnHelp->SetCaption(Text("Help"));
      dialog->lblHelp->SetCaption(Text("RUNNER_Profile_Help"));
      dialog->rgUsers->Items = {plan.Items[0], plan.Items[1]};
      dialog->rgUsers->SetItemIndex(0);
      {
        TDialogScope shown(*this);
        RunDefaultUserDialog(*dialog);
      }
      std::vector<std::pair<std::string, std::string>> answer;
      if (dialog->rgUsers->ItemIndex() == 1)
        answer = {{"profiling.user.name", plan.ProfileName}, {"profiling.user.home", home}};
      if (dialog->cbAsk->Checked()) answer.emplace_back("profiling.user.ask", "false");
      if (!answer.empty()) FRequests->Post(WriteSettings(answer));
      break;
    }
    case TProfilingPlan::pkNothing:
      break;
  }
}

}  // namespace om
