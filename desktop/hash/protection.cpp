#include "hash/protection.h"

#include <cstring>
#include <memory>
#include <vector>

#include "framework/fileidentity.h"
#include "framework/strutils.h"
#include "hash/hash_support.h"
#include "hash/string_formats.h"

namespace om {

namespace {
const int64_t kWorkBufferSize = 4096;

struct TProtectionUnitInit {
  TProtectionUnitInit() { HashLibraryStartup(); }
} gProtectionUnitInit;
}  // namespace

bool TProtectionClass::InheritsFrom(const TProtectionClass& other) const {
  for (const TProtectionClass* c = this; c; c = c->Parent)
    if (c == &other) return true;
  return false;
}

const TProtectionClass TProtection::ClassInfo = {"TProtection", nullptr, nullptr, 0};
const TProtectionClass THash::ClassInfo = {
    "THash", &TProtection::ClassInfo, [](TProtection* c) -> TProtection* { return new THash(c); }, 0};
const TProtectionClass TMAC::ClassInfo = {
    "TMAC", &TProtection::ClassInfo, [](TProtection* c) -> TProtection* { return new TMAC(std::string(), c); }, 0};

// --- TProtection -----------------------------------------------------------

TProtection::TProtection(TProtection* chained) {
  SetChainedProtection(chained);
  AllowedActions = kAllProtectionActions;
}

TProtection::~TProtection() { SetChainedProtection(nullptr); }

TProtection* TProtection::GetChainedProtection() {
  if (FChainedProtection && !IsLiveObjectOf(FChainedProtection, TProtection::ClassInfo))
    FChainedProtection = nullptr;
  return FChainedProtection;
}

void TProtection::SetChainedProtection(TProtection* protection) {
  if (protection == FChainedProtection) return;
  for (TProtection* p = protection; p && IsLiveObjectOf(p, TProtection::ClassInfo); p = p->FChainedProtection)
    if (p == this) throw EProtection("Circular Protection detected, Protection Object is invalid.");
  TProtection* old = GetChainedProtection();
  FChainedProtection = protection;
  if (protection) protection->AddRef();
  if (old) old->Release();
}

void TProtection::StartAction(ProtectionAction action) {
  if (TProtection* p = GetChainedProtection()) p->StartAction(action);
}

void TProtection::FinishAction(ProtectionAction action) {
  if (TProtection* p = GetChainedProtection()) p->FinishAction(action);
}

void TProtection::ProcessBlock(void* buffer, int64_t length, ProtectionAction action) {
  if (TProtection* p = GetChainedProtection()) p->ProcessBlock(buffer, length, action);
}

int64_t TProtection::ProcessBuffer(void* buffer, int64_t length, ProtectionAction action) {
  StartAction(action);
  try {
    ProcessBlock(buffer, length, action);
  } catch (...) {
    FinishAction(action);
    throw;
  }
  FinishAction(action);
  return length;
}

void TProtection::ProcessStream(TStream* source, TStream* destination, int64_t size, ProtectionAction action) {
  if (!source) return;
  if (!destination) destination = source;
  if (size < 0) {
    size = source->Size();
    source->SetPosition(0);
  }
  StartAction(action);
  std::vector<uint8_t> buffer(kWorkBufferSize, 0);
  try {
    int64_t sourcePos = source->Position();
    int64_t destPos = destination->Position();
    if (action == actHash) {
      while (size > 0) {
        int64_t n = source->Read(buffer.data(), size < kWorkBufferSize ? size : kWorkBufferSize);
        if (n <= 0) break;
        ProcessBlock(buffer.data(), n, action);
        size -= n;
      }
    } else {
      while (size > 0) {
        source->SetPosition(sourcePos);
        int64_t n = source->Read(buffer.data(), size < kWorkBufferSize ? size : kWorkBufferSize);
        if (n <= 0) break;
        sourcePos = source->Position();
        ProcessBlock(buffer.data(), n, action);
        destination->SetPosition(destPos);
        destination->WriteBuffer(buffer.data(), n);
        destPos = destination->Position();
        size -= n;
      }
    }
  } catch (...) {
    SecureZero(buffer.data(), buffer.size());
    FinishAction(action);
    throw;
  }
  SecureZero(buffer.data(), buffer.size());
  FinishAction(action);
}

// In-place work is decided by what the names lead to on disk, not by how they
// are spelled: a relative path, "..", another letter case or a hard link to
// the source must never have the source truncated before it is read.
void TProtection::ProcessFile(const std::string& sourceName, const std::string& destinationName,
                              ProtectionAction action) {
  std::unique_ptr<TFileStream> source, destination;
  if (action == actHash) {
    // A hash only reads; the source serves as its own destination.
    source.reset(new TFileStream(sourceName, fmOpenRead | fmShareDenyNone));
  } else if (Trim(destinationName).empty() || IsSameFile(sourceName, destinationName)) {
    source.reset(new TFileStream(sourceName, fmOpenReadWrite));
  } else {
    source.reset(new TFileStream(sourceName, fmOpenRead | fmShareDenyNone));
    destination.reset(new TFileStream(destinationName, fmCreate));
  }
  auto cut = [&]() {
    if (destination) destination->SetSize(destination->Position());
  };
  try {
    ProcessStream(source.get(), destination ? destination.get() : source.get(), source->Size(), action);
  } catch (...) {
    try { cut(); } catch (...) {}
    throw;
  }
  cut();
}

std::string TProtection::ProcessString(const std::string& source, ProtectionAction action, int formatId) {
  if (source.empty()) return std::string();
  std::string bytes = action == actDecode ? FormatTextToBytes(source, formatId) : source;
  TMemoryStream stream(std::move(bytes));
  ProcessStream(&stream, &stream, stream.Size(), action);
  std::string result = stream.AsString();
  if (action == actDecode) return result;
  std::string text = BytesToFormatText(result, formatId);
  SecureZero(&result[0], result.size());
  return text;
}

// --- THash -----------------------------------------------------------------

void THash::StartAction(ProtectionAction action) {
  Reset();
  if (action == actWipe) RandomizeBuffer(TimeSeed(), DigestBytes(), DigestSize());
  TProtection::StartAction(action);
}

void THash::FinishAction(ProtectionAction action) {
  TProtection::FinishAction(action);
  if (action == actHash) Finish();
  else Reset();
}

void THash::ProcessBlock(void* buffer, int64_t length, ProtectionAction action) {
  if (action != actDecode) TProtection::ProcessBlock(buffer, length, action);
  const int64_t size = DigestSize();
  if (IsAllowed(action) && buffer) {
    auto* p = static_cast<uint8_t*>(buffer);
    switch (action) {
      case actHash:
        Update(buffer, length);
        break;
      case actScramble:
      case actWipe:
        // A class without a digest has nothing to put over the data.
        for (int64_t pos = 0; size > 0 && pos < length; pos += size) {
          int64_t n = length - pos < size ? length - pos : size;
          Update(p + pos, n);
          Finish();
          std::memcpy(p + pos, DigestBytes(), static_cast<size_t>(n));
        }
        break;
      case actEncode:
      case actDecode:
        for (int64_t pos = 0; size > 0 && pos < length; pos += size) {
          int64_t n = length - pos < size ? length - pos : size;
          Update(DigestBytes(), size);
          Finish();
          XorBlocks(p + pos, DigestBytes(), n, p + pos);
        }
        break;
    }
  }
  if (action == actDecode) TProtection::ProcessBlock(buffer, length, action);
}

const uint8_t* THash::KnownAnswerDigest() const {
  const uint8_t* answer = ClassType().KnownAnswer;
  return answer ? answer : GetSelfTestVector();
}
void THash::Reset() { ResetHook(); }
void THash::Update(const void*, int64_t) {}
void THash::Finish() { FinishHook(); }
uint8_t* THash::DigestBytes() { return const_cast<uint8_t*>(GetSelfTestVector()); }

void THash::ResetHook() {
  TProtection* chained = GetChainedProtection();
  if (!chained) return;
  if (auto* mac = dynamic_cast<TMAC*>(chained)) mac->StartKeyedHash(this);
}

void THash::FinishHook() {
  TProtection* chained = GetChainedProtection();
  if (!chained) return;
  if (auto* mac = dynamic_cast<TMAC*>(chained)) mac->FinishKeyedHash(this);
  else chained->ProcessBuffer(DigestBytes(), DigestSize(), actScramble);
}

std::string THash::CalcStringDigest(const TProtectionClass& hashClass, const std::string& data,
                                    TProtection* chained, int formatId) {
  if (!hashClass.Create || !hashClass.InheritsFrom(THash::ClassInfo))
    throw EProtection(Format("%s is no hash class.", hashClass.ClassName));
  TRef<TProtection> holder(hashClass.Create(chained));
  auto* hash = static_cast<THash*>(holder.get());
  hash->Reset();
  hash->Update(data.data(), static_cast<int64_t>(data.size()));
  hash->Finish();
  return BytesToFormatText(hash->DigestBytes(), hash->DigestSize(), formatId);
}

// --- TMAC ------------------------------------------------------------------

TMAC::TMAC(const std::string& keyText, TProtection* chained) : TProtection(chained), FKeyText(keyText) {}

TMAC::~TMAC() { WipeKey(); }

void TMAC::SetKeyText(const std::string& keyText) {
  WipeKey();
  FKeyText = keyText;
}

void TMAC::WipeKey() {
  if (!FKeyText.empty()) {
    volatile char* p = &FKeyText[0];
    for (char fill : {'\xAA', '\x55', '\x00'})
      for (size_t i = 0; i < FKeyText.size(); ++i) p[i] = fill;
  }
  FKeyText.clear();
}

void TMAC::StartKeyedHash(THash* hash) {
  if (FKeyText.empty() || !hash) return;
  std::string k = THash::CalcStringDigest(hash->ClassType(), FKeyText, GetChainedProtection(), fmtCOPY);
  XorBlocks(hash->DigestBytes(), k.data(), static_cast<int64_t>(k.size()), hash->DigestBytes());
  volatile char* p = k.empty() ? nullptr : &k[0];
  for (char fill : {'\xAA', '\x55', '\x00'})
    for (size_t i = 0; i < k.size(); ++i) p[i] = fill;
}

void TMAC::FinishKeyedHash(THash* hash) {
  if (TProtection* chained = GetChainedProtection())
    chained->ProcessBuffer(hash->DigestBytes(), hash->DigestSize(), actScramble);
}

}  // namespace om
