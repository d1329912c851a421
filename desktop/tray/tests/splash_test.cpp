// The splash window under Wine: its size with and without the brand picture,
// the picture animating in the window (compared with Pillow's frames of a
// picture made at build time), the wait for two timer ticks or a click, and
// the modal About box closed by a click.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "framework/forms.h"
#include "framework/thread.h"
#include "gif/gif_painter_win32.h"
#include "gif/gif_picture_win32.h"
#include "tray/splash.h"
#include "screen_capture.h"
#include "tray/tray_seams.h"

namespace om {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

const std::string kFixtures = std::string("Z:") + SPLASH_FIXTURE_DIR;

void Pump() {
  Application()->ProcessMessages();
  CheckSynchronize();
}

// The picture area of the window as RGB bytes, read from the screen.
std::string Grab(HWND wnd, const RECT& r) {
  std::string rgb;
  for (uint32_t c : testing::CaptureClient(wnd, r)) {
    rgb += char(c >> 16);
    rgb += char(c >> 8);
    rgb += char(c);
  }
  return rgb;
}

class Splash : public ::testing::Test {
protected:
  void SetUp() override {
    InitializeGIFCodec();
    TSplashForm::PictureFolder = kFixtures;
  }
  void TearDown() override {
    TSplashForm::PictureFolder.clear();
    FinalizeGIFCodec();
  }
  bool HavePicture() { return !ReadFile(kFixtures + "/brand/images/splash.gif").empty(); }
};

TEST_F(Splash, WithoutThePictureKeepsTheDesignedSizeAndWaitsForTwoTicks) {
  TSplashForm::PictureFolder = kFixtures + "/missing";
  TSplashForm form(nullptr);
  form.ShowSplash("Title");
  EXPECT_EQ(nullptr, form.Picture());
  RECT r;
  GetWindowRect(form.Handle(), &r);
  EXPECT_EQ(316, r.right - r.left);
  EXPECT_EQ(256, r.bottom - r.top);
  EXPECT_EQ(0, GetWindowLongA(form.Handle(), GWL_STYLE) & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME));
  char caption[64] = {};
  GetWindowTextA(form.Handle(), caption, sizeof caption);
  EXPECT_STREQ("SplashForm", caption);
  EXPECT_TRUE(form.lblVersion.Caption.empty());
  EXPECT_EQ(0, TSplashForm::TickCount);
  form.Close();
  EXPECT_GE(TSplashForm::TickCount, 2);
  EXPECT_FALSE(IsWindowVisible(form.Handle()));
}

TEST_F(Splash, AClickEndsTheStartUpDisplayAtOnce) {
  TSplashForm form(nullptr);
  form.ShowSplash("");
  form.Timer1->SetEnabled(false);  // only the click can end the wait now
  PostMessageA(form.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
  form.Close();
  EXPECT_EQ(2, TSplashForm::TickCount);
}

TEST_F(Splash, ThePictureAnimatesInTheWindowFrameByFrame) {
  if (!HavePicture()) GTEST_SKIP() << "Pillow was not available on the build host";
  std::set<std::string> expected;
  for (int i = 0; i < 3; ++i) expected.insert(ReadFile(kFixtures + "/splash." + std::to_string(i) + ".rgb"));
  ASSERT_EQ(3u, expected.size());
  TSplashForm form(nullptr);
  form.ShowSplash("");
  ASSERT_NE(nullptr, form.Picture());
  RECT r;
  GetWindowRect(form.Handle(), &r);
  EXPECT_EQ(60 + 16, r.right - r.left);
  EXPECT_EQ(40 + 16, r.bottom - r.top);
  SetWindowPos(form.Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  std::set<std::string> seen;
  // Three frames of 100 ms each: every one shows within a few passes.
  for (int spin = 0; spin < 20000 && seen.size() < 3; ++spin) {
    Pump();
    UpdateWindow(form.Handle());
    std::string shot = Grab(form.Handle(), form.PictureRect());
    if (expected.count(shot)) seen.insert(shot);
    Sleep(2);
  }
  EXPECT_EQ(3u, seen.size()) << "frames of the picture seen in the window";
  ASSERT_NE(nullptr, form.Picture()->ActivePainter);
  PostMessageA(form.Handle(), WM_LBUTTONUP, 0, 0);
  form.Close();
  // Destroying the form halts its painter.
}

TEST_F(Splash, TheAboutBoxIsModalUntilClicked) {
  TSplashForm form(nullptr);
  form.Handle();
  PostMessageA(form.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(IDOK, form.ShowAboutBox("About"));
  EXPECT_TRUE(form.Modal());
  EXPECT_FALSE(form.Timer1->Enabled());
  EXPECT_EQ("About", form.TitleLabel.Caption);
  EXPECT_FALSE(IsWindowVisible(form.Handle()));
}

TEST_F(Splash, ShowSplashFormRunsTheModalAboutBoxAndReturnsOnAClick) {
  // A click queued for the window the About box is about to show.
  std::thread clicker([] {
    for (int i = 0; i < 5000; ++i) {
      HWND w = FindWindowA(nullptr, "SplashForm");
      if (w && IsWindowVisible(w)) {
        PostMessageA(w, WM_LBUTTONUP, 0, 0);
        return;
      }
      Sleep(2);
    }
  });
  ShowSplashForm(true);
  clicker.join();
  EXPECT_EQ(nullptr, FindWindowA(nullptr, "SplashForm"));
}

TEST_F(Splash, TheProgramsSplashTextColorResourceColoursBothLabels) {
  // This program's string resource "SplashTextColor" holds 255.
  TSplashForm form(nullptr);
  form.ShowSplash("Title");
  EXPECT_EQ(RGB(255, 0, 0), form.TitleLabel.Color);
  EXPECT_EQ(RGB(255, 0, 0), form.lblVersion.Color);
  PostMessageA(form.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
  form.Close();
}

}  // namespace
}  // namespace om
