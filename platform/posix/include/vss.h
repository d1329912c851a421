// Volume Shadow Copy requestor interfaces (vssapi) for the POSIX stand-in.
// Each interface lists its methods in the system's order, so the virtual tables
// of an implementation match the system's slot for slot; records have the Win64
// layout. The implementation is the stand-in library in platform/vssapi.
#pragma once
#include "oleauto.h"
#include "win32_types.h"

typedef WCHAR* VSS_PWSZ;
typedef LONGLONG VSS_TIMESTAMP;
typedef GUID VSS_ID;
typedef struct IXMLDOMDocument IXMLDOMDocument;
typedef struct IVssEnumObject IVssEnumObject;

#define VSS_E_BAD_STATE ((HRESULT)0x80042301)
#define VSS_E_UNEXPECTED ((HRESULT)0x80042302)
#define VSS_E_PROVIDER_NOT_REGISTERED ((HRESULT)0x80042304)
#define VSS_E_OBJECT_NOT_FOUND ((HRESULT)0x80042308)
#define VSS_S_ASYNC_PENDING ((HRESULT)0x00042309)
#define VSS_S_ASYNC_FINISHED ((HRESULT)0x0004230A)
#define VSS_S_ASYNC_CANCELLED ((HRESULT)0x0004230B)
#define VSS_E_VOLUME_NOT_SUPPORTED ((HRESULT)0x8004230C)
#define VSS_E_OBJECT_ALREADY_EXISTS ((HRESULT)0x8004230D)
#define VSS_E_CORRUPT_XML_DOCUMENT ((HRESULT)0x80042310)
#define VSS_E_INVALID_XML_DOCUMENT ((HRESULT)0x80042311)
#define VSS_E_SNAPSHOT_SET_IN_PROGRESS ((HRESULT)0x80042316)

// Enumerations, with the values of the system's headers.
typedef enum _VSS_OBJECT_TYPE {
  VSS_OBJECT_UNKNOWN = 0, VSS_OBJECT_NONE = 1, VSS_OBJECT_SNAPSHOT_SET = 2, VSS_OBJECT_SNAPSHOT = 3,
  VSS_OBJECT_PROVIDER = 4, VSS_OBJECT_TYPE_COUNT = 5
} VSS_OBJECT_TYPE;
typedef enum _VSS_SNAPSHOT_STATE {
  VSS_SS_UNKNOWN = 0, VSS_SS_PREPARING = 1, VSS_SS_COMMITTED = 7, VSS_SS_CREATED = 12,
  VSS_SS_ABORTED = 13, VSS_SS_DELETED = 14, VSS_SS_POSTCOMMITTED = 15, VSS_SS_COUNT = 16
} VSS_SNAPSHOT_STATE;
typedef enum _VSS_WRITER_STATE {
  VSS_WS_UNKNOWN = 0, VSS_WS_STABLE = 1, VSS_WS_WAITING_FOR_FREEZE = 2, VSS_WS_WAITING_FOR_THAW = 3,
  VSS_WS_WAITING_FOR_POST_SNAPSHOT = 4, VSS_WS_WAITING_FOR_BACKUP_COMPLETE = 5, VSS_WS_FAILED_AT_IDENTIFY = 6,
  VSS_WS_FAILED_AT_PREPARE_BACKUP = 7, VSS_WS_FAILED_AT_PREPARE_SNAPSHOT = 8, VSS_WS_FAILED_AT_FREEZE = 9,
  VSS_WS_FAILED_AT_THAW = 10, VSS_WS_FAILED_AT_POST_SNAPSHOT = 11, VSS_WS_FAILED_AT_BACKUP_COMPLETE = 12,
  VSS_WS_FAILED_AT_PRE_RESTORE = 13, VSS_WS_FAILED_AT_POST_RESTORE = 14, VSS_WS_FAILED_AT_BACKUPSHUTDOWN = 15,
  VSS_WS_COUNT = 16
} VSS_WRITER_STATE;
typedef enum _VSS_BACKUP_TYPE {
  VSS_BT_UNDEFINED = 0, VSS_BT_FULL = 1, VSS_BT_INCREMENTAL = 2, VSS_BT_DIFFERENTIAL = 3, VSS_BT_LOG = 4,
  VSS_BT_COPY = 5, VSS_BT_OTHER = 6
} VSS_BACKUP_TYPE;
typedef enum _VSS_RESTORE_TYPE {
  VSS_RTYPE_UNDEFINED = 0, VSS_RTYPE_BY_COPY = 1, VSS_RTYPE_IMPORT = 2, VSS_RTYPE_OTHER = 3
} VSS_RESTORE_TYPE;
typedef enum VSS_USAGE_TYPE {
  VSS_UT_UNDEFINED = 0, VSS_UT_BOOTABLESYSTEMSTATE = 1, VSS_UT_SYSTEMSERVICE = 2, VSS_UT_USERDATA = 3,
  VSS_UT_OTHER = 4
} VSS_USAGE_TYPE;
typedef enum VSS_SOURCE_TYPE {
  VSS_ST_UNDEFINED = 0, VSS_ST_TRANSACTEDDB = 1, VSS_ST_NONTRANSACTEDDB = 2, VSS_ST_OTHER = 3
} VSS_SOURCE_TYPE;
typedef enum VSS_RESTOREMETHOD_ENUM {
  VSS_RME_UNDEFINED = 0, VSS_RME_RESTORE_IF_NOT_THERE = 1, VSS_RME_RESTORE_IF_CAN_REPLACE = 2,
  VSS_RME_STOP_RESTORE_START = 3, VSS_RME_RESTORE_TO_ALTERNATE_LOCATION = 4, VSS_RME_RESTORE_AT_REBOOT = 5,
  VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE = 6, VSS_RME_CUSTOM = 7, VSS_RME_RESTORE_STOP_START = 8
} VSS_RESTOREMETHOD_ENUM;
typedef enum VSS_WRITERRESTORE_ENUM {
  VSS_WRE_UNDEFINED = 0, VSS_WRE_NEVER = 1, VSS_WRE_IF_REPLACE_FAILS = 2, VSS_WRE_ALWAYS = 3
} VSS_WRITERRESTORE_ENUM;
typedef enum VSS_COMPONENT_TYPE { VSS_CT_UNDEFINED = 0, VSS_CT_DATABASE = 1, VSS_CT_FILEGROUP = 2 } VSS_COMPONENT_TYPE;
typedef enum VSS_RESTORE_TARGET {
  VSS_RT_UNDEFINED = 0, VSS_RT_ORIGINAL = 1, VSS_RT_ALTERNATE = 2, VSS_RT_DIRECTED = 3, VSS_RT_ORIGINAL_LOCATION = 4
} VSS_RESTORE_TARGET;
typedef enum VSS_FILE_RESTORE_STATUS {
  VSS_RS_UNDEFINED = 0, VSS_RS_NONE = 1, VSS_RS_ALL = 2, VSS_RS_FAILED = 3
} VSS_FILE_RESTORE_STATUS;

typedef struct _VSS_SNAPSHOT_PROP {
  VSS_ID m_SnapshotId;
  VSS_ID m_SnapshotSetId;
  LONG m_lSnapshotsCount;
  VSS_PWSZ m_pwszSnapshotDeviceObject;
  VSS_PWSZ m_pwszOriginalVolumeName;
  VSS_PWSZ m_pwszOriginatingMachine;
  VSS_PWSZ m_pwszServiceMachine;
  VSS_PWSZ m_pwszExposedName;
  VSS_PWSZ m_pwszExposedPath;
  VSS_ID m_ProviderId;
  LONG m_lSnapshotAttributes;
  VSS_TIMESTAMP m_tsCreationTimestamp;
  VSS_SNAPSHOT_STATE m_eStatus;
} VSS_SNAPSHOT_PROP;

typedef struct _VSS_COMPONENTINFO {
  VSS_COMPONENT_TYPE type;
  BSTR bstrLogicalPath;
  BSTR bstrComponentName;
  BSTR bstrCaption;
  BYTE* pbIcon;
  UINT cbIcon;
  boolean bRestoreMetadata;
  boolean bNotifyOnBackupComplete;
  boolean bSelectable;
  boolean bSelectableForRestore;
  DWORD dwComponentFlags;
  UINT cFileCount;
  UINT cDatabases;
  UINT cLogFiles;
  UINT cDependencies;
} VSS_COMPONENTINFO;
typedef const VSS_COMPONENTINFO* PVSSCOMPONENTINFO;

static_assert(sizeof(VSS_SNAPSHOT_PROP) == 128, "VSS_SNAPSHOT_PROP layout");
static_assert(sizeof(VSS_COMPONENTINFO) == 72, "VSS_COMPONENTINFO layout");

struct IVssAsync : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds = 0xffffffff) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* result, INT* reserved) = 0;
};

struct IVssWMFiledesc : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPath(BSTR* path) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFilespec(BSTR* filespec) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRecursive(boolean* recursive) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAlternateLocation(BSTR* alternateLocation) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBackupTypeMask(DWORD* typeMask) = 0;
};

struct IVssWMDependency : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetWriterId(VSS_ID* writerId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR* logicalPath) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetComponentName(BSTR* componentName) = 0;
};

struct IVssComponent : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR* path) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetComponentType(VSS_COMPONENT_TYPE* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetComponentName(BSTR* name) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBackupSucceeded(boolean* succeeded) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAlternateLocationMappingCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT index, IVssWMFiledesc** filedesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBackupMetadata(LPCWSTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBackupMetadata(BSTR* data) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddPartialFile(LPCWSTR path, LPCWSTR filename, LPCWSTR ranges,
                                                   LPCWSTR metadata) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPartialFileCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPartialFile(UINT index, BSTR* path, BSTR* filename, BSTR* range,
                                                   BSTR* metadata) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsSelectedForRestore(boolean* selected) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAdditionalRestores(boolean* additional) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNewTargetCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNewTarget(UINT index, IVssWMFiledesc** filedesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddDirectedTarget(LPCWSTR sourcePath, LPCWSTR sourceFilename,
                                                      LPCWSTR sourceRangeList, LPCWSTR destinationPath,
                                                      LPCWSTR destinationFilename,
                                                      LPCWSTR destinationRangeList) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDirectedTargetCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDirectedTarget(UINT index, BSTR* sourcePath, BSTR* sourceFileName,
                                                      BSTR* sourceRangeList, BSTR* destinationPath,
                                                      BSTR* destinationFilename, BSTR* destinationRangeList) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRestoreMetadata(LPCWSTR metadata) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRestoreMetadata(BSTR* metadata) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRestoreTarget(VSS_RESTORE_TARGET target) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRestoreTarget(VSS_RESTORE_TARGET* target) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPreRestoreFailureMsg(LPCWSTR message) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPreRestoreFailureMsg(BSTR* message) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPostRestoreFailureMsg(LPCWSTR message) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPostRestoreFailureMsg(BSTR* message) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBackupStamp(LPCWSTR stamp) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBackupStamp(BSTR* stamp) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPreviousBackupStamp(BSTR* stamp) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBackupOptions(BSTR* options) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRestoreOptions(BSTR* options) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRestoreSubcomponentCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRestoreSubcomponent(UINT index, BSTR* logicalPath, BSTR* componentName,
                                                           boolean* repair) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFileRestoreStatus(VSS_FILE_RESTORE_STATUS* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyTime(LPCWSTR path, LPCWSTR filespec,
                                                                        WINBOOL recursive,
                                                                        FILETIME lastModifyTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyLSN(LPCWSTR path, LPCWSTR filespec,
                                                                       WINBOOL recursive, BSTR lsnString) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDifferencedFilesCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDifferencedFile(UINT index, BSTR* path, BSTR* filespec, WINBOOL* recursive,
                                                       BSTR* lsnString, FILETIME* lastModifyTime) = 0;
};

// Writer components have no reference counting of their own: an object that
// hands them out also carries an IUnknown, one pointer further on.
struct IVssWriterComponents {
  virtual HRESULT STDMETHODCALLTYPE GetComponentCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWriterInfo(VSS_ID* instanceId, VSS_ID* writerId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssComponent** component) = 0;
};
struct IVssWriterComponentsExt : public IVssWriterComponents {};

struct IVssWMComponent : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetComponentInfo(PVSSCOMPONENTINFO* info) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeComponentInfo(PVSSCOMPONENTINFO info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFile(UINT index, IVssWMFiledesc** filedesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDatabaseFile(UINT index, IVssWMFiledesc** filedesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDatabaseLogFile(UINT index, IVssWMFiledesc** filedesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDependency(UINT index, IVssWMDependency** dependency) = 0;
};

struct IVssExamineWriterMetadata : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetIdentity(VSS_ID* instanceId, VSS_ID* writerId, BSTR* writerName,
                                                VSS_USAGE_TYPE* usage, VSS_SOURCE_TYPE* source) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFileCounts(UINT* includeFiles, UINT* excludeFiles, UINT* components) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIncludeFile(UINT index, IVssWMFiledesc** filedesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetExcludeFile(UINT index, IVssWMFiledesc** filedesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssWMComponent** component) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRestoreMethod(VSS_RESTOREMETHOD_ENUM* method, BSTR* service,
                                                     BSTR* userProcedure, VSS_WRITERRESTORE_ENUM* writerRestore,
                                                     boolean* rebootRequired, UINT* mappings) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT index, IVssWMFiledesc** filedesc) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBackupSchema(DWORD* schemaMask) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDocument(IXMLDOMDocument** document) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR* xml) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadFromXML(BSTR xml) = 0;
};

struct IVssBackupComponents : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetWriterComponentsCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWriterComponents(UINT index, IVssWriterComponentsExt** writer) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR xml = 0) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBackupState(boolean selectComponents, boolean backupBootableSystemState,
                                                   VSS_BACKUP_TYPE backupType, boolean partialFileSupport = 0) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitializeForRestore(BSTR xml) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRestoreState(VSS_RESTORE_TYPE restoreType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** async) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT index, VSS_ID* instanceId,
                                                      IVssExamineWriterMetadata** metadata) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeWriterMetadata() = 0;
  virtual HRESULT STDMETHODCALLTYPE AddComponent(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                 LPCWSTR logicalPath, LPCWSTR componentName) = 0;
  virtual HRESULT STDMETHODCALLTYPE PrepareForBackup(IVssAsync** async) = 0;
  virtual HRESULT STDMETHODCALLTYPE AbortBackup() = 0;
  virtual HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync** async) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeWriterStatus() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT index, VSS_ID* instanceId, VSS_ID* writerId,
                                                    BSTR* writerName, VSS_WRITER_STATE* state,
                                                    HRESULT* failure) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBackupSucceeded(VSS_ID instanceId, VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                       LPCWSTR logicalPath, LPCWSTR componentName,
                                                       boolean succeeded) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBackupOptions(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                     LPCWSTR componentName, LPCWSTR options) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSelectedForRestore(VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                          LPCWSTR logicalPath, LPCWSTR componentName,
                                                          boolean selected) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRestoreOptions(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                      LPCWSTR componentName, LPCWSTR options) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAdditionalRestores(VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                          LPCWSTR logicalPath, LPCWSTR componentName,
                                                          boolean additionalRestores) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPreviousBackupStamp(VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                           LPCWSTR logicalPath, LPCWSTR componentName,
                                                           LPCWSTR stamp) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR* xml) = 0;
  virtual HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync** async) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddAlternativeLocationMapping(VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                                  LPCWSTR logicalPath, LPCWSTR componentName,
                                                                  LPCWSTR path, LPCWSTR filespec, boolean recursive,
                                                                  LPCWSTR destination) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddRestoreSubcomponent(VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                           LPCWSTR logicalPath, LPCWSTR componentName,
                                                           LPCWSTR subcomponentLogicalPath,
                                                           LPCWSTR subcomponentName, boolean repair) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFileRestoreStatus(VSS_ID writerId, VSS_COMPONENT_TYPE type,
                                                         LPCWSTR logicalPath, LPCWSTR componentName,
                                                         VSS_FILE_RESTORE_STATUS status) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddNewTarget(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                 LPCWSTR componentName, LPCWSTR path, LPCWSTR fileName,
                                                 boolean recursive, LPCWSTR alternatePath) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRangesFilePath(VSS_ID writerId, VSS_COMPONENT_TYPE type, LPCWSTR logicalPath,
                                                      LPCWSTR componentName, UINT partialFile,
                                                      LPCWSTR rangesFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE PreRestore(IVssAsync** async) = 0;
  virtual HRESULT STDMETHODCALLTYPE PostRestore(IVssAsync** async) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetContext(LONG context) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID* snapshotSetId) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ volumeName, VSS_ID providerId, VSS_ID* snapshotId) = 0;
  virtual HRESULT STDMETHODCALLTYPE DoSnapshotSet(IVssAsync** async) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteSnapshots(VSS_ID sourceObjectId, VSS_OBJECT_TYPE sourceObjectType,
                                                    WINBOOL forceDelete, LONG* deletedSnapshots,
                                                    VSS_ID* nondeletedSnapshotId) = 0;
  virtual HRESULT STDMETHODCALLTYPE ImportSnapshots(IVssAsync** async) = 0;
  virtual HRESULT STDMETHODCALLTYPE BreakSnapshotSet(VSS_ID snapshotSetId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID snapshotId, VSS_SNAPSHOT_PROP* properties) = 0;
  virtual HRESULT STDMETHODCALLTYPE Query(VSS_ID queriedObjectId, VSS_OBJECT_TYPE queriedObjectType,
                                          VSS_OBJECT_TYPE returnedObjectsType, IVssEnumObject** objects) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsVolumeSupported(VSS_ID providerId, VSS_PWSZ volumeName,
                                                      WINBOOL* supportedByThisProvider) = 0;
  virtual HRESULT STDMETHODCALLTYPE DisableWriterClasses(const VSS_ID* writerClassIds, UINT count) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnableWriterClasses(const VSS_ID* writerClassIds, UINT count) = 0;
  virtual HRESULT STDMETHODCALLTYPE DisableWriterInstances(const VSS_ID* writerInstanceIds, UINT count) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExposeSnapshot(VSS_ID snapshotId, VSS_PWSZ pathFromRoot, LONG attributes,
                                                   VSS_PWSZ expose, VSS_PWSZ* exposed) = 0;
  virtual HRESULT STDMETHODCALLTYPE RevertToSnapshot(VSS_ID snapshotId, WINBOOL forceDismount) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryRevertStatus(VSS_PWSZ volume, IVssAsync** async) = 0;
};

// Entry points of vssapi.
#define STDAPICALLTYPE
#define OM_VSSAPI extern "C" __attribute__((visibility("default")))
OM_VSSAPI HRESULT CreateVssBackupComponentsInternal(IVssBackupComponents** backup);
OM_VSSAPI HRESULT CreateVssExamineWriterMetadataInternal(BSTR xml, IVssExamineWriterMetadata** metadata);
OM_VSSAPI void VssFreeSnapshotPropertiesInternal(VSS_SNAPSHOT_PROP* properties);
