// The Windows bridge against a checker class compiled in Microsoft mode (see
// msvc_checker.cpp), which sits beside this program as CHKSGFILES.dll.
#include <gtest/gtest.h>

#include <string>

#include "platform/jni/testing/fake_jni.h"
#include "platform/win32.h"
#include "com_halvane_exchange_check_CheckSGFiles.h"

namespace {

template <typename T>
T* checkerData(const char* name) {
  HMODULE checker = GetModuleHandleW(L"CHKSGFILES.dll");
  return checker ? reinterpret_cast<T*>(GetProcAddress(checker, name)) : nullptr;
}

TEST(ExchangeMsvcChecker, EveryNativeReachesTheCompiledClass) {
  omtest::FakeJni jni;
  JNIEnv* env = jni.env();
  jclass type = jni.type("com/halvane/exchange/check/CheckSGFiles");
  auto* live = checkerData<long>("LiveCheckers");
  auto* text = checkerData<wchar_t>("LastText");
  auto* values = checkerData<long long>("LastValues");
  ASSERT_TRUE(live && text && values) << "CHKSGFILES.dll beside the test is not the compiled checker";

  EXPECT_EQ(50, Java_com_halvane_exchange_check_CheckSGFiles_CMaxDbPerSG(env, type));
  jlong checker = Java_com_halvane_exchange_check_CheckSGFiles_New(env, type);
  ASSERT_NE(0, checker);
  EXPECT_EQ(1, *live);

  EXPECT_EQ(-1032, Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(
                       env, type, checker, jni.string(u"D:\\SG1\\priv\u00e41.edb"), jni.string(u"E00"),
                       jni.string(u"L:\\SG1"), -2));
  EXPECT_EQ(std::wstring(L"D:\\SG1\\priv\u00e41.edb|E00|L:\\SG1"), std::wstring(text));
  EXPECT_EQ(1, values[0]);
  EXPECT_EQ(0xFFFFFFFEll, values[1]);
  EXPECT_EQ(0x5347, values[2]);  // the object's own field: `this` arrived

  jintArray a = jni.ints(1), b = jni.ints(1), c = jni.ints(1);
  EXPECT_EQ(-550, Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbHeaders(env, type, checker, a, b, c, 40));
  EXPECT_EQ((std::vector<jint>{41}), jni.intsOf(a));
  EXPECT_EQ((std::vector<jint>{42}), jni.intsOf(b));
  EXPECT_EQ((std::vector<jint>{-1}), jni.intsOf(c));

  jbooleanArray flag0 = jni.booleans(1), flag1 = jni.booleans(1);
  jlongArray outs[5];
  for (auto& out : outs) out = jni.longs(1);
  EXPECT_EQ(-1018, Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbPages(
                       env, type, checker, 0x123456789ABLL, -5, 4096, flag0, flag1, outs[0], outs[1], outs[2],
                       outs[3], outs[4], 17));
  EXPECT_EQ((std::vector<long long>{1, 0x123456789ABLL, -5, 4096, 0, 1, 17}),
            std::vector<long long>(values, values + 7));
  EXPECT_EQ((std::vector<jboolean>{0}), jni.booleansOf(flag0));
  EXPECT_EQ((std::vector<jboolean>{1}), jni.booleansOf(flag1));
  for (int i = 0; i < 5; ++i) EXPECT_EQ((std::vector<jlong>{0x123456789ABLL + i}), jni.longsOf(outs[i]));

  jbooleanArray logs = jni.booleans(1);
  EXPECT_EQ(-501, Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckLogs(env, type, checker, logs, 1));
  EXPECT_EQ((std::vector<jboolean>{1}), jni.booleansOf(logs));
  EXPECT_EQ(-501, Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckLogs(env, type, checker, logs, 0x100));
  EXPECT_EQ((std::vector<jboolean>{0}), jni.booleansOf(logs));

  EXPECT_EQ(-77, Java_com_halvane_exchange_check_CheckSGFiles_ErrTerm(env, type, checker, 77));
  EXPECT_EQ(0x3000000000003LL,
            Java_com_halvane_exchange_check_CheckSGFiles_PgnoFromFileOffset(env, type, checker, 0x1000000000001LL));

  Java_com_halvane_exchange_check_CheckSGFiles_Delete(env, type, checker);
  EXPECT_EQ(0, *live);
  EXPECT_EQ(0, jni.openPins());
}

}  // namespace
