// String formats: encodings, leniency and refusal, round trips and malformed input.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "hash/string_formats.h"

using namespace om;

namespace {

std::string Dec(const std::string& text, int id) { return FormatTextToBytes(text, id); }
std::string Enc(const std::string& data, int id) { return BytesToFormatText(data, id); }

template <class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const EStringFormat& e) {
    return e.Message();
  }
  return "(no error)";
}

const int kAllFormats[] = {fmtCOPY, fmtHEX, fmtHEXL, fmtMIME64, fmtUU, fmtXX};

}  // namespace

TEST(StringFormats, RegistryAndErrors) {
  ASSERT_EQ(StringFormatList().size(), 6u);
  EXPECT_EQ(FindStringFormat(-1), &TStringFormat_MIME64::Class);
  EXPECT_EQ(FindStringFormat(5), nullptr);
  EXPECT_EQ(FindStringFormat(fmtXX)->DisplayName(), "XX Coding");
  EXPECT_EQ(FindStringFormat(fmtCOPY)->DisplayName(), "copy Input to Output");
  EXPECT_EQ(FormatNameFromClass(&TStringFormat_MIME64::Class), "MIME64");
  EXPECT_EQ(Enc("abc", 0), "");
  EXPECT_EQ(Dec("abc", 0), "");
  EXPECT_EQ(Enc("", 5), "");
  EXPECT_EQ(MessageOf([] { Enc("a", 5); }), "String Format \"5\" not exists.");
  EXPECT_EQ(MessageOf([] { Dec("a", 5); }), "String Format \"5\" not exists.");
  EXPECT_EQ(BytesToFormatText("ab", -1, fmtHEX), "6162");  // zero-terminated
  // Registering a class again under its number replaces the entry.
  RegisterStringFormats({&TStringFormat_HEX::Class, nullptr});
  EXPECT_EQ(StringFormatList().size(), 6u);
}

TEST(StringFormats, Hexadecimal) {
  for (const char* text : {"0x1f", "$1F", "1F h", "1 F", "1F2", "0x1F", "x1f"}) EXPECT_EQ(Dec(text, fmtHEX), "\x1f") << text;
  EXPECT_EQ(Dec("12x1f", fmtHEX), "\x1f");    // a marker drops what came before
  EXPECT_EQ(Dec("x12x1f", fmtHEX), "\x12\x1f");  // later markers are skipped
  EXPECT_EQ(Enc("\x1f", fmtHEXL), "1f");
  EXPECT_EQ(Enc("\x1f", fmtHEX), "1F");
  EXPECT_EQ(Dec("[0A, 0b]", fmtHEXL), "\x0a\x0b");
  EXPECT_EQ(MessageOf([] { Dec("1G", fmtHEX); }), "Input is not an valid Hexadecimal Format.");
  EXPECT_EQ(MessageOf([] { Dec("1g", fmtHEXL); }), "Input is not an valid Hexadecimal lowercase Format.");
}

TEST(StringFormats, Mime64) {
  EXPECT_EQ(Enc("abc", fmtMIME64), "YWJj");
  EXPECT_EQ(Enc("ab", fmtMIME64), "YWI=");
  EXPECT_EQ(Enc("a", fmtMIME64), "YQ==");
  EXPECT_EQ(Dec("YWI", fmtMIME64), "ab");
  EXPECT_EQ(Dec("YWI=", fmtMIME64), "ab");
  EXPECT_EQ(Dec("YW I=\r\n", fmtMIME64), "ab");
  // Extra pads never take away more than their own group holds.
  EXPECT_EQ(Dec("YWI==", fmtMIME64), "ab");
  EXPECT_EQ(Dec("=", fmtMIME64), "");
  EXPECT_EQ(Dec("====", fmtMIME64), "");
  EXPECT_EQ(Dec("YWJj====YQ==", fmtMIME64), "abca");
  EXPECT_EQ(MessageOf([] { Dec("YW.I", fmtMIME64); }), "Input is not an valid MIME Base 64 Format.");
}

TEST(StringFormats, UUAndXX) {
  std::string data(46, 'x');
  std::string uu = Enc(data, fmtUU);
  ASSERT_EQ(uu.size(), 1u + 60 + 1 + 4);
  EXPECT_EQ(uu[0], 'M');
  EXPECT_EQ(uu[61], '!');
  EXPECT_EQ(Dec(uu, fmtUU), data);
  EXPECT_EQ(Enc("Cat", fmtUU), "#0V%T");
  EXPECT_EQ(MessageOf([] { Dec(" #0V%T", fmtUU); }), "Input is not an valid UU Coding Format.");
  EXPECT_EQ(MessageOf([] { Dec("N0V%T", fmtUU); }), "Input is not an valid UU Coding Format.");
  // Lines that Accepts lets through decode within the text: no fill needed.
  EXPECT_EQ(Dec("!80!80", fmtUU), "aa");
  EXPECT_EQ(MessageOf([] { Dec("#0V", fmtUU); }), "Input is not an valid UU Coding Format.");
  EXPECT_EQ(MessageOf([] { TStringFormat_UU::Class.TextToBytes("#0V", 3); }),
            "Input is not an valid UU Coding Format.");
  EXPECT_EQ(MessageOf([] { TStringFormat_XX::Class.TextToBytes("Z", 1); }), "Input is not an valid XX Coding Format.");
  EXPECT_EQ(Dec(Enc("hello world", fmtXX), fmtXX), "hello world");
}

TEST(StringFormats, RoundTripsOfRandomBytes) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    std::string data(rng() % 200 + 1, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    for (int id : kAllFormats) {
      std::string text = Enc(data, id);
      EXPECT_EQ(Dec(text, id), data) << "format " << id << " length " << data.size();
    }
    // Zero bytes inside the data are kept when the length is given.
    data[0] = '\0';
    EXPECT_EQ(Dec(Enc(data, fmtMIME64), fmtMIME64), data);
  }
}

// Random and mutated text through every decoder: either bytes or EStringFormat,
// never a crash or a read beyond the text (checked under the sanitizers).
TEST(StringFormats, MalformedInputNeverCrashes) {
  std::mt19937 rng(99);
  const std::string alphabet = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_ \t\r\nabcxyz=";
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    if (round % 2) {
      text.resize(rng() % 64);
      for (char& c : text) c = alphabet[rng() % alphabet.size()];
    } else {
      std::string data(rng() % 100, '\0');
      for (char& c : data) c = static_cast<char>(rng());
      text = Enc(data, kAllFormats[rng() % 6]);
      for (int k = rng() % 4; k > 0 && !text.empty(); --k) {
        size_t at = rng() % text.size();
        if (rng() % 2) text[at] = alphabet[rng() % alphabet.size()];
        else text.resize(at);
      }
    }
    for (int id : kAllFormats) {
      // A heap copy of exactly the text's length lets the sanitizers see any over-read.
      std::unique_ptr<char[]> exact(new char[text.size() + 1]);
      std::memcpy(exact.get(), text.data(), text.size());
      try {
        FormatTextToBytes(exact.get(), static_cast<int64_t>(text.size()), id);
      } catch (const EStringFormat&) {
      }
      // The decoders themselves are safe even on text their check refuses.
      try {
        FindStringFormat(id)->TextToBytes(exact.get(), static_cast<int64_t>(text.size()));
      } catch (const EStringFormat&) {
      }
    }
  }
}
