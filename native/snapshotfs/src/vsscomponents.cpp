// com.ombrel.vss.win32.VssWriterComponentsExt, VssWriterComponentExt and
// VssSnapshotProperties: component state after a backup or restore document
// has been loaded, and the properties of a created snapshot.
#include <cstddef>
#include <mutex>
#include <unordered_map>

#include "com_ombrel_vss_win32_VssSnapshotProperties.h"
#include "com_ombrel_vss_win32_VssWriterComponentExt.h"
#include "com_ombrel_vss_win32_VssWriterComponentsExt.h"
#include "vssbridge.h"

using namespace omnative;

namespace {

using WriterComponents = IVssWriterComponentsExt;
using Component = IVssComponent;

// The writer-components object carries its IUnknown one pointer after the
// writer-components table; the object is released through that.
IUnknown* unknownOf(WriterComponents* object) {
  return reinterpret_cast<IUnknown*>(reinterpret_cast<void**>(object) + 1);
}

// Writer-components pointers handed out and not yet released, with how often
// each was handed out.
std::mutex handedOutLock;
std::unordered_map<const void*, size_t> handedOut;

bool isHandedOut(const void* object) {
  std::lock_guard<std::mutex> hold(handedOutLock);
  return handedOut.count(object) != 0;
}

static_assert(offsetof(VSS_SNAPSHOT_PROP, m_SnapshotSetId) == 16, "VSS_SNAPSHOT_PROP layout");
static_assert(offsetof(VSS_SNAPSHOT_PROP, m_lSnapshotsCount) == 32, "VSS_SNAPSHOT_PROP layout");
static_assert(offsetof(VSS_SNAPSHOT_PROP, m_pwszSnapshotDeviceObject) == 40, "VSS_SNAPSHOT_PROP layout");
static_assert(offsetof(VSS_SNAPSHOT_PROP, m_pwszExposedPath) == 80, "VSS_SNAPSHOT_PROP layout");
static_assert(offsetof(VSS_SNAPSHOT_PROP, m_ProviderId) == 88, "VSS_SNAPSHOT_PROP layout");
static_assert(offsetof(VSS_SNAPSHOT_PROP, m_lSnapshotAttributes) == 104, "VSS_SNAPSHOT_PROP layout");
static_assert(offsetof(VSS_SNAPSHOT_PROP, m_tsCreationTimestamp) == 112, "VSS_SNAPSHOT_PROP layout");
static_assert(offsetof(VSS_SNAPSHOT_PROP, m_eStatus) == 120, "VSS_SNAPSHOT_PROP layout");

const VSS_SNAPSHOT_PROP* block(jlong properties) {
  return fromJava<const VSS_SNAPSHOT_PROP*>(properties);
}

jint textLength(const WCHAR* text) {
  if (!text) return 0;
  jint length = 0;
  while (text[length]) ++length;
  return length;
}

// Copies as much of the text as the array holds; nothing for an absent text.
void copyText(JNIEnv* env, const WCHAR* text, jcharArray out) {
  if (!text || !out) return;
  jint length = textLength(text);
  jsize room = env->GetArrayLength(out);
  if (length > room) length = room;
  if (length > 0) env->SetCharArrayRegion(out, 0, length, reinterpret_cast<const jchar*>(text));
}

void copyGuid(JNIEnv* env, const GUID& guid, jbyteArray out) {
  if (!out) return;
  jbyte bytes[kGuidSize];
  guidBytes(guid, bytes);
  jsize room = env->GetArrayLength(out);
  env->SetByteArrayRegion(out, 0, room < kGuidSize ? room : kGuidSize, bytes);
}

}  // namespace

namespace omnative {

void rememberWriterComponents(IVssWriterComponentsExt* object) {
  std::lock_guard<std::mutex> hold(handedOutLock);
  ++handedOut[object];
}

jint releaseWriterComponents(IVssWriterComponentsExt* object) {
  {
    std::lock_guard<std::mutex> hold(handedOutLock);
    auto found = handedOut.find(object);
    if (found != handedOut.end() && --found->second == 0) handedOut.erase(found);
  }
  return static_cast<jint>(unknownOf(object)->Release());
}

jint releaseHandedOut(jlong pointer) {
  if (!pointer) return 0;
  if (isHandedOut(as<void>(pointer))) return releaseWriterComponents(as<WriterComponents>(pointer));
  return static_cast<jint>(as<IUnknown>(pointer)->Release());
}

}  // namespace omnative

extern "C" {

// ---- VssWriterComponentsExt ------------------------------------------------------------------

VSS_INT_GETTER(VssWriterComponentsExt, GetComponentCount, WriterComponents::GetComponentCount)

JNIEXPORT jint JNICALL VSS_NATIVE(VssWriterComponentsExt, GetWriterInfo)(JNIEnv* env, jclass, jlong writer,
                                                                         jbyteArray instanceId, jbyteArray writerId) {
  WriterComponents* object = as<WriterComponents>(writer);
  if (!object) return kComPointer;
  if (!isGuidOut(env, instanceId) || !isGuidOut(env, writerId)) return kInvalidParameter;
  VSS_ID instance{}, writerClass{};
  HRESULT result = object->GetWriterInfo(&instance, &writerClass);
  putGuid(env, instanceId, instance);
  putGuid(env, writerId, writerClass);
  return result;
}

VSS_INDEX_GETTER(VssWriterComponentsExt, GetComponent, WriterComponents::GetComponent)

JNIEXPORT jint JNICALL VSS_NATIVE(VssWriterComponentsExt, Release)(JNIEnv*, jclass, jlong writer) {
  WriterComponents* object = as<WriterComponents>(writer);
  return object ? releaseWriterComponents(object) : 0;
}

// ---- VssWriterComponentExt ------------------------------------------------------------------------

VSS_TEXT_GETTER(VssWriterComponentExt, GetLogicalPath, Component::GetLogicalPath)
VSS_INT_GETTER(VssWriterComponentExt, GetComponentType, Component::GetComponentType)
VSS_TEXT_GETTER(VssWriterComponentExt, GetComponentName, Component::GetComponentName)
VSS_BOOLEAN_GETTER(VssWriterComponentExt, GetBackupSucceeded, Component::GetBackupSucceeded)
VSS_INT_GETTER(VssWriterComponentExt, GetAlternateLocationMappingCount, Component::GetAlternateLocationMappingCount)
VSS_INT_GETTER(VssWriterComponentExt, GetPartialFileCount, Component::GetPartialFileCount)
VSS_BOOLEAN_GETTER(VssWriterComponentExt, IsSelectedForRestore, Component::IsSelectedForRestore)
VSS_BOOLEAN_GETTER(VssWriterComponentExt, GetAdditionalRestores, Component::GetAdditionalRestores)
VSS_INT_GETTER(VssWriterComponentExt, GetNewTargetCount, Component::GetNewTargetCount)
VSS_INT_GETTER(VssWriterComponentExt, GetDirectedTargetCount, Component::GetDirectedTargetCount)
VSS_INT_GETTER(VssWriterComponentExt, GetRestoreTarget, Component::GetRestoreTarget)
VSS_TEXT_GETTER(VssWriterComponentExt, GetPreRestoreFailureMsg, Component::GetPreRestoreFailureMsg)
VSS_TEXT_GETTER(VssWriterComponentExt, GetPostRestoreFailureMsg, Component::GetPostRestoreFailureMsg)
VSS_TEXT_GETTER(VssWriterComponentExt, GetBackupStamp, Component::GetBackupStamp)
VSS_TEXT_GETTER(VssWriterComponentExt, GetPreviousBackupStamp, Component::GetPreviousBackupStamp)
VSS_TEXT_GETTER(VssWriterComponentExt, GetBackupOptions, Component::GetBackupOptions)
VSS_TEXT_GETTER(VssWriterComponentExt, GetRestoreOptions, Component::GetRestoreOptions)
VSS_INT_GETTER(VssWriterComponentExt, GetRestoreSubcomponentCount, Component::GetRestoreSubcomponentCount)
VSS_INT_GETTER(VssWriterComponentExt, GetFileRestoreStatus, Component::GetFileRestoreStatus)
VSS_INT_GETTER(VssWriterComponentExt, GetDifferencedFilesCount, Component::GetDifferencedFilesCount)

// ---- VssSnapshotProperties -------------------------------------------------------------------------

JNIEXPORT void JNICALL VSS_NATIVE(VssSnapshotProperties, GetSnapshotId)(JNIEnv* env, jclass, jlong properties,
                                                                        jbyteArray id) {
  if (block(properties)) copyGuid(env, block(properties)->m_SnapshotId, id);
}

JNIEXPORT void JNICALL VSS_NATIVE(VssSnapshotProperties, GetSnapshotSetId)(JNIEnv* env, jclass, jlong properties,
                                                                           jbyteArray id) {
  if (block(properties)) copyGuid(env, block(properties)->m_SnapshotSetId, id);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssSnapshotProperties, GetSnapshotsCount)(JNIEnv*, jclass, jlong properties) {
  return block(properties) ? static_cast<jint>(block(properties)->m_lSnapshotsCount) : 0;
}

#define VSS_PROPERTY_TEXT(Name, Field)                                                                           \
  JNIEXPORT jint JNICALL VSS_NATIVE(VssSnapshotProperties, Get##Name##Length)(JNIEnv*, jclass, jlong properties) { \
    return block(properties) ? textLength(block(properties)->Field) : 0;                                         \
  }                                                                                                              \
  JNIEXPORT void JNICALL VSS_NATIVE(VssSnapshotProperties, Get##Name)(JNIEnv * env, jclass, jlong properties,    \
                                                                      jcharArray text) {                         \
    if (block(properties)) copyText(env, block(properties)->Field, text);                                        \
  }

VSS_PROPERTY_TEXT(SnapshotDeviceObject, m_pwszSnapshotDeviceObject)
VSS_PROPERTY_TEXT(OriginalVolumeName, m_pwszOriginalVolumeName)
VSS_PROPERTY_TEXT(OriginatingMachine, m_pwszOriginatingMachine)
VSS_PROPERTY_TEXT(ServiceMachine, m_pwszServiceMachine)
VSS_PROPERTY_TEXT(ExposedName, m_pwszExposedName)
VSS_PROPERTY_TEXT(ExposedPath, m_pwszExposedPath)

JNIEXPORT void JNICALL VSS_NATIVE(VssSnapshotProperties, GetProviderId)(JNIEnv* env, jclass, jlong properties,
                                                                        jbyteArray id) {
  if (block(properties)) copyGuid(env, block(properties)->m_ProviderId, id);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssSnapshotProperties, GetSnapshotAttributes)(JNIEnv*, jclass, jlong properties) {
  return block(properties) ? static_cast<jint>(block(properties)->m_lSnapshotAttributes) : 0;
}

JNIEXPORT jlong JNICALL VSS_NATIVE(VssSnapshotProperties, GetCreationTimestamp)(JNIEnv*, jclass, jlong properties) {
  return block(properties) ? static_cast<jlong>(block(properties)->m_tsCreationTimestamp) : 0;
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssSnapshotProperties, GetStatus)(JNIEnv*, jclass, jlong properties) {
  return block(properties) ? static_cast<jint>(block(properties)->m_eStatus) : 0;
}

JNIEXPORT void JNICALL VSS_NATIVE(VssSnapshotProperties, VssFreeSnapshotProperties)(JNIEnv*, jclass,
                                                                                    jlong properties) {
  auto* allocated = fromJava<VSS_SNAPSHOT_PROP*>(properties);
  if (!allocated) return;
  VssFreeSnapshotPropertiesInternal(allocated);
  delete allocated;
}

}  // extern "C"
