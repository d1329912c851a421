// Standard child controls on the system's window classes: labels, a progress
// gauge, push and toggle buttons, check boxes, radio groups and bevels.
#pragma once

#include <string>
#include <vector>

#include "framework/forms.h"

namespace om {

// Sent to a button's form when a button with a ModalResult is clicked
// (WParam: the result).
constexpr UINT CM_SETMODALRESULT = 0xB040;

// A child control with the dialog font; Parent is required before the handle.
class TStdControl : public TWinControl {
public:
  TStdControl(TComponent* AOwner, TWinControl* AParent);

  // Anchored to the parent's bottom edge: keeps its distance to it when the
  // parent's height changes (the parent calls ParentResized).
  bool AnchorBottom = false;
  void ParentResized(int oldClientHeight, int newClientHeight);

protected:
  void CreateWnd() override;
  void CreateParams(TCreateParams& Params) override;
};

class TLabel : public TStdControl {
public:
  using TStdControl::TStdControl;
  bool WordWrap = false;
  bool Bold = false;

protected:
  std::string WindowClassName() const override { return "OmLabel"; }
  const char* SystemClassName() const override { return "STATIC"; }
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
};

// A horizontal progress bar, 0..100.
class TGauge : public TStdControl {
public:
  TGauge(TComponent* AOwner, TWinControl* AParent);
  int Progress() const { return FProgress; }
  void SetProgress(int value);

protected:
  std::string WindowClassName() const override { return "OmGauge"; }
  const char* SystemClassName() const override { return "msctls_progress32"; }
  void CreateWnd() override;

private:
  int FProgress = 0;
};

class TButton : public TStdControl {
public:
  using TStdControl::TStdControl;
  // Closes the parent dialog with this result when clicked (0: no).
  int ModalResult = 0;
  // A toggle button stays down when pressed and comes up when pressed again.
  bool Toggle = false;
  bool Down() const;
  void SetDown(bool value);
  TNotifyEvent OnClick;
  void Click();

protected:
  std::string WindowClassName() const override { return "OmButton"; }
  const char* SystemClassName() const override { return "BUTTON"; }
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;

private:
  bool FDown = false;
};

class TCheckBox : public TStdControl {
public:
  using TStdControl::TStdControl;
  bool Checked() const;
  void SetChecked(bool value);

protected:
  std::string WindowClassName() const override { return "OmCheckBox"; }
  const char* SystemClassName() const override { return "BUTTON"; }
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;

private:
  bool FChecked = false;
};

// A group box holding one radio button per item.
class TRadioGroup : public TStdControl {
public:
  using TStdControl::TStdControl;
  ~TRadioGroup() override;
  std::vector<std::string> Items;
  int ItemIndex() const;
  void SetItemIndex(int value);
  // Makes the buttons for Items (after Items changed).
  void UpdateButtons();
  HWND ButtonHandle(int index) const { return FButtons.at(static_cast<size_t>(index)); }

protected:
  std::string WindowClassName() const override { return "OmRadioGroup"; }
  const char* SystemClassName() const override { return "BUTTON"; }
  void CreateParams(TCreateParams& Params) override;
  void CreateWnd() override;
  void WndProc(TMessage& Message) override;

private:
  std::vector<HWND> FButtons;
  int FItemIndex = -1;
};

// A sunken frame.
class TBevel : public TStdControl {
public:
  using TStdControl::TStdControl;

protected:
  std::string WindowClassName() const override { return "OmBevel"; }
  const char* SystemClassName() const override { return "STATIC"; }
  void CreateParams(TCreateParams& Params) override;
};

}  // namespace om
