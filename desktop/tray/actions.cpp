#include "tray/actions.h"

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

bool TfrmServiceStatus::SendAgentCommand(uint8_t code) {
  bool sent = FComms->SendCommand(code);
  // The next idle state ends this backup for the status display.
  if (sent && code == cmdBackupNow) FComposer.LastComposedState = ssBackingUp;
  return sent;
}

uint8_t TfrmServiceStatus::QueryAgent(uint8_t code) { return FComms->SendQuery(code); }

bool TfrmServiceStatus::ActivateGuiWindow() {
  HWND w = static_cast<HWND>(FindGuiWindow(*this));
  if (w) SetForegroundWindow(w);
  return w != nullptr;
}

bool TfrmServiceStatus::HandleCommandWords(const std::string& text) {
  TCommandWordsPlan plan = PlanCommandWords(text, FConnectionFilePresent, GetServiceState());
  if (plan.ShowMonitor) Show();
  if (plan.SendBackup) SendAgentCommand(cmdBackupNow);
  return plan.OpenConsole;
}

void TfrmServiceStatus::CheckProfilingUser() {
  std::string user = GetLocalUserName();
  std::string domain = GetCurrentUserDomain();
  std::string home = GetProfileFolder();
  std::string name = FComms->GetSetting("profiling.user.name", "", false);
  FComms->GetSetting("profiling.user.home", "", false);
  std::string on = FComms->GetSetting("profiling.on", "", false);
  std::string ask = FComms->GetSetting("profiling.user.ask", "", false);
  TProfilingPlan plan = PlanProfilingUser(user, domain, GetLocalComputerName(), name, on, ask);
  switch (plan.Kind) {
    case TProfilingPlan::pkStoreAll:
      FComms->SetSetting("profiling.user.ask", "true");
      FComms->SetSetting("profiling.user.name", plan.ProfileName);
      FComms->SetSetting("profiling.user.home", home);
      break;
    case TProfilingPlan::pkStoreHome:
      FComms->SetSetting("profiling.user.home", home);
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
      if (dialog->rgUsers->ItemIndex() == 1) {
        FComms->SetSetting("profiling.user.name", plan.ProfileName);
        FComms->SetSetting("profiling.user.home", home);
      }
      if (dialog->cbAsk->Checked()) FComms->SetSetting("profiling.user.ask", "false");
      break;
    }
    case TProfilingPlan::pkNothing:
      break;
  }
}

}  // namespace om
