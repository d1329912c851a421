#include "support/dkformmagnet.h"

#include "support/dates.h"
#include "support/dkwndprochook.h"

namespace om {

double NowAsDateTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return fileTimeToDateTime((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

TDkFormMagnet::TDkFormMagnet(TComponent* AOwner) : TDkComponent(AOwner), Now(NowAsDateTime) {
  FForm = GetParentForm(AOwner);
  if (!Designing() && FForm)
    HookWindowProc(FForm, hoBeforeMsg, MakeMethod<&TDkFormMagnet::HookHandler>(this));
}

TDkFormMagnet::~TDkFormMagnet() {
  if (!Designing() && FForm)
    UnhookWindowProc(FForm, hoBeforeMsg, MakeMethod<&TDkFormMagnet::HookHandler>(this));
}

namespace {
TMagnetRect FromRect(const RECT& r) { return TMagnetRect{r.left, r.top, r.right, r.bottom}; }
}  // namespace

bool TDkFormMagnet::HookHandler(TMessage& Msg) {
  if (!Active || Msg.Msg != WM_MOVING || !FForm) return false;
  auto* proposed = reinterpret_cast<RECT*>(Msg.LParam);
  if (!proposed) return false;
  TMagnetRect N = FromRect(*proposed);
  TMagnetRect C{FForm->Left(), FForm->Top(), FForm->Left() + FForm->Width(),
                FForm->Top() + FForm->Height()};
  double now = Now ? Now() : NowAsDateTime();

  if (ScreenMagnet) {
    RECT cr{C.Left, C.Top, C.Right, C.Bottom};
    RECT work{};
    HMONITOR mon = MonitorFromRect(&cr, MONITOR_DEFAULTTONEAREST);
    MONITORINFO mi{};
    mi.cbSize = sizeof(MONITORINFO);  // the 40-byte record
    if (mon && GetMonitorInfoA(mon, &mi)) work = mi.rcWork;
    else SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    ApplyScreenMagnet(N, C, FromRect(work), Area, FClocks, now);
  }

  if (FormGlue && ApplicationExists()) {
    TApplication* app = Application();
    for (int i = 0; i < app->ComponentCount(); ++i) {
      auto* other = dynamic_cast<TForm*>(app->Components(i));
      if (!other || other == FForm) continue;
      TMagnetRect o{other->Left(), other->Top(), other->Left() + other->Width(),
                    other->Top() + other->Height()};
      if (MagnetFormsTouch(C, o))
        other->SetBounds(N.Left + other->Left() - C.Left, N.Top + other->Top() - C.Top,
                         other->Width(), other->Height());
    }
  }

  if (MainFormMagnet && ApplicationExists() && Application()->MainForm()) {
    TForm* main = Application()->MainForm();
    TMagnetRect M{main->Left(), main->Top(), main->Left() + main->Width(),
                  main->Top() + main->Height()};
    ApplyMainFormMagnet(N, C, M, Area, FClocks, now);
  }

  proposed->left = N.Left;
  proposed->top = N.Top;
  proposed->right = N.Right;
  proposed->bottom = N.Bottom;
  return false;
}

}  // namespace om
