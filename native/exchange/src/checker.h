// The checker object of CHKSGFILES.dll as Microsoft's x64 compiler lays it out,
// and the checker's exported entry points this library imports.
//
// The object starts with a pointer to its table of virtual operations. Microsoft's
// compiler gives a virtual destructor one slot (the scalar deleting destructor,
// which takes a flags word; bit 0 frees the memory), followed by the operations
// in declaration order. Member functions take `this` as their first argument,
// so on x64 a plain function pointer whose first parameter is the object has the
// same calling convention. GCC builds of this library (Itanium C++ ABI) must not
// declare the class as C++: that would give two destructor slots and other names.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace omexchange {

using CheckerChar = char16_t;  // WCHAR: one UTF-16 unit

struct Checker;

// Out-values of the page check: an input value, a flag word, five 64-bit values.
struct DbPagesBlock {
  uint32_t input;
  uint32_t flags;
  uint64_t values[5];
};
static_assert(sizeof(DbPagesBlock) == 48, "page check block is 48 bytes");
static_assert(offsetof(DbPagesBlock, values) == 8, "page check values follow the two words");

// The virtual operations, slot by slot.
struct CheckerOperations {
  void* (*scalarDeletingDestructor)(Checker* self, unsigned int flags);
  int32_t (*errInit)(Checker* self, const CheckerChar* const* databases, uint32_t databaseCount,
                          const CheckerChar* second, const CheckerChar* third, uint32_t flags);
  int32_t (*errCheckDbHeaders)(Checker* self, uint32_t* first, uint32_t* second,
                                    uint32_t* third, int32_t value);
  int32_t (*errCheckDbPages)(Checker* self, void* reserved, int64_t first, int32_t second,
                                  DbPagesBlock* block, uint32_t blockCount, int32_t last);
  int32_t (*errCheckLogs)(Checker* self, uint32_t* word, int32_t value);
  int32_t (*errTerm)(Checker* self, int32_t value);
  int64_t (*pgnoFromFileOffset)(Checker* self, int64_t offset);
};

struct Checker {
  const CheckerOperations* operations;
};

}  // namespace omexchange

// The checker's exported functions. On Windows the import library maps these
// names onto the decorated C++ names of CHKSGFILES.dll (see chksgfiles.def);
// on Linux the test checker exports them under these names.
#if defined(_WIN32)
#define OMEXCHANGE_CHECKER_IMPORT __declspec(dllimport)
#else
#define OMEXCHANGE_CHECKER_IMPORT
#endif
extern "C" {
OMEXCHANGE_CHECKER_IMPORT omexchange::Checker* CheckSGFiles_New();
OMEXCHANGE_CHECKER_IMPORT void CheckSGFiles_Delete(omexchange::Checker* checker);
OMEXCHANGE_CHECKER_IMPORT uint32_t CheckSGFiles_CMaxDbPerSG();
OMEXCHANGE_CHECKER_IMPORT void CheckSGFiles_Destructor(omexchange::Checker* checker);
}
