// Protection objects: a chain of processing steps for buffers, streams, files
// and strings, the hash base class THash and the keyed-hash link TMAC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/exceptions.h"
#include "framework/object.h"
#include "framework/streams.h"

namespace om {

enum ProtectionAction : uint8_t { actEncode = 0, actDecode = 1, actScramble = 2, actHash = 3, actWipe = 4 };
using TProtectionActions = uint8_t;  // bit set of ProtectionAction
constexpr TProtectionActions kAllProtectionActions = 0x1F;

class TProtection;

// Overwrites length bytes in a way the compiler does not drop.
void SecureZero(void* p, size_t length);

// Class reference of a protection class ("class of TProtection").
struct TProtectionClass {
  const char* ClassName;
  const TProtectionClass* Parent;
  TProtection* (*Create)(TProtection* chained);  // none for abstract classes
  int DigestSize;                                // class-level DigestSize of hashes
  const uint8_t* KnownAnswer = nullptr;          // digest of the self-test vector, for hashes
  bool InheritsFrom(const TProtectionClass& other) const;
};

#define OM_PROTECTION_CLASS()                     \
public:                                           \
  static const TProtectionClass ClassInfo;        \
  const TProtectionClass& ClassType() const override { return ClassInfo; }

class EProtection : public Exception {
public:
  using Exception::Exception;
};

class TProtection : public TInterfacedObject {
public:
  explicit TProtection(TProtection* chained = nullptr);
  ~TProtection() override;

  static const TProtectionClass ClassInfo;
  virtual const TProtectionClass& ClassType() const { return ClassInfo; }

  TProtection* GetChainedProtection();
  void SetChainedProtection(TProtection* protection);
  TProtectionActions AllowedActions = kAllProtectionActions;
  bool IsAllowed(ProtectionAction action) const {
    return action <= 7 && (AllowedActions & (1u << action)) != 0;
  }

  virtual void StartAction(ProtectionAction action);
  virtual void FinishAction(ProtectionAction action);
  virtual void ProcessBlock(void* buffer, int64_t length, ProtectionAction action);
  virtual void ProcessStream(TStream* source, TStream* destination, int64_t size, ProtectionAction action);
  virtual void ProcessFile(const std::string& sourceName, const std::string& destinationName,
                           ProtectionAction action);
  virtual std::string ProcessString(const std::string& source, ProtectionAction action, int formatId);
  virtual int64_t ProcessBuffer(void* buffer, int64_t length, ProtectionAction action);

private:
  TProtection* FChainedProtection = nullptr;  // counted reference
};

class THash : public TProtection {
  OM_PROTECTION_CLASS()
public:
  using TProtection::TProtection;

  void StartAction(ProtectionAction action) override;
  void FinishAction(ProtectionAction action) override;
  void ProcessBlock(void* buffer, int64_t length, ProtectionAction action) override;

  virtual const uint8_t* KnownAnswerDigest() const;
  virtual void Reset();
  virtual void Update(const void* data, int64_t length);
  virtual void Finish();
  virtual uint8_t* DigestBytes();
  int DigestSize() const { return ClassType().DigestSize; }

  // Digest of the bytes of data in the string format formatId.
  static std::string CalcStringDigest(const TProtectionClass& hashClass, const std::string& data,
                                      TProtection* chained, int formatId);

protected:
  // Every Reset and Finish of a hash class ends with these.
  void ResetHook();
  void FinishHook();
};

// A protection that, chained behind a hash, makes it a keyed hash.
class TMAC : public TProtection {
  OM_PROTECTION_CLASS()
public:
  explicit TMAC(const std::string& keyText = std::string(), TProtection* chained = nullptr);
  ~TMAC() override;

  const std::string& KeyText() const { return FKeyText; }
  void SetKeyText(const std::string& keyText);

  virtual void StartKeyedHash(THash* hash);
  virtual void FinishKeyedHash(THash* hash);

private:
  void WipeKey();
  std::string FKeyText;
};

}  // namespace om
