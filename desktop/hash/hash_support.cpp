#include "hash/hash_support.h"

#include <array>
#include <chrono>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "framework/strutils.h"
#include "hash/hash_accel.h"
#include "hash/hashes.h"
#include "hash/protection.h"
#include "hash/string_formats.h"

namespace om {

void DestroyStringFormatList();  // string_formats.cpp

namespace {

const uint8_t kSelfTestVector[kSelfTestVectorSize] = {
    0x30, 0x44, 0xED, 0x6E, 0x45, 0xA4, 0x96, 0xF5, 0xF6, 0x35, 0xA2, 0xEB, 0x3D, 0x1A, 0x5D, 0xD6,
    0xCB, 0x1D, 0x09, 0x82, 0x2D, 0xBD, 0xF5, 0x60, 0xC2, 0xB8, 0x58, 0xA1, 0x91, 0xF9, 0x81, 0xB1};

template <class T>
constexpr std::array<T, 256> ReflectedCrcTable(T poly) {
  std::array<T, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    T c = static_cast<T>(i);
    for (int k = 0; k < 8; ++k) c = static_cast<T>((c & 1) ? (c >> 1) ^ poly : (c >> 1));
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrc32Table = ReflectedCrcTable<uint32_t>(0xEDB88320u);
constexpr std::array<uint16_t, 256> kCrc16Table = ReflectedCrcTable<uint16_t>(0xA001u);
static_assert(kCrc32Table[1] == 0x77073096u, "CRC-32 table");
static_assert(kCrc16Table[1] == 0xC0C1u, "CRC-16 table");

int gDetectedCPUType = 0;
int gStartupCount = 0;
bool gStateMade = false;
std::vector<TProtectionClassEntry>* gProtectionClassList = nullptr;

// Byte order with the byte-swap instruction.
uint32_t ReverseBytes32Swap(uint32_t v) { return __builtin_bswap32(v); }
// Byte order by byte exchanges and a 16-bit rotation, for processors without it.
uint32_t ReverseBytes32Exchange(uint32_t v) {
  v = ((v & 0x00FF00FFu) << 8) | ((v >> 8) & 0x00FF00FFu);
  return (v << 16) | (v >> 16);
}

template <uint32_t (*Reverse)(uint32_t)>
void ReverseBuffer(const void* source, void* destination, int64_t count) {
  const auto* s = static_cast<const uint8_t*>(source);
  auto* d = static_cast<uint8_t*>(destination);
  for (int64_t i = 0; i < count; ++i) {
    uint32_t w;
    std::memcpy(&w, s + 4 * i, 4);
    w = Reverse(w);
    std::memcpy(d + 4 * i, &w, 4);
  }
}

template <uint32_t (*Reverse)(uint32_t)>
void ExpandSchedule(uint32_t* w, const void* block, bool rotate) {
  const auto* b = static_cast<const uint8_t*>(block);
  for (int t = 0; t < 16; ++t) {
    uint32_t v;
    std::memcpy(&v, b + 4 * t, 4);
    w[t] = Reverse(v);
  }
  if (rotate) {
    for (int t = 16; t < 80; ++t) w[t] = RotateBitsLeft32(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  } else {
    for (int t = 16; t < 80; ++t) w[t] = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];
  }
}

#if defined(__i386__)
// True when bit mask of the flags register can be changed.
bool CanToggleFlag(uint32_t mask) {
  uint32_t before, after;
  __asm__ volatile(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl %2, %0\n\t"
      "pushl %0\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %0\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      : "=&r"(after), "=&r"(before)
      : "r"(mask)
      : "cc");
  return ((before ^ after) & mask) != 0;
}
#endif

}  // namespace

uint32_t (*ReverseBytes32)(uint32_t) = ReverseBytes32Swap;
void (*ReverseBytes32Buffer)(const void*, void*, int64_t) = ReverseBuffer<ReverseBytes32Swap>;
void (*ExpandShaSchedule)(uint32_t*, const void*, bool) = ExpandSchedule<ReverseBytes32Swap>;

int GetDefaultFormatId() { return fmtMIME64; }
const uint8_t* GetSelfTestVector() { return kSelfTestVector; }

int DetectCPUType() {
#if defined(__i386__)
  if (!CanToggleFlag(1u << 18)) return 3;
  if (!CanToggleFlag(1u << 21)) return 4;
#endif
#if defined(__i386__) || defined(__x86_64__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 4;
  return static_cast<int>((a >> 8) & 0xF);
#else
  return 6;
#endif
}

int GetDetectedCPUType() {
  // Detect on first use without taking a start-up reference of the caller's.
  if (gDetectedCPUType == 0) gDetectedCPUType = DetectCPUType();
  return gDetectedCPUType;
}

namespace {

// Sixteen tables: table k gives the register change of a byte followed by k
// zero bytes, so sixteen bytes are taken in one step of independent lookups.
struct TCrc32Slices {
  uint32_t T[16][256];
};

constexpr TCrc32Slices MakeCrc32Slices() {
  TCrc32Slices s{};
  for (unsigned i = 0; i < 256; ++i) s.T[0][i] = kCrc32Table[i];
  for (unsigned k = 1; k < 16; ++k)
    for (unsigned i = 0; i < 256; ++i) s.T[k][i] = (s.T[k - 1][i] >> 8) ^ s.T[0][s.T[k - 1][i] & 0xFF];
  return s;
}

constexpr TCrc32Slices kCrc32Slices = MakeCrc32Slices();

inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint32_t Crc32Tables(uint32_t crc, const uint8_t* p, int64_t length) {
  const auto& t = kCrc32Slices.T;
  for (; length >= 16; length -= 16, p += 16) {
    const uint32_t a = LoadLE32(p) ^ crc, b = LoadLE32(p + 4), c = LoadLE32(p + 8), d = LoadLE32(p + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
  }
  for (; length > 0; --length, ++p) crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
  return crc;
}

// Below this length the folding set-up costs more than it saves.
constexpr int64_t kCrc32FoldMinimum = 256;

}  // namespace

uint32_t CalcCRC32(uint32_t crc, const void* data, int64_t length) {
  if (!data || length <= 0) return crc;
  const auto* p = static_cast<const uint8_t*>(data);
  static const bool fold = HaveAcceleratedRoutines() && ProcessorFeatures().Pclmul;
  if (fold && length >= kCrc32FoldMinimum && AcceleratedRoutinesEnabled()) return Crc32FoldPclmul(crc, p, length, Crc32Tables);
  return Crc32Tables(crc, p, length);
}

uint16_t CalcCRC16(uint16_t crc, const void* data, int64_t length) {
  if (!data || length <= 0) return crc;
  const auto* p = static_cast<const uint8_t*>(data);
  for (; length > 0; --length, ++p) crc = static_cast<uint16_t>((crc >> 8) ^ kCrc16Table[(crc ^ *p) & 0xFF]);
  return crc;
}

uint32_t RandomizeBuffer(uint32_t seed, void* buffer, int64_t length) {
  auto* p = static_cast<uint8_t*>(buffer);
  for (int64_t i = 0; p && i < length; ++i) {
    seed ^= p[i];
    seed = seed * 134775813u + 1u;
    p[i] = static_cast<uint8_t>(seed >> 24);
  }
  return seed;
}

uint32_t TimeSeed() {
  using namespace std::chrono;
  auto now = system_clock::now().time_since_epoch();
  uint64_t msOfDay = static_cast<uint64_t>(duration_cast<milliseconds>(now).count()) % 86400000u;
  // msOfDay equals ((hour * 60 + minute) * 60 + second) * 1000 + millisecond.
  uint64_t counter = static_cast<uint64_t>(steady_clock::now().time_since_epoch().count());
  return static_cast<uint32_t>(msOfDay) ^ static_cast<uint32_t>(counter) ^ static_cast<uint32_t>(counter >> 32);
}

void XorBlocks(const void* a, const void* b, int64_t length, void* destination) {
  const auto* x = static_cast<const uint8_t*>(a);
  const auto* y = static_cast<const uint8_t*>(b);
  auto* d = static_cast<uint8_t*>(destination);
  for (int64_t i = 0; i < length; ++i) d[i] = static_cast<uint8_t>(x[i] ^ y[i]);
}

bool IsLiveObjectOf(const void* reference, const TProtectionClass& cls) {
  if (!IsLiveObject(reference)) return false;
  auto* obj = static_cast<const TInterfacedObject*>(reference);
  auto* protection = dynamic_cast<const TProtection*>(obj);
  return protection && protection->ClassType().InheritsFrom(cls);
}

static std::vector<TProtectionClassEntry>& ClassListStorage() {
  if (!gProtectionClassList) gProtectionClassList = new std::vector<TProtectionClassEntry>;
  return *gProtectionClassList;
}

bool RegisterProtectionClass(const TProtectionClass* cls, const std::string& description,
                             const std::string& kind) {
  if (!cls) return false;
  std::string text = Trim(description);
  if (text.empty()) {
    text = cls->ClassName;
    if (!text.empty() && (text[0] == 'T' || text[0] == 't')) text.erase(0, 1);
    size_t p = text.find('_');
    if (p != std::string::npos) text.erase(0, p + 1);
  }
  text = kind + "=" + text;
  auto& list = ClassListStorage();
  for (auto& entry : list) {
    if (entry.Class == cls) {
      entry.Text = text;
      return true;
    }
  }
  list.push_back({text, cls});
  return true;
}

const std::vector<TProtectionClassEntry>& ProtectionClassList() {
  EnsureHashLibraryState();
  return ClassListStorage();
}

void SecureZero(void* p, size_t length) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (length--) *v++ = 0;
}

void HashLibraryStartup() {
  if (gStartupCount++ == 0) EnsureHashLibraryState();
}

void EnsureHashLibraryState() {
  if (gStateMade) return;
  gStateMade = true;
  // Support state and string formats.
  gDetectedCPUType = DetectCPUType();
  if (gDetectedCPUType > 3) {
    ReverseBytes32 = ReverseBytes32Swap;
    ReverseBytes32Buffer = ReverseBuffer<ReverseBytes32Swap>;
  } else {
    ReverseBytes32 = ReverseBytes32Exchange;
    ReverseBytes32Buffer = ReverseBuffer<ReverseBytes32Exchange>;
  }
  RegisterStringFormats({&TStringFormat::Class, &TStringFormat_HEX::Class, &TStringFormat_HEXL::Class,
                         &TStringFormat_MIME64::Class, &TStringFormat_UU::Class, &TStringFormat_XX::Class});
  // Hash classes.
  ExpandShaSchedule = gDetectedCPUType > 3 ? ExpandSchedule<ReverseBytes32Swap> : ExpandSchedule<ReverseBytes32Exchange>;
  const struct {
    const TProtectionClass* Class;
    const char* Kind;
    const char* Description;
  } classes[] = {
      {&THash_MD4::ClassInfo, "Hash", "Message Digest 4"},
      {&THash_MD5::ClassInfo, "Hash", "Message Digest 5"},
      {&THash_SHA::ClassInfo, "Hash", "Secure Hash Algorithm"},
      {&THash_SHA1::ClassInfo, "Hash", "Secure Hash Algorithm 1"},
      {&THash_RipeMD128::ClassInfo, "Hash", "Ripe Message Digest 128"},
      {&THash_RipeMD160::ClassInfo, "Hash", "Ripe Message Digest 160"},
      {&THash_RipeMD256::ClassInfo, "Hash", "Ripe Message Digest 256"},
      {&THash_RipeMD320::ClassInfo, "Hash", "Ripe Message Digest 320"},
      {&THash_Haval128::ClassInfo, "Hash", "Haval-128"},
      {&THash_Haval160::ClassInfo, "Hash", "Haval-160"},
      {&THash_Haval192::ClassInfo, "Hash", "Haval-192"},
      {&THash_Haval224::ClassInfo, "Hash", "Haval-224"},
      {&THash_Haval256::ClassInfo, "Hash", "Haval-256"},
      {&THash_Sapphire128::ClassInfo, "Hash", "Sapphire II-128"},
      {&THash_Sapphire160::ClassInfo, "Hash", "Sapphire II-160"},
      {&THash_Sapphire192::ClassInfo, "Hash", "Sapphire II-192"},
      {&THash_Sapphire224::ClassInfo, "Hash", "Sapphire II-224"},
      {&THash_Sapphire256::ClassInfo, "Hash", "Sapphire II-256"},
      {&THash_Sapphire288::ClassInfo, "Hash", "Sapphire II-288"},
      {&THash_Sapphire320::ClassInfo, "Hash", "Sapphire II-320"},
      {&THash_Snefru::ClassInfo, "Hash", "Snefru-256"},
      {&THash_Square::ClassInfo, "Hash", "Square"},
      {&THash_Tiger::ClassInfo, "Hash", "Tiger"},
      {&THash_XOR16::ClassInfo, "Checksum", "XOR-16"},
      {&THash_XOR32::ClassInfo, "Checksum", "XOR-32"},
      {&THash_CRC16_CCITT::ClassInfo, "Checksum", "CRC-16 CCITT"},
      {&Thash_CRC16_Standard::ClassInfo, "Checksum", "CRC-16 Standard"},
      {&THash_CRC32::ClassInfo, "Checksum", "CRC-32"},
  };
  for (const auto& c : classes) RegisterProtectionClass(c.Class, c.Description, c.Kind);
}

void HashLibraryShutdown() {
  if (gStartupCount <= 0 || --gStartupCount != 0) return;
  delete gProtectionClassList;
  gProtectionClassList = nullptr;
  DestroyStringFormatList();
  gStateMade = false;
}

}  // namespace om
