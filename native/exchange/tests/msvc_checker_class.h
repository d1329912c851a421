// CCheckSGFiles as Microsoft's compiler declares it, for the two files Clang
// compiles in Microsoft mode: the ABI check imports the class (the default), the
// test checker defines CHECKER_API as dllexport and exports it.
#pragma once

#ifndef CHECKER_API
#define CHECKER_API __declspec(dllimport)
#endif

struct PagesBlock {
  unsigned long input;
  unsigned long flags;
  unsigned __int64 values[5];
};

class CHECKER_API CCheckSGFiles {
 public:
  static CCheckSGFiles* New();
  static void Delete(CCheckSGFiles* checker);
  static unsigned long CMaxDbPerSG();
  virtual ~CCheckSGFiles();
  virtual long ErrInit(const wchar_t* const* databases, unsigned long databaseCount, const wchar_t* second,
                       const wchar_t* third, unsigned long flags);
  virtual long ErrCheckDbHeaders(unsigned long* first, unsigned long* second, unsigned long* third, long value);
  virtual long ErrCheckDbPages(void* reserved, __int64 first, long second, PagesBlock* block, unsigned long blockCount,
                               long last);
  virtual long ErrCheckLogs(unsigned long* word, long value);
  virtual long ErrTerm(long value);
  virtual __int64 PgnoFromFileOffset(__int64 offset);

  // The test checker's objects come from a small pool: it has no C runtime.
  static void* operator new(__SIZE_TYPE__ size) noexcept;
  static void operator delete(void* object) noexcept;

 private:
  unsigned long marker_ = 0x5347u;  // tells the test checker that `this` arrived
};
