// CCheckSGFiles as Microsoft's compiler sees it, compiled by Clang in Microsoft
// mode for the ABI check: each virtual operation called on the class and the
// same call through our explicit table (checker.h) must compile to the same
// code, and the entry points the class imports are the names we bind to.
#include "checker.h"
#include "msvc_checker_class.h"

using omexchange::Checker;
#define P(n) reinterpret_cast<unsigned long*>(n)
#define Q(n) reinterpret_cast<uint32_t*>(n)

extern "C" {

void* imports() {
  CCheckSGFiles* checker = CCheckSGFiles::New();
  checker->CCheckSGFiles::~CCheckSGFiles();
  CCheckSGFiles::Delete(checker);
  return reinterpret_cast<void*>(static_cast<uintptr_t>(CCheckSGFiles::CMaxDbPerSG()));
}

void msvc_destructor(CCheckSGFiles* c) { delete c; }
void ours_destructor(Checker* c) {
  if (c) c->operations->scalarDeletingDestructor(c, 1);
}

long msvc_errInit(CCheckSGFiles* c, const wchar_t* const* d) {
  return c->ErrInit(d, 1, L"second", L"third", 0x80000001u);
}
long ours_errInit(Checker* c, const omexchange::CheckerChar* const* d) {
  return c->operations->errInit(c, d, 1, u"second", u"third", 0x80000001u);
}

long msvc_errCheckDbHeaders(CCheckSGFiles* c) { return c->ErrCheckDbHeaders(P(0x10), P(0x20), P(0x30), -7); }
long ours_errCheckDbHeaders(Checker* c) {
  return c->operations->errCheckDbHeaders(c, Q(0x10), Q(0x20), Q(0x30), -7);
}

long msvc_errCheckDbPages(CCheckSGFiles* c, __int64 first, long second, long last) {
  return c->ErrCheckDbPages(nullptr, first, second, reinterpret_cast<PagesBlock*>(0x40), 1, last);
}
long ours_errCheckDbPages(Checker* c, __int64 first, long second, long last) {
  return c->operations->errCheckDbPages(c, nullptr, first, second, reinterpret_cast<omexchange::DbPagesBlock*>(0x40),
                                        1, last);
}

long msvc_errCheckLogs(CCheckSGFiles* c, long value) { return c->ErrCheckLogs(P(0x50), value); }
long ours_errCheckLogs(Checker* c, long value) { return c->operations->errCheckLogs(c, Q(0x50), value); }

long msvc_errTerm(CCheckSGFiles* c, long value) { return c->ErrTerm(value); }
long ours_errTerm(Checker* c, long value) { return c->operations->errTerm(c, value); }

__int64 msvc_pgnoFromFileOffset(CCheckSGFiles* c, __int64 offset) { return c->PgnoFromFileOffset(offset); }
__int64 ours_pgnoFromFileOffset(Checker* c, __int64 offset) { return c->operations->pgnoFromFileOffset(c, offset); }

}  // extern "C"
