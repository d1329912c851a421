// The animation painter against Pillow's composition of the same files:
// every frame it shows (caller-run and threaded), the events in order,
// loop counts, and stopping from another thread while the main thread waits.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "framework/bitmap.h"
#include "gif/gif_painter_win32.h"
#include "gif/gif_picture_win32.h"
#include "gif_test_util.h"
#include "platform/win32_owners.h"

namespace om {
namespace {

using giftest::ReadFile;


std::string Fixture(const std::string& name) { return std::string("Z:") + GIF_FIXTURE_DIR + "/" + name; }

const COLORREF kMarker = RGB(1, 2, 3);

struct Recorder : TObject {
  TBitmap* Target = nullptr;
  std::vector<std::string> Events;
  std::vector<std::vector<COLORREF>> Shown;  // the destination after each frame
  std::vector<int> Frames;
  std::atomic<int> Loops{0};
  std::atomic<bool> Ended{false};
  void Begin(TObject*) { Events.push_back("begin"); }
  void Frame(TObject*) { Events.push_back("frame"); }
  void Painted(TObject* sender) {
    Events.push_back("painted");
    Frames.push_back(static_cast<TGIFPainter*>(sender)->FrameIndex);
    std::vector<COLORREF> px;
    for (int y = 0; y < Target->Height(); ++y) {
      const uint8_t* p = Target->ScanLine(y);
      for (int x = 0; x < Target->Width(); ++x) px.push_back(RGB(p[x * 4 + 2], p[x * 4 + 1], p[x * 4]));
    }
    Shown.push_back(px);
  }
  void Loop(TObject*) {
    Events.push_back("loop");
    ++Loops;
  }
  void End(TObject*) {
    Events.push_back("end");
    Ended = true;
  }
  void Hook(TGIFPicture& pic) {
    pic.OnStartPaint = MakeMethod<&Recorder::Begin>(this);
    pic.OnPaint = MakeMethod<&Recorder::Frame>(this);
    pic.OnAfterPaint = MakeMethod<&Recorder::Painted>(this);
    pic.OnLoop = MakeMethod<&Recorder::Loop>(this);
    pic.OnEndPaint = MakeMethod<&Recorder::End>(this);
  }
};

class GifPainter : public ::testing::Test {
protected:
  void SetUp() override {
    InitializeGIFCodec();
    if (ReadFile(Fixture("anim.gif.txt")).empty()) GTEST_SKIP() << "Pillow fixtures were not made on the build host";
  }
  void TearDown() override { FinalizeGIFCodec(); }

  void Load(TGIFPicture& pic, const std::string& name) {
    TMemoryStream s(ReadFile(Fixture(name)));
    pic.LoadFromStream(s);
  }
  std::unique_ptr<TBitmap> Target(TGIFPicture& pic) {
    auto b = std::make_unique<TBitmap>();
    b->SetBitsPerPixel(32);
    b->SetSize(pic.ScreenWidth(), pic.ScreenHeight());
    b->Canvas().FillRect(RECT{0, 0, pic.ScreenWidth(), pic.ScreenHeight()}, kMarker);
    return b;
  }
  // Pillow's frame i: opaque pixels as they are, transparent ones show the
  // destination's original colour.
  void ExpectPillowFrame(const std::string& name, int i, const std::vector<COLORREF>& shown) {
    const std::string rgba = ReadFile(Fixture(name + "." + std::to_string(i) + ".rgba"));
    ASSERT_EQ(rgba.size(), shown.size() * 4);
    int bad = 0;
    for (size_t k = 0; k < shown.size(); ++k) {
      const uint8_t* p = reinterpret_cast<const uint8_t*>(rgba.data()) + k * 4;
      const COLORREF want = p[3] ? RGB(p[0], p[1], p[2]) : kMarker;
      if (shown[k] != want && bad++ < 3) ADD_FAILURE() << "pixel " << k << " frame " << i;
    }
    EXPECT_EQ(0, bad) << name << " frame " << i;
  }
};

TEST_F(GifPainter, CallerRunPainterShowsEveryFrameAsPillowComposesIt) {
  for (const char* name : {"anim.gif", "opt.gif", "offsets.gif"}) {
    SCOPED_TRACE(name);
    TGIFPicture pic;
    Load(pic, name);
    pic.SpeedPercent = 2000;  // the delays are not what is looked at here
    auto target = Target(pic);
    Recorder rec;
    rec.Target = target.get();
    rec.Hook(pic);
    TGIFPainter* holder = reinterpret_cast<TGIFPainter*>(1);
    TGIFPainter* p = pic.StartPainter(holder, target->Canvas(), doAnimate | doTransparent,
                                      TGIFRect{0, 0, pic.ScreenWidth(), pic.ScreenHeight()});
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(nullptr, holder);
    EXPECT_TRUE(pic.PainterList.empty());
    ASSERT_EQ(size_t(pic.FrameCount()), rec.Shown.size());
    for (int i = 0; i < pic.FrameCount(); ++i) {
      EXPECT_EQ(i, rec.Frames[size_t(i)]);
      ExpectPillowFrame(name, i, rec.Shown[size_t(i)]);
    }
    // begin, (frame, painted) per frame, end; a loop count of 0 plays once here.
    ASSERT_EQ(size_t(2 * pic.FrameCount() + 2), rec.Events.size());
    EXPECT_EQ("begin", rec.Events.front());
    EXPECT_EQ("end", rec.Events.back());
    EXPECT_EQ(0, rec.Loops.load());
  }
}

TEST_F(GifPainter, ThreadedPainterLoopsUntilStoppedFromAnotherThread) {
  TGIFPicture pic;
  Load(pic, "anim.gif");
  pic.SpeedPercent = 1000;
  auto target = Target(pic);
  Recorder rec;
  rec.Target = target.get();
  rec.Hook(pic);
  TGIFPainter* holder = nullptr;
  TGIFPainter* p = pic.StartPainter(holder, target->Canvas(), doAsync | doAnimate | doTransparent | doLoop,
                                    TGIFRect{0, 0, pic.ScreenWidth(), pic.ScreenHeight()});
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(p, holder);
  p->Start();
  std::thread stopper([&] {
    while (rec.Loops < 2) Sleep(1);
    p->Stop();
  });
  // The painter's calls into this thread run while it waits; once stopped
  // it reports nothing more and clears the holder when its thread ends.
  while (holder) {
    CheckSynchronize();
    Sleep(1);
  }
  stopper.join();
  EXPECT_EQ(nullptr, holder);
  EXPECT_TRUE(pic.PainterList.empty());
  // The shown frames cycle through the animation, each as Pillow composes it.
  ASSERT_GE(rec.Shown.size(), size_t(2 * pic.FrameCount()));
  for (size_t k = 0; k < rec.Shown.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(int(k) % pic.FrameCount(), rec.Frames[k]);
    if (k < size_t(pic.FrameCount())) ExpectPillowFrame("anim.gif", rec.Frames[k], rec.Shown[k]);
  }
  EXPECT_GE(rec.Loops.load(), 2);
  EXPECT_FALSE(rec.Ended);
}

TEST_F(GifPainter, DrawOnStartsOnePainterAndHaltingEndsIt) {
  TGIFPicture pic;
  Load(pic, "anim.gif");
  auto target = Target(pic);
  const TGIFRect rect{0, 0, pic.ScreenWidth(), pic.ScreenHeight()};
  pic.DrawingOptions = doAsync | doAnimate | doLoop;
  pic.DrawOn(target->Canvas(), rect);
  ASSERT_NE(nullptr, pic.ActivePainter);
  EXPECT_TRUE(pic.ActivePainter->Started);
  EXPECT_NE(nullptr, pic.RenderedBitmap());
  EXPECT_EQ(1u, pic.PainterList.size());
  pic.DrawOn(target->Canvas(), rect);  // already drawing: nothing new
  EXPECT_EQ(1u, pic.PainterList.size());
  pic.HaltAllPainters();
  EXPECT_EQ(nullptr, pic.ActivePainter);
  EXPECT_TRUE(pic.PainterList.empty());
  EXPECT_EQ(nullptr, pic.RenderedBitmap());
  // A zero-width rectangle starts nothing.
  TGIFPainter* holder = nullptr;
  EXPECT_EQ(nullptr, pic.StartPainter(holder, target->Canvas(), doAsync | doAnimate, TGIFRect{5, 0, 5, 10}));
}

// Whatever drops the composed bitmap (a new frame, a new size) first stops the
// painter drawing into it and waits until its thread has ended.
TEST_F(GifPainter, DroppingTheComposedBitmapWaitsForItsPainter) {
  TGIFPicture pic;
  Load(pic, "anim.gif");
  auto target = Target(pic);
  const TGIFRect rect{0, 0, pic.ScreenWidth(), pic.ScreenHeight()};
  pic.DrawingOptions = doAsync | doAnimate | doLoop | doLoopForever;
  pic.DrawOn(target->Canvas(), rect);
  ASSERT_NE(nullptr, pic.ActivePainter);
  HANDLE thread = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), pic.ActivePainter->Handle(), GetCurrentProcess(), &thread,
                              SYNCHRONIZE, FALSE, 0));
  UniqueHandle owner(thread);
  auto* frame = new TGIFSubImage(&pic);
  frame->CopyFrom(*pic.Frame(0));
  pic.AppendFrame(frame);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));
  EXPECT_EQ(nullptr, pic.ActivePainter);
  EXPECT_TRUE(pic.PainterList.empty());
  EXPECT_EQ(nullptr, pic.RenderedBitmap());

  pic.DrawOn(target->Canvas(), rect);
  ASSERT_NE(nullptr, pic.ActivePainter);
  pic.ResizeWidth(pic.ScreenWidth() + 1);
  EXPECT_EQ(nullptr, pic.ActivePainter);
  EXPECT_TRUE(pic.PainterList.empty());
}

// Threaded painters are ended by their own loop, never killed: their threads
// return normally and the painters are freed; an error a painter meets goes
// to the picture's warning handler.
TEST_F(GifPainter, ThreadedPaintersEndByThemselvesAndReportErrors) {
  TGIFPicture pic;
  Load(pic, "anim.gif");
  auto target = Target(pic);
  const TGIFRect rect{0, 0, pic.ScreenWidth(), pic.ScreenHeight()};
  std::vector<UniqueHandle> threads;
  std::vector<TGIFPainter*> holders(2, nullptr);
  for (TGIFPainter*& holder : holders) {
    TGIFPainter* p = pic.StartPainter(holder, target->Canvas(), doAsync | doAnimate | doLoop | doLoopForever, rect);
    ASSERT_NE(nullptr, p);
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), p->Handle(), GetCurrentProcess(), &thread, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    threads.emplace_back(thread);
    p->Start();
  }
  pic.KillAsyncPainters();
  for (const UniqueHandle& thread : threads) {
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 0));
    DWORD code = 1;
    GetExitCodeThread(thread.get(), &code);
    EXPECT_EQ(0u, code);
  }
  EXPECT_EQ(std::vector<TGIFPainter*>(2, nullptr), holders);
  EXPECT_TRUE(pic.PainterList.empty());

  struct Failing : TObject {
    int Frames = 0;
    void Frame(TObject*) {
      if (++Frames == 2) throw EConvertError("no more frames");
    }
  } failing;
  std::vector<std::string> warnings;
  pic.WarningHandler = [&](TObject*, int severity, const std::string& m) {
    warnings.push_back(std::to_string(severity) + " " + m);
  };
  pic.OnPaint = MakeMethod<&Failing::Frame>(&failing);
  pic.SpeedPercent = 1000;
  TGIFPainter* holder = nullptr;
  pic.StartPainter(holder, target->Canvas(), doAsync | doAnimate | doLoop, rect)->Start();
  while (holder) {
    CheckSynchronize();
    Sleep(1);
  }
  EXPECT_EQ(std::vector<std::string>{"1 no more frames"}, warnings);
}

}  // namespace
}  // namespace om
