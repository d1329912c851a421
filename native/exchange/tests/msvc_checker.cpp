// A checker class compiled by Clang in Microsoft mode (no C runtime), built as
// CHKSGFILES.dll for one Wine test: the bridge then meets objects, virtual
// tables and exports as Microsoft's compiler makes them, not as we lay them out
// by hand. Each operation answers from its arguments and keeps them where the
// test can read them (LastText, LastValues); LiveCheckers counts objects.
typedef __SIZE_TYPE__ size_t;

#define CHECKER_API __declspec(dllexport)
#include "msvc_checker_class.h"

extern "C" {
__declspec(dllexport) long LiveCheckers = 0;
__declspec(dllexport) wchar_t LastText[512];
__declspec(dllexport) __int64 LastValues[8];
}

namespace {
alignas(16) unsigned char pool[8][64];
bool used[8];

void append(size_t& at, const wchar_t* text) {
  if (!text) text = L"(null)";
  while (*text && at + 1 < sizeof LastText / sizeof LastText[0]) LastText[at++] = *text++;
  LastText[at] = 0;
}
}  // namespace

void* CCheckSGFiles::operator new(size_t) noexcept {
  for (int i = 0; i < 8; ++i)
    if (!used[i]) {
      used[i] = true;
      return pool[i];
    }
  return nullptr;
}
void CCheckSGFiles::operator delete(void* object) noexcept {
  for (int i = 0; i < 8; ++i)
    if (object == pool[i]) used[i] = false;
}

CCheckSGFiles* CCheckSGFiles::New() {
  CCheckSGFiles* checker = new CCheckSGFiles;
  if (checker) ++LiveCheckers;
  return checker;
}
void CCheckSGFiles::Delete(CCheckSGFiles* checker) { delete checker; }
unsigned long CCheckSGFiles::CMaxDbPerSG() { return 50; }
CCheckSGFiles::~CCheckSGFiles() { --LiveCheckers; }

long CCheckSGFiles::ErrInit(const wchar_t* const* databases, unsigned long databaseCount, const wchar_t* second,
                            const wchar_t* third, unsigned long flags) {
  size_t at = 0;
  for (unsigned long i = 0; i < databaseCount; ++i) append(at, databases[i]);
  append(at, L"|");
  append(at, second);
  append(at, L"|");
  append(at, third);
  LastValues[0] = databaseCount;
  LastValues[1] = flags;
  LastValues[2] = marker_;
  return -1032;
}

long CCheckSGFiles::ErrCheckDbHeaders(unsigned long* first, unsigned long* second, unsigned long* third, long value) {
  *first = value + 1;
  *second = value + 2;
  *third = 0xFFFFFFFFu;
  return -550;
}

long CCheckSGFiles::ErrCheckDbPages(void* reserved, __int64 first, long second, PagesBlock* block,
                                    unsigned long blockCount, long last) {
  LastValues[0] = reserved == nullptr;
  LastValues[1] = first;
  LastValues[2] = second;
  LastValues[3] = block->input;
  LastValues[4] = block->flags;
  LastValues[5] = blockCount;
  LastValues[6] = last;
  block->flags = 2;
  for (int i = 0; i < 5; ++i) block->values[i] = static_cast<unsigned __int64>(first) + i;
  return -1018;
}

long CCheckSGFiles::ErrCheckLogs(unsigned long* word, long value) {
  *word = static_cast<unsigned long>(value);
  return -501;
}

long CCheckSGFiles::ErrTerm(long value) { return -value; }

__int64 CCheckSGFiles::PgnoFromFileOffset(__int64 offset) { return offset * 3; }
