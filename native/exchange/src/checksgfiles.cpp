// Natives of com.halvane.exchange.check.CheckSGFiles: each forwards to one
// operation of the Exchange storage-group checker in CHKSGFILES.dll, copying
// strings in and out-values back. The checker's codes pass to Java unchanged;
// the library's own are kOutOfMemory and kInvalidPath. Nothing is thrown.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checker.h"
#include "com_halvane_exchange_check_CheckSGFiles.h"
#include "platform/jni/jni_glue.h"

#if defined(OMEXCHANGE_ALLOCATION_HOOK)
// Test builds: the test checker may refuse a text allocation and counts the
// copies alive, so the tests can make a copy fail and see every copy freed.
extern "C" bool CheckSGFilesTest_Allocating(std::size_t bytes);
extern "C" void CheckSGFilesTest_Freed();
#endif

namespace omexchange {

using namespace om::jni;

namespace {

constexpr jint kOutOfMemory = -1011;  // JET_errOutOfMemory
constexpr jint kInvalidPath = -1023;  // JET_errInvalidPath: a path holding a zero character
// A checker of 0 (what New gives when it cannot make one) is never called: the
// natives answer as for memory that could not be had.
constexpr jint kNoChecker = kOutOfMemory;

// The checker's destructor is bound at load time with the rest of its class.
[[maybe_unused]] void (*const volatile kCheckerDestructor)(Checker*) = &CheckSGFiles_Destructor;

CheckerChar* allocateText(std::size_t count) {
#if defined(OMEXCHANGE_ALLOCATION_HOOK)
  if (!CheckSGFilesTest_Allocating(count * sizeof(CheckerChar))) return nullptr;
#endif
  return static_cast<CheckerChar*>(std::malloc(count * sizeof(CheckerChar)));
}

void freeText(CheckerChar* text) {
  if (!text) return;
  std::free(text);
#if defined(OMEXCHANGE_ALLOCATION_HOOK)
  CheckSGFilesTest_Freed();
#endif
}

// Bounded copy of UTF-16 units, as wmemcpy_s: 0, or 22 (EINVAL) for missing
// pointers, or 34 (ERANGE) with the destination zeroed when it is too small.
int wmemcpy_s(CheckerChar* destination, std::size_t destinationCount, const CheckerChar* source,
              std::size_t count) {
  if (count == 0) return 0;
  if (!destination) return 22;
  if (!source) {
    std::memset(destination, 0, destinationCount * sizeof(CheckerChar));
    return 22;
  }
  if (destinationCount < count) {
    std::memset(destination, 0, destinationCount * sizeof(CheckerChar));
    return 34;
  }
  std::memcpy(destination, source, count * sizeof(CheckerChar));
  return 0;
}

void assertionFailed(const char* text) {
  std::fprintf(stderr, "omexchange: assertion failed: %s\n", text);
  std::fflush(stderr);
}

// A Java string copied to the heap as (length + 1) UTF-16 units ending in zero.
class WideCopy {
 public:
  WideCopy() = default;
  ~WideCopy() { freeText(text_); }
  WideCopy(const WideCopy&) = delete;
  WideCopy& operator=(const WideCopy&) = delete;

  // 0; kOutOfMemory when the string is missing, its memory cannot be had or its
  // characters cannot be read (any exception the JVM raised is cleared);
  // kInvalidPath when the path holds a zero character (the checker would stop
  // there and open another file).
  jint copy(JNIEnv* env, jstring text) {
    if (!text) return kOutOfMemory;
    JavaName path(env, text);
    if (!path.ok()) return path.error() == ERROR_INVALID_NAME ? kInvalidPath : kOutOfMemory;
    std::size_t cText = path.length();
    CheckerChar* pNullTerminatedText = allocateText(cText + 1);
    if (!pNullTerminatedText) return kOutOfMemory;
    const auto* pText = reinterpret_cast<const CheckerChar*>(path.get());
    if (!(0 == wmemcpy_s(pNullTerminatedText, cText, pText, cText))) {
      assertionFailed("0 == wmemcpy_s(pNullTerminatedText, cText, pText, cText)");
      freeText(pNullTerminatedText);
      return kOutOfMemory;
    }
    pNullTerminatedText[cText] = 0;
    text_ = pNullTerminatedText;
    return 0;
  }

  const CheckerChar* get() const { return text_; }

 private:
  CheckerChar* text_ = nullptr;
};

jboolean flagOf(std::uint32_t bits) { return bits != 0 ? JNI_TRUE : JNI_FALSE; }

Checker* checkerOf(jlong handle) { return fromJava<Checker*>(handle); }

}  // namespace
}  // namespace omexchange

using namespace omexchange;

extern "C" {

JNIEXPORT jlong JNICALL Java_com_halvane_exchange_check_CheckSGFiles_New(JNIEnv*, jclass) {
  return toJava(CheckSGFiles_New());
}

JNIEXPORT void JNICALL Java_com_halvane_exchange_check_CheckSGFiles_Delete(JNIEnv*, jclass, jlong checker) {
  CheckSGFiles_Delete(checkerOf(checker));
}

JNIEXPORT jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_CMaxDbPerSG(JNIEnv*, jclass) {
  return static_cast<jint>(CheckSGFiles_CMaxDbPerSG());
}

JNIEXPORT jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(JNIEnv* env, jclass, jlong handle,
                                                                           jstring databasePath, jstring secondPath,
                                                                           jstring thirdPath, jint flags) {
  Checker* checker = checkerOf(handle);
  if (!checker) return kNoChecker;
  WideCopy database, second, third;
  jint copied = database.copy(env, databasePath);
  if (copied == 0) copied = second.copy(env, secondPath);
  if (copied == 0) copied = third.copy(env, thirdPath);
  if (copied != 0) return copied;
  const CheckerChar* databases[1] = {database.get()};
  return checker->operations->errInit(checker, databases, 1, second.get(), third.get(),
                                      static_cast<std::uint32_t>(flags));
}

JNIEXPORT jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbHeaders(JNIEnv* env, jclass,
                                                                                     jlong handle, jintArray out1,
                                                                                     jintArray out2, jintArray out3,
                                                                                     jint value) {
  Checker* checker = checkerOf(handle);
  if (!checker) return kNoChecker;
  std::uint32_t first = 0, second = 0, third = 0;
  jint code = checker->operations->errCheckDbHeaders(checker, &first, &second, &third, value);
  setOut(env, out1, static_cast<jint>(first));
  setOut(env, out2, static_cast<jint>(second));
  setOut(env, out3, static_cast<jint>(third));
  return code;
}

JNIEXPORT jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbPages(
    JNIEnv* env, jclass, jlong handle, jlong first, jint second, jint blockInput, jbooleanArray flag0,
    jbooleanArray flag1, jlongArray out0, jlongArray out1, jlongArray out2, jlongArray out3, jlongArray out4,
    jint last) {
  Checker* checker = checkerOf(handle);
  if (!checker) return kNoChecker;
  DbPagesBlock block{};
  block.input = static_cast<std::uint32_t>(blockInput);
  jint code = checker->operations->errCheckDbPages(checker, nullptr, first, second, &block, 1, last);
  setOut(env, flag0, flagOf(block.flags & 1));
  setOut(env, flag1, flagOf(block.flags & 2));
  jlongArray outs[5] = {out0, out1, out2, out3, out4};
  for (int i = 0; i < 5; ++i) setOut(env, outs[i], static_cast<jlong>(block.values[i]));
  return code;
}

JNIEXPORT jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckLogs(JNIEnv* env, jclass,
                                                                                jlong handle, jbooleanArray out,
                                                                                jint value) {
  Checker* checker = checkerOf(handle);
  if (!checker) return kNoChecker;
  std::uint32_t word = 0;
  jint code = checker->operations->errCheckLogs(checker, &word, value);
  setOut(env, out, flagOf(word & 0xFF));
  return code;
}

JNIEXPORT jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrTerm(JNIEnv*, jclass, jlong handle,
                                                                           jint value) {
  Checker* checker = checkerOf(handle);
  if (!checker) return kNoChecker;
  return checker->operations->errTerm(checker, value);
}

JNIEXPORT jlong JNICALL Java_com_halvane_exchange_check_CheckSGFiles_PgnoFromFileOffset(JNIEnv*, jclass,
                                                                                       jlong handle, jlong offset) {
  Checker* checker = checkerOf(handle);
  if (!checker) return 0;  // no page
  return checker->operations->pgnoFromFileOffset(checker, offset);
}

}  // extern "C"
