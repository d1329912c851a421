// The animation painter and the picture's painter management.
#include "gif/gif_painter_win32.h"

#include <algorithm>

#include "gif/gif_bitmap_win32.h"

namespace om {

namespace {

constexpr int kUnitMs = 12;       // one delay unit
constexpr int kDefaultDelay = 10;  // a frame without a delay
constexpr int kMinDelay = 3;
constexpr int kMaxCallerDelay = 1000;

// Milliseconds from the performance counter: the tick count can stand still
// for long stretches under some hosts.
DWORD NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return DWORD(uint64_t(now.QuadPart) * 1000 / uint64_t(frequency.QuadPart));
}

RECT ToRect(const TGIFRect& r) { return RECT{r.Left, r.Top, r.Right, r.Bottom}; }

int ThreadPriorityOf(uint8_t priority) {
  static const int map[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                            THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                            THREAD_PRIORITY_TIME_CRITICAL};
  return map[std::min<int>(priority, 6)];
}

// Waits until every thread has ended; on the main thread the painters' calls
// into it run meanwhile.
void WaitForThreads(const std::vector<UniqueHandle>& threads) {
  if (threads.empty()) return;
  std::vector<HANDLE> handles;
  for (const UniqueHandle& h : threads) handles.push_back(h.get());
  const bool main = GetCurrentThreadId() == MainThreadID();
  for (;;) {
    const DWORD r = WaitForMultipleObjects(DWORD(handles.size()), handles.data(), TRUE, main ? 5 : INFINITE);
    if (r != WAIT_TIMEOUT) return;
    CheckSynchronize();
  }
}

}  // namespace

// --- Painter ---------------------------------------------------------------------------

TGIFPainter::TGIFPainter(TGIFPicture* image, uint16_t options, const TGIFRect& rect, TCanvas* canvas) {
  Init(options, rect, canvas, image);
}

TGIFPainter::TGIFPainter(TGIFPainter** holder, uint16_t options, const TGIFRect& rect, TCanvas* canvas,
                         TGIFPicture* image) {
  ReferenceHolder = holder;
  Init(options, rect, canvas, image);
  // Only a painter that was made is handed out.
  if (holder) *holder = this;
}

TBitmap* TGIFPainter::NewBuffer(COLORREF brush, bool withBrush) {
  auto* b = new TBitmap;
  b->SetSize(PaintRect.Width(), PaintRect.Height());
  if (withBrush) b->Canvas().FillRect(RECT{0, 0, PaintRect.Width(), PaintRect.Height()}, brush);
  if (Canvas) b->Canvas().CopyRect(RECT{0, 0, PaintRect.Width(), PaintRect.Height()}, *Canvas, ToRect(PaintRect));
  return b;
}

void TGIFPainter::Init(uint16_t options, const TGIFRect& rect, TCanvas* canvas, TGIFPicture* image) {
  Image = image;
  Canvas = canvas;
  PaintRect = rect;
  DrawingOptions = options;
  SpeedPercent = image->SpeedPercent;
  FreeOnTerminate = true;
  if ((options & doAsync) && (options & doAnimate) && image->FrameCount() > 1 && SpeedPercent >= 0) {
    WakeEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!WakeEvent) RaiseLastOSError();
  }
  if (image->DrawBackgroundColor != 0x1FFFFFFF)
    FBackground = image->DrawBackgroundColor & 0xFFFFFF;
  else if (image->HeaderColorMap().Count() > 0) {
    FBackground = image->BackgroundColor() & 0xFFFFFF;
  } else
    FBackground = GetSysColor(COLOR_WINDOW);
  bool used[8] = {};
  for (int i = 0; i < image->FrameCount(); ++i)
    if (TGIFGraphicControlExtension* gce = image->Frame(i)->GraphicControl()) used[gce->DisposalMethod() & 7] = true;
  if (options & doClearOnLoop) used[2] = true;
  if (PaintRect.Width() <= 0 || PaintRect.Height() <= 0) return;
  if (used[2] && (options & doTransparent)) UnderlayBuffer = NewBuffer(0, false);
  if (used[2] || used[3]) {
    SceneBuffer = NewBuffer(FBackground, true);
    TempBuffer = new TBitmap;
    TempBuffer->SetSize(PaintRect.Width(), PaintRect.Height());
  }
}

TGIFPainter::~TGIFPainter() { Finish(); }

// Needs nothing of the main thread: it runs on the painter's own thread.
void TGIFPainter::Finish() {
  if (FFinished) return;
  FFinished = true;
  if (Image) {
    std::lock_guard<std::recursive_mutex> lock(Image->PainterLock);
    if (ReferenceHolder && *ReferenceHolder == this) *ReferenceHolder = nullptr;
    auto& list = Image->PainterList;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    Image = nullptr;
  }
  delete SceneBuffer;
  delete TempBuffer;
  delete UnderlayBuffer;
  SceneBuffer = TempBuffer = UnderlayBuffer = nullptr;
  FKeptTarget.reset();
  WakeEvent.reset();
}

void TGIFPainter::Start() {
  if (Async() && !FResumed.exchange(true)) TThread::Start();
}

void TGIFPainter::Stop() {
  Terminate();
  if (Async()) {
    if (WakeEvent) SetEvent(WakeEvent.get());
    SetThreadPriority(Handle(), THREAD_PRIORITY_NORMAL);
    Start();
  }
}

void TGIFPainter::RunInCaller(TGIFPainter* painter) {
  painter->Execute();
  std::exception_ptr kept = painter->KeptException;
  painter->Finish();
  delete painter;
  if (kept) std::rethrow_exception(kept);
}

void TGIFPainter::DoTerminate() {
  if (KeptException && Image) {
    std::string message;
    try {
      std::rethrow_exception(KeptException);
    } catch (const std::exception& e) {
      message = e.what();
    }
    try {
      // Checked again on the main thread: the picture may have let go meanwhile.
      TThread::Synchronize(this, [this, &message] {
        if (Image) Image->Warning(this, gsWarning, message);
      });
    } catch (...) {
    }
  }
  Finish();
}

void TGIFPainter::DoSynchronize(const std::function<void()>& method) {
  if (Terminated()) return;
  if (!Async()) {
    method();
    return;
  }
  TThread::Synchronize(this, [this, &method] {
    FCallInProgress = true;
    struct Done {
      bool& Flag;
      ~Done() { Flag = false; }
    } done{FCallInProgress};
    method();
  });
}

void TGIFPainter::Fire(TNotifyEvent& handler) {
  if (!handler) return;
  TNotifyEvent current = handler;
  DoSynchronize([this, current] { current(this); });
}

// Once stopped, the painter touches its picture no more: the picture may be
// gone when a synchronised call returns.
void TGIFPainter::Execute() {
  try {
    if (DrawingOptions & doCheckCanvas) DestinationDC = Canvas->Handle();
    FrameIndex = 0;
    Fire(OnPaintBegin);
    Started = false;
    int passes = 1, loopStart = 0;
    bool loopSeen = false;
    int delay = Async() ? 0 : 1;
    PreviousDisposal = 1;
    DWORD last = NowMs();
    int lag = 0;
    while (!Terminated() && (passes != 0 || (DrawingOptions & doLoopForever))) {
      FrameIndex = loopStart;
      if (Started) Fire(OnLoopRestart);
      while (!Terminated() && FrameIndex < Image->FrameCount()) {
        TGIFSubImage* frame = Image->Frame(FrameIndex);
        if (frame->IsBlank()) break;
        WaitFrame(delay, last, lag);
        if (!Terminated()) Fire(OnFramePaint);
        if (Terminated()) break;
        frame = Image->Frame(FrameIndex);  // the handler may have chosen another
        Disposal = 1;
        TGIFExtensionList& exts = frame->ExtensionList();
        for (int i = 0; i < exts.ItemCount(); ++i) {
          TGIFExtension* ext = exts.Extension(i);
          if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(ext)) {
            if (!loopSeen) {
              loopSeen = true;
              passes = loop->LoopCount;
              if (Async() && (passes == 0 || (DrawingOptions & doLoopForever))) passes = -1;
              loopStart = FrameIndex;
            }
          } else if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(ext)) {
            Disposal = uint8_t(gce->DisposalMethod());
          }
        }
        DoSynchronize([this] {
          if (SceneBuffer)
            BufferedDraw();
          else
            DirectDraw();
        });
        PreviousDisposal = Disposal;
        if (Terminated()) break;
        delay = kDefaultDelay;
        TGIFGraphicControlExtension* gce = frame->GraphicControl();
        if (gce && gce->DelayTime() > 0) {
          delay = std::max(gce->DelayTime(), kMinDelay);
          if (!Async()) delay = std::min(delay, kMaxCallerDelay);
        }
        const int before = FrameIndex;
        Fire(OnFramePainted);
        if (FrameIndex == before) ++FrameIndex;
        if (!(DrawingOptions & doAnimate)) break;
      }
      if (passes > 0) --passes;
      if (!((DrawingOptions & doAnimate) && (DrawingOptions & doLoop))) break;
    }
    FrameIndex = -1;
    Fire(OnPaintEnd);
  } catch (const Exception&) {
    Terminate();
    KeptException = std::current_exception();
  }
  Ending = true;
}

void TGIFPainter::WaitFrame(int delay, DWORD& last, int& lag) {
  if (delay < 1) {
    Sleep(0);
    return;
  }
  if (FrameIndex >= 0 && FrameIndex < Image->FrameCount()) {
    TGIFSubImage* frame = Image->Frame(FrameIndex);
    DoSynchronize([frame] { frame->FrameBitmap(); });
    if (Terminated()) return;
  }
  const DWORD now = NowMs();
  int wait;
  if (SpeedPercent < 1) {
    wait = Async() ? -1 : 12000;
  } else {
    const int overrun = int(int64_t(now) - int64_t(last) - lag) / 2;
    wait = MulDiv(delay * kUnitMs - overrun, 100, SpeedPercent);
    lag = wait;
  }
  last = now;
  if (Async()) {
    if ((wait > 0 || SpeedPercent == 0) && WakeEvent) {
      if (WaitForSingleObject(WakeEvent.get(), wait < 0 ? INFINITE : DWORD(wait)) == WAIT_OBJECT_0) {
        lag = 0;
        last = NowMs();
      }
    }
    return;
  }
  int remaining = std::max(wait, 1);
  while (remaining > 0 && !Terminated()) {
    const DWORD t0 = NowMs();
    Sleep(DWORD(remaining >= 100 ? 100 : remaining));
    remaining -= int(NowMs() - t0);
    // Every message waiting now; a window that keeps asking to be painted
    // must not hold the painter here.
    MSG msg;
    for (int n = 0; n < 256 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        Stop();
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    CheckSynchronize();
  }
}

void TGIFPainter::DirectDraw() {
  Image->DrawFrame(*Image->Frame(FrameIndex), *Canvas, PaintRect, DrawingOptions & doTile,
                   DrawingOptions & doTransparent);
  Canvas->Changed();
  Started = true;
}

void TGIFPainter::RestoreFrameArea(TGIFSubImage& frame) {
  // The buffers cover PaintRect from their own origin.
  const TGIFRect area{0, 0, PaintRect.Width(), PaintRect.Height()};
  const bool tile = DrawingOptions & doTile, transparent = DrawingOptions & doTransparent;
  auto tiles = [&](const std::function<void(const RECT&)>& each) {
    const int sw = Image->ScreenWidth(), sh = Image->ScreenHeight();
    if (sw <= 0 || sh <= 0) return;
    for (int x = area.Left + frame.Left(); x < area.Right; x += sw)
      for (int y = area.Top + frame.Top(); y < area.Bottom; y += sh)
        each(RECT{x, y, x + frame.Width(), y + frame.Height()});
  };
  if (transparent && UnderlayBuffer) {
    if (tile)
      tiles([&](const RECT& r) { SceneBuffer->Canvas().CopyRect(r, UnderlayBuffer->Canvas(), r); });
    else {
      RECT r = ToRect(Image->ScaleFrameRect(frame, area));
      SceneBuffer->Canvas().CopyRect(r, UnderlayBuffer->Canvas(), r);
    }
  } else if (tile && Image->ScreenWidth() != frame.Width() && Image->ScreenHeight() != frame.Height()) {
    tiles([&](const RECT& r) { SceneBuffer->Canvas().FillRect(r, FBackground); });
  } else {
    SceneBuffer->Canvas().FillRect(ToRect(Image->ScaleFrameRect(frame, area)), FBackground);
  }
}

void TGIFPainter::BufferedDraw() {
  if (DrawingOptions & doCheckCanvas) {
    const DWORD type = DestinationDC ? GetObjectType(DestinationDC) : 0;
    if (type != OBJ_DC && type != OBJ_MEMDC) {
      Stop();
      return;
    }
  }
  TGIFSubImage& frame = *Image->Frame(FrameIndex);
  const bool clearFirst = (DrawingOptions & doClearOnLoop) && FrameIndex == 0;
  const TGIFRect whole{0, 0, PaintRect.Width(), PaintRect.Height()};
  TCanvas* target = &SceneBuffer->Canvas();
  TGIFRect targetArea = whole;
  bool show = true, restoreAfter = false;
  if (Disposal == 2) {
    restoreAfter = true;
  } else if (Disposal == 3) {
    if (PreviousDisposal == 0 || PreviousDisposal == 1) {
      target = Canvas;
      targetArea = PaintRect;
      show = false;
    } else {
      TempBuffer->Canvas().CopyRect(ToRect(whole), SceneBuffer->Canvas(), ToRect(whole));
      target = &TempBuffer->Canvas();
    }
  }
  HPALETTE palette = reinterpret_cast<HPALETTE>(frame.QueryPalette());
  if (!palette) palette = reinterpret_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
  {
    SelectedPalette selected(target->Handle(), palette, false);
    RealizePalette(target->Handle());
    if (clearFirst) RestoreFrameArea(frame);
    Image->DrawFrame(frame, *target, targetArea, DrawingOptions & doTile, DrawingOptions & doTransparent);
    if (show) Canvas->CopyRect(ToRect(PaintRect), *target, ToRect(targetArea));
  }
  if (restoreAfter) RestoreFrameArea(frame);
  Canvas->Changed();
  Started = true;
}

// --- The picture's painters ------------------------------------------------------------

TGIFPainter* TGIFPicture::StartPainter(TGIFPainter*& holder, TCanvas& canvas, uint16_t options,
                                       const TGIFRect& rect) {
  if (IsBlank() || rect.Left >= rect.Right || rect.Top >= rect.Bottom) {
    holder = nullptr;
    return nullptr;
  }
  if (FrameCount() == 1) options &= uint16_t(~(doAsync | doAnimate));
  TGIFPainter* painter;
  {
    std::lock_guard<std::recursive_mutex> lock(PainterLock);
    painter = new TGIFPainter(&holder, options, rect, &canvas, this);
    PainterList.push_back(painter);
  }
  painter->OnPaintBegin = OnStartPaint;
  painter->OnFramePaint = OnPaint;
  painter->OnFramePainted = OnAfterPaint;
  painter->OnLoopRestart = OnLoop;
  painter->OnPaintEnd = OnEndPaint;
  if (options & doAsync) {
    SetThreadPriority(painter->Handle(), ThreadPriorityOf(PainterPriority));
    return painter;
  }
  TGIFPainter::RunInCaller(painter);
  holder = nullptr;
  return nullptr;
}

void TGIFPicture::StopPainters(bool activeOnly) {
  std::vector<UniqueHandle> threads;
  {
    std::lock_guard<std::recursive_mutex> lock(PainterLock);
    for (auto it = PainterList.rbegin(); it != PainterList.rend(); ++it) {
      TGIFPainter* p = *it;
      if (activeOnly && p != ActivePainter) continue;
      p->Stop();
      // A painter run by its caller ends when that call returns; one whose
      // call into this thread is under way waits for us.
      if (!p->Async() || (p->CallInProgress() && GetCurrentThreadId() == MainThreadID())) continue;
      HANDLE thread = nullptr;
      if (DuplicateHandle(GetCurrentProcess(), p->Handle(), GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE, 0))
        threads.emplace_back(thread);
    }
  }
  WaitForThreads(threads);
}

void TGIFPicture::DropBitmap() {
  StopPainters(true);
  std::lock_guard<std::recursive_mutex> lock(PainterLock);
  // Still there: its call into this thread is under way. It keeps the bitmap
  // it draws into until it has finished.
  if (ActivePainter && FRenderedBitmap && !(ActivePainter->DrawingOptions & doDirectDraw))
    ActivePainter->KeepTarget(std::move(FRenderedBitmap));
  FRenderedBitmap.reset();
}

void TGIFPicture::HaltDrawPainter() { DropBitmap(); }

void TGIFPicture::HaltAllPainters() {
  StopPainters(false);
  DropBitmap();
}

void TGIFPicture::KillAsyncPainters() { StopPainters(false); }

}  // namespace om
