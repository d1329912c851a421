#include "framework/stdctrls.h"

#include <commctrl.h>

#include "framework/exceptions.h"

namespace om {

namespace {

HFONT DialogFont(bool bold) {
  static HFONT normal = nullptr, heavy = nullptr;
  HFONT& f = bold ? heavy : normal;
  if (!f) {
    NONCLIENTMETRICSA m{};
    m.cbSize = sizeof m;
    LOGFONTA lf{};
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof m, &m, 0)) lf = m.lfMessageFont;
    else GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    if (bold) lf.lfWeight = FW_BOLD;
    f = CreateFontIndirectA(&lf);
  }
  return f;
}

// The brush (and text colours in dc) the parent of control answers for its
// controls; the dialog face when it answers none.
HBRUSH ParentControlBrush(HWND control, UINT message, HDC dc) {
  const HWND parent = GetParent(control);
  auto brush = parent ? reinterpret_cast<HBRUSH>(SendMessageA(parent, message, reinterpret_cast<WPARAM>(dc),
                                                              reinterpret_cast<LPARAM>(control)))
                      : nullptr;
  return brush ? brush : GetSysColorBrush(COLOR_BTNFACE);
}

}  // namespace

TStdControl::TStdControl(TComponent* AOwner, TWinControl* AParent) : TWinControl(AOwner) {
  SetParent(AParent);
  SetVisible(false);
}

void TStdControl::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.Style &= ~WS_CLIPCHILDREN;
}

void TStdControl::CreateWnd() {
  TWinControl::CreateWnd();
  SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(false)), FALSE);
}

void TStdControl::ParentResized(int oldClientHeight, int newClientHeight) {
  if (AnchorBottom) SetTop(Top() + newClientHeight - oldClientHeight);
}

// --- TLabel -------------------------------------------------------------------

void TLabel::CreateParams(TCreateParams& Params) {
  TStdControl::CreateParams(Params);
  Params.Style |= SS_LEFT | SS_NOPREFIX;
  if (!WordWrap) Params.Style |= SS_LEFTNOWORDWRAP;
}

void TLabel::CreateWnd() {
  TStdControl::CreateWnd();
  if (Bold) SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(true)), FALSE);
}

// --- TGauge -------------------------------------------------------------------

TGauge::TGauge(TComponent* AOwner, TWinControl* AParent) : TStdControl(AOwner, AParent) {
  static bool init = [] {
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    return true;
  }();
  (void)init;
}

void TGauge::CreateWnd() {
  TStdControl::CreateWnd();
  SendMessageA(Handle(), PBM_SETRANGE32, 0, 100);
  SendMessageA(Handle(), PBM_SETPOS, static_cast<WPARAM>(FProgress), 0);
}

void TGauge::SetProgress(int value) {
  FProgress = value;
  if (HandleAllocated()) SendMessageA(Handle(), PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

// --- TButton ------------------------------------------------------------------

void TButton::CreateParams(TCreateParams& Params) {
  TStdControl::CreateParams(Params);
  Params.Style |= WS_TABSTOP | (Toggle ? (BS_AUTOCHECKBOX | BS_PUSHLIKE) : BS_PUSHBUTTON);
}

bool TButton::Down() const { return FDown; }

void TButton::SetDown(bool value) {
  FDown = value;
  if (HandleAllocated()) SendMessageA(const_cast<TButton*>(this)->Handle(), BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TButton::Click() {
  if (Toggle) SetDown(!FDown);
  if (OnClick) OnClick(this);
  if (ModalResult != 0) {
    if (TForm* f = GetParentForm(this)) SendMessageA(f->Handle(), CM_SETMODALRESULT, static_cast<WPARAM>(ModalResult), 0);
  }
}

void TButton::WndProc(TMessage& Message) {
  if (Message.Msg == CN_COMMAND && HIWORD(Message.WParam) == BN_CLICKED) {
    // The system has toggled the check state of a toggle button already.
    if (Toggle) FDown = !FDown;
    bool toggle = Toggle;
    Toggle = false;
    try {
      Click();
    } catch (...) {
      Toggle = toggle;
      throw;
    }
    Toggle = toggle;
    return;
  }
  TStdControl::WndProc(Message);
}

// --- TCheckBox ----------------------------------------------------------------

void TCheckBox::CreateParams(TCreateParams& Params) {
  TStdControl::CreateParams(Params);
  Params.Style |= WS_TABSTOP | BS_AUTOCHECKBOX;
}

bool TCheckBox::Checked() const {
  if (HandleAllocated())
    return SendMessageA(const_cast<TCheckBox*>(this)->Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
  return FChecked;
}

void TCheckBox::SetChecked(bool value) {
  FChecked = value;
  if (HandleAllocated()) SendMessageA(Handle(), BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::WndProc(TMessage& Message) {
  if (Message.Msg == CN_COMMAND) {
    FChecked = SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
    return;
  }
  TStdControl::WndProc(Message);
}

// --- TRadioGroup --------------------------------------------------------------

TRadioGroup::~TRadioGroup() = default;

void TRadioGroup::CreateParams(TCreateParams& Params) {
  TStdControl::CreateParams(Params);
  // Its buttons draw themselves: its own background is painted around them.
  Params.Style |= BS_GROUPBOX | WS_CLIPCHILDREN;
}

void TRadioGroup::CreateWnd() {
  TStdControl::CreateWnd();
  UpdateButtons();
}

void TRadioGroup::UpdateButtons() {
  if (!HandleAllocated()) return;
  for (HWND b : FButtons) DestroyWindow(b);
  FButtons.clear();
  int n = static_cast<int>(Items.size());
  int top = 16, avail = Height() - top - 6;
  int step = n > 0 ? avail / n : 0;
  for (int i = 0; i < n; ++i) {
    HWND b = CreateWindowExA(0, "BUTTON", Items[static_cast<size_t>(i)].c_str(),
                             WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0), 8,
                             top + i * step, Width() - 16, step > 20 ? 20 : step, Handle(), nullptr,
                             MainInstance(), nullptr);
    if (!b) RaiseLastOSError();
    SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont(false)), FALSE);
    FButtons.push_back(b);
  }
  SetItemIndex(FItemIndex);
}

int TRadioGroup::ItemIndex() const { return FItemIndex; }

void TRadioGroup::SetItemIndex(int value) {
  FItemIndex = value;
  for (size_t i = 0; i < FButtons.size(); ++i)
    SendMessageA(FButtons[i], BM_SETCHECK, static_cast<int>(i) == value ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TRadioGroup::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_COMMAND:
      if (HIWORD(Message.WParam) != BN_CLICKED) break;
      for (size_t i = 0; i < FButtons.size(); ++i)
        if (reinterpret_cast<HWND>(Message.LParam) == FButtons[i]) FItemIndex = static_cast<int>(i);
      return;
    case WM_ERASEBKGND: {
      // A group box of the system draws only its frame and caption; the
      // rest, inside and above the frame line, takes the colour the parent
      // gives its controls, as if the group were drawn on the parent itself.
      const HDC dc = reinterpret_cast<HDC>(Message.WParam);
      RECT r;
      GetClientRect(Handle(), &r);
      FillRect(dc, &r, ParentControlBrush(Handle(), WM_CTLCOLORSTATIC, dc));
      Message.Result = 1;
      return;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      // The buttons get the colours of the parent's own controls.
      Message.Result = reinterpret_cast<LRESULT>(
          ParentControlBrush(Handle(), Message.Msg, reinterpret_cast<HDC>(Message.WParam)));
      return;
    default:
      break;
  }
  TStdControl::WndProc(Message);
}

// --- TBevel -------------------------------------------------------------------

void TBevel::CreateParams(TCreateParams& Params) {
  TStdControl::CreateParams(Params);
  Params.Style |= SS_ETCHEDFRAME;
}

}  // namespace om
