// The JNI glue through the in-process JNI environment: range checks that no int
// sum can fool, strings that keep every UTF-16 unit, out-arrays that take only
// element 0, system message texts, and exceptions carrying non-ASCII text.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/jni/jni_glue.h"
#include "platform/jni/testing/fake_jni.h"

namespace {

using om::WString;
using namespace om::jni;

WString wide(const std::u16string& text) { return WString(text.begin(), text.end()); }

TEST(JniGlue, RangesInSixtyFourBits) {
  EXPECT_TRUE(inRange(10, 10, 0));
  EXPECT_TRUE(inRange(10, 2, 8));
  EXPECT_FALSE(inRange(10, 2, 9));
  EXPECT_FALSE(inRange(10, -1, 1));
  EXPECT_FALSE(inRange(10, 1, -1));
  EXPECT_FALSE(inRange(10, INT_MAX, INT_MAX));  // wraps to a small negative sum in 32 bits
  EXPECT_FALSE(inRange(10, 5, INT64_MAX));

  omtest::FakeJni jni;
  jbyteArray array = jni.bytes(8);
  PinnedArray pinned(jni.env(), array, PinnedArray::kNoCopyBack);
  ASSERT_TRUE(pinned.ok());
  EXPECT_EQ(pinned.range(8, 0), pinned.bytes() + 8);
  EXPECT_EQ(pinned.range(4, INT_MAX), nullptr);
  EXPECT_FALSE(inRange(jni.env(), nullptr, 0, 0));
  PinnedArray none(jni.env(), nullptr, PinnedArray::kCopyBack);
  EXPECT_FALSE(none.ok());
}

TEST(JniGlue, StringsKeepEveryUnit) {
  omtest::FakeJni jni;
  JNIEnv* env = jni.env();
  std::u16string text = u"p\u00f6?x-\U0001F600";
  text[2] = 0;  // an embedded zero stays a character of a text
  JavaText copy(env, jni.string(text));
  ASSERT_TRUE(copy.ok());
  EXPECT_EQ(copy.length(), 7u);
  EXPECT_EQ(std::u16string(copy.get(), copy.get() + 7), text);
  EXPECT_EQ(copy.get()[7], 0);
  EXPECT_EQ(jni.openPins(), 0);

  // ... and makes a name another one: refused.
  JavaName name(env, jni.string(text));
  EXPECT_EQ(name.error(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(name.get(), nullptr);
  EXPECT_TRUE(JavaName(env, jni.string(text.substr(0, 2))).ok());
  EXPECT_EQ(jni.openPins(), 0);

  JavaName null(env, nullptr);
  EXPECT_TRUE(null.ok());
  EXPECT_EQ(null.get(), nullptr);
  JavaText unreadable(env, jni.unreadableString(u"x"));
  EXPECT_EQ(unreadable.error(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
  EXPECT_FALSE(jni.exceptionPending());

  // Modified UTF-8: a zero is two bytes, each half of a surrogate pair three.
  EXPECT_EQ(toModifiedUtf8(copy.get(), copy.length()),
            "p\xC3\xB6\xC0\x80x-\xED\xA0\xBD\xED\xB8\x80");

  // The system code page both ways (UTF-8 on the stand-in, a Windows code page on Wine).
  std::string ansi;
  ASSERT_EQ(toCodePage(copy.get(), 2, CP_ACP, ansi), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(fromCodePage(ansi.c_str(), -1, CP_ACP), wide(u"p\u00f6"));
  jstring back = newString(env, copy.text());
  EXPECT_EQ(env->GetStringLength(back), 7);
}

TEST(JniGlue, OutArraysTakeElementZeroOnly) {
  omtest::FakeJni jni;
  JNIEnv* env = jni.env();
  EXPECT_FALSE(setOut(env, static_cast<jlongArray>(nullptr), 1));
  EXPECT_FALSE(setOut(env, jni.longs(0), 1));
  jlongArray longer = jni.longs(3, 9);
  EXPECT_TRUE(setOut(env, longer, 5));
  EXPECT_EQ(jni.longsOf(longer), (std::vector<jlong>{5, 9, 9}));
  EXPECT_EQ(takeLong(env, longer), 5);
  EXPECT_EQ(takeLong(env, jni.longs(0)), 0);
  EXPECT_TRUE(isOutArray(env, jni.ints(1)));
  EXPECT_FALSE(isOutArray(env, jni.ints(2)));
  EXPECT_FALSE(jni.exceptionPending());
}

TEST(SystemMessage, TextWithoutLineEndAndFallback) {
  WString message = systemMessageText(2);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.find(u'\r'), WString::npos);
  EXPECT_EQ(message.find(u'\n'), WString::npos);
  EXPECT_NE(message, wide(u"no error message"));
  EXPECT_EQ(systemMessageText(0x2000F00Du), wide(u"no error message"));  // a code without system text
  EXPECT_EQ(systemMessageText(0x80070002u), message);  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)

  omtest::FakeJni jni;
  throwByName(jni.env(), "java/io/IOException", "buffer length < 4");
  EXPECT_EQ(jni.exceptionText(), "java/io/IOException: buffer length < 4");
  jni.clearException();
  jclass type = jni.type("com/ombrel/util/exceptions/ErrorCodeException");
  throwWithCode(jni.env(), type, jni.env()->GetMethodID(type, "<init>", "(Ljava/lang/String;I)V"), 2);
  EXPECT_EQ(jni.exceptionText(), "com/ombrel/util/exceptions/ErrorCodeException: " + jni.textOf(newSystemMessage(jni.env(), 2)));
}

}  // namespace
