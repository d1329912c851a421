// The ANSI dial-up structures as the bridge and our rasapi32 stand-in exchange
// them: the 64-bit layouts with the system's 4-byte packing, at the sizes the
// bridge sets in their size fields (older revisions, which the system accepts).
#pragma once
#include <cstddef>
#include <cstdint>

namespace rasapi {

#pragma pack(push, 4)
struct EntryNameA {  // RASENTRYNAMEA
  uint32_t dwSize;
  char szEntryName[257];
  uint32_t dwFlags;
  char szPhonebookPath[261];
};
struct ConnA {  // RASCONNA up to guidEntry
  uint32_t dwSize;
  uint64_t hrasconn;
  char szEntryName[257];
  char szDeviceType[17];
  char szDeviceName[129];
  char szPhonebook[260];
  uint32_t dwSubEntry;
  uint8_t guidEntry[16];
};
struct DialParamsA {  // RASDIALPARAMSA without dwIfIndex
  uint32_t dwSize;
  char szEntryName[257];
  char szPhoneNumber[129];
  char szCallbackNumber[129];
  char szUserName[257];
  char szPassword[257];
  char szDomain[16];
  uint32_t dwSubEntry;
  uint64_t dwCallbackId;
};
struct ConnStatusA {  // RASCONNSTATUSA
  uint32_t dwSize;
  uint32_t rasconnstate;
  uint32_t dwError;
  char szDeviceType[17];
  char szDeviceName[129];
  char szPhoneNumber[129];
};
#pragma pack(pop)

static_assert(sizeof(EntryNameA) == 532, "RASENTRYNAMEA");
static_assert(offsetof(EntryNameA, szEntryName) == 4, "RASENTRYNAMEA name");
static_assert(sizeof(ConnA) == 696, "RASCONNA");
static_assert(offsetof(ConnA, hrasconn) == 4 && offsetof(ConnA, szEntryName) == 12, "RASCONNA fields");
static_assert(sizeof(DialParamsA) == 1064, "RASDIALPARAMSA");
static_assert(offsetof(DialParamsA, szUserName) == 519 && offsetof(DialParamsA, szPassword) == 776 &&
                  offsetof(DialParamsA, szDomain) == 1033 && offsetof(DialParamsA, dwCallbackId) == 1056,
              "RASDIALPARAMSA fields");
static_assert(sizeof(ConnStatusA) == 288, "RASCONNSTATUSA");

constexpr uint32_t kConnected = 0x2000;     // RASCS_Connected
constexpr uint32_t kDisconnected = 0x2001;  // RASCS_Disconnected
constexpr uint32_t kOpenPort = 0;           // RASCS_OpenPort
constexpr uint32_t kBufferTooSmall = 603;   // ERROR_BUFFER_TOO_SMALL
constexpr uint32_t kInvalidSize = 632;      // ERROR_INVALID_SIZE
constexpr uint32_t kNoEntry = 623;          // ERROR_CANNOT_FIND_PHONEBOOK_ENTRY
constexpr uint32_t kAuthFailure = 691;      // ERROR_AUTHENTICATION_FAILURE
constexpr uint32_t kInvalidHandle = 6;      // ERROR_INVALID_HANDLE
constexpr uint32_t kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

}  // namespace rasapi
