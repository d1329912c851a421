// Plays an animated picture onto a canvas rectangle: frame delays, disposal
// through off-screen bitmaps, loop counts and progress events. With doAsync
// it runs on its own thread and does its canvas work on the main thread;
// otherwise the caller runs the loop, its messages pumped while it waits.
#pragma once

#include <exception>

#include "platform/win32.h"

#include "framework/bitmap.h"
#include "framework/canvas.h"
#include "framework/thread.h"
#include "gif/gif_image.h"

namespace om {

class TGIFPainter : public TThread {
public:
  TGIFPainter(TGIFPicture* image, uint16_t options, const TGIFRect& rect, TCanvas* canvas);
  // Also fills holder with the new painter; it is cleared when the painter finishes.
  TGIFPainter(TGIFPainter** holder, uint16_t options, const TGIFRect& rect, TCanvas* canvas, TGIFPicture* image);
  ~TGIFPainter() override;

  // Threaded: resumes the thread. Otherwise nothing (use RunInCaller).
  void Start();
  // Marks the painter terminated and wakes a waiting thread.
  void Stop();
  // Runs the painting loop in the calling thread, finishes and frees the
  // painter; an error kept by the loop is raised again afterwards.
  static void RunInCaller(TGIFPainter* painter);

  bool Async() const { return (DrawingOptions & doAsync) != 0; }

  TGIFPicture* Image;
  TCanvas* Canvas;
  TGIFRect PaintRect;
  uint16_t DrawingOptions;
  int32_t SpeedPercent;
  int FrameIndex = -1;
  uint8_t Disposal = 0, PreviousDisposal = 0;
  TBitmap* SceneBuffer = nullptr;
  TBitmap* TempBuffer = nullptr;
  TBitmap* UnderlayBuffer = nullptr;
  HDC DestinationDC = nullptr;
  volatile bool Started = false;
  TGIFPainter** ReferenceHolder = nullptr;
  HANDLE WakeEvent = nullptr;
  std::exception_ptr KeptException;

  TNotifyEvent OnPaintBegin, OnFramePaint, OnFramePainted, OnLoopRestart, OnPaintEnd;

protected:
  void Execute() override;

private:
  void Init(uint16_t options, const TGIFRect& rect, TCanvas* canvas, TGIFPicture* image);
  void Finish(TObject* sender = nullptr);
  void DoSynchronize(const std::function<void()>& method);
  void Fire(TNotifyEvent& handler);
  void WaitFrame(int delay, DWORD& last, int& lag);
  void DirectDraw();
  void BufferedDraw();
  void RestoreFrameArea(TGIFSubImage& frame);
  TBitmap* NewBuffer(COLORREF brush, bool withBrush);

  COLORREF FBackground = 0;
  bool FFinished = false;
};

}  // namespace om
