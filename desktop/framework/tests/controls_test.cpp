// Actions linked to menu items, and the standard child controls on their
// system classes, driven through the messages the system sends.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include <commctrl.h>

#include <memory>
#include <string>

#include "framework/actnlist.h"
#include "framework/forms.h"
#include "framework/menus.h"
#include "framework/stdctrls.h"

namespace om {
namespace {

struct TCounter {
  int Executed = 0, Updated = 0, Clicked = 0;
  bool EnableOnUpdate = true;
  TAction* Action = nullptr;
  void Execute(TObject*) { ++Executed; }
  void Update(TObject*) {
    ++Updated;
    Action->SetEnabled(EnableOnUpdate);
  }
  void Click(TObject*) { ++Clicked; }
};

std::string TextOf(HWND w) {
  char buf[256] = {};
  GetWindowTextA(w, buf, sizeof buf);
  return buf;
}
std::string ClassOf(HWND w) {
  char buf[64] = {};
  GetClassNameA(w, buf, sizeof buf);
  return buf;
}

}  // namespace

TEST(Actions, LinkedItemsFollowChangesOnly) {
  TComponent owner(nullptr);
  auto* list = new TActionList(&owner);
  auto* a = new TAction(&owner);
  a->SetActionList(list);
  a->SetCaption("Run");
  TCounter c;
  c.Action = a;
  a->OnExecute = MakeMethod<&TCounter::Execute>(&c);
  a->OnUpdate = MakeMethod<&TCounter::Update>(&c);
  auto* item = new TMenuItem(&owner);
  a->LinkMenuItem(item);
  EXPECT_EQ(item->Caption, "Run");
  EXPECT_TRUE(item->Visible);
  // An item set directly keeps its value while the action's stays the same.
  item->Visible = false;
  a->SetVisible(true);
  EXPECT_FALSE(item->Visible);
  a->SetVisible(false);
  a->SetVisible(true);
  EXPECT_TRUE(item->Visible);

  item->Click();  // update, then execute
  EXPECT_EQ(c.Updated, 1);
  EXPECT_EQ(c.Executed, 1);
  c.EnableOnUpdate = false;
  item->Click();
  EXPECT_EQ(c.Executed, 1);
  EXPECT_FALSE(item->Enabled);
  EXPECT_FALSE(a->Execute());
  list->UpdateActions();
  EXPECT_EQ(c.Updated, 3);
  ASSERT_EQ(list->ActionCount(), 1);
  // An item that goes away is dropped from the action.
  delete item;
  a->SetCaption("Other");
  delete a;
  EXPECT_EQ(list->ActionCount(), 0);
}

TEST(StdControls, ControlsOnTheSystemClasses) {
  auto form = std::make_unique<TForm>(nullptr);
  form->SetBounds(100, 100, 400, 300);
  auto* label = new TLabel(form.get(), form.get());
  label->SetBounds(5, 5, 200, 16);
  label->SetCaption("first");
  label->Show();
  EXPECT_EQ(ClassOf(label->Handle()), "OmLabel");
  EXPECT_EQ(TextOf(label->Handle()), "first");
  label->SetCaption("second");
  EXPECT_EQ(TextOf(label->Handle()), "second");
  EXPECT_EQ(GetParent(label->Handle()), form->Handle());

  auto* gauge = new TGauge(form.get(), form.get());
  gauge->SetBounds(5, 30, 200, 17);
  gauge->SetProgress(40);
  gauge->Show();
  EXPECT_EQ(SendMessageA(gauge->Handle(), PBM_GETPOS, 0, 0), 40);

  TCounter c;
  auto* button = new TButton(form.get(), form.get());
  button->SetBounds(5, 60, 80, 25);
  button->OnClick = MakeMethod<&TCounter::Click>(&c);
  button->Show();
  SendMessageA(button->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(c.Clicked, 1);

  auto* toggle = new TButton(form.get(), form.get());
  toggle->Toggle = true;
  toggle->SetBounds(100, 60, 80, 25);
  toggle->Show();
  SendMessageA(toggle->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(toggle->Down());
  EXPECT_EQ(SendMessageA(toggle->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
  toggle->Click();
  EXPECT_FALSE(toggle->Down());
  EXPECT_EQ(SendMessageA(toggle->Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  auto* check = new TCheckBox(form.get(), form.get());
  check->SetBounds(5, 100, 200, 17);
  check->Show();
  EXPECT_FALSE(check->Checked());
  SendMessageA(check->Handle(), BM_CLICK, 0, 0);
  EXPECT_TRUE(check->Checked());

  auto* group = new TRadioGroup(form.get(), form.get());
  group->SetBounds(5, 130, 200, 80);
  group->Items = {"one", "two"};
  group->SetItemIndex(0);
  group->Show();
  group->UpdateButtons();
  EXPECT_EQ(TextOf(group->ButtonHandle(1)), "two");
  SendMessageA(group->ButtonHandle(1), BM_CLICK, 0, 0);
  EXPECT_EQ(group->ItemIndex(), 1);
  EXPECT_EQ(SendMessageA(group->ButtonHandle(0), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  // A bottom-anchored control keeps its distance to the bottom edge.
  button->AnchorBottom = true;
  button->ParentResized(270, 335);
  EXPECT_EQ(button->Top(), 125);
}

}  // namespace om
