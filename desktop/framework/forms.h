// Windowed controls, forms and the application object.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "framework/component.h"
#include "framework/messages.h"

namespace om {

class TForm;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Shift state bits.
using TShiftState = uint8_t;
enum : TShiftState { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
using TMouseEvent = TEvent<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = TEvent<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TContextPopupEvent = TEvent<void(TObject* Sender, POINT MousePos, bool& Handled)>;
// The shift state of the keyboard and mouse buttons now.
TShiftState KeyboardShiftState();

struct TCreateParams {
  std::string Caption;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  int X = CW_USEDEFAULT, Y = CW_USEDEFAULT, Width = CW_USEDEFAULT, Height = CW_USEDEFAULT;
  HWND WndParent = nullptr;
};

// A control with a window of its own. Every message goes through WindowProc,
// which starts as this control's WndProc and may be replaced (and put back) by
// whoever needs to watch the control's messages.
class TWinControl : public TComponent {
public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  TWndMethod WindowProc;

  HWND Handle();
  bool HandleAllocated() const { return FHandle != nullptr; }
  void DestroyHandle();

  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  RECT BoundsRect() const { return RECT{FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  void SetLeft(int v) { SetBounds(v, FTop, FWidth, FHeight); }
  void SetTop(int v) { SetBounds(FLeft, v, FWidth, FHeight); }

  bool Visible() const { return FVisible; }
  void SetVisible(bool value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value);

  TWinControl* Parent() const { return FParent; }
  void SetParent(TWinControl* value);

  // Sends a message through WindowProc without the system.
  LRESULT Perform(UINT Msg, WPARAM WParam, LPARAM LParam);

  // The control whose window this is, or nullptr.
  static TWinControl* FindControl(HWND Wnd);

protected:
  virtual void WndProc(TMessage& Message);
  void DefaultHandler(TMessage& Message);
  virtual void CreateParams(TCreateParams& Params);
  // Window class of the control's window; forms use "T" + their class name.
  virtual std::string WindowClassName() const { return "OmWinControl"; }
  // A system class (e.g. "BUTTON") the window class is made from; its window
  // procedure then handles what the control leaves alone.
  virtual const char* SystemClassName() const { return nullptr; }
  virtual void CreateWnd();

private:
  static LRESULT CALLBACK StdWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
  void UpdateBounds();

  HWND FHandle = nullptr;
  WNDPROC FDefProc = nullptr;
  TWinControl* FParent = nullptr;
  std::string FCaption;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FVisible = false;
};

// A WM_COMMAND from a child control, handed on to that control.
constexpr UINT CN_COMMAND = 0xBD11;
// Posted to a form closed with caFree: it is freed once the messages before
// it (its own handlers among them) have returned.
constexpr UINT CM_RELEASE = 0xB021;

enum TCloseAction { caNone, caHide, caFree, caMinimize };

// A top-level window owned by the application window (so it has no taskbar
// button of its own). Closing the main form ends the application.
class TForm : public TWinControl {
public:
  explicit TForm(TComponent* AOwner);
  ~TForm() override;

  void Close();
  TEvent<void(TObject* Sender, TCloseAction& Action)> OnClose;

protected:
  void CreateParams(TCreateParams& Params) override;
  std::string WindowClassName() const override { return "TForm"; }
  void WndProc(TMessage& Message) override;
};

// The form a component sits on: the component itself if it is a form, else
// the nearest form among its parents, else (non-visual components) its owner
// if that is a form.
TForm* GetParentForm(TComponent* Component);

using TExceptionEvent = TEvent<void(TObject* Sender, const std::exception& E)>;
// A hook on the application window: true means handled.
using TWindowHook = TEvent<bool(TMessage& Message)>;

// The application: a hidden window (class "TApplication") that carries the
// taskbar button, the main form, the message loop and the last word on
// exceptions no one else handled.
class TApplication : public TComponent {
public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  HWND Handle() const { return FHandle; }
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& value);

  TForm* MainForm() const { return FMainForm; }
  void SetMainForm(TForm* form) { FMainForm = form; }
  bool ShowMainForm = true;

  HICON Icon() const { return FIcon; }
  void SetIcon(HICON icon);  // not owned

  // The message loop.
  void Run();
  void ProcessMessages();
  void HandleMessage();
  void Terminate();
  bool Terminated() const { return FTerminated; }

  // Called inside a catch block: hands the exception being handled to
  // OnException, or shows it. Never throws.
  void HandleException(TObject* Sender);
  void HandleException(TObject* Sender, std::exception_ptr E);
  void ShowException(const std::exception& E);
  TExceptionEvent OnException;

  // Minimising hides the main form (and restoring shows it again).
  void Minimize();
  void Restore();
  void NormalizeTopMosts();
  void RestoreTopMosts();

  // Handlers that see every message of the application window first.
  void HookMainWindow(TWindowHook Hook);
  void UnhookMainWindow(TWindowHook Hook);

  // Runs a message through the application window's handling.
  LRESULT Perform(TMessage& Message);

protected:
  void WndProc(TMessage& Message);

private:
  bool ProcessMessage(MSG& Msg);

  HWND FHandle = nullptr;
  std::string FTitle;
  TForm* FMainForm = nullptr;
  HICON FIcon = nullptr;
  bool FTerminated = false;
  std::vector<TWindowHook> FWindowHooks;
  std::vector<HWND> FTopMosts;
  int FTopMostLevel = 0;
  bool FMainFormHiddenByMinimize = false;
};

// Screen cursors by id (0 default, -2 arrow, -3 cross, -4 I-beam, -11 hour
// glass, -12 drag, -16 multi-drag; programs add their own ids).
class TScreen : public TObject {
public:
  TScreen();
  HCURSOR Cursor(int id) const;
  void SetCursor(int id, HCURSOR cursor);

private:
  std::vector<std::pair<int, HCURSOR>> FCursors;
};

TScreen* Screen();
bool ScreenExists();
// Start-up of the forms unit: makes the screen object (once). It runs with the
// program's start-up; a unit whose own start-up needs the screen runs it first.
void InitializeFormsUnit();

// The process's application object, created on first use on the main thread.
TApplication* Application();
// True while the application object exists (it may be being destroyed).
bool ApplicationExists();
// Destroys the application object and everything it owns (program end).
void FreeApplication();

HINSTANCE MainInstance();

}  // namespace om
