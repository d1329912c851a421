// Method pointers: an event is a code pointer plus the object it runs on.
// Two events are equal when both parts are equal, so a handler can be found
// again (and removed) by the method and object it was made from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace om {

// The untyped identity of an event.
struct TMethod {
  void* Code = nullptr;
  void* Data = nullptr;
  bool operator==(const TMethod& o) const { return Code == o.Code && Data == o.Data; }
  bool operator!=(const TMethod& o) const { return !(*this == o); }
};

template <class Sig>
class TEvent;

template <class R, class... A>
class TEvent<R(A...)> {
public:
  // Code of an event: a plain function that receives the object first.
  using TCode = R (*)(void* self, A...);

  TEvent() = default;
  TEvent(std::nullptr_t) {}  // NOLINT: lets "Event = nullptr" clear it
  TEvent(TCode code, void* data) : FCode(code), FData(data) {}

  bool Assigned() const { return FCode != nullptr; }
  explicit operator bool() const { return Assigned(); }
  R operator()(A... a) const { return FCode(FData, std::forward<A>(a)...); }

  TCode Code() const { return FCode; }
  void* Data() const { return FData; }
  TMethod Method() const { return TMethod{reinterpret_cast<void*>(FCode), FData}; }

  bool operator==(const TEvent& o) const { return FCode == o.FCode && FData == o.FData; }
  bool operator!=(const TEvent& o) const { return !(*this == o); }

private:
  TCode FCode = nullptr;
  void* FData = nullptr;
};

namespace detail {
template <class T>
struct MemberTraits;
template <class C, class R, class... A>
struct MemberTraits<R (C::*)(A...)> {
  using Class = C;
  using Event = TEvent<R(A...)>;
  template <R (C::*M)(A...)>
  static R Thunk(void* self, A... a) {
    return (static_cast<C*>(self)->*M)(std::forward<A>(a)...);
  }
};
}  // namespace detail

// Makes an event from a member function and its object:
//   Tray->OnClick = om::MakeMethod<&TMyForm::TrayClick>(this);
// The same member and object always give an equal event.
template <auto M>
typename detail::MemberTraits<decltype(M)>::Event MakeMethod(
    typename detail::MemberTraits<decltype(M)>::Class* obj) {
  using Tr = detail::MemberTraits<decltype(M)>;
  return typename Tr::Event(&Tr::template Thunk<M>, static_cast<void*>(obj));
}

class TObject;
using TNotifyEvent = TEvent<void(TObject* Sender)>;

}  // namespace om
