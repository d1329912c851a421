#include "framework/timer.h"

#include "framework/exceptions.h"
#include "framework/forms.h"

namespace om {

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
  FWindow = AllocateHWnd(MakeMethod<&TTimer::WndProc>(this));
}

TTimer::~TTimer() {
  FEnabled = false;
  UpdateTimer();
  DeallocateHWnd(FWindow);
}

void TTimer::UpdateTimer() {
  KillTimer(FWindow, 1);
  if (FEnabled && FInterval != 0 && FOnTimer.Assigned())
    if (!SetTimer(FWindow, 1, FInterval, nullptr)) throw EOutOfResources("Not enough timers available");
}

void TTimer::SetEnabled(bool value) {
  if (value != FEnabled) {
    FEnabled = value;
    UpdateTimer();
  }
}

void TTimer::SetInterval(unsigned value) {
  if (value != FInterval) {
    FInterval = value;
    UpdateTimer();
  }
}

void TTimer::SetOnTimer(TNotifyEvent value) {
  FOnTimer = value;
  UpdateTimer();
}

void TTimer::WndProc(TMessage& Message) {
  if (Message.Msg == WM_TIMER) {
    try {
      if (FOnTimer) FOnTimer(this);
    } catch (...) {
      Application()->HandleException(this);
    }
  } else {
    Message.Result = DefWindowProcA(FWindow, Message.Msg, Message.WParam, Message.LParam);
  }
}

}  // namespace om
