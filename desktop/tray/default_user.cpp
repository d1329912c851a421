#include "tray/default_user.h"

namespace om {

namespace {

int ClientHeightOf(HWND wnd) {
  RECT r;
  GetClientRect(wnd, &r);
  return r.bottom - r.top;
}

}  // namespace

TdlgDefaultUser::TdlgDefaultUser(TComponent* AOwner) : TForm(AOwner) {
  SetName("dlgDefaultUser");
  RECT r{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&r, WS_CAPTION | WS_POPUP | DS_MODALFRAME, FALSE, WS_EX_DLGMODALFRAME | WS_EX_TOPMOST);
  int w = r.right - r.left, h = r.bottom - r.top;
  SetBounds((GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h);

  Bevel1 = new TBevel(this, this);
  Bevel1->SetBounds(8, 8, 410, 197);
  lblMessage = new TLabel(this, this);
  lblMessage->WordWrap = true;
  lblMessage->SetBounds(28, 24, 369, 29);
  lblHelp = new TLabel(this, this);
  lblHelp->WordWrap = true;
  lblHelp->SetBounds(28, 64, 369, 59);
  rgUsers = new TRadioGroup(this, this);
  rgUsers->SetBounds(28, 67, 369, 89);
  cbAsk = new TCheckBox(this, this);
  cbAsk->SetBounds(28, 172, 369, 17);
  btnOk = new TButton(this, this);
  btnOk->SetBounds(110, 213, 75, 27);
  btnOk->SetCaption("Ok");
  btnOk->ModalResult = IDOK;
  btnHelp = new TButton(this, this);
  btnHelp->SetBounds(248, 213, 75, 27);
  btnHelp->SetCaption("Help");
  btnHelp->Toggle = true;
  btnHelp->OnClick = MakeMethod<&TdlgDefaultUser::btnHelpClick>(this);
  // The choices and buttons keep to the bottom edge: growing the window
  // upwards makes room for the help text under the message.
  for (TStdControl* c : std::initializer_list<TStdControl*>{rgUsers, cbAsk, btnOk, btnHelp}) c->AnchorBottom = true;
}

void TdlgDefaultUser::CreateParams(TCreateParams& Params) {
  TForm::CreateParams(Params);
  Params.Style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  Params.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
  // Owned by the desktop: it stays above other windows without the program's
  // hidden main window.
  Params.WndParent = GetDesktopWindow();
}

void TdlgDefaultUser::btnHelpClick(TObject*) {
  int before = ClientHeightOf(Handle());
  if (btnHelp->Down()) {
    SetBounds(Left(), Top() - kHelpGrowth, Width(), Height() + kHelpGrowth);
    Resized(before);
    lblHelp->Show();
  } else {
    lblHelp->Hide();
    SetBounds(Left(), Top() + kHelpGrowth, Width(), Height() - kHelpGrowth);
    Resized(before);
  }
}

void TdlgDefaultUser::Resized(int oldClientHeight) {
  int now = ClientHeightOf(Handle());
  if (now == oldClientHeight) return;
  for (TStdControl* c : std::initializer_list<TStdControl*>{rgUsers, cbAsk, btnOk, btnHelp})
    c->ParentResized(oldClientHeight, now);
  Bevel1->SetBounds(Bevel1->Left(), Bevel1->Top(), Bevel1->Width(), Bevel1->Height() + now - oldClientHeight);
  // The window moved with its old picture: draw it all anew.
  RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TdlgDefaultUser::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(Handle(), &ps);
  RECT frame{Bevel1->Left(), Bevel1->Top(), Bevel1->Left() + Bevel1->Width(), Bevel1->Top() + Bevel1->Height()};
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  EndPaint(Handle(), &ps);
}

void TdlgDefaultUser::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case CM_SETMODALRESULT:
      FModalResult = static_cast<int>(Message.WParam);
      return;
    case WM_CLOSE:
      FModalResult = IDCANCEL;
      return;
    case WM_PAINT:
      Paint();
      Message.Result = 0;
      return;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      // Texts, the choices' group and its buttons sit on the dialog's own colour.
      const HDC dc = reinterpret_cast<HDC>(Message.WParam);
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      Message.Result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      return;
    }
    default:
      break;
  }
  TForm::WndProc(Message);
}

void TdlgDefaultUser::ShowControls() {
  for (TStdControl* c : std::initializer_list<TStdControl*>{lblMessage, rgUsers, cbAsk, btnOk, btnHelp}) c->Show();
  rgUsers->UpdateButtons();
}

int TdlgDefaultUser::ShowModal() {
  FModalResult = 0;
  ShowControls();
  Show();
  SetForegroundWindow(Handle());
  while (FModalResult == 0 && !Application()->Terminated()) Application()->HandleMessage();
  Hide();
  return FModalResult;
}

}  // namespace om
