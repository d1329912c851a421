// A reader's line assembly (line list kept, no owner data) fed one line of
// 1 to 16 MiB without a line feed, in the 1 KiB chunks a read thread hands
// over. Linear work doubles its time with the size; the baseline, a model of
// the former assembly that copied the whole unfinished line into the list at
// every chunk, quadruples. Printed: seconds per size and the ratio of each
// size's time to the one before.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/runner.h"

namespace {

constexpr size_t kChunk = om::TDkReadBuffer::kChunk;

// The former behaviour: the list's last entry is replaced by a copy of the
// line at the end of every chunk.
struct CopyingModel {
  std::vector<std::string> lines{std::string()};
  std::string line;
  void Split(const std::string& chunk) {
    line += chunk;
    lines.back() = line;
  }
};

template <class Assembler>
double Seconds(size_t size) {
  const std::string chunk(kChunk, 'x');
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    Assembler a;
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t done = 0; done < size; done += kChunk) a.Split(chunk);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

struct Ours : om::TDkLineAssembler {
  Ours() {
    OwnerData = false;
    OnRead = [](const std::string&, bool) {};
  }
};

}  // namespace

int main() {
  std::printf("%8s  %12s %6s  %12s %6s\n", "MiB", "assembly s", "ratio", "copying s", "ratio");
  double lastOurs = 0, lastModel = 0;
  for (size_t mib = 1; mib <= 16; mib *= 2) {
    const double ours = Seconds<Ours>(mib << 20);
    const double model = Seconds<CopyingModel>(mib << 20);
    std::printf("%8zu  %12.4f %6.2f  %12.4f %6.2f\n", mib, ours, lastOurs ? ours / lastOurs : 0.0, model,
                lastModel ? model / lastModel : 0.0);
    lastOurs = ours;
    lastModel = model;
  }
  return 0;
}
