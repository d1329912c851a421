#include "tray/splash.h"

#include <cstdlib>

#include "framework/canvas.h"
#include "gif/gif_picture_win32.h"
#include "platform/win32_owners.h"
#include "tray/tray_platform.h"
#include "tray/tray_seams.h"

namespace om {

volatile int TSplashForm::TickCount = 0;
std::string TSplashForm::PictureFolder;

namespace {

bool ParseColor(std::string text, long& value) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  if (text.empty()) return false;
  char* end = nullptr;
  const bool hex = text[0] == '$';
  value = std::strtol(text.c_str() + (hex ? 1 : 0), &end, hex ? 16 : 0);
  return end && *end == '\0' && end != text.c_str() + (hex ? 1 : 0);
}

TSplashForm* gSplash = nullptr;  // only one at a time

}  // namespace

TSplashForm::TSplashForm(TComponent* AOwner) : TForm(AOwner) {
  SetName("SplashForm");
  SetCaption("SplashForm");
  TitleLabel.Top = 122;
  lblVersion.Top = 138;
  lblVersion.FontHeight = 11;
  lblVersion.Bold = false;
  lblVersion.Width = TitleLabel.Width = FPictureWidth;
  Timer1 = new TTimer(this);
  Timer1->SetInterval(1000);
  Timer1->SetOnTimer(MakeMethod<&TSplashForm::Timer1Timer>(this));
  OnClose = MakeMethod<&TSplashForm::FormClose>(this);
  FormCreate();
  Timer1->SetEnabled(true);
  gSplash = this;
}

TSplashForm::~TSplashForm() {
  if (FPicture) FPicture->HaltAllPainters();
  FPicture.reset();
  if (gSplash == this) gSplash = nullptr;
}

void TSplashForm::CreateParams(TCreateParams& Params) {
  TForm::CreateParams(Params);
  // Borderless, no border icons.
  Params.Style = WS_POPUP | WS_CLIPCHILDREN;
  Params.ExStyle |= WS_EX_TOPMOST;
}

void TSplashForm::FormCreate() {
  lblVersion.Caption.clear();
  TickCount = 0;
}

void TSplashForm::ApplyTextColor() {
  long value = 0;
  char resource[64] = {};
  const int length = LoadStringA(GetModuleHandleA(nullptr), SplashTextColor, resource, sizeof resource);
  if (length > 0 && ParseColor(std::string(resource, static_cast<size_t>(length)), value)) {
    TitleLabel.Color = lblVersion.Color = COLORREF(value);
    return;
  }
  HRSRC res = FindResourceA(nullptr, "TEXTCOLOR", MAKEINTRESOURCEA(10));  // raw data
  if (!res) return;
  HGLOBAL data = LoadResource(nullptr, res);
  const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
  if (!bytes) return;
  std::string text(bytes, SizeofResource(nullptr, res));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.find('\n') != std::string::npos) return;  // one line only
  if (!ParseColor(text, value)) value = 0xFFFFFF;
  TitleLabel.Color = lblVersion.Color = COLORREF(value);
}

void TSplashForm::LoadPicture() {
  FPicture.reset();
  try {
    auto picture = std::make_unique<TGIFPicture>();
    const std::string folder = PictureFolder.empty() ? ProgramFolder() : PictureFolder;
    picture->LoadFromFile(folder + "\\brand\\images\\splash.gif");
    if (picture->IsBlank()) return;
    FPictureWidth = picture->ScreenWidth();
    FPictureHeight = picture->ScreenHeight();
    picture->OnChange = [this](TObject* s) { PictureChanged(s); };
    FPicture = std::move(picture);
  } catch (const std::exception&) {
    // No picture: the window keeps its designed size.
  }
}

void TSplashForm::FormShow() {
  ApplyTextColor();
  LoadPicture();
  TitleLabel.Left = lblVersion.Left = 0;
  TitleLabel.Width = lblVersion.Width = FPictureWidth;
  const int w = FPictureWidth + 16, h = FPictureHeight + 16;
  SetBounds((GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h);
}

void TSplashForm::Timer1Timer(TObject*) { TickCount = TickCount + 1; }

void TSplashForm::FormClose(TObject*, TCloseAction&) {
  while (TickCount < 2) {
    Sleep(50);
    Application()->ProcessMessages();
    if (Application()->Terminated()) break;
  }
}

void TSplashForm::Panel1Click(TObject*) {
  TickCount = 2;
  if (FModal) FModalResult = IDOK;
}

void TSplashForm::ShowSplash(const std::string& title) {
  FModal = false;
  TitleLabel.Caption = title;
  FormShow();
  Show();
}

int TSplashForm::ShowAboutBox(const std::string& title) {
  FModal = true;
  Timer1->SetEnabled(false);
  TitleLabel.Caption = title;
  FormShow();
  FModalResult = 0;
  Show();
  SetForegroundWindow(Handle());
  while (FModalResult == 0 && !Application()->Terminated()) Application()->HandleMessage();
  Hide();
  return FModalResult;
}

void TSplashForm::PictureChanged(TObject*) {
  if (!HandleAllocated()) return;
  RECT r = PictureRect();
  InvalidateRect(Handle(), &r, FALSE);
}

void TSplashForm::Paint(HDC dc) {
  RECT client;
  GetClientRect(Handle(), &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  // The panel's lowered inner bevel (width 2) inside its border.
  RECT bevel = client;
  InflateRect(&bevel, -3, -3);
  DrawEdge(dc, &bevel, BDR_SUNKENINNER, BF_RECT);
  InflateRect(&bevel, -1, -1);
  DrawEdge(dc, &bevel, BDR_SUNKENINNER, BF_RECT);
  const RECT pr = PictureRect();
  if (FPicture) {
    TCanvas canvas(dc);
    FPicture->DrawOn(canvas, TGIFRect{pr.left, pr.top, pr.right, pr.bottom});
  }
  SetBkMode(dc, TRANSPARENT);
  for (const TSplashLabel* label : {&TitleLabel, &lblVersion}) {
    if (label->Caption.empty()) continue;
    const UniqueFont font(CreateFontA(-label->FontHeight, 0, 0, 0, label->Bold ? FW_BOLD : FW_NORMAL, 0, 0, 0,
                                      DEFAULT_CHARSET, 0, 0, 0, 0, "Arial"));
    const SelectedObject selected(dc, font.get());
    SetTextColor(dc, label->Color);
    RECT r{pr.left + label->Left, pr.top + label->Top, pr.left + label->Left + label->Width,
           pr.top + label->Top + label->FontHeight + 4};
    DrawTextA(dc, label->Caption.c_str(), -1, &r, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
}

void TSplashForm::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      Paint(dc);
      EndPaint(Handle(), &ps);
      Message.Result = 0;
      return;
    }
    case WM_ERASEBKGND:
      Message.Result = 1;
      return;
    case WM_LBUTTONUP:
      Panel1Click(this);
      return;
    case WM_CLOSE:
      if (FModal) {
        if (FModalResult == 0) FModalResult = IDCANCEL;
        return;
      }
      break;
    default:
      break;
  }
  TForm::WndProc(Message);
}

void ShowSplashForm(bool modal) {
  if (gSplash) return;
  TSplashForm* form = new TSplashForm(nullptr);
  try {
    if (modal) {
      form->ShowAboutBox("");
    } else {
      form->ShowSplash("");
      UpdateWindow(form->Handle());
      form->Close();  // waits for the timer or a click
    }
  } catch (...) {
    delete form;
    throw;
  }
  delete form;
}

}  // namespace om
