// com.ombrel.agentservice.changejournal.ntfs.NtfsChangeJournal: creating and
// querying a volume's change journal, enumerating its master file table and
// reading the journal from a USN on. Records reach Java one buffer at a time.
#include <atomic>
#include <cstring>
#include <string>

#include "bridge.h"
#include "com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal.h"

using namespace rasbridge;

namespace {

constexpr DWORD kBufferSize = 4096;
constexpr size_t kRecordHeader = offsetof(USN_RECORD, FileName);

struct JournalClasses {
  std::atomic<jclass> exception{nullptr}, journalData{nullptr}, record{nullptr}, callback{nullptr};
  std::atomic<jmethodID> exceptionInit{nullptr}, journalDataInit{nullptr}, recordInit{nullptr}, callbackRecord{nullptr};
};
JournalClasses journal;

bool bind(JNIEnv* env, std::atomic<jclass>& slot, const char* name) {
  if (slot.load()) return true;
  jclass type = keepClass(env, name);
  if (!type) return false;
  slot.store(type);
  return true;
}

bool bindMethod(JNIEnv* env, jclass type, std::atomic<jmethodID>& slot, const char* name, const char* signature) {
  jmethodID method = env->GetMethodID(type, name, signature);
  if (!method) return false;
  slot.store(method);
  return true;
}

void throwJournalException(JNIEnv* env, DWORD code) {
  jclass type = journal.exception.load();
  jmethodID init = journal.exceptionInit.load();
  if (!type || !init) {
    throwIOException(env, code);
    return;
  }
  throwWithCode(env, type, init, code);
}

// A failure of these natives themselves, with a message of its own: the journal
// exception, or IOException when init has not bound that.
void throwJournalFailure(JNIEnv* env, DWORD code, const std::string& message) {
  jclass type = journal.exception.load();
  jmethodID init = journal.exceptionInit.load();
  if (!type || !init) {
    throwNew(env, Cached::IOException, message.c_str());
    return;
  }
  throwWithCode(env, type, init, message.c_str(), code);
}

// True when init has bound what the reading natives make and call; otherwise
// false with the failure thrown.
bool initialised(JNIEnv* env) {
  if (journal.record.load() && journal.recordInit.load() && journal.callbackRecord.load() &&
      journal.journalData.load() && journal.journalDataInit.load())
    return true;
  throwJournalFailure(env, ERROR_INVALID_FUNCTION, "NtfsChangeJournal.init has not run");
  return false;
}

jlong unsignedLong(DWORD value) { return static_cast<jlong>(static_cast<uint64_t>(value)); }

// The records of a filled buffer as a Java array, in buffer order. Null with an
// exception pending when a string, an object or the array cannot be made, or when
// a record does not fit the buffer (damage, never a normal end).
jobjectArray batch(JNIEnv* env, const BYTE* buffer, DWORD filled) {
  jclass recordClass = journal.record.load();
  jmethodID recordInit = journal.recordInit.load();
  auto damaged = [&](DWORD at, DWORD length) {
    throwJournalFailure(env, ERROR_INVALID_DATA, "change journal record of length " + std::to_string(length) +
                                                     " at byte " + std::to_string(at) + " does not fit its buffer");
    return nullptr;
  };
  jsize count = 0;
  for (DWORD at = 8; at < filled;) {
    DWORD length = 0;
    if (filled - at < sizeof length) return damaged(at, 0);
    std::memcpy(&length, buffer + at, sizeof length);
    if (length < kRecordHeader || length > filled - at) return damaged(at, length);
    USN_RECORD record;
    std::memcpy(&record, buffer + at, kRecordHeader);
    if (static_cast<size_t>(record.FileNameOffset) + record.FileNameLength > length) return damaged(at, length);
    ++count;
    at += length;
  }
  jobjectArray records = env->NewObjectArray(count, recordClass, nullptr);
  if (!records) return nullptr;
  DWORD at = 8;
  for (jsize i = 0; i < count; ++i) {
    USN_RECORD record;
    std::memcpy(&record, buffer + at, kRecordHeader);
    // The name is not aligned inside the buffer: copied out before it is read.
    jchar name[kBufferSize / 2];
    std::memcpy(name, buffer + at + record.FileNameOffset, record.FileNameLength / 2 * 2);
    jstring text = env->NewString(name, record.FileNameLength / 2);
    jobject object = text ? env->NewObject(recordClass, recordInit, text, unsignedLong(record.SourceInfo),
                                           unsignedLong(record.Reason), unsignedLong(record.FileAttributes),
                                           static_cast<jlong>(record.Usn),
                                           static_cast<jlong>(record.ParentFileReferenceNumber),
                                           static_cast<jlong>(record.FileReferenceNumber))
                          : nullptr;
    if (text) env->DeleteLocalRef(text);
    if (!object) {
      env->DeleteLocalRef(records);
      return nullptr;
    }
    env->SetObjectArrayElement(records, i, object);
    env->DeleteLocalRef(object);
    at += record.RecordLength;
  }
  return records;
}

// What became of one buffer handed to the callback.
enum class Handed { kFailed, kThrew, kStop, kMore };

Handed handOver(JNIEnv* env, jobject callback, const BYTE* buffer, DWORD filled) {
  jobjectArray records = batch(env, buffer, filled);
  if (!records) return Handed::kFailed;
  jboolean more = env->CallBooleanMethod(callback, journal.callbackRecord.load(), records);
  env->DeleteLocalRef(records);
  if (env->ExceptionCheck()) return Handed::kThrew;
  return more ? Handed::kMore : Handed::kStop;
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal_init(JNIEnv* env, jclass) {
  if (!ensureClassCache(env)) return;
  if (!bind(env, journal.exception, "com/ombrel/agentservice/changejournal/ntfs/NtfsChangeJournalException") ||
      !bindMethod(env, journal.exception.load(), journal.exceptionInit, "<init>", "(Ljava/lang/String;I)V"))
    return;
  if (!bind(env, journal.journalData, "com/ombrel/agentservice/changejournal/ntfs/UsnJournalData") ||
      !bindMethod(env, journal.journalData.load(), journal.journalDataInit, "<init>", "(JJJJJJJ)V"))
    return;
  if (!bind(env, journal.record, "com/ombrel/agentservice/changejournal/ntfs/UsnRecord") ||
      !bindMethod(env, journal.record.load(), journal.recordInit, "<init>", "(Ljava/lang/String;JJJJJJ)V"))
    return;
  if (!bind(env, journal.callback, "com/ombrel/agentservice/changejournal/ntfs/UsnRecordCallback")) return;
  bindMethod(env, journal.callback.load(), journal.callbackRecord, "record",
             "([Lcom/ombrel/agentservice/changejournal/ntfs/UsnRecord;)Z");
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal_activateUsnJournal(
    JNIEnv* env, jclass, jlong volume) {
  CREATE_USN_JOURNAL_DATA create{};
  DWORD returned = 0;
  if (!DeviceIoControl(fromJava<HANDLE>(volume), FSCTL_CREATE_USN_JOURNAL, &create, sizeof create, nullptr, 0, &returned,
                       nullptr)) {
    throwIOException(env, GetLastError());
    return 0;
  }
  return 1;
}

JNIEXPORT jobject JNICALL Java_com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal_queryUSNJournal(
    JNIEnv* env, jclass, jlong volume) {
  if (!initialised(env)) return nullptr;
  USN_JOURNAL_DATA data{};
  DWORD returned = 0;
  if (!DeviceIoControl(fromJava<HANDLE>(volume), FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &data, sizeof data, &returned,
                       nullptr)) {
    DWORD error = GetLastError();
    if (error == ERROR_JOURNAL_NOT_ACTIVE) throwJournalException(env, error);
    else throwIOException(env, error);
    return nullptr;
  }
  return env->NewObject(journal.journalData.load(), journal.journalDataInit.load(), static_cast<jlong>(data.UsnJournalID), static_cast<jlong>(data.FirstUsn),
                        static_cast<jlong>(data.NextUsn), static_cast<jlong>(data.LowestValidUsn),
                        static_cast<jlong>(data.MaxUsn), static_cast<jlong>(data.MaximumSize),
                        static_cast<jlong>(data.AllocationDelta));
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal_enumerateUSN0(
    JNIEnv* env, jclass, jlong volume, jchar driveLetter, jlong startFileReference, jlong lowUsn, jlong highUsn,
    jobject callback) {
  if (!callback) {
    throwNullPointer(env);
    return 0;
  }
  if (!initialised(env)) return 0;
  const WCHAR root[] = {static_cast<WCHAR>(driveLetter), u':', u'\\', 0};
  om::UniqueFile folder(CreateFileW(root, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!folder || !GetFileInformationByHandle(folder.get(), &information)) {
    throwIOException(env, GetLastError());
    return 0;
  }
  folder.reset();
  jlong rootReference =
      static_cast<jlong>((static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow);

  MFT_ENUM_DATA enumData{static_cast<DWORDLONG>(startFileReference), lowUsn, highUsn};
  BYTE buffer[kBufferSize];
  std::memset(buffer, 0, sizeof buffer);
  for (;;) {
    DWORD filled = 0;
    if (!DeviceIoControl(fromJava<HANDLE>(volume), FSCTL_ENUM_USN_DATA, &enumData, sizeof enumData, buffer, sizeof buffer,
                         &filled, nullptr)) {
      DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) return rootReference;
      throwIOException(env, error);
      return 0;
    }
    if (filled <= 8) return rootReference;
    Handed handed = handOver(env, callback, buffer, filled);
    if (handed == Handed::kFailed) return 0;
    // A callback that threw ends the enumeration with its exception.
    if (handed != Handed::kMore) return rootReference;
    std::memcpy(&enumData.StartFileReferenceNumber, buffer, 8);
  }
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal_readUSNJournalN(
    JNIEnv* env, jclass, jlong volume, jlong startUsn, jint reasonMask, jboolean returnOnlyOnClose, jlong journalId,
    jobject callback) {
  if (!callback) {
    throwNullPointer(env);
    return JNI_FALSE;
  }
  if (!initialised(env)) return JNI_FALSE;
  READ_USN_JOURNAL_DATA readData{};
  readData.StartUsn = startUsn;
  readData.ReasonMask = static_cast<DWORD>(reasonMask);
  readData.ReturnOnlyOnClose = returnOnlyOnClose ? 1 : 0;
  readData.UsnJournalID = static_cast<DWORDLONG>(journalId);
  BYTE buffer[kBufferSize];
  std::memset(buffer, 0, sizeof buffer);
  for (;;) {
    DWORD filled = 0;
    if (!DeviceIoControl(fromJava<HANDLE>(volume), FSCTL_READ_USN_JOURNAL, &readData, sizeof readData, buffer, sizeof buffer,
                         &filled, nullptr)) {
      throwIOException(env, GetLastError());
      return JNI_FALSE;
    }
    if (filled < 9) return JNI_TRUE;
    Handed handed = handOver(env, callback, buffer, filled);
    if (handed == Handed::kThrew) return JNI_TRUE;
    if (handed != Handed::kMore) return JNI_FALSE;
    std::memcpy(&readData.StartUsn, buffer, 8);
  }
}

}  // extern "C"
