// Components, events and exceptions of the portable framework core.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/component.h"
#include "framework/events.h"
#include "framework/exceptions.h"

namespace om {
namespace {

struct TRecorder {
  std::vector<std::string> Log;
  void A(TObject*) { Log.push_back("A"); }
  void B(TObject*) { Log.push_back("B"); }
  int Twice(int v) { return 2 * v; }
};

TEST(Events, IdentityIsCodeAndObject) {
  TRecorder r1, r2;
  TNotifyEvent a1 = MakeMethod<&TRecorder::A>(&r1);
  EXPECT_TRUE(a1.Assigned());
  EXPECT_EQ(a1, MakeMethod<&TRecorder::A>(&r1));
  EXPECT_NE(a1, MakeMethod<&TRecorder::B>(&r1));  // same object, other code
  EXPECT_NE(a1, MakeMethod<&TRecorder::A>(&r2));  // same code, other object
  EXPECT_EQ(a1.Method(), MakeMethod<&TRecorder::A>(&r1).Method());
  a1(nullptr);
  MakeMethod<&TRecorder::B>(&r1)(nullptr);
  EXPECT_EQ(r1.Log, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(MakeMethod<&TRecorder::Twice>(&r1)(21), 42);
  TNotifyEvent empty = nullptr;
  EXPECT_FALSE(empty.Assigned());
  EXPECT_EQ(empty.Method(), TMethod{});
}

struct TProbe : TComponent {
  TProbe(TComponent* owner, std::vector<std::string>* log, std::string name)
      : TComponent(owner), Log(log) {
    SetName(std::move(name));
  }
  ~TProbe() override { Log->push_back("~" + Name()); }
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove) {
      Log->push_back(Name() + " hears " + c->Name());
      if (c == Watched) Watched = nullptr;
    }
  }
  void Loaded() override {
    TComponent::Loaded();
    Log->push_back(Name() + " loaded");
  }
  std::vector<std::string>* Log;
  TComponent* Watched = nullptr;
};

TEST(Components, OwnerDestroysOwnedAndSiblingsHearOfIt) {
  std::vector<std::string> log;
  auto* form = new TProbe(nullptr, &log, "form");
  auto* menu = new TProbe(form, &log, "menu");
  auto* tray = new TProbe(form, &log, "tray");
  tray->Watched = menu;
  EXPECT_EQ(form->ComponentCount(), 2);
  EXPECT_EQ(menu->Owner(), form);
  delete menu;  // the tray (a sibling) forgets its reference
  EXPECT_EQ(tray->Watched, nullptr);
  EXPECT_EQ(form->ComponentCount(), 1);
  log.clear();
  delete form;
  EXPECT_EQ(log.front(), "~form");
  EXPECT_EQ(log.back(), "~tray");
}

TEST(Components, FreeNotificationAcrossOwners) {
  std::vector<std::string> log;
  auto* a = new TProbe(nullptr, &log, "a");
  auto* b = new TProbe(nullptr, &log, "b");
  b->Watched = a;
  a->FreeNotification(b);
  a->FreeNotification(b);  // asking twice is one request
  delete a;
  EXPECT_EQ(b->Watched, nullptr);
  EXPECT_EQ(std::count(log.begin(), log.end(), "b hears a"), 1);
  // b no longer refers to a: destroying b must not touch it.
  delete b;
}

TEST(Components, RemovedFreeNotificationIsSilent) {
  std::vector<std::string> log;
  auto* a = new TProbe(nullptr, &log, "a");
  auto* b = new TProbe(nullptr, &log, "b");
  a->FreeNotification(b);
  a->RemoveFreeNotification(b);
  delete a;
  EXPECT_EQ(std::count(log.begin(), log.end(), "b hears a"), 0);
  delete b;
}

TEST(Components, LoadingStateAndLoaded) {
  std::vector<std::string> log;
  TProbe form(nullptr, &log, "form");
  auto* child = new TProbe(&form, &log, "child");
  form.BeginLoading();
  EXPECT_TRUE(form.Loading());
  EXPECT_TRUE(child->Loading());
  form.EndLoading();
  EXPECT_FALSE(form.Loading());
  EXPECT_FALSE(child->Loading());
  EXPECT_EQ(log, (std::vector<std::string>{"form loaded", "child loaded"}));
}

TEST(Components, AssignOfUnrelatedClassRaises) {
  TComponent a(nullptr), b(nullptr);
  EXPECT_THROW(a.Assign(&b), EConvertError);
}

TEST(Exceptions, OSErrorCarriesCodeAndText) {
  try {
    RaiseOSError(2);
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 2u);
    EXPECT_EQ(e.Message().rfind("System Error.  Code: 2.", 0), 0u) << e.Message();
    EXPECT_GT(e.Message().size(), std::string("System Error.  Code: 2.\r\n").size());
  }
  EXPECT_THROW(throw EDkException("x"), Exception);
}

}  // namespace
}  // namespace om
