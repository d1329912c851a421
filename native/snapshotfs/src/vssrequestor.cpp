// com.ombrel.vss.win32.VssApi, VssAsync and VssBackupComponents: the requestor
// side of the Volume Shadow Copy Service, one native per interface method.
#include <new>
#include <vector>

#include "com_ombrel_vss_win32_VssApi.h"
#include "com_ombrel_vss_win32_VssAsync.h"
#include "com_ombrel_vss_win32_VssBackupComponents.h"
#include "vssbridge.h"

using namespace omnative;

namespace {

using Backup = IVssBackupComponents;

// EnableWriterClasses and its kin: the first count GUIDs of the array as a native list.
jint writerList(JNIEnv* env, jlong components, jbyteArray ids, jint count,
                HRESULT (STDMETHODCALLTYPE Backup::*method)(const VSS_ID*, UINT)) {
  Backup* backup = as<Backup>(components);
  if (!backup) return kComPointer;
  if (count < 0 || (count > 0 && (!ids || env->GetArrayLength(ids) / kGuidSize < count))) return kInvalidParameter;
  std::vector<VSS_ID> list;
  try {
    list.resize(static_cast<size_t>(count));
  } catch (...) {
    return kComOutOfMemory;
  }
  if (count) env->GetByteArrayRegion(ids, 0, count * kGuidSize, reinterpret_cast<jbyte*>(list.data()));
  return (backup->*method)(count ? list.data() : nullptr, static_cast<UINT>(count));
}

}  // namespace

extern "C" {

// ---- VssApi ----------------------------------------------------------------------------------

JNIEXPORT jint JNICALL VSS_NATIVE(VssApi, CreateVssBackupComponents0)(JNIEnv* env, jclass, jlongArray components) {
  if (!isOutArray(env, components)) return kInvalidParameter;
  Backup* created = nullptr;
  HRESULT result = CreateVssBackupComponentsInternal(&created);
  setOut(env, components, toJava(created));
  return result;
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssApi, CreateVssExamineWriterMetadata)(JNIEnv* env, jclass, jlong document,
                                                                          jlongArray metadata) {
  if (!isOutArray(env, metadata)) return kInvalidParameter;
  IVssExamineWriterMetadata* created = nullptr;
  HRESULT result = CreateVssExamineWriterMetadataInternal(static_cast<BSTR>(fromJava<void*>(document)), &created);
  setOut(env, metadata, toJava(created));
  return result;
}

// ---- VssAsync ----------------------------------------------------------------------------------

JNIEXPORT jint JNICALL VSS_NATIVE(VssAsync, Wait)(JNIEnv*, jclass, jlong async, jint milliseconds) {
  return interfaceCall(async, &IVssAsync::Wait, milliseconds);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssAsync, Cancel)(JNIEnv*, jclass, jlong async) {
  return interfaceCall(async, &IVssAsync::Cancel);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssAsync, QueryStatus)(JNIEnv* env, jclass, jlong async, jintArray status) {
  if (!isOutArray(env, status)) return kInvalidParameter;
  IVssAsync* operation = as<IVssAsync>(async);
  if (!operation) return kComPointer;
  HRESULT state = 0;
  HRESULT result = operation->QueryStatus(&state, nullptr);
  setOut(env, status, state);
  return result;
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssAsync, Release)(JNIEnv*, jclass, jlong pointer) { return releaseHandedOut(pointer); }

// ---- VssBackupComponents --------------------------------------------------------------------------

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, AbortBackup)(JNIEnv*, jclass, jlong components) {
  return interfaceCall(components, &Backup::AbortBackup);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, AddComponent)(JNIEnv* env, jclass, jlong components,
                                                                     jbyteArray writerId, jbyteArray instanceId,
                                                                     jint type, jstring logicalPath,
                                                                     jstring componentName) {
  return componentCall(env, components, writerId, logicalPath, componentName,
                       [&](Backup& backup, const GUID& writer, LPCWSTR path, LPCWSTR name) -> HRESULT {
                         if (!isGuidIn(env, instanceId)) return kInvalidParameter;
                         // The interface takes the instance id first.
                         return backup.AddComponent(takeGuid(env, instanceId), writer,
                                                    static_cast<VSS_COMPONENT_TYPE>(type), path, name);
                       });
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, AddRestoreSubcomponent)(
    JNIEnv* env, jclass, jlong components, jbyteArray writerId, jint type, jstring logicalPath, jstring componentName,
    jstring subcomponentLogicalPath, jstring subcomponentName, jboolean repair) {
  return componentCall(env, components, writerId, logicalPath, componentName,
                       [&](Backup& backup, const GUID& writer, LPCWSTR path, LPCWSTR name) -> HRESULT {
                         JavaName subPath(env, subcomponentLogicalPath);
                         if (!subPath.ok()) return comStatus(subPath);
                         JavaName subName(env, subcomponentName);
                         if (!subName.ok()) return comStatus(subName);
                         return backup.AddRestoreSubcomponent(writer, static_cast<VSS_COMPONENT_TYPE>(type), path,
                                                              name, subPath.get(), subName.get(), repair ? 1 : 0);
                       });
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, AddToSnapshotSet)(JNIEnv* env, jclass, jlong components,
                                                                         jstring volumeName, jbyteArray snapshotId) {
  Backup* backup = as<Backup>(components);
  if (!backup) return kComPointer;
  if (!isGuidOut(env, snapshotId)) return kInvalidParameter;
  JavaName volume(env, volumeName);
  if (!volume.ok()) return comStatus(volume);
  VSS_ID snapshot{};
  GUID provider{};  // the system chooses the provider
  HRESULT result = backup->AddToSnapshotSet(const_cast<VSS_PWSZ>(volume.get()), provider, &snapshot);
  putGuid(env, snapshotId, snapshot);
  return result;
}

VSS_OBJECT_GETTER(VssBackupComponents, BackupComplete, Backup::BackupComplete)

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, EnableWriterClasses)(JNIEnv* env, jclass, jlong components,
                                                                            jbyteArray classIds, jint count) {
  return writerList(env, components, classIds, count, &Backup::EnableWriterClasses);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, DisableWriterClasses)(JNIEnv* env, jclass, jlong components,
                                                                             jbyteArray classIds, jint count) {
  return writerList(env, components, classIds, count, &Backup::DisableWriterClasses);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, DisableWriterInstances)(JNIEnv* env, jclass, jlong components,
                                                                               jbyteArray instanceIds, jint count) {
  return writerList(env, components, instanceIds, count, &Backup::DisableWriterInstances);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, DeleteSnapshots)(JNIEnv* env, jclass, jlong components,
                                                                        jbyteArray sourceObjectId, jint sourceType,
                                                                        jboolean forceDelete, jintArray deletedCount,
                                                                        jbyteArray nondeletedId) {
  Backup* backup = as<Backup>(components);
  if (!backup) return kComPointer;
  if (!isGuidIn(env, sourceObjectId) || !isOutArray(env, deletedCount) || !isGuidOut(env, nondeletedId))
    return kInvalidParameter;
  LONG deleted = 0;
  VSS_ID nondeleted{};
  HRESULT result = backup->DeleteSnapshots(takeGuid(env, sourceObjectId), static_cast<VSS_OBJECT_TYPE>(sourceType),
                                           forceDelete ? TRUE : FALSE, &deleted, &nondeleted);
  setOut(env, deletedCount, deleted);
  putGuid(env, nondeletedId, nondeleted);
  return result;
}

VSS_OBJECT_GETTER(VssBackupComponents, DoSnapshotSet, Backup::DoSnapshotSet)

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, FreeWriterMetadata)(JNIEnv*, jclass, jlong components) {
  return interfaceCall(components, &Backup::FreeWriterMetadata);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, FreeWriterStatus)(JNIEnv*, jclass, jlong components) {
  return interfaceCall(components, &Backup::FreeWriterStatus);
}

VSS_OBJECT_GETTER(VssBackupComponents, GatherWriterMetadata, Backup::GatherWriterMetadata)
VSS_OBJECT_GETTER(VssBackupComponents, GatherWriterStatus, Backup::GatherWriterStatus)

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, GetSnapshotProperties)(JNIEnv* env, jclass, jlong components,
                                                                              jbyteArray snapshotId,
                                                                              jlongArray properties) {
  Backup* backup = as<Backup>(components);
  if (!backup) return kComPointer;
  if (!isGuidIn(env, snapshotId) || !isOutArray(env, properties)) return kInvalidParameter;
  static_assert(sizeof(VSS_SNAPSHOT_PROP) == 128, "VSS_SNAPSHOT_PROP has its 64-bit layout");
  auto* block = new (std::nothrow) VSS_SNAPSHOT_PROP();
  if (!block) return kComOutOfMemory;
  HRESULT result = backup->GetSnapshotProperties(takeGuid(env, snapshotId), block);
  if (FAILED(result)) {
    delete block;
    block = nullptr;
  }
  setOut(env, properties, toJava(block));
  return result;
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, GetWriterComponents)(JNIEnv* env, jclass, jlong components,
                                                                            jint index, jlongArray writerComponents) {
  jint result = indexGetter(env, components, index, writerComponents, &Backup::GetWriterComponents);
  if (auto* obtained = as<IVssWriterComponentsExt>(takeLong(env, writerComponents)); obtained && SUCCEEDED(result))
    rememberWriterComponents(obtained);
  return result;
}

VSS_INT_GETTER(VssBackupComponents, GetWriterComponentsCount, Backup::GetWriterComponentsCount)

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, GetWriterMetadata)(JNIEnv* env, jclass, jlong components,
                                                                          jint index, jbyteArray instanceId,
                                                                          jlongArray metadata) {
  Backup* backup = as<Backup>(components);
  if (!backup) return kComPointer;
  if (!isGuidOut(env, instanceId) || !isOutArray(env, metadata)) return kInvalidParameter;
  VSS_ID instance{};
  IVssExamineWriterMetadata* obtained = nullptr;
  HRESULT result = backup->GetWriterMetadata(static_cast<UINT>(index), &instance, &obtained);
  putGuid(env, instanceId, instance);
  setOut(env, metadata, toJava(obtained));
  return result;
}

VSS_INT_GETTER(VssBackupComponents, GetWriterMetadataCount, Backup::GetWriterMetadataCount)

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, GetWriterStatus)(JNIEnv* env, jclass, jlong components,
                                                                        jint index, jbyteArray writerId,
                                                                        jbyteArray instanceId, jlongArray writerName,
                                                                        jintArray state, jintArray failure) {
  Backup* backup = as<Backup>(components);
  if (!backup) return kComPointer;
  if (!isGuidOut(env, writerId) || !isGuidOut(env, instanceId) || !allOut(env, writerName, state, failure))
    return kInvalidParameter;
  VSS_ID instance{}, writer{};
  BSTR name = nullptr;
  VSS_WRITER_STATE writerState{};
  HRESULT writerFailure = 0;
  HRESULT result = backup->GetWriterStatus(static_cast<UINT>(index), &instance, &writer, &name, &writerState,
                                           &writerFailure);
  putGuid(env, writerId, writer);
  putGuid(env, instanceId, instance);
  setOut(env, writerName, toJava(name));
  setOut(env, state, static_cast<jint>(writerState));
  setOut(env, failure, writerFailure);
  return result;
}

VSS_INT_GETTER(VssBackupComponents, GetWriterStatusCount, Backup::GetWriterStatusCount)

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, InitializeForBackup)(JNIEnv*, jclass, jlong components) {
  return interfaceCall(components, &Backup::InitializeForBackup, nullptr);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, InitializeForRestore)(JNIEnv*, jclass, jlong components,
                                                                             jlong document) {
  return interfaceCall(components, &Backup::InitializeForRestore, static_cast<BSTR>(fromJava<void*>(document)));
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, IsVolumeSupported)(JNIEnv* env, jclass, jlong components,
                                                                          jbyteArray providerId, jstring volumeName,
                                                                          jbooleanArray supported) {
  Backup* backup = as<Backup>(components);
  if (!backup) return kComPointer;
  if (!isGuidIn(env, providerId) || !isOutArray(env, supported)) return kInvalidParameter;
  JavaName volume(env, volumeName);
  if (!volume.ok()) return comStatus(volume);
  WINBOOL answer = FALSE;
  HRESULT result = backup->IsVolumeSupported(takeGuid(env, providerId), const_cast<VSS_PWSZ>(volume.get()), &answer);
  putBoolean(env, supported, answer);
  return result;
}

VSS_OBJECT_GETTER(VssBackupComponents, PrepareForBackup, Backup::PrepareForBackup)
VSS_OBJECT_GETTER(VssBackupComponents, PreRestore, Backup::PreRestore)
VSS_OBJECT_GETTER(VssBackupComponents, PostRestore, Backup::PostRestore)
VSS_TEXT_GETTER(VssBackupComponents, SaveAsXML, Backup::SaveAsXML)

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, SetBackupState)(JNIEnv*, jclass, jlong components,
                                                                       jboolean selectComponents,
                                                                       jboolean backupBootableSystemState,
                                                                       jint backupType, jboolean partialFileSupport) {
  Backup* backup = as<Backup>(components);
  if (!backup) return kComPointer;
  return backup->SetBackupState(selectComponents ? 1 : 0, backupBootableSystemState ? 1 : 0,
                                static_cast<VSS_BACKUP_TYPE>(backupType), partialFileSupport ? 1 : 0);
}

namespace {
using OptionsSetter = HRESULT (STDMETHODCALLTYPE Backup::*)(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR);
jint setOptions(JNIEnv* env, jlong components, jbyteArray writerId, jint type, jstring logicalPath,
                jstring componentName, jstring options, OptionsSetter method) {
  return componentCall(env, components, writerId, logicalPath, componentName,
                       [&](Backup& backup, const GUID& writer, LPCWSTR path, LPCWSTR name) -> HRESULT {
                         JavaText text(env, options);
                         if (!text.ok()) return comStatus(text);
                         return (backup.*method)(writer, static_cast<VSS_COMPONENT_TYPE>(type), path, name,
                                                 text.get());
                       });
}
}  // namespace

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, SetBackupOptions)(JNIEnv* env, jclass, jlong components,
                                                                         jbyteArray writerId, jint type,
                                                                         jstring logicalPath, jstring componentName,
                                                                         jstring options) {
  return setOptions(env, components, writerId, type, logicalPath, componentName, options, &Backup::SetBackupOptions);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, SetRestoreOptions)(JNIEnv* env, jclass, jlong components,
                                                                          jbyteArray writerId, jint type,
                                                                          jstring logicalPath, jstring componentName,
                                                                          jstring options) {
  return setOptions(env, components, writerId, type, logicalPath, componentName, options, &Backup::SetRestoreOptions);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, SetRestoreState)(JNIEnv*, jclass, jlong components,
                                                                        jint restoreType) {
  return interfaceCall(components, &Backup::SetRestoreState, restoreType);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, SetFileRestoreStatus)(JNIEnv* env, jclass, jlong components,
                                                                             jbyteArray writerId, jint type,
                                                                             jstring logicalPath,
                                                                             jstring componentName, jint status) {
  return componentCall(env, components, writerId, logicalPath, componentName,
                       [&](Backup& backup, const GUID& writer, LPCWSTR path, LPCWSTR name) {
                         return backup.SetFileRestoreStatus(writer, static_cast<VSS_COMPONENT_TYPE>(type), path, name,
                                                            static_cast<VSS_FILE_RESTORE_STATUS>(status));
                       });
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, SetBackupSucceeded)(JNIEnv* env, jclass, jlong components,
                                                                           jbyteArray writerId, jbyteArray instanceId,
                                                                           jint type, jstring logicalPath,
                                                                           jstring componentName,
                                                                           jboolean succeeded) {
  return componentCall(env, components, writerId, logicalPath, componentName,
                       [&](Backup& backup, const GUID& writer, LPCWSTR path, LPCWSTR name) -> HRESULT {
                         if (!isGuidIn(env, instanceId)) return kInvalidParameter;
                         // The interface takes the instance id first.
                         return backup.SetBackupSucceeded(takeGuid(env, instanceId), writer,
                                                          static_cast<VSS_COMPONENT_TYPE>(type), path, name,
                                                          succeeded ? 1 : 0);
                       });
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, SetContext)(JNIEnv*, jclass, jlong components, jint context) {
  return interfaceCall(components, &Backup::SetContext, context);
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, SetSelectedForRestore)(JNIEnv* env, jclass, jlong components,
                                                                              jbyteArray writerId, jint type,
                                                                              jstring logicalPath,
                                                                              jstring componentName,
                                                                              jboolean selected) {
  return componentCall(env, components, writerId, logicalPath, componentName,
                       [&](Backup& backup, const GUID& writer, LPCWSTR path, LPCWSTR name) {
                         return backup.SetSelectedForRestore(writer, static_cast<VSS_COMPONENT_TYPE>(type), path, name,
                                                             selected ? 1 : 0);
                       });
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, StartSnapshotSet)(JNIEnv* env, jclass, jlong components,
                                                                         jbyteArray snapshotSetId) {
  Backup* backup = as<Backup>(components);
  if (!backup) return kComPointer;
  if (!isGuidOut(env, snapshotSetId)) return kInvalidParameter;
  VSS_ID set{};
  HRESULT result = backup->StartSnapshotSet(&set);
  putGuid(env, snapshotSetId, set);
  return result;
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssBackupComponents, Release)(JNIEnv*, jclass, jlong pointer) {
  return releaseHandedOut(pointer);
}

}  // extern "C"
