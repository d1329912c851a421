// com.ombrel.vss.win32.VssExamineWriterMetadata and its component, file
// descriptor and dependency classes: a writer's description of itself.
#include <cstddef>

#include "com_ombrel_vss_win32_VssExamineWriterMetadata.h"
#include "com_ombrel_vss_win32_VssExamineWriterMetadataComponent.h"
#include "com_ombrel_vss_win32_VssExamineWriterMetadataDependency.h"
#include "com_ombrel_vss_win32_VssExamineWriterMetadataFileDescriptor.h"
#include "vssbridge.h"

using namespace omnative;

namespace {
using Metadata = IVssExamineWriterMetadata;
using Component = IVssWMComponent;
using Filedesc = IVssWMFiledesc;
using Dependency = IVssWMDependency;

// The component-information record as LoadComponentInfo reads it (64-bit layout).
static_assert(offsetof(VSS_COMPONENTINFO, type) == 0, "VSS_COMPONENTINFO layout");
static_assert(offsetof(VSS_COMPONENTINFO, bstrLogicalPath) == 8, "VSS_COMPONENTINFO layout");
static_assert(offsetof(VSS_COMPONENTINFO, bstrComponentName) == 16, "VSS_COMPONENTINFO layout");
static_assert(offsetof(VSS_COMPONENTINFO, bstrCaption) == 24, "VSS_COMPONENTINFO layout");
static_assert(offsetof(VSS_COMPONENTINFO, pbIcon) == 32, "VSS_COMPONENTINFO layout");
static_assert(offsetof(VSS_COMPONENTINFO, cbIcon) == 40, "VSS_COMPONENTINFO layout");
static_assert(offsetof(VSS_COMPONENTINFO, bRestoreMetadata) == 44, "VSS_COMPONENTINFO layout");
static_assert(offsetof(VSS_COMPONENTINFO, bSelectableForRestore) == 47, "VSS_COMPONENTINFO layout");
static_assert(offsetof(VSS_COMPONENTINFO, dwComponentFlags) == 48, "VSS_COMPONENTINFO layout");
static_assert(offsetof(VSS_COMPONENTINFO, cDependencies) == 64, "VSS_COMPONENTINFO layout");
}  // namespace

extern "C" {

// ---- VssExamineWriterMetadata ----------------------------------------------------------------

JNIEXPORT jint JNICALL VSS_NATIVE(VssExamineWriterMetadata, GetIdentity)(JNIEnv* env, jclass, jlong metadata,
                                                                         jbyteArray instanceId, jbyteArray writerId,
                                                                         jlongArray writerName, jintArray usage,
                                                                         jintArray source) {
  Metadata* object = as<Metadata>(metadata);
  if (!object) return kComPointer;
  if (!isGuidOut(env, instanceId) || !isGuidOut(env, writerId) || !allOut(env, writerName, usage, source))
    return kInvalidParameter;
  VSS_ID instance{}, writer{};
  BSTR name = nullptr;
  VSS_USAGE_TYPE usageType{};
  VSS_SOURCE_TYPE sourceType{};
  HRESULT result = object->GetIdentity(&instance, &writer, &name, &usageType, &sourceType);
  putGuid(env, instanceId, instance);
  putGuid(env, writerId, writer);
  setOut(env, writerName, toJava(name));
  setOut(env, usage, static_cast<jint>(usageType));
  setOut(env, source, static_cast<jint>(sourceType));
  return result;
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssExamineWriterMetadata, GetFileCounts)(JNIEnv* env, jclass, jlong metadata,
                                                                           jintArray includeFiles,
                                                                           jintArray excludeFiles,
                                                                           jintArray components) {
  Metadata* object = as<Metadata>(metadata);
  if (!object) return kComPointer;
  if (!allOut(env, includeFiles, excludeFiles, components)) return kInvalidParameter;
  UINT includes = 0, excludes = 0, count = 0;
  HRESULT result = object->GetFileCounts(&includes, &excludes, &count);
  setOut(env, includeFiles, static_cast<jint>(includes));
  setOut(env, excludeFiles, static_cast<jint>(excludes));
  setOut(env, components, static_cast<jint>(count));
  return result;
}

VSS_INDEX_GETTER(VssExamineWriterMetadata, GetComponent, Metadata::GetComponent)
VSS_INDEX_GETTER(VssExamineWriterMetadata, GetExcludeFile, Metadata::GetExcludeFile)

JNIEXPORT jint JNICALL VSS_NATIVE(VssExamineWriterMetadata, GetRestoreMethod)(
    JNIEnv* env, jclass, jlong metadata, jintArray method, jlongArray service, jlongArray userProcedure,
    jintArray writerRestore, jbooleanArray rebootRequired, jintArray mappingCount) {
  Metadata* object = as<Metadata>(metadata);
  if (!object) return kComPointer;
  if (!allOut(env, method, service, userProcedure, writerRestore, rebootRequired, mappingCount))
    return kInvalidParameter;
  VSS_RESTOREMETHOD_ENUM restoreMethod{};
  BSTR serviceName = nullptr, procedure = nullptr;
  VSS_WRITERRESTORE_ENUM restore{};
  boolean reboot = 0;
  UINT mappings = 0;
  HRESULT result = object->GetRestoreMethod(&restoreMethod, &serviceName, &procedure, &restore, &reboot, &mappings);
  setOut(env, method, static_cast<jint>(restoreMethod));
  setOut(env, service, toJava(serviceName));
  setOut(env, userProcedure, toJava(procedure));
  setOut(env, writerRestore, static_cast<jint>(restore));
  putBoolean(env, rebootRequired, reboot);
  setOut(env, mappingCount, static_cast<jint>(mappings));
  return result;
}

VSS_INDEX_GETTER(VssExamineWriterMetadata, GetAlternateLocationMapping, Metadata::GetAlternateLocationMapping)
VSS_INT_GETTER(VssExamineWriterMetadata, GetBackupSchema, Metadata::GetBackupSchema)
VSS_TEXT_GETTER(VssExamineWriterMetadata, SaveAsXML, Metadata::SaveAsXML)

JNIEXPORT jint JNICALL VSS_NATIVE(VssExamineWriterMetadata, LoadFromXML)(JNIEnv*, jclass, jlong metadata,
                                                                         jlong document) {
  return interfaceCall(metadata, &Metadata::LoadFromXML, static_cast<BSTR>(fromJava<void*>(document)));
}

// ---- VssExamineWriterMetadataComponent ----------------------------------------------------------

VSS_OBJECT_GETTER(VssExamineWriterMetadataComponent, GetComponentInfo, Component::GetComponentInfo)

JNIEXPORT jint JNICALL VSS_NATIVE(VssExamineWriterMetadataComponent, FreeComponentInfo)(JNIEnv*, jclass,
                                                                                        jlong component, jlong info) {
  return interfaceCall(component, &Component::FreeComponentInfo, fromJava<PVSSCOMPONENTINFO>(info));
}

JNIEXPORT jint JNICALL VSS_NATIVE(VssExamineWriterMetadataComponent, LoadComponentInfo)(
    JNIEnv* env, jclass, jlong info, jintArray type, jlongArray logicalPath, jlongArray componentName,
    jlongArray caption, jlongArray icon, jintArray iconSize, jbooleanArray restoreMetadata,
    jbooleanArray notifyOnBackupComplete, jbooleanArray selectable, jbooleanArray selectableForRestore,
    jintArray componentFlags, jintArray fileCount, jintArray databases, jintArray logFiles, jintArray dependencies) {
  const auto* block = fromJava<const VSS_COMPONENTINFO*>(info);
  if (!block) return kInvalidParameter;
  if (!allOut(env, type, logicalPath, componentName, caption, icon, iconSize, restoreMetadata, notifyOnBackupComplete,
              selectable, selectableForRestore, componentFlags, fileCount, databases, logFiles, dependencies))
    return kInvalidParameter;
  setOut(env, type, static_cast<jint>(block->type));
  setOut(env, logicalPath, toJava(block->bstrLogicalPath));
  setOut(env, componentName, toJava(block->bstrComponentName));
  setOut(env, caption, toJava(block->bstrCaption));
  setOut(env, icon, toJava(block->pbIcon));
  setOut(env, iconSize, static_cast<jint>(block->cbIcon));
  putBoolean(env, restoreMetadata, block->bRestoreMetadata);
  putBoolean(env, notifyOnBackupComplete, block->bNotifyOnBackupComplete);
  putBoolean(env, selectable, block->bSelectable);
  putBoolean(env, selectableForRestore, block->bSelectableForRestore);
  setOut(env, componentFlags, static_cast<jint>(block->dwComponentFlags));
  setOut(env, fileCount, static_cast<jint>(block->cFileCount));
  setOut(env, databases, static_cast<jint>(block->cDatabases));
  setOut(env, logFiles, static_cast<jint>(block->cLogFiles));
  setOut(env, dependencies, static_cast<jint>(block->cDependencies));
  return 0;
}

VSS_INDEX_GETTER(VssExamineWriterMetadataComponent, GetFile, Component::GetFile)
VSS_INDEX_GETTER(VssExamineWriterMetadataComponent, GetDatabaseFile, Component::GetDatabaseFile)
VSS_INDEX_GETTER(VssExamineWriterMetadataComponent, GetDatabaseLogFile, Component::GetDatabaseLogFile)
VSS_INDEX_GETTER(VssExamineWriterMetadataComponent, GetDependency, Component::GetDependency)

// ---- VssExamineWriterMetadataFileDescriptor ---------------------------------------------------------

VSS_TEXT_GETTER(VssExamineWriterMetadataFileDescriptor, GetPath, Filedesc::GetPath)
VSS_TEXT_GETTER(VssExamineWriterMetadataFileDescriptor, GetFileSpec, Filedesc::GetFilespec)
VSS_BOOLEAN_GETTER(VssExamineWriterMetadataFileDescriptor, GetRecursive, Filedesc::GetRecursive)
VSS_TEXT_GETTER(VssExamineWriterMetadataFileDescriptor, GetAlternateLocation, Filedesc::GetAlternateLocation)
VSS_INT_GETTER(VssExamineWriterMetadataFileDescriptor, GetBackupTypeMask, Filedesc::GetBackupTypeMask)

// ---- VssExamineWriterMetadataDependency ---------------------------------------------------------------

JNIEXPORT jint JNICALL VSS_NATIVE(VssExamineWriterMetadataDependency, GetWriterId)(JNIEnv* env, jclass,
                                                                                   jlong dependency,
                                                                                   jbyteArray writerId) {
  if (!isGuidOut(env, writerId)) return kInvalidParameter;
  Dependency* object = as<Dependency>(dependency);
  if (!object) return kComPointer;
  VSS_ID writer{};
  HRESULT result = object->GetWriterId(&writer);
  putGuid(env, writerId, writer);
  return result;
}

VSS_TEXT_GETTER(VssExamineWriterMetadataDependency, GetLogicalPath, Dependency::GetLogicalPath)
VSS_TEXT_GETTER(VssExamineWriterMetadataDependency, GetComponentName, Dependency::GetComponentName)

}  // extern "C"
