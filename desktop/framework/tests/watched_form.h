// A form for tests that counts the messages of one id; Action, when set,
// handles them instead of the form.
#pragma once

#include <functional>

#include "framework/forms.h"

namespace om {
namespace testing {

class TWatchedForm : public TForm {
public:
  TWatchedForm(TComponent* AOwner, UINT watched) : TForm(AOwner), Watched(watched) {}
  const UINT Watched;
  int Seen = 0;
  std::function<void(TMessage&)> Action;

protected:
  void WndProc(TMessage& m) override {
    if (m.Msg == Watched) {
      ++Seen;
      if (Action) return Action(m);
    }
    TForm::WndProc(m);
  }
};

}  // namespace testing
}  // namespace om
