// Plays an animated picture onto a canvas rectangle: frame delays, disposal
// through off-screen bitmaps, loop counts and progress events. With doAsync
// it runs on its own thread and does its canvas work on the main thread;
// otherwise the caller runs the loop, its messages pumped while it waits.
#pragma once

#include <atomic>
#include <exception>
#include <memory>

#include "platform/win32.h"
#include "platform/win32_owners.h"

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

  // Threaded: resumes the thread (once). Otherwise nothing (use RunInCaller).
  void Start();
  // Marks the painter terminated and wakes its thread (starting it when it
  // never was, so that it ends).
  void Stop();
  // Runs the painting loop in the calling thread, finishes and frees the
  // painter; an error kept by the loop is raised again afterwards.
  static void RunInCaller(TGIFPainter* painter);

  bool Async() const { return (DrawingOptions & doAsync) != 0; }
  // True while one of its synchronised calls runs (on the main thread): the
  // painter's thread waits for it and cannot be waited for from there.
  bool CallInProgress() const { return FCallInProgress; }
  // Keeps the bitmap it draws into alive until it has finished.
  void KeepTarget(std::unique_ptr<TGIFBitmap> bitmap) { FKeptTarget = std::move(bitmap); }

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
  // Set when the painting loop is over (the painter is about to finish).
  std::atomic<bool> Ending{false};
  TGIFPainter** ReferenceHolder = nullptr;
  UniqueHandle WakeEvent;
  std::exception_ptr KeptException;

  TNotifyEvent OnPaintBegin, OnFramePaint, OnFramePainted, OnLoopRestart, OnPaintEnd;

protected:
  // A threaded painter frees itself when its thread ends; RunInCaller frees
  // the others.
  ~TGIFPainter() override;
  void Execute() override;
  // On the painter's own thread: a kept error goes to the picture's warning
  // handler, then the painter finishes without waiting for the main thread.
  void DoTerminate() override;

private:
  void Init(uint16_t options, const TGIFRect& rect, TCanvas* canvas, TGIFPicture* image);
  void Finish();
  void DoSynchronize(const std::function<void()>& method);
  void Fire(TNotifyEvent& handler);
  void WaitFrame(int delay, DWORD& last, int& lag);
  void DirectDraw();
  void BufferedDraw();
  void RestoreFrameArea(TGIFSubImage& frame);
  TBitmap* NewBuffer(COLORREF brush, bool withBrush);

  COLORREF FBackground = 0;
  bool FFinished = false;
  bool FCallInProgress = false;
  std::atomic<bool> FResumed{false};
  std::unique_ptr<TGIFBitmap> FKeptTarget;
};

}  // namespace om
