// The agent protocol codec: recorded byte sequences of every request and
// reply, every proper prefix of a reply, byte-at-a-time decoding, and random
// and mutated input (never a crash, an over-read or an unbounded buffer).
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "scripted_socket.h"
#include "tray/agent_connection.h"
#include "tray/agent_protocol.h"

using namespace om;
using namespace om::testing;

namespace {

using TDecode = std::function<TDecodeStatus(const uint8_t*, size_t, TDecodeInfo&)>;

TDecodeStatus DecodeAll(const TDecode& d, const std::string& bytes, TDecodeInfo& info) {
  info = TDecodeInfo();
  return d(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), info);
}

// A complete reply: whole it decodes with exactly its length consumed (also
// with trailing bytes of a next reply), every proper prefix needs more.
void ExpectFraming(const TDecode& d, const std::string& reply) {
  TDecodeInfo info;
  ASSERT_EQ(DecodeAll(d, reply, info), TDecodeStatus::Complete) << Hex(reply);
  EXPECT_EQ(info.Consumed, reply.size());
  TDecodeInfo more;
  ASSERT_EQ(DecodeAll(d, reply + Bytes({7, 0, 0}), more), TDecodeStatus::Complete);
  EXPECT_EQ(more.Consumed, reply.size());
  for (size_t n = 0; n < reply.size(); ++n) {
    TDecodeInfo p;
    EXPECT_EQ(DecodeAll(d, reply.substr(0, n), p), TDecodeStatus::NeedMore) << n << " of " << Hex(reply);
  }
}

}  // namespace

TEST(AgentProtocol, RequestsOnTheWire) {
  EXPECT_EQ(Hex(EncodeRequest(cmdBackupNow)), "01");
  EXPECT_EQ(Hex(EncodeRequest(cmdCancelBackup)), "04");
  EXPECT_EQ(Hex(EncodeRequest(cmdGetState)), "07");
  EXPECT_EQ(Hex(EncodeRequest(cmdMenuPermission)), "11");
  EXPECT_EQ(Hex(EncodeRequest(cmdGetNextBackup)), "14");
  EXPECT_EQ(Hex(EncodeRequest(cmdGetLastBackup)), "18");
  EXPECT_EQ(Hex(EncodeRequest(cmdGetNotification)), "19");
  EXPECT_EQ(Hex(EncodeRequest(cmdEndExchange)), "63");
  EXPECT_EQ(Hex(EncodeGetClientVersion()), "22 00");
  EXPECT_EQ(Hex(EncodeGetSetting("runner.displaysuccess")),
            "42 72 75 6E 6E 65 72 2E 64 69 73 70 6C 61 79 73 75 63 63 65 73 73 00");
  EXPECT_EQ(Hex(EncodeSetSetting("a=\xC3\xA9")), "43 61 3D C3 A9 00");
  EXPECT_EQ(Hex(EncodeSetSetting("")), "43 00");
  EXPECT_EQ(std::string(kMonitorLine), "MONITOR\r\n");
}

TEST(AgentProtocol, SwapBytes) {
  EXPECT_EQ(SwapBytes32(0x11223344u), 0x44332211u);
  EXPECT_EQ(SwapBytes64(0x1122334455667788ull), 0x8877665544332211ull);
  EXPECT_EQ(SwapBytes64(SwapBytes64(0x0123456789ABCDEFull)), 0x0123456789ABCDEFull);
}

TEST(AgentProtocol, RecordedReplies) {
  TDecodeInfo info;
  // Prompt: everything up to and including the first '>'.
  ExpectFraming([](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodePrompt(d, n, i); },
                "Ombrel backup agent\r\n>");
  ExpectFraming([](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodePrompt(d, n, i); }, ">");

  uint8_t b = 0;
  ExpectFraming([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeByte(d, n, b, i); }, Bytes({1}));
  EXPECT_EQ(b, 1);

  int32_t state = 0;
  ExpectFraming([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeState(d, n, state, i); },
                Bytes({0, 0, 0, 6}));
  EXPECT_EQ(state, 6);
  ExpectFraming([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeState(d, n, state, i); },
                Bytes({0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(state, -2);

  // Next backup: 2026-12-09 08:00:00 UTC with its identifier; 0 without one.
  TNextBackupReply next;
  auto decodeNext = [&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeNextBackup(d, n, next, i); };
  ExpectFraming(decodeNext, BE64(1796803200000LL) + "0f2e-77" + Bytes({0}));
  EXPECT_EQ(next.Millis, 1796803200000LL);
  EXPECT_TRUE(next.HasId);
  EXPECT_EQ(next.Id, "0f2e-77");
  ExpectFraming(decodeNext, Bytes({0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(next.Millis, 0);
  EXPECT_FALSE(next.HasId);
  ExpectFraming(decodeNext, BE64(-5));
  EXPECT_EQ(next.Millis, -5);
  ExpectFraming(decodeNext, BE64(1) + Bytes({0}));
  EXPECT_TRUE(next.HasId);
  EXPECT_EQ(next.Id, "");

  int64_t last = 0;
  ExpectFraming([&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeLastBackup(d, n, last, i); },
                Bytes({0x00, 0x00, 0x01, 0x8F, 0x00, 0x11, 0x22, 0x33}));
  EXPECT_EQ(last, 0x0000018F00112233LL);

  TNotificationReply note;
  auto decodeNote = [&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeNotification(d, n, note, i); };
  ExpectFraming(decodeNote, BE64(42) + BE32(2) + BE32(5) + "done\xE9");
  EXPECT_EQ(note.Stamp, 42);
  EXPECT_EQ(note.Kind, 2);
  EXPECT_EQ(note.Text, "done\xE9");
  ExpectFraming(decodeNote, BE64(-1) + BE32(-7) + BE32(0));
  EXPECT_EQ(note.Text, "");
  EXPECT_EQ(note.Kind, -7);

  std::string text;
  auto decodeZero = [&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeZeroText(d, n, text, i); };
  ExpectFraming(decodeZero, "true" + Bytes({0}));
  EXPECT_EQ(text, "true");
  ExpectFraming(decodeZero, Bytes({0}));
  EXPECT_EQ(text, "");
  ExpectFraming(decodeZero, "C:\\Users\\J\xC3\xB6rg" + Bytes({0}));
  EXPECT_EQ(text, "C:\\Users\\J\xC3\xB6rg");

  auto decodeLine = [&](const uint8_t* d, size_t n, TDecodeInfo& i) { return DecodeLine(d, n, text, i); };
  ExpectFraming(decodeLine, "7.5.1 build 12\r\n");
  EXPECT_EQ(text, "7.5.1 build 12");
  // A lone CR or LF is part of the text.
  ExpectFraming(decodeLine, "a\rb\nc\r\n");
  EXPECT_EQ(text, "a\rb\nc");
}

TEST(AgentProtocol, OversizedAndNegativeRepliesAreRefused) {
  TDecodeInfo info;
  TNotificationReply note;
  std::string head = BE64(1) + BE32(0);
  EXPECT_EQ(DecodeAll([&](auto d, auto n, auto& i) { return DecodeNotification(d, n, note, i); }, head + BE32(-1), info),
            TDecodeStatus::Malformed);
  EXPECT_EQ(info.Error, "negative notification length");
  EXPECT_EQ(DecodeAll([&](auto d, auto n, auto& i) { return DecodeNotification(d, n, note, i); },
                head + BE32(static_cast<int32_t>(kMaxReplyText + 1)), info),
            TDecodeStatus::Malformed);
  EXPECT_EQ(DecodeAll([&](auto d, auto n, auto& i) { return DecodeNotification(d, n, note, i); },
                head + BE32(0x7FFFFFFF), info),
            TDecodeStatus::Malformed);
  // The largest accepted text.
  std::string big(kMaxReplyText, 'x');
  EXPECT_EQ(DecodeAll([&](auto d, auto n, auto& i) { return DecodeNotification(d, n, note, i); },
                head + BE32(static_cast<int32_t>(kMaxReplyText)) + big, info),
            TDecodeStatus::Complete);
  EXPECT_EQ(note.Text.size(), kMaxReplyText);

  std::string text;
  EXPECT_EQ(DecodeAll([&](auto d, auto n, auto& i) { return DecodeZeroText(d, n, text, i); }, big + Bytes({0}), info),
            TDecodeStatus::Complete);
  EXPECT_EQ(DecodeAll([&](auto d, auto n, auto& i) { return DecodeZeroText(d, n, text, i); }, big + "x", info),
            TDecodeStatus::Malformed);
  EXPECT_EQ(DecodeAll([&](auto d, auto n, auto& i) { return DecodeLine(d, n, text, i); }, big + "\r\n", info),
            TDecodeStatus::Complete);
  EXPECT_EQ(DecodeAll([&](auto d, auto n, auto& i) { return DecodeLine(d, n, text, i); }, big + "xy", info),
            TDecodeStatus::Malformed);
  TNextBackupReply next;
  EXPECT_EQ(DecodeAll([&](auto d, auto n, auto& i) { return DecodeNextBackup(d, n, next, i); }, BE64(9) + big + "x", info),
            TDecodeStatus::Malformed);
  EXPECT_EQ(DecodeAll([](auto d, auto n, auto& i) { return DecodePrompt(d, n, i); }, big, info), TDecodeStatus::Malformed);
}

// Random bytes into every decoder, whole and in growing prefixes: the status
// only ever moves NeedMore -> Complete/Malformed, a Complete result never
// changes once more bytes arrive, and consumed never exceeds what was given.
TEST(AgentProtocol, FuzzedInputIsDecodedConsistently) {
  std::mt19937 rng(20261209);
  TNextBackupReply next;
  TNotificationReply note;
  std::string text;
  int32_t state;
  int64_t last;
  uint8_t byte;
  std::vector<TDecode> decoders = {
      [](auto d, auto n, auto& i) { return DecodePrompt(d, n, i); },
      [&](auto d, auto n, auto& i) { return DecodeByte(d, n, byte, i); },
      [&](auto d, auto n, auto& i) { return DecodeState(d, n, state, i); },
      [&](auto d, auto n, auto& i) { return DecodeNextBackup(d, n, next, i); },
      [&](auto d, auto n, auto& i) { return DecodeLastBackup(d, n, last, i); },
      [&](auto d, auto n, auto& i) { return DecodeNotification(d, n, note, i); },
      [&](auto d, auto n, auto& i) { return DecodeZeroText(d, n, text, i); },
      [&](auto d, auto n, auto& i) { return DecodeLine(d, n, text, i); },
  };
  for (int round = 0; round < 3000; ++round) {
    // Mostly small inputs, biased towards the bytes that matter for framing.
    size_t len = rng() % (round % 50 == 0 ? 70000 : 40);
    std::string in(len, '\0');
    for (char& c : in) {
      unsigned r = rng() % 10;
      c = static_cast<char>(r < 3 ? 0 : r < 4 ? '\r' : r < 5 ? '\n' : r < 6 ? '>' : r < 7 ? 0xFF : rng() % 256);
    }
    for (const TDecode& d : decoders) {
      // Owned copies so that ASan sees any read beyond the given size.
      std::vector<uint8_t> whole(in.begin(), in.end());
      TDecodeInfo wi;
      TDecodeStatus ws = d(whole.data(), whole.size(), wi);
      if (ws == TDecodeStatus::Complete) {
        ASSERT_LE(wi.Consumed, whole.size());
      }
      if (ws == TDecodeStatus::Malformed) {
        ASSERT_FALSE(wi.Error.empty());
      }
      // Prefixes: NeedMore until the first verdict, which then holds.
      bool decided = false;
      for (size_t n = 0; n <= whole.size() && n < 64; ++n) {
        std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        TDecodeInfo pi;
        TDecodeStatus ps = d(part.data(), part.size(), pi);
        if (decided) {
          ASSERT_NE(ps, TDecodeStatus::NeedMore);
        }
        if (ps != TDecodeStatus::NeedMore) {
          decided = true;
          ASSERT_EQ(ps, ws) << "round " << round;
          if (ps == TDecodeStatus::Complete) {
            ASSERT_EQ(pi.Consumed, wi.Consumed);
          }
        }
      }
    }
  }
}

// The client's reply reader fed by a socket that hands out random chunks:
// the same results as whole replies, and leftovers stay for the next read.
TEST(AgentProtocol, ReplyReaderAcrossChunks) {
  for (unsigned seed = 1; seed <= 50; ++seed) {
    auto script = std::make_shared<TScript>();
    script->Seed = seed;
    script->MaxChunk = 1 + seed % 7;
    script->Inputs.push_back("hello>" + Bytes({1}) + BE32(7) + "v1\r\n" + "x" + Bytes({0}) +
                             BE64(5) + BE32(1) + BE32(3) + "abc");
    TAgentClient client(std::make_unique<TScriptedSocket>(script));
    client.Connect(kAgentHost, 1);
    client.ReadPrompt();
    EXPECT_EQ(client.ReadByte(), 1);
    EXPECT_EQ(client.ReadState(), 7);
    EXPECT_EQ(client.ReadLine(), "v1");
    EXPECT_EQ(client.ReadZeroText(), "x");
    TNotificationReply note;
    client.ReadReply([&](auto d, auto n, auto& i) { return DecodeNotification(d, n, note, i); });
    EXPECT_EQ(note.Stamp, 5);
    EXPECT_EQ(note.Text, "abc");
    EXPECT_THROW(client.ReadByte(), EAgentReadTimeout);
  }
}

TEST(AgentProtocol, MalformedReplyClosesTheClient) {
  auto script = std::make_shared<TScript>();
  script->Inputs.push_back(BE64(1) + BE32(1) + BE32(-20) + "rest");
  TAgentClient client(std::make_unique<TScriptedSocket>(script));
  client.Connect(kAgentHost, 1);
  TNotificationReply note;
  EXPECT_THROW(client.ReadReply([&](auto d, auto n, auto& i) { return DecodeNotification(d, n, note, i); }),
               EAgentMalformedReply);
  EXPECT_FALSE(client.Connected());
  // Connect again is allowed now; no input scripted, so it is refused.
  EXPECT_THROW(client.Connect(kAgentHost, 1), EAgentConnectionError);
}

TEST(AgentProtocol, ATerminatorSearchGoesOnWhereItStopped) {
  // Fed more bytes at a time with one info, every byte is searched once.
  const std::string reply = std::string(1000, 'v') + Bytes({0});
  const auto* data = reinterpret_cast<const uint8_t*>(reply.data());
  TDecodeInfo info;
  std::string text;
  for (size_t n = 1; n < reply.size(); n += 7) {
    ASSERT_EQ(DecodeZeroText(data, n, text, info), TDecodeStatus::NeedMore);
    ASSERT_EQ(info.Resume, n);
  }
  ASSERT_EQ(DecodeZeroText(data, reply.size(), text, info), TDecodeStatus::Complete);
  EXPECT_EQ(text, std::string(1000, 'v'));
  // Bytes before the resume point are not looked at again.
  const std::string early = "ab" + Bytes({0}) + "cd";
  TDecodeInfo resumed;
  resumed.Resume = 3;
  EXPECT_EQ(DecodeZeroText(reinterpret_cast<const uint8_t*>(early.data()), early.size(), text, resumed),
            TDecodeStatus::NeedMore);
  // A CR at the end of one piece and its LF at the start of the next.
  const std::string line = "1.0\r\n";
  TDecodeInfo split;
  EXPECT_EQ(DecodeLine(reinterpret_cast<const uint8_t*>(line.data()), 4, text, split), TDecodeStatus::NeedMore);
  EXPECT_EQ(DecodeLine(reinterpret_cast<const uint8_t*>(line.data()), 5, text, split), TDecodeStatus::Complete);
  EXPECT_EQ(text, "1.0");
  // The identifier after the time of a next-backup reply and the prompt.
  const std::string next = BE64(5) + "id" + Bytes({0});
  TDecodeInfo id;
  TNextBackupReply reply20;
  EXPECT_EQ(DecodeNextBackup(reinterpret_cast<const uint8_t*>(next.data()), 10, reply20, id), TDecodeStatus::NeedMore);
  EXPECT_EQ(id.Resume, 10u);
  EXPECT_EQ(DecodeNextBackup(reinterpret_cast<const uint8_t*>(next.data()), 11, reply20, id), TDecodeStatus::Complete);
  EXPECT_EQ(reply20.Id, "id");
  const std::string hello = "agent>";
  TDecodeInfo prompt;
  EXPECT_EQ(DecodePrompt(reinterpret_cast<const uint8_t*>(hello.data()), 5, prompt), TDecodeStatus::NeedMore);
  EXPECT_EQ(prompt.Resume, 5u);
  EXPECT_EQ(DecodePrompt(reinterpret_cast<const uint8_t*>(hello.data()), 6, prompt), TDecodeStatus::Complete);
  EXPECT_EQ(prompt.Consumed, 6u);
}
