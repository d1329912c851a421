// Lock classes of the desktop support library.
#pragma once

#include "framework/object.h"
#include "platform/win32.h"

namespace om {

// One critical section, made at construction and deleted at destruction.
class TDsCriticalSection : public TObject {
public:
  TDsCriticalSection() { InitializeCriticalSection(&FSection); }
  ~TDsCriticalSection() override { DeleteCriticalSection(&FSection); }
  void Enter() { EnterCriticalSection(&FSection); }
  void Leave() { LeaveCriticalSection(&FSection); }

private:
  CRITICAL_SECTION FSection;
};

// Reference-counting interface whose references hold a lock.
class IDsLockInterface {
public:
  virtual int _AddRef() = 0;
  virtual int _Release() = 0;

protected:
  ~IDsLockInterface() = default;
};

// Owns a critical section; taking an interface reference enters it, dropping
// the reference leaves it. References never free the object.
class TDsIntfCriticalSection : public TObject, public IDsLockInterface {
public:
  TDsIntfCriticalSection() = default;
  int _AddRef() override {
    FSection.Enter();
    return 0;
  }
  int _Release() override {
    FSection.Leave();
    return 0;
  }

private:
  TDsCriticalSection FSection;
};

// A held interface reference: the lock is held from construction to
// destruction (or Release).
class TDsLockRef {
public:
  explicit TDsLockRef(IDsLockInterface* intf) : FIntf(intf) {
    if (FIntf) FIntf->_AddRef();
  }
  ~TDsLockRef() { Release(); }
  TDsLockRef(const TDsLockRef&) = delete;
  TDsLockRef& operator=(const TDsLockRef&) = delete;
  void Release() {
    if (FIntf) FIntf->_Release();
    FIntf = nullptr;
  }

private:
  IDsLockInterface* FIntf;
};

}  // namespace om
