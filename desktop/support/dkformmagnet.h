// Makes a form magnetic while the user drags it: its edges stick to the
// monitor's work area, forms touching it move along, and optionally it sticks
// to the outside of the main form. Pulling on past a stuck edge tears it loose.
#pragma once

#include <functional>

#include "framework/forms.h"
#include "support/dkcomponent.h"
#include "support/magnetrules.h"

namespace om {

class TDkFormMagnet : public TDkComponent {
public:
  explicit TDkFormMagnet(TComponent* AOwner);
  ~TDkFormMagnet() override;

  bool Active = false;
  bool ScreenMagnet = true;
  uint32_t Area = 15;
  bool FormGlue = true;
  bool MainFormMagnet = false;

  TForm* Form() const { return FForm; }
  const TMagnetClocks& Clocks() const { return FClocks; }
  // The clock the snapping rules read (TDateTime); the system time by default.
  std::function<double()> Now;

private:
  bool HookHandler(TMessage& Msg);

  TForm* FForm = nullptr;
  TMagnetClocks FClocks;
};

// The current local time as a TDateTime (days since 1899-12-30).
double NowAsDateTime();

}  // namespace om
