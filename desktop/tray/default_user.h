// The dialog that asks which user profile the agent's profiling uses and
// whether to ask again. The caller fills its texts and items and reads the
// answer; the dialog lays out its controls, shows or hides its help text and
// stays above other windows.
#pragma once

#include "framework/forms.h"
#include "framework/stdctrls.h"

namespace om {

class TdlgDefaultUser : public TForm {
public:
  explicit TdlgDefaultUser(TComponent* AOwner);

  // The frame around the message and the choices; drawn on the dialog itself,
  // so that it never covers them.
  TBevel* Bevel1;
  TLabel* lblMessage;
  TLabel* lblHelp;
  TRadioGroup* rgUsers;
  TCheckBox* cbAsk;
  TButton* btnOk;
  TButton* btnHelp;

  void btnHelpClick(TObject* Sender);

  // Shows the dialog and runs messages until a button closes it; returns the
  // modal result (1 OK, 2 the window was closed).
  int ShowModal();
  // Shows the controls as designed (the help text stays hidden).
  void ShowControls();
  int ModalResult() const { return FModalResult; }
  // Client size as designed.
  static constexpr int kClientWidth = 426;
  static constexpr int kClientHeight = 245;
  static constexpr int kHelpGrowth = 65;

protected:
  std::string WindowClassName() const override { return "TdlgDefaultUser"; }
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;

private:
  void Resized(int oldClientHeight);
  void Paint();
  int FModalResult = 0;
};

}  // namespace om
