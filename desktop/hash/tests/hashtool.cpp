// om_hashtool: digests and string formats of the library on the command line,
// for comparison with other implementations.
//   om_hashtool hash <ClassName> <hex data> <split points...>   -> lower-case hex digest
//   om_hashtool encode <format id> <hex data>                   -> text
//   om_hashtool decode <format id> <text as hex>                -> lower-case hex bytes
//   om_hashtool snefru-published <hex data>...                  -> Merkle's Snefru-256 of each,
//                                                                  on the library's S-boxes
// With OM_HASHTOOL_PORTABLE set, only the portable routines are used.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hash/hash_accel.h"
#include "hash/hash_support.h"
#include "hash/hashes.h"
#include "hash/snefru_sboxes.h"
#include "hash/string_formats.h"

using namespace om;

static std::string FromHex(const char* s) { return FormatTextToBytes(s, -1, fmtHEX); }

// The data zero-padded to whole blocks, then a block holding only the bit
// count (big-endian); the chaining value as big-endian words.
static std::string PublishedSnefru(const std::string& data) {
  uint32_t state[16] = {};
  std::string blocks = data + std::string((32 - data.size() % 32) % 32, '\0') + std::string(24, '\0');
  for (int i = 7; i >= 0; --i) blocks += static_cast<char>(uint64_t(data.size()) * 8 >> (8 * i));
  for (size_t at = 0; at < blocks.size(); at += 32)
    SnefruCompress<TSnefruVariant::Published>(state, reinterpret_cast<const uint8_t*>(blocks.data() + at));
  std::string digest;
  for (int i = 0; i < 8; ++i)
    for (int k = 3; k >= 0; --k) digest += static_cast<char>(state[i] >> (8 * k));
  return BytesToFormatText(digest, fmtHEXL);
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (std::getenv("OM_HASHTOOL_PORTABLE")) SetAcceleratedRoutinesEnabled(false);
  try {
    std::string cmd = argv[1];
    if (cmd == "snefru-published") {
      for (int i = 2; i < argc; ++i) std::printf("%s\n", PublishedSnefru(FromHex(argv[i])).c_str());
    } else if (argc < 4) {
      return 2;
    } else if (cmd == "hash") {
      const TProtectionClass* cls = nullptr;
      for (const auto& e : ProtectionClassList())
        if (std::strcmp(e.Class->ClassName, argv[2]) == 0) cls = e.Class;
      if (!cls) return 3;
      std::string data = FromHex(argv[3]);
      TRef<THash> h(static_cast<THash*>(cls->Create(nullptr)));
      h->Reset();
      size_t pos = 0;
      for (int i = 4; i < argc; ++i) {
        size_t cut = std::strtoul(argv[i], nullptr, 10);
        if (cut < pos || cut > data.size()) return 4;
        h->Update(data.data() + pos, static_cast<int64_t>(cut - pos));
        pos = cut;
      }
      h->Update(data.data() + pos, static_cast<int64_t>(data.size() - pos));
      h->Finish();
      std::printf("%s\n", BytesToFormatText(h->DigestBytes(), h->DigestSize(), fmtHEXL).c_str());
    } else if (cmd == "encode") {
      std::printf("%s\n", BytesToFormatText(FromHex(argv[3]), std::atoi(argv[2])).c_str());
    } else if (cmd == "decode") {
      std::string bytes = FormatTextToBytes(FromHex(argv[3]), std::atoi(argv[2]));
      std::printf("%s\n", BytesToFormatText(bytes, fmtHEXL).c_str());
    } else {
      return 2;
    }
  } catch (const std::exception& e) {
    std::printf("error: %s\n", e.what());
    return 1;
  }
  return 0;
}
