// Class information of every hash and checksum class: its parent, DigestSize
// and known answer (the digest of the self-test vector, in the byte order of
// DigestBytes).
#include <array>
#include <cstddef>

#include "hash/hashes.h"

namespace om {

namespace {

constexpr uint8_t HexDigit(char c) { return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10); }

// The bytes of a lower-case hexadecimal text of two digits a byte.
template <size_t N, size_t Length>
constexpr std::array<uint8_t, N> HexBytes(const char (&hex)[Length]) {
  static_assert(Length == 2 * N + 1, "two digits a byte");
  std::array<uint8_t, N> bytes{};
  for (size_t i = 0; i < N; ++i) bytes[i] = static_cast<uint8_t>(HexDigit(hex[2 * i]) << 4 | HexDigit(hex[2 * i + 1]));
  return bytes;
}

}  // namespace

#define OM_DEFINE_HASH(Cls, ParentCls, Size, AnswerHex)                                              \
  namespace {                                                                                        \
  constexpr std::array<uint8_t, Size> k##Cls##Answer = HexBytes<Size>(AnswerHex);                    \
  }                                                                                                  \
  const TProtectionClass Cls::ClassInfo = {#Cls, &ParentCls::ClassInfo,                              \
                                           [](TProtection* c) -> TProtection* { return new Cls(c); }, \
                                           Size, Size ? k##Cls##Answer.data() : nullptr};

OM_DEFINE_HASH(THash_MD4, THash, 16, "25eabfcc8cc96fd92dcf7ebd7f877c7c")
OM_DEFINE_HASH(THash_MD5, THash_MD4, 16, "3ed8348cd2a445d6755d4bc9fedcc2c6")
OM_DEFINE_HASH(THash_RipeMD128, THash_MD4, 16, "cfa032cfd08f873a78df13e7ebcd980f")
OM_DEFINE_HASH(THash_RipeMD160, THash_MD4, 20, "1954debc1b553530081d9b8070a0f24a9df73404")
OM_DEFINE_HASH(THash_RipeMD256, THash_MD4, 32, "c3b1d7aca89a477a38d36d39ef00fb45fc4ec31a7121db9e1c76c5de998818c2")
OM_DEFINE_HASH(THash_RipeMD320, THash_MD4, 40, "b7bd2c75b7135091e4670946f1415a4845df8e07ba674ea9fd66ed01d96f2320b51112c5a741a65c")
OM_DEFINE_HASH(THash_SHA, THash_RipeMD160, 20, "dc1f7d7c96ddc7fc4d0af2cc12e7f7665bb185ac")
OM_DEFINE_HASH(THash_SHA1, THash_SHA, 20, "9a012e63962a92ebd82ef0bc1ca4516a08692e68")
OM_DEFINE_HASH(THash_Tiger, THash_MD4, 24, "58787523e09a9084d8e362966895e0ef9e621b4fbc4a44ca")

OM_DEFINE_HASH(THash_Haval256, THash, 32, "e992c1fb79e9baa8285c7a730beb0c7cadf3f7ad26d7efe21ff4bf675769d59a")
OM_DEFINE_HASH(THash_Haval224, THash_Haval256, 28, "323adcb375b58f5a6af16689995a7a98716e2277bc02293867a5cce1")
OM_DEFINE_HASH(THash_Haval192, THash_Haval256, 24, "30aeec3fc18e6118a4f2a3e8066c3b64a6a92e7de252a0b5")
OM_DEFINE_HASH(THash_Haval160, THash_Haval256, 20, "13ddbd3233bc048d6df6635637e2a0d0531b9903")
OM_DEFINE_HASH(THash_Haval128, THash_Haval256, 16, "d8cbcdec7afdc8a5f27bd212b9339abd")

OM_DEFINE_HASH(THash_Sapphire320, THash, 40, "d8eda5749948ac0b0090cd8761f218dba41dcb73e43399dd37120693973395004acf86db236de76b")
OM_DEFINE_HASH(THash_Sapphire288, THash_Sapphire320, 36, "40f65a37d8cb1165dcfbde632b2cbe9c2bb7f3ed22d1ebef0fa188ed23f07f9c7e613740")
OM_DEFINE_HASH(THash_Sapphire256, THash_Sapphire320, 32, "e7c82b6d258afde0344293a3e2e52896a546506b1393861b40c6934b51fa66dd")
OM_DEFINE_HASH(THash_Sapphire224, THash_Sapphire320, 28, "8f3ec55792316cdfca40183a8608089934fdeb21aba4520f4017d3d0")
OM_DEFINE_HASH(THash_Sapphire192, THash_Sapphire320, 24, "95413fe02b527e50b5ff57eb763d325129eb796f4a64fb17")
OM_DEFINE_HASH(THash_Sapphire160, THash_Sapphire320, 20, "73d91aceb175fd04907a97413c200f532c22b38c")
OM_DEFINE_HASH(THash_Sapphire128, THash_Sapphire320, 16, "47ae1613c93a942d26748d62432688d8")

OM_DEFINE_HASH(THash_Snefru, THash, 32, "d690ee6728d9ba02a3c790ee507319741fbf6b83eb9a6bdff57ad8c3078da434")

OM_DEFINE_HASH(THash_Square, THash, 16, "808f35ea00a7773337ce559826ddb324")

OM_DEFINE_HASH(TChecksum, THash, 0, "")
OM_DEFINE_HASH(THash_XOR16, TChecksum, 2, "79e8")
OM_DEFINE_HASH(THash_XOR32, TChecksum, 4, "8dad897f")
OM_DEFINE_HASH(THash_CRC32, THash_XOR32, 4, "58ee1f31")
OM_DEFINE_HASH(THash_CRC16_CCITT, THash_XOR16, 2, "b0d1")
OM_DEFINE_HASH(Thash_CRC16_Standard, THash_XOR16, 2, "ed75")

}  // namespace om
