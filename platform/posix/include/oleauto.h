// COM basics of the POSIX stand-in: IUnknown, BSTR texts (oleaut32) and the task
// allocator (ole32). A BSTR points at its first character; the 4 bytes before it
// hold the text's length in bytes, and a zero character follows the text.
#pragma once
#include "win32_errors.h"
#include "win32_types.h"

typedef WCHAR OLECHAR;
typedef OLECHAR* BSTR;
typedef const OLECHAR* LPCOLESTR;
typedef unsigned char boolean;
typedef int WINBOOL;
typedef const IID& REFIID;

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

OM_WIN32_API BSTR WINAPI SysAllocString(const OLECHAR* text);
OM_WIN32_API BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length);
OM_WIN32_API void WINAPI SysFreeString(BSTR text);
OM_WIN32_API UINT WINAPI SysStringLen(BSTR text);
OM_WIN32_API UINT WINAPI SysStringByteLen(BSTR text);

OM_WIN32_API LPVOID WINAPI CoTaskMemAlloc(SIZE_T bytes);
OM_WIN32_API void WINAPI CoTaskMemFree(LPVOID block);
