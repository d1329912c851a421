// The form magnet on real forms, driven by WM_MOVING rectangles.
#include <gtest/gtest.h>

#include "framework/tests/watched_form.h"
#include "support/dkformmagnet.h"
#include "support/dkwndprochook.h"

namespace om {
namespace {

constexpr double kT0 = 46000.5;
constexpr double kMs = 1.0 / 86400000.0;

class FormMagnet : public ::testing::Test {
protected:
  void SetUp() override {
    RECT r{};
    HMONITOR mon = MonitorFromPoint(POINT{400, 300}, MONITOR_DEFAULTTONEAREST);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    ASSERT_TRUE(GetMonitorInfoA(mon, &mi));
    Work = mi.rcWork;
    (void)r;
    Form = new testing::TWatchedForm(Application(), WM_MOVING);
    Form->SetBounds(Work.left + 200, Work.top + 200, 300, 200);
    Form->Handle();
    Magnet = new TDkFormMagnet(Form);
    Magnet->Now = [this] { return Now; };
  }
  void TearDown() override { delete Form; }
  // Proposes the form's rectangle moved by dx, dy; returns what came back.
  RECT Drag(int dx, int dy) {
    RECT r{Form->Left() + dx, Form->Top() + dy, Form->Left() + dx + Form->Width(),
           Form->Top() + dy + Form->Height()};
    SendMessageA(Form->Handle(), WM_MOVING, WMSZ_TOP, reinterpret_cast<LPARAM>(&r));
    return r;
  }
  RECT Work{};
  double Now = kT0;
  testing::TWatchedForm* Form = nullptr;
  TDkFormMagnet* Magnet = nullptr;
};

TEST_F(FormMagnet, DefaultsAndHook) {
  EXPECT_FALSE(Magnet->Active);
  EXPECT_TRUE(Magnet->ScreenMagnet);
  EXPECT_EQ(Magnet->Area, 15u);
  EXPECT_TRUE(Magnet->FormGlue);
  EXPECT_FALSE(Magnet->MainFormMagnet);
  EXPECT_EQ(Magnet->Form(), Form);
  ASSERT_NE(DkWndProcHook()->Find(Form), nullptr);
  EXPECT_EQ(DkWndProcHook()->Find(Form)->HandlerCount(hoBeforeMsg), 1);
}

TEST_F(FormMagnet, InactiveLeavesTheRectangleAlone) {
  Form->SetBounds(Work.left + 10, Work.top + 300, 300, 200);
  RECT r = Drag(-5, 0);
  EXPECT_EQ(r.left, Work.left + 5);
  EXPECT_EQ(Form->Seen, 1);
}

TEST_F(FormMagnet, SnapsToTheWorkAreaAndTheFormStillSeesTheMessage) {
  Magnet->Active = true;
  Form->SetBounds(Work.left + 10, Work.top + 300, 300, 200);
  RECT r = Drag(-5, 0);  // left edge 5 px inside the work area
  EXPECT_EQ(r.left, Work.left);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_EQ(Magnet->Clocks().Left, kT0);
  EXPECT_EQ(Form->Seen, 1);  // never marked handled
  // Pulled 10 px past the edge long after: tears 15 px beyond.
  Form->SetBounds(Work.left, Work.top + 300, 300, 200);
  Now = kT0 + 1000 * kMs;
  r = Drag(-10, 0);
  EXPECT_EQ(r.left, Work.left - 15);
  // Bottom edge: onto it, not past it.
  Form->SetBounds(Work.left + 300, Work.bottom - 210, 300, 200);
  Now = kT0 + 2000 * kMs;
  r = Drag(0, 5);
  EXPECT_EQ(r.bottom, Work.bottom);
}

TEST_F(FormMagnet, TouchingFormsMoveAlong) {
  Magnet->Active = true;
  Magnet->ScreenMagnet = false;
  auto* right = new TForm(Application());
  right->SetBounds(Form->Left() + Form->Width(), Form->Top() + 50, 100, 100);  // touches our right edge
  auto* apart = new TForm(Application());
  apart->SetBounds(Form->Left() + Form->Width() + 1, Form->Top(), 100, 100);
  int rightLeft = right->Left(), rightTop = right->Top(), apartLeft = apart->Left();
  Drag(-7, 3);
  EXPECT_EQ(right->Left(), rightLeft - 7);
  EXPECT_EQ(right->Top(), rightTop + 3);
  EXPECT_EQ(apart->Left(), apartLeft);
  Magnet->FormGlue = false;
  Drag(-7, 3);
  EXPECT_EQ(right->Left(), rightLeft - 7);
  delete right;
  delete apart;
}

TEST_F(FormMagnet, MainFormMagnetSticksToTheMainFormsSide) {
  auto* main = new TForm(Application());
  main->SetBounds(Work.left + 100, Work.top + 100, 200, 200);  // right edge at +300
  main->Handle();
  Application()->SetMainForm(main);
  Magnet->Active = true;
  Magnet->ScreenMagnet = false;
  Magnet->FormGlue = false;
  Magnet->MainFormMagnet = true;
  Form->SetBounds(Work.left + 320, Work.top + 150, 300, 200);
  RECT r = Drag(-10, 0);  // 10 px right of the main form, moving towards it
  EXPECT_EQ(r.left, Work.left + 300);
  Application()->SetMainForm(nullptr);
  delete main;
}

TEST_F(FormMagnet, DestroyingTheMagnetRemovesItsHook) {
  delete Magnet;
  Magnet = nullptr;
  EXPECT_EQ(DkWndProcHook()->Find(Form)->HandlerCount(hoBeforeMsg), 0);
}

}  // namespace
}  // namespace om
