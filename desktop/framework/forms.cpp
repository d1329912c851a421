#include "framework/forms.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "framework/exceptions.h"
#include "framework/thread.h"
#include "platform/win32_owners.h"

namespace om {
namespace {

TApplication* GApplication = nullptr;
// The control whose window is being created: its first messages arrive before
// CreateWindowEx returns the handle.
thread_local TWinControl* GCreating = nullptr;
const char* const kControlProp = "OmWinControl";

// Window procedures of the system classes controls are made from, by class name.
std::map<std::string, WNDPROC>& SystemProcs() {
  static std::map<std::string, WNDPROC> procs;
  return procs;
}

WNDPROC RegisterControlClass(const std::string& name, WNDPROC proc, const char* systemClass = nullptr) {
  static std::set<std::string> registered;
  if (registered.count(name)) {
    auto it = SystemProcs().find(name);
    return it == SystemProcs().end() ? nullptr : it->second;
  }
  WNDCLASSA wc{};
  if (systemClass) {
    if (!GetClassInfoA(nullptr, systemClass, &wc)) RaiseLastOSError();
    SystemProcs()[name] = wc.lpfnWndProc;
    wc.lpfnWndProc = proc;
    wc.hInstance = MainInstance();
    wc.lpszClassName = name.c_str();
    wc.style &= ~CS_GLOBALCLASS;
    if (!RegisterClassA(&wc)) RaiseLastOSError();
    registered.insert(name);
    return SystemProcs()[name];
  }
  if (!GetClassInfoA(MainInstance(), name.c_str(), &wc)) {
    wc = WNDCLASSA{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = proc;
    wc.hInstance = MainInstance();
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name.c_str();
    if (!RegisterClassA(&wc)) RaiseLastOSError();
  }
  registered.insert(name);
  return nullptr;
}

// Utility windows of the framework: the method lives on the heap, its address
// in the window's user data.
LRESULT CALLBACK UtilWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* method = reinterpret_cast<TWndMethod*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (!method || !method->Assigned()) return DefWindowProcA(wnd, msg, wp, lp);
  TMessage m{msg, wp, lp, 0};
  TWndMethod call = *method;
  try {
    call(m);
  } catch (...) {
    if (ApplicationExists()) Application()->HandleException(nullptr);
  }
  return m.Result;
}

}  // namespace

HINSTANCE MainInstance() { return GetModuleHandleA(nullptr); }

TShiftState KeyboardShiftState() {
  TShiftState s = 0;
  if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
  if (GetKeyState(VK_LBUTTON) < 0) s |= ssLeft;
  if (GetKeyState(VK_RBUTTON) < 0) s |= ssRight;
  if (GetKeyState(VK_MBUTTON) < 0) s |= ssMiddle;
  return s;
}

HWND AllocateHWnd(TWndMethod Method) {
  static const char* const kClass = "OmUtilWindow";
  WNDCLASSA wc{};
  if (!GetClassInfoA(MainInstance(), kClass, &wc)) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = UtilWndProc;
    wc.hInstance = MainInstance();
    wc.lpszClassName = kClass;
    if (!RegisterClassA(&wc)) RaiseLastOSError();
  }
  HWND wnd = CreateWindowExA(WS_EX_TOOLWINDOW, kClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             MainInstance(), nullptr);
  if (!wnd) RaiseLastOSError();
  SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new TWndMethod(Method)));
  return wnd;
}

void DeallocateHWnd(HWND Wnd) {
  if (!Wnd) return;
  auto* method = reinterpret_cast<TWndMethod*>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
  SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
  DestroyWindow(Wnd);
  delete method;
}

// ---------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TComponent(AOwner) {
  WindowProc = MakeMethod<&TWinControl::WndProc>(this);
}

TWinControl::~TWinControl() {
  DestroyHandle();
  if (FParent) FParent = nullptr;
}

TWinControl* TWinControl::FindControl(HWND Wnd) {
  return Wnd ? static_cast<TWinControl*>(GetPropA(Wnd, kControlProp)) : nullptr;
}

HWND TWinControl::Handle() {
  if (!FHandle) CreateWnd();
  return FHandle;
}

void TWinControl::CreateParams(TCreateParams& Params) {
  Params.Caption = FCaption;
  Params.Style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  if (FParent) {
    Params.Style |= WS_CHILD;
    Params.WndParent = FParent->Handle();
  } else {
    Params.Style |= WS_POPUP;
  }
  Params.X = FLeft;
  Params.Y = FTop;
  Params.Width = FWidth;
  Params.Height = FHeight;
}

void TWinControl::CreateWnd() {
  TCreateParams p;
  CreateParams(p);
  std::string cls = WindowClassName();
  FDefProc = RegisterControlClass(cls, StdWndProc, SystemClassName());
  TWinControl* saved = GCreating;
  GCreating = this;
  HWND wnd = CreateWindowExA(p.ExStyle, cls.c_str(), p.Caption.c_str(), p.Style & ~WS_VISIBLE, p.X,
                             p.Y, p.Width, p.Height, p.WndParent, nullptr, MainInstance(), nullptr);
  GCreating = saved;
  if (!wnd) RaiseLastOSError();
  FHandle = wnd;
  UpdateBounds();
  if (FVisible) ShowWindow(wnd, SW_SHOW);
}

void TWinControl::DestroyHandle() {
  if (!FHandle) return;
  HWND wnd = FHandle;
  DestroyWindow(wnd);  // WM_NCDESTROY clears FHandle
  FHandle = nullptr;
}

LRESULT CALLBACK TWinControl::StdWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
  auto* control = static_cast<TWinControl*>(GetPropA(Wnd, kControlProp));
  if (!control && GCreating) {
    control = GCreating;
    GCreating = nullptr;
    control->FHandle = Wnd;
    SetPropA(Wnd, kControlProp, control);
  }
  if (!control) return DefWindowProcA(Wnd, Msg, WParam, LParam);
  TMessage m{Msg, WParam, LParam, 0};
  // The control may be destroyed while it handles the message: only the copy
  // of its window procedure and the local record are used afterwards.
  TWndMethod proc = control->WindowProc;
  try {
    if (proc.Assigned()) proc(m);
    else m.Result = DefWindowProcA(Wnd, Msg, WParam, LParam);
  } catch (...) {
    if (ApplicationExists()) Application()->HandleException(nullptr);
  }
  return m.Result;
}

void TWinControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_WINDOWPOSCHANGED:
      UpdateBounds();
      break;
    case WM_COMMAND:
      if (Message.LParam) {
        TWinControl* child = FindControl(reinterpret_cast<HWND>(Message.LParam));
        if (child && child != this) {
          child->Perform(CN_COMMAND, Message.WParam, Message.LParam);
          return;
        }
      }
      break;
    case WM_NCDESTROY:
      RemovePropA(FHandle, kControlProp);
      DefaultHandler(Message);
      FHandle = nullptr;
      return;
    default:
      break;
  }
  DefaultHandler(Message);
}

void TWinControl::DefaultHandler(TMessage& Message) {
  if (!FHandle) return;
  if (FDefProc) Message.Result = CallWindowProcA(FDefProc, FHandle, Message.Msg, Message.WParam, Message.LParam);
  else Message.Result = DefWindowProcA(FHandle, Message.Msg, Message.WParam, Message.LParam);
}

void TWinControl::UpdateBounds() {
  if (!FHandle) return;
  RECT r;
  GetWindowRect(FHandle, &r);
  if (FParent && FParent->HandleAllocated()) MapWindowPoints(nullptr, FParent->FHandle, reinterpret_cast<POINT*>(&r), 2);
  FLeft = r.left;
  FTop = r.top;
  FWidth = r.right - r.left;
  FHeight = r.bottom - r.top;
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  if (FHandle) {
    SetWindowPos(FHandle, nullptr, ALeft, ATop, AWidth, AHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateBounds();
  }
}

void TWinControl::SetVisible(bool value) {
  FVisible = value;
  if (value) ShowWindow(Handle(), SW_SHOW);
  else if (FHandle) ShowWindow(FHandle, SW_HIDE);
}

void TWinControl::SetCaption(const std::string& value) {
  FCaption = value;
  if (FHandle) SetWindowTextA(FHandle, value.c_str());
}

void TWinControl::SetParent(TWinControl* value) {
  FParent = value;
  if (FHandle) ::SetParent(FHandle, value ? value->Handle() : nullptr);
}

LRESULT TWinControl::Perform(UINT Msg, WPARAM WParam, LPARAM LParam) {
  TMessage m{Msg, WParam, LParam, 0};
  TWndMethod proc = WindowProc;
  if (proc.Assigned()) proc(m);
  return m.Result;
}

// ---------------------------------------------------------------------------
// TForm

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(100, 100, 320, 240);
}

TForm::~TForm() {
  if (ApplicationExists() && Application()->MainForm() == this) Application()->SetMainForm(nullptr);
  DestroyHandle();
}

void TForm::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  if (!Parent()) {
    Params.Style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    Params.WndParent = Application()->Handle();
  }
}

void TForm::Close() {
  TCloseAction action = caHide;
  if (OnClose) OnClose(this, action);
  if (action == caNone) return;
  if (ApplicationExists() && Application()->MainForm() == this) {
    Hide();
    Application()->Terminate();
    return;
  }
  if (action == caHide) Hide();
  else if (action == caMinimize) ShowWindow(Handle(), SW_MINIMIZE);
  else if (action == caFree) PostMessageA(Handle(), CM_RELEASE, 0, 0);
}

void TForm::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_CLOSE:
      Close();
      return;
    case CM_RELEASE:
      delete this;  // the window procedure touches nothing of the form afterwards
      return;
    case WM_SYSCOMMAND:
      // The main form's minimise box minimises the whole application.
      if ((Message.WParam & 0xFFF0) == SC_MINIMIZE && ApplicationExists() &&
          Application()->MainForm() == this) {
        Message.Result = SendMessageA(Application()->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        return;
      }
      break;
    default:
      break;
  }
  TWinControl::WndProc(Message);
}

TForm* GetParentForm(TComponent* Component) {
  if (!Component) return nullptr;
  if (auto* f = dynamic_cast<TForm*>(Component)) return f;
  if (auto* c = dynamic_cast<TWinControl*>(Component)) {
    for (TWinControl* p = c->Parent(); p; p = p->Parent())
      if (auto* f = dynamic_cast<TForm*>(p)) return f;
    return nullptr;
  }
  return dynamic_cast<TForm*>(Component->Owner());
}

// ---------------------------------------------------------------------------
// TApplication

namespace {
LRESULT CALLBACK AppWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* app = reinterpret_cast<TApplication*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (!app) return DefWindowProcA(wnd, msg, wp, lp);
  TMessage m{msg, wp, lp, 0};
  try {
    app->Perform(m);
  } catch (...) {
    app->HandleException(app);
  }
  return m.Result;
}

std::string ProgramTitle() {
  std::string s = moduleFileName();
  size_t slash = s.find_last_of("\\/");
  if (slash != std::string::npos) s.erase(0, slash + 1);
  size_t dot = s.rfind('.');
  if (dot != std::string::npos) s.erase(dot);
  return s;
}
}  // namespace

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {
  if (!GApplication) GApplication = this;
  MainThreadID();  // the creating thread is the main thread from here on
  WNDCLASSA wc{};
  if (!GetClassInfoA(MainInstance(), "TApplication", &wc)) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = AppWndProc;
    wc.hInstance = MainInstance();
    wc.hIcon = LoadIconA(MainInstance(), "MAINICON");
    wc.lpszClassName = "TApplication";
    if (!RegisterClassA(&wc)) RaiseLastOSError();
  }
  FTitle = ProgramTitle();
  int x = GetSystemMetrics(SM_CXSCREEN) / 2, y = GetSystemMetrics(SM_CYSCREEN) / 2;
  FHandle = CreateWindowExA(0, "TApplication", FTitle.c_str(),
                            WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                            x, y, 0, 0, nullptr, nullptr, MainInstance(), nullptr);
  if (!FHandle) RaiseLastOSError();
  SetWindowLongPtrA(FHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  FIcon = LoadIconA(MainInstance(), "MAINICON");
  if (!FIcon) FIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  SendMessageA(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon));
}

TApplication::~TApplication() {
  MarkDestroying();
  // Owned forms and components go while the window still exists.
  while (ComponentCount() > 0) delete Components(ComponentCount() - 1);
  if (FHandle) {
    SetWindowLongPtrA(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
    FHandle = nullptr;
  }
  if (GApplication == this) GApplication = nullptr;
}

void TApplication::SetTitle(const std::string& value) {
  FTitle = value;
  SetWindowTextA(FHandle, value.c_str());
}

void TApplication::SetIcon(HICON icon) {
  FIcon = icon;
  SendMessageA(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

bool TApplication::ProcessMessage(MSG& Msg) {
  if (!PeekMessageA(&Msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (Msg.message == WM_QUIT) {
    FTerminated = true;
    return true;
  }
  TranslateMessage(&Msg);
  DispatchMessageA(&Msg);
  return true;
}

void TApplication::ProcessMessages() {
  MSG msg;
  CheckSynchronize();
  while (ProcessMessage(msg)) {
  }
  CheckSynchronize();
}

void TApplication::HandleMessage() {
  MSG msg;
  if (!ProcessMessage(msg)) {
    CheckSynchronize();
    if (!FTerminated) WaitMessage();
  }
  CheckSynchronize();
}

void TApplication::Run() {
  if (FMainForm && ShowMainForm) {
    ShowWindow(FHandle, SW_SHOW);
    FMainForm->Show();
  }
  while (!FTerminated) HandleMessage();
}

void TApplication::Terminate() {
  FTerminated = true;
  PostQuitMessage(0);
}

void TApplication::HandleException(TObject* Sender) {
  HandleException(Sender, std::current_exception());
}

void TApplication::HandleException(TObject* Sender, std::exception_ptr E) {
  if (!E) return;
  try {
    try {
      std::rethrow_exception(E);
    } catch (const std::exception& ex) {
      if (OnException) OnException(Sender, ex);
      else ShowException(ex);
    } catch (...) {
      Exception ex("Unknown exception");
      if (OnException) OnException(Sender, ex);
      else ShowException(ex);
    }
  } catch (...) {
    // The handler itself failed: nothing sensible is left to do with it.
  }
}

void TApplication::ShowException(const std::exception& E) {
  std::string text = E.what();
  if (!text.empty() && text.back() != '.') text += '.';
  std::fprintf(stderr, "%s: %s\n", FTitle.c_str(), text.c_str());
  MessageBoxA(nullptr, text.c_str(), FTitle.c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

void TApplication::Minimize() {
  if (!IsIconic(FHandle)) {
    NormalizeTopMosts();
    if (FMainForm && FMainForm->Visible()) {
      FMainForm->Hide();
      FMainFormHiddenByMinimize = true;
    }
    ShowWindow(FHandle, SW_MINIMIZE);
  }
}

void TApplication::Restore() {
  if (IsIconic(FHandle)) {
    ShowWindow(FHandle, SW_RESTORE);
    RestoreTopMosts();
    if (FMainFormHiddenByMinimize && FMainForm) FMainForm->Show();
    FMainFormHiddenByMinimize = false;
  }
}

namespace {
struct TopMostScan {
  DWORD Pid;
  HWND App;
  std::vector<HWND>* List;
};
BOOL CALLBACK CollectTopMost(HWND wnd, LPARAM lp) {
  auto* s = reinterpret_cast<TopMostScan*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid == s->Pid && wnd != s->App && IsWindowVisible(wnd) &&
      (GetWindowLongA(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST))
    s->List->push_back(wnd);
  return TRUE;
}
}  // namespace

void TApplication::NormalizeTopMosts() {
  if (FTopMostLevel++ == 0) {
    FTopMosts.clear();
    TopMostScan scan{GetCurrentProcessId(), FHandle, &FTopMosts};
    EnumWindows(CollectTopMost, reinterpret_cast<LPARAM>(&scan));
    for (HWND w : FTopMosts)
      SetWindowPos(w, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void TApplication::RestoreTopMosts() {
  if (FTopMostLevel > 0 && --FTopMostLevel == 0) {
    for (HWND w : FTopMosts)
      if (IsWindow(w))
        SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    FTopMosts.clear();
  }
}

void TApplication::HookMainWindow(TWindowHook Hook) {
  if (Hook.Assigned()) FWindowHooks.push_back(Hook);
}

void TApplication::UnhookMainWindow(TWindowHook Hook) {
  auto it = std::find(FWindowHooks.begin(), FWindowHooks.end(), Hook);
  if (it != FWindowHooks.end()) FWindowHooks.erase(it);
}

LRESULT TApplication::Perform(TMessage& Message) {
  WndProc(Message);
  return Message.Result;
}

void TApplication::WndProc(TMessage& Message) {
  // Hooks first; a copy, since a hook may unhook itself.
  std::vector<TWindowHook> hooks = FWindowHooks;
  for (const TWindowHook& h : hooks)
    if (std::find(FWindowHooks.begin(), FWindowHooks.end(), h) != FWindowHooks.end() && h(Message))
      return;
  switch (Message.Msg) {
    case WM_SYSCOMMAND:
      switch (Message.WParam & 0xFFF0) {
        case SC_MINIMIZE:
          Minimize();
          return;
        case SC_RESTORE:
          Restore();
          return;
        default:
          break;
      }
      break;
    case WM_CLOSE:
      if (FMainForm) FMainForm->Close();
      else Terminate();
      return;
    case WM_NULL:
      CheckSynchronize();
      return;
    default:
      break;
  }
  Message.Result = DefWindowProcA(FHandle, Message.Msg, Message.WParam, Message.LParam);
}

TScreen::TScreen() {
  auto std = [](LPCSTR id) { return LoadCursorA(nullptr, id); };
  FCursors = {{0, std(IDC_ARROW)},   {-2, std(IDC_ARROW)}, {-3, std(IDC_CROSS)},
              {-4, std(IDC_IBEAM)},  {-11, std(IDC_WAIT)}, {-12, std(IDC_ARROW)},
              {-16, std(IDC_ARROW)}, {-21, std(IDC_HAND)}};
}

HCURSOR TScreen::Cursor(int id) const {
  for (const auto& c : FCursors)
    if (c.first == id) return c.second;
  return FCursors.front().second;
}

void TScreen::SetCursor(int id, HCURSOR cursor) {
  for (auto& c : FCursors)
    if (c.first == id) {
      c.second = cursor;
      return;
    }
  FCursors.emplace_back(id, cursor);
}

namespace {
TScreen* GScreen = nullptr;
}

TScreen* Screen() {
  if (!GScreen) GScreen = new TScreen;
  return GScreen;
}

bool ScreenExists() { return GScreen != nullptr; }

void InitializeFormsUnit() { Screen(); }

namespace {
struct TFormsUnitInit {
  TFormsUnitInit() { InitializeFormsUnit(); }
} GFormsUnitInit;
}  // namespace

TApplication* Application() {
  if (!GApplication) new TApplication(nullptr);
  return GApplication;
}

bool ApplicationExists() { return GApplication != nullptr; }

void FreeApplication() { delete GApplication; }

}  // namespace om
