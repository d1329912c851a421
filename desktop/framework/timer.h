// A timer component: OnTimer every Interval milliseconds while Enabled.
#pragma once

#include "framework/component.h"
#include "framework/events.h"
#include "framework/messages.h"

namespace om {

class TTimer : public TComponent {
public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  unsigned Interval() const { return FInterval; }
  void SetInterval(unsigned value);
  TNotifyEvent OnTimer() const { return FOnTimer; }
  void SetOnTimer(TNotifyEvent value);

private:
  void WndProc(TMessage& Message);
  void UpdateTimer();

  HWND FWindow = nullptr;
  bool FEnabled = true;
  unsigned FInterval = 1000;
  TNotifyEvent FOnTimer;
};

}  // namespace om
