#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "support/runner.h"

namespace om {
namespace {

TEST(RunnerFlags, MapOntoTheSystemsValues) {
  EXPECT_EQ(0x20u, creationFlagsOf(ppNormal, 0));
  EXPECT_EQ(0x40u | 0x4u | 0x8u, creationFlagsOf(ppIdle, cpsFlag(cfSuspended) | cpsFlag(cfDetached)));
  EXPECT_EQ(0x80u | 0x4000000u | 0x10u | 0x200u | 0x800u | 0x1000u | 0x400u,
            creationFlagsOf(ppHigh, cpsFlag(cfDefaultErrorMode) | cpsFlag(cfNewConsole) | cpsFlag(cfNewProcGroup) |
                                        cpsFlag(cfSeparateWdm) | cpsFlag(cfSharedWdm) | cpsFlag(cfUnicode)));
  EXPECT_EQ(0x100u, creationFlagsOf(ppRealTime, 0));
  EXPECT_EQ(0u, showWindowOf(swHide));
  EXPECT_EQ(2u, showWindowOf(swMinimize));
  EXPECT_EQ(3u, showWindowOf(swMaximize));
  EXPECT_EQ(1u, showWindowOf(swNormal));
}

TEST(RunnerFlags, StartupRecord) {
  TDkCPSStartupInfo info;
  TDkStartupRecord r = startupRecordOf(info);
  EXPECT_EQ(0u, r.dwFlags);
  EXPECT_EQ(nullptr, r.lpDesktop);
  EXPECT_EQ(nullptr, r.lpTitle);
  info.Desktop = "winsta0\\default";
  info.Title = "Console";
  info.DefaultPosition = false;
  info.Left = -5;
  info.Top = 7;
  info.DefaultSize = false;
  info.Width = 640;
  info.Height = 480;
  info.DefaultWindowState = false;
  info.ShowWindow = swMinimize;
  info.ForceOffFeedback = true;
  r = startupRecordOf(info);
  EXPECT_EQ(kStartfUsePosition | kStartfUseSize | kStartfUseShowWindow | kStartfForceOffFeedback, r.dwFlags);
  EXPECT_STREQ("winsta0\\default", r.lpDesktop);
  EXPECT_STREQ("Console", r.lpTitle);
  EXPECT_EQ(static_cast<uint32_t>(-5), r.dwX);
  EXPECT_EQ(7u, r.dwY);
  EXPECT_EQ(640u, r.dwXSize);
  EXPECT_EQ(480u, r.dwYSize);
  EXPECT_EQ(2u, r.wShowWindow);
  TDkCPSStartupInfo copy;
  info.AssignTo(copy);
  EXPECT_EQ("Console", copy.Title);
  EXPECT_FALSE(copy.DefaultSize);
  EXPECT_TRUE(copy.ForceOffFeedback);
}

TEST(ReadBuffer, GrowsByDoublingToItsLimitThenDrops) {
  TDkReadBuffer b;
  EXPECT_EQ(1024u, b.Capacity());
  const std::string k(1024, 'k');
  for (int i = 0; i < 128; ++i) b.Append(k.data(), k.size());
  EXPECT_EQ(131072u, b.Capacity());
  EXPECT_EQ(131072u, b.Used());
  b.Append("xyz", 3);  // does not fit: what was unread goes
  EXPECT_EQ(131072u, b.Capacity());
  EXPECT_EQ(3u, b.Used());
  std::string chunk;
  ASSERT_TRUE(b.Take(chunk));
  EXPECT_EQ("xyz", chunk);
  EXPECT_FALSE(b.Take(chunk));
}

// Random appends and takes against a model of the same policy.
TEST(ReadBuffer, RandomTrafficKeepsOrderAndChunkSize) {
  std::mt19937 rng(21);
  for (int round = 0; round < 50; ++round) {
    TDkReadBuffer b;
    std::deque<char> model;
    size_t capacity = 1024;
    for (int step = 0; step < 2000; ++step) {
      if (rng() % 3) {
        std::string data(rng() % 1025, '\0');
        for (char& c : data) c = static_cast<char>(rng());
        if (capacity < model.size() + data.size()) {
          if (capacity <= 65536)
            capacity *= 2;
          else
            model.clear();
        }
        model.insert(model.end(), data.begin(), data.end());
        b.Append(data.data(), data.size());
      } else {
        std::string chunk;
        bool got = b.Take(chunk);
        ASSERT_EQ(!model.empty(), got);
        if (!got) continue;
        ASSERT_EQ(std::min<size_t>(model.size(), 1024), chunk.size());
        ASSERT_TRUE(std::equal(chunk.begin(), chunk.end(), model.begin()));
        model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(chunk.size()));
      }
      ASSERT_EQ(model.size(), b.Used());
      ASSERT_EQ(capacity, b.Capacity());
    }
  }
}

struct Recorder {
  std::vector<std::pair<std::string, bool>> reads;
  std::vector<std::string> raws;
  TDkLineAssembler a;
  explicit Recorder(bool ownerData = false) {
    a.OwnerData = ownerData;
    a.OnRead = [this](const std::string& line, bool startsOnNewLine) { reads.emplace_back(line, startsOnNewLine); };
    a.OnRawRead = [this](const std::string& raw) { raws.push_back(raw); };
  }
};

TEST(LineAssembly, CarriageReturnOverwritesFromTheStart) {
  Recorder r;
  r.a.Split("abc\rX\n");
  ASSERT_EQ(2u, r.reads.size());
  EXPECT_EQ("Xbc", r.reads[0].first);
  EXPECT_TRUE(r.reads[0].second);
  EXPECT_EQ("", r.reads[1].first);  // the chunk ended after the line feed
  EXPECT_TRUE(r.reads[1].second);
  EXPECT_EQ((std::vector<std::string>{"Xbc", ""}), r.a.Lines());
  EXPECT_EQ((std::vector<std::string>{"abc\rX\n"}), r.raws);
}

TEST(LineAssembly, BackspaceAndTab) {
  Recorder r;
  r.a.Split("ab\bc");
  EXPECT_EQ("ac", r.reads.back().first);
  Recorder t;
  t.a.Split("abc\r\tX");
  EXPECT_EQ("        X", t.reads.back().first);
  Recorder u;
  u.a.Split("\b\b\bx\tY");  // the cursor never goes below 0; a tab is eight blanks anywhere
  EXPECT_EQ("x        Y", u.reads.back().first);
  Recorder z;
  z.a.Split(std::string("a\0b\ac", 5));
  EXPECT_EQ("a b c", z.reads.back().first);
  EXPECT_EQ(std::string("a\0b\ac", 5), z.raws.back());
}

TEST(LineAssembly, OutputWithoutLineFeedsKeepsReplacingTheLastEntry) {
  Recorder r;
  r.a.Split("10%");
  r.a.Split("\r20%");
  r.a.Split("\r100%");
  EXPECT_EQ((std::vector<std::string>{"100%"}), r.a.Lines());
  ASSERT_EQ(3u, r.reads.size());
  EXPECT_TRUE(r.reads[0].second);
  EXPECT_FALSE(r.reads[1].second);
  r.a.Split(" done\nnext");
  EXPECT_EQ((std::vector<std::string>{"100% done", "next"}), r.a.Lines());
  const size_t reads = r.reads.size();
  r.a.Finish();  // "next" was reported with its chunk, as a new line
  EXPECT_EQ(reads, r.reads.size());
  EXPECT_EQ("next", r.reads.back().first);
  EXPECT_TRUE(r.reads.back().second);
}

TEST(LineAssembly, OwnerDataKeepsNoListButStillReports) {
  Recorder r(true);
  r.a.Split("one\ntwo\n");
  EXPECT_TRUE(r.a.Lines().empty());
  ASSERT_EQ(3u, r.reads.size());
  EXPECT_EQ("one", r.reads[0].first);
  EXPECT_EQ("two", r.reads[1].first);
}

TEST(LineAssembly, FinishEmitsOnlyAPendingLine) {
  Recorder r;
  r.a.Split("x\n");
  size_t before = r.reads.size();
  r.a.Finish();
  EXPECT_EQ(before, r.reads.size());
  // A last line without a line feed was reported with its chunk: not again.
  Recorder tail;
  tail.a.Split("tail");
  tail.a.Finish();
  EXPECT_EQ((std::vector<std::pair<std::string, bool>>{{"tail", true}}), tail.reads);
  EXPECT_EQ((std::vector<std::string>{"tail"}), tail.a.Lines());
  r.a.Reset();
  EXPECT_TRUE(r.a.StartsOnNewLine());
  EXPECT_EQ(0, r.a.Cursor());
}

// Chunk boundaries do not change the lines a stream ends up as.
TEST(LineAssembly, SplittingIsIndependentOfChunking) {
  std::mt19937 rng(8);
  const char alphabet[] = "abcXYZ \r\n\b\t";
  for (int round = 0; round < 300; ++round) {
    std::string stream(rng() % 200, ' ');
    for (char& c : stream) c = alphabet[rng() % (sizeof alphabet - 1)];
    Recorder whole;
    whole.a.Split(stream);
    Recorder pieces;
    for (size_t i = 0; i < stream.size();) {
      size_t n = 1 + rng() % 17;
      pieces.a.Split(stream.substr(i, n));
      i += n;
    }
    // Lines ended by a line feed are the same; a last unfinished line as well.
    std::vector<std::string> endedWhole, endedPieces;
    for (size_t i = 0; i + 1 < whole.a.Lines().size(); ++i) endedWhole.push_back(whole.a.Lines()[i]);
    for (size_t i = 0; i + 1 < pieces.a.Lines().size(); ++i) endedPieces.push_back(pieces.a.Lines()[i]);
    ASSERT_EQ(endedWhole, endedPieces) << round;
    if (!stream.empty()) {
      ASSERT_EQ(whole.a.CurrentLine(), pieces.a.CurrentLine());
    }
  }
}

}  // namespace
}  // namespace om
