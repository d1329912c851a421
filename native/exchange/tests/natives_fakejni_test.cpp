// The natives of omexchange-win32-x64 called as the agent calls them, through an
// in-process JNI environment, against the stand-in checker: natively, and as a
// Windows program with CHKSGFILES.dll beside it, where the checker's names are
// Microsoft's decorated ones and its objects have Microsoft's layout.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/jni/testing/fake_jni.h"
#include "platform/testing/temp_folder.h"
#include "com_halvane_exchange_check_CheckSGFiles.h"

namespace {

namespace fs = std::filesystem;
constexpr jint kOutOfMemory = -1011;

// The stand-in's folder: its script, its call log and its object count.
class ExchangeNatives : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    _putenv_s("OM_CHKSGFILES_DIR", folder_.string().c_str());
#else
    setenv("OM_CHKSGFILES_DIR", folder_.string().c_str(), 1);
#endif
    type_ = jni_.type("com/halvane/exchange/check/CheckSGFiles");
  }
  void TearDown() override {
    EXPECT_EQ(0, jni_.openPins());
    EXPECT_FALSE(jni_.exceptionPending()) << jni_.exceptionText();
  }

  void script(const std::string& lines) { std::ofstream(folder_ / "chksgfiles.control") << lines; }

  // The recorded calls, each split at its tabs.
  std::vector<std::vector<std::string>> calls() {
    std::vector<std::vector<std::string>> out;
    std::ifstream in(folder_ / "chksgfiles.log", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      std::vector<std::string> fields;
      std::stringstream split(line);
      std::string field;
      while (std::getline(split, field, '\t')) fields.push_back(field);
      out.push_back(fields);
    }
    return out;
  }
  std::vector<std::string> lastCall() {
    auto all = calls();
    return all.empty() ? std::vector<std::string>{} : all.back();
  }
  long state(const std::string& key) {
    std::ifstream in(folder_ / "chksgfiles.state");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind(key + "=", 0) == 0) return std::stol(line.substr(key.size() + 1));
    return -999;
  }

  jlong create() { return Java_com_halvane_exchange_check_CheckSGFiles_New(env(), type_); }
  void destroy(jlong checker) { Java_com_halvane_exchange_check_CheckSGFiles_Delete(env(), type_, checker); }
  JNIEnv* env() { return jni_.env(); }

  om::testing::TempFolder temp_{"om-chksgfiles-"};
  const fs::path& folder_ = temp_.fsPath();
  omtest::FakeJni jni_;
  jclass type_ = nullptr;
};

TEST_F(ExchangeNatives, ObjectsAreMadeAndFreedThroughTheChecker) {
  jlong checker = create();
  ASSERT_NE(0, checker);
  jlong other = create();
  EXPECT_NE(checker, other);
  EXPECT_EQ(2, state("live"));
  EXPECT_EQ((std::vector<std::string>{"New", std::to_string(other)}), lastCall());

  destroy(checker);
  auto all = calls();
  ASSERT_GE(all.size(), 2u);
  // Delete runs the virtual destructor of the object it is given.
  EXPECT_EQ((std::vector<std::string>{"Delete", std::to_string(checker)}), all[all.size() - 2]);
  EXPECT_EQ((std::vector<std::string>{"~CCheckSGFiles", std::to_string(checker)}), all.back());
  EXPECT_EQ(1, state("live"));
  destroy(other);
  EXPECT_EQ(0, state("live"));

  // Deleting nothing is the checker's business; it is passed on.
  destroy(0);
  EXPECT_EQ((std::vector<std::string>{"Delete", "0"}), lastCall());

  EXPECT_EQ(5, Java_com_halvane_exchange_check_CheckSGFiles_CMaxDbPerSG(env(), type_));
  script("CMaxDbPerSG=50\n");
  EXPECT_EQ(50, Java_com_halvane_exchange_check_CheckSGFiles_CMaxDbPerSG(env(), type_));
  EXPECT_EQ((std::vector<std::string>{"CMaxDbPerSG"}), lastCall());
}

TEST_F(ExchangeNatives, ErrInitPassesCopiesOfTheThreePathsAndTheCode) {
  jlong checker = create();
  script("ErrInit=-1032\n");
  std::u16string database = u"D:\\Exchange\\Mailbox D\u00e4tabase \u20ac\U0001F600.edb";
  EXPECT_EQ(-1032, Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(
                       env(), type_, checker, jni_.string(database), jni_.string(std::string("E00")),
                       jni_.string(std::string("L:\\Logs\\First Storage Group")), 0x7FFFFFFF));
  EXPECT_EQ((std::vector<std::string>{"ErrInit", std::to_string(checker), "1",
                                      "D:\\Exchange\\Mailbox D\xC3\xA4tabase \xE2\x82\xAC\xF0\x9F\x98\x80.edb", "E00",
                                      "L:\\Logs\\First Storage Group", "2147483647"}),
            lastCall());

  // Empty strings are copied as empty texts, negative flags keep their bits.
  script("ErrInit=0\n");
  EXPECT_EQ(0, Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(env(), type_, checker, jni_.string(u""),
                                                                    jni_.string(u""), jni_.string(u"x"), -1));
  EXPECT_EQ((std::vector<std::string>{"ErrInit", std::to_string(checker), "1", "", "", "x", "4294967295"}),
            lastCall());
  destroy(checker);
}

TEST_F(ExchangeNatives, ErrInitWithAStringThatCannotBeCopiedCallsNothing) {
  jlong checker = create();
  script("ErrInit=0\n");
  auto before = calls().size();
  // The second string's characters cannot be had: the first copy is freed
  // (leak checkers see it), nothing is called, no exception is left behind.
  EXPECT_EQ(kOutOfMemory, Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(
                              env(), type_, checker, jni_.string(u"D:\\db.edb"), jni_.unreadableString(u"E00"),
                              jni_.string(u"L:\\"), 0));
  EXPECT_FALSE(jni_.exceptionPending());
  EXPECT_EQ(kOutOfMemory, Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(
                              env(), type_, checker, jni_.unreadableString(u"D:\\db.edb"), jni_.string(u"E00"),
                              jni_.string(u"L:\\"), 0));
  EXPECT_EQ(kOutOfMemory, Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(
                              env(), type_, checker, jni_.string(u"D:\\db.edb"), jni_.string(u"E00"),
                              jni_.unreadableString(u"L:\\"), 0));
  // A missing string cannot be copied either.
  EXPECT_EQ(kOutOfMemory, Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(
                              env(), type_, checker, jni_.string(u"D:\\db.edb"), nullptr, jni_.string(u"L:\\"), 0));
  EXPECT_EQ(before, calls().size());
#if !defined(_WIN32)
  // The test build's allocation hook: the second copy's memory is refused.
  script("RefuseAllocation=8\n");  // (3 + 1) UTF-16 units
  EXPECT_EQ(kOutOfMemory, Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(
                              env(), type_, checker, jni_.string(u"D:\\db.edb"), jni_.string(u"E00"),
                              jni_.string(u"L:\\"), 0));
  EXPECT_EQ((std::vector<std::string>{"refused-allocation", "8"}), lastCall());
  EXPECT_EQ(0, state("copies"));
#endif
  destroy(checker);
}

TEST_F(ExchangeNatives, ErrCheckDbHeadersWritesTheThreeValuesWhateverTheCode) {
  jlong checker = create();
  script("ErrCheckDbHeaders=-550 7 0xFFFFFFFF 0x80000000\n");
  jintArray out1 = jni_.ints(1), out2 = jni_.ints(1), out3 = jni_.ints(1);
  EXPECT_EQ(-550, Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbHeaders(env(), type_, checker, out1, out2,
                                                                                 out3, -3));
  EXPECT_EQ(std::vector<jint>{7}, jni_.intsOf(out1));
  EXPECT_EQ(std::vector<jint>{-1}, jni_.intsOf(out2));
  EXPECT_EQ(std::vector<jint>{INT32_MIN}, jni_.intsOf(out3));
  EXPECT_EQ((std::vector<std::string>{"ErrCheckDbHeaders", std::to_string(checker), "-3"}), lastCall());

  // Longer arrays take element 0 only; missing or empty ones take nothing.
  jintArray longer = jni_.ints(3);
  EXPECT_EQ(-550, Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbHeaders(env(), type_, checker, longer,
                                                                                 nullptr, jni_.ints(0), 0));
  EXPECT_EQ((std::vector<jint>{7, 0, 0}), jni_.intsOf(longer));
  destroy(checker);
}

TEST_F(ExchangeNatives, ErrCheckDbPagesPassesTheBlockAndSplitsTheFlagWord) {
  jlong checker = create();
  struct Case {
    const char* flags;
    jboolean flag0, flag1;
  } cases[] = {{"2", 0, 1}, {"1", 1, 0}, {"3", 1, 1}, {"0", 0, 0}, {"0xFFFFFFFC", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    script(std::string("ErrCheckDbPages=-1018 ") + c.flags +
           " 1 0x7FFFFFFFFFFFFFFF 0xFFFFFFFFFFFFFFFF 0x100000000 -2\n");
    jbooleanArray flag0 = jni_.booleans(1), flag1 = jni_.booleans(1);
    jlongArray outs[5];
    for (auto& out : outs) out = jni_.longs(1, 99);
    EXPECT_EQ(-1018, Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbPages(
                         env(), type_, checker, 0x123456789ABLL, -5, 4096, flag0, flag1, outs[0], outs[1], outs[2],
                         outs[3], outs[4], 17));
    EXPECT_EQ(std::vector<jboolean>{c.flag0}, jni_.booleansOf(flag0));
    EXPECT_EQ(std::vector<jboolean>{c.flag1}, jni_.booleansOf(flag1));
    EXPECT_EQ(std::vector<jlong>{1}, jni_.longsOf(outs[0]));
    EXPECT_EQ(std::vector<jlong>{INT64_MAX}, jni_.longsOf(outs[1]));
    EXPECT_EQ(std::vector<jlong>{-1}, jni_.longsOf(outs[2]));
    EXPECT_EQ(std::vector<jlong>{0x100000000LL}, jni_.longsOf(outs[3]));
    EXPECT_EQ(std::vector<jlong>{-2}, jni_.longsOf(outs[4]));
    // Null first, then the two values, the block with its input and a cleared
    // flag word, one block, the last value.
    EXPECT_EQ((std::vector<std::string>{"ErrCheckDbPages", std::to_string(checker), "0", "1250999896491", "-5",
                                        "4096", "0", "1", "17"}),
              lastCall());
  }
  // Missing out-arrays take nothing.
  EXPECT_EQ(-1018, Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbPages(
                       env(), type_, checker, 0, 0, 0, nullptr, jni_.booleans(0), nullptr, nullptr, nullptr, nullptr,
                       jni_.longs(0), 0));
  destroy(checker);
}

TEST_F(ExchangeNatives, ErrCheckLogsErrTermAndPageNumbers) {
  jlong checker = create();
  jbooleanArray out = jni_.booleans(1);
  for (auto [word, expected] : std::vector<std::pair<const char*, jboolean>>{
           {"1", 1}, {"0", 0}, {"0x80", 1}, {"0x100", 0}, {"0xFFFFFF01", 1}}) {
    SCOPED_TRACE(word);
    script(std::string("ErrCheckLogs=-501 ") + word + "\n");
    EXPECT_EQ(-501, Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckLogs(env(), type_, checker, out, 9));
    EXPECT_EQ(std::vector<jboolean>{expected}, jni_.booleansOf(out));
  }
  EXPECT_EQ((std::vector<std::string>{"ErrCheckLogs", std::to_string(checker), "9"}), lastCall());

  script("ErrTerm=-1090\n");
  EXPECT_EQ(-1090, Java_com_halvane_exchange_check_CheckSGFiles_ErrTerm(env(), type_, checker, 0x40));
  EXPECT_EQ((std::vector<std::string>{"ErrTerm", std::to_string(checker), "64"}), lastCall());

  // 64 bits each way.
  EXPECT_EQ(0x50000000LL / 8192,
            Java_com_halvane_exchange_check_CheckSGFiles_PgnoFromFileOffset(env(), type_, checker, 0x50000000LL));
  script("PgnoFromFileOffset=0x1234567890\n");
  EXPECT_EQ(0x1234567890LL, Java_com_halvane_exchange_check_CheckSGFiles_PgnoFromFileOffset(env(), type_, checker,
                                                                                           0x7000000000001LL));
  EXPECT_EQ((std::vector<std::string>{"PgnoFromFileOffset", std::to_string(checker), "1970324836974593"}),
            lastCall());
  destroy(checker);
  EXPECT_EQ(0, state("live"));
}

}  // namespace
