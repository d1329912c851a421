// Throughput of every hash and checksum class on a 64 MiB buffer, beside
// OpenSSL's MD4, MD5, SHA-1 and RIPEMD-160 and zlib's crc32 in the same run.
// Each is run three times and the best rate counts, which keeps the ratios
// steady on a shared machine. After the runs the classes with a counterpart
// are printed as ratios. THash_Snefru stays below 50 MB/s: each of its 16
// table lookups a byte waits on the one before (rhash -B --snefru256, the
// published variant, runs at the same rate).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "hash/hash_support.h"
#include "hash/hashes.h"

using namespace om;

namespace {

const size_t kBufferSize = 64u << 20;
const int kRepetitions = 3;

const std::vector<uint8_t>& Buffer() {
  static std::vector<uint8_t> buf = [] {
    std::vector<uint8_t> b(kBufferSize);
    uint32_t s = 1;
    for (auto& c : b) c = static_cast<uint8_t>((s = s * 1103515245u + 12345u) >> 24);
    return b;
  }();
  return buf;
}

std::map<std::string, double>& Rates() {
  static std::map<std::string, double> rates;
  return rates;
}

void Record(benchmark::State& state, const std::string&) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBufferSize));
}

void BenchClass(benchmark::State& state, const TProtectionClass* cls) {
  const auto& buf = Buffer();
  TRef<THash> h(static_cast<THash*>(cls->Create(nullptr)));
  for (auto _ : state) {
    h->Reset();
    h->Update(buf.data(), static_cast<int64_t>(buf.size()));
    h->Finish();
    benchmark::DoNotOptimize(h->DigestBytes());
  }
  Record(state, cls->ClassName);
}

void BenchOpenSSL(benchmark::State& state, const char* name) {
  const auto& buf = Buffer();
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (!md) {
    state.SkipWithError("digest not available");
    return;
  }
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, buf.data(), buf.size());
    EVP_DigestFinal_ex(ctx, out, &len);
    benchmark::DoNotOptimize(out);
  }
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
  Record(state, name);
}

void BenchZlibCrc32(benchmark::State& state) {
  const auto& buf = Buffer();
  for (auto _ : state) {
    uLong c = crc32(0L, Z_NULL, 0);
    c = crc32_z(c, buf.data(), buf.size());
    benchmark::DoNotOptimize(c);
  }
  Record(state, "crc32");
}

// Collects MB/s of every run and prints the ratios after the usual report.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      auto it = r.counters.find("bytes_per_second");
      std::string name = r.benchmark_name();
      name = name.substr(0, name.find("/min_time"));
      if (it == r.counters.end()) continue;
      double& best = Rates()[name];
      best = std::max(best, it->second.value / 1e6);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const std::pair<const char*, const char*> pairs[] = {
        {"THash_MD4", "openssl/MD4"},     {"THash_MD5", "openssl/MD5"}, {"THash_SHA1", "openssl/SHA1"},
        {"THash_RipeMD160", "openssl/RIPEMD160"}, {"THash_CRC32", "zlib/crc32"}};
    std::printf("\nRatio to the reference implementation (best MB/s of each, ours / theirs):\n");
    for (const auto& p : pairs) {
      auto ours_it = Rates().find(std::string("om/") + p.first), theirs_it = Rates().find(p.second);
      if (ours_it == Rates().end() || theirs_it == Rates().end()) continue;
      double ours = ours_it->second, theirs = theirs_it->second;
      if (ours > 0 && theirs > 0) std::printf("  %-18s %8.1f / %8.1f = %.2f\n", p.first, ours, theirs, ours / theirs);
    }
    std::printf("\nClasses below 50 MB/s:");
    bool any = false;
    for (const auto& r : Rates())
      if (r.first.rfind("om/", 0) == 0 && r.second < 50) { std::printf(" %s", r.first.c_str()); any = true; }
    std::printf(any ? "\n" : " none\n");
  }
};

}  // namespace

int main(int argc, char** argv) {
  OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER_load(nullptr, "default");
  for (const auto& e : ProtectionClassList())
    benchmark::RegisterBenchmark((std::string("om/") + e.Class->ClassName).c_str(), BenchClass, e.Class)
        ->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(kRepetitions);
  for (const char* name : {"MD4", "MD5", "SHA1", "RIPEMD160"})
    benchmark::RegisterBenchmark((std::string("openssl/") + name).c_str(), BenchOpenSSL, name)
        ->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(kRepetitions);
  benchmark::RegisterBenchmark("zlib/crc32", BenchZlibCrc32)
      ->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(kRepetitions);
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
