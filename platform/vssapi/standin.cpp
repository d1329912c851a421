// The shadow-copy stand-in: the requestor interfaces of vssapi as C++ classes
// whose virtual tables follow the interfaces' method order, so code built
// against the system's declarations calls them unchanged. Writers come from a
// fixture file; a snapshot set is a real copy of each added volume's folder.
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <new>

#include "model.h"
#include "standin.h"

namespace vssstandin {
namespace {

// ---- argument texts for the call log -------------------------------------------------------
std::string arg(const GUID& g) { return guidText(g); }
std::string arg(const WCHAR* text) { return narrow(text); }
std::string arg(long long value) { return std::to_string(value); }
std::string arg(const char* text) { return text; }
template <class... Args>
std::string call(const char* method, Args... args) {
  std::string out = std::string(method) + "(";
  bool first = true;
  for (const std::string& a : {arg(args)...}) {
    if (!first) out += ", ";
    out += a;
    first = false;
  }
  return out + ")";
}
std::string call(const char* method) { return std::string(method) + "()"; }

Text plain(const OptText& text) { return text ? *text : Text(); }
bool samePath(const OptText& a, const WCHAR* b) { return plain(a) == (b ? Text(b) : Text()); }
bool sameText(const OptText& a, const WCHAR* b) { return b && a && *a == b; }

const GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The stand-in's own provider.
const GUID kProviderId = {0x6f6d7673, 0x7374, 0x4e64, {0x80, 0x69, 0x6e, 0x2d, 0x76, 0x73, 0x73, 0x31}};

// Reference counting shared by every class; the object counts as live until its
// last reference goes.
template <class Interface>
class Counted : public Interface {
 public:
  Counted() { objectCreated(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (sameGuid(iid, kIidUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (!left) delete this;
    return left;
  }

 protected:
  virtual ~Counted() { objectDestroyed(); }

 private:
  std::atomic<ULONG> references_{1};
};

template <class T>
HRESULT handOut(T* created, T** out) {
  if (!created) return E_OUTOFMEMORY;
  *out = created;
  return S_OK;
}

// ---- writer metadata -------------------------------------------------------------------------

class Filedesc final : public Counted<IVssWMFiledesc> {
 public:
  explicit Filedesc(FileSpec spec) : spec_(std::move(spec)) {}
  HRESULT STDMETHODCALLTYPE GetPath(BSTR* out) override { return text(spec_.path, out, "GetPath"); }
  HRESULT STDMETHODCALLTYPE GetFilespec(BSTR* out) override { return text(spec_.spec, out, "GetFilespec"); }
  HRESULT STDMETHODCALLTYPE GetRecursive(boolean* out) override {
    logCall(call("IVssWMFiledesc::GetRecursive"));
    if (!out) return E_INVALIDARG;
    *out = spec_.recursive;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocation(BSTR* out) override {
    return text(spec_.alternate, out, "GetAlternateLocation");
  }
  HRESULT STDMETHODCALLTYPE GetBackupTypeMask(DWORD* out) override {
    logCall(call("IVssWMFiledesc::GetBackupTypeMask"));
    if (!out) return E_INVALIDARG;
    *out = spec_.mask;
    return S_OK;
  }

 private:
  HRESULT text(const OptText& value, BSTR* out, const char* method) {
    logCall(call((std::string("IVssWMFiledesc::") + method).c_str()));
    if (!out) return E_INVALIDARG;
    *out = makeBstr(value);
    return value && !*out ? E_OUTOFMEMORY : S_OK;
  }
  FileSpec spec_;
};

class Dependency final : public Counted<IVssWMDependency> {
 public:
  explicit Dependency(DependencySpec spec) : spec_(std::move(spec)) {}
  HRESULT STDMETHODCALLTYPE GetWriterId(VSS_ID* out) override {
    logCall(call("IVssWMDependency::GetWriterId"));
    if (!out) return E_INVALIDARG;
    *out = spec_.writer;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR* out) override {
    logCall(call("IVssWMDependency::GetLogicalPath"));
    if (!out) return E_INVALIDARG;
    *out = makeBstr(spec_.logicalPath);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetComponentName(BSTR* out) override {
    logCall(call("IVssWMDependency::GetComponentName"));
    if (!out) return E_INVALIDARG;
    *out = makeBstr(spec_.name);
    return S_OK;
  }

 private:
  DependencySpec spec_;
};

class WMComponent final : public Counted<IVssWMComponent> {
 public:
  explicit WMComponent(ComponentSpec spec) : spec_(std::move(spec)) {}
  HRESULT STDMETHODCALLTYPE GetComponentInfo(PVSSCOMPONENTINFO* out) override {
    logCall(call("IVssWMComponent::GetComponentInfo"));
    if (!out) return E_INVALIDARG;
    auto* info = new (std::nothrow) VSS_COMPONENTINFO();
    if (!info) return E_OUTOFMEMORY;
    objectCreated();
    info->type = static_cast<VSS_COMPONENT_TYPE>(spec_.type);
    info->bstrLogicalPath = makeBstr(spec_.logicalPath);
    info->bstrComponentName = makeBstr(spec_.name);
    info->bstrCaption = makeBstr(spec_.caption);
    if (!spec_.icon.empty()) {
      info->pbIcon = new BYTE[spec_.icon.size()];
      std::copy(spec_.icon.begin(), spec_.icon.end(), info->pbIcon);
      info->cbIcon = static_cast<UINT>(spec_.icon.size());
    }
    info->bRestoreMetadata = spec_.restoreMetadata;
    info->bNotifyOnBackupComplete = spec_.notify;
    info->bSelectable = spec_.selectable;
    info->bSelectableForRestore = spec_.selectableForRestore;
    info->dwComponentFlags = spec_.flags;
    info->cFileCount = static_cast<UINT>(spec_.files.size());
    info->cDatabases = static_cast<UINT>(spec_.databases.size());
    info->cLogFiles = static_cast<UINT>(spec_.logs.size());
    info->cDependencies = static_cast<UINT>(spec_.dependencies.size());
    *out = info;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FreeComponentInfo(PVSSCOMPONENTINFO info) override {
    logCall(call("IVssWMComponent::FreeComponentInfo"));
    if (!info) return S_OK;
    SysFreeString(info->bstrLogicalPath);
    SysFreeString(info->bstrComponentName);
    SysFreeString(info->bstrCaption);
    delete[] info->pbIcon;
    delete info;
    objectDestroyed();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFile(UINT index, IVssWMFiledesc** out) override {
    return file(spec_.files, index, out, "GetFile");
  }
  HRESULT STDMETHODCALLTYPE GetDatabaseFile(UINT index, IVssWMFiledesc** out) override {
    return file(spec_.databases, index, out, "GetDatabaseFile");
  }
  HRESULT STDMETHODCALLTYPE GetDatabaseLogFile(UINT index, IVssWMFiledesc** out) override {
    return file(spec_.logs, index, out, "GetDatabaseLogFile");
  }
  HRESULT STDMETHODCALLTYPE GetDependency(UINT index, IVssWMDependency** out) override {
    logCall(call("IVssWMComponent::GetDependency", index));
    if (!out || index >= spec_.dependencies.size()) return E_INVALIDARG;
    return handOut<IVssWMDependency>(new (std::nothrow) Dependency(spec_.dependencies[index]), out);
  }

 private:
  HRESULT file(const std::vector<FileSpec>& files, UINT index, IVssWMFiledesc** out, const char* method) {
    logCall(call((std::string("IVssWMComponent::") + method).c_str(), index));
    if (!out || index >= files.size()) return E_INVALIDARG;
    return handOut<IVssWMFiledesc>(new (std::nothrow) Filedesc(files[index]), out);
  }
  ComponentSpec spec_;
};

class Metadata final : public Counted<IVssExamineWriterMetadata> {
 public:
  explicit Metadata(WriterSpec writer) : writer_(std::move(writer)) {}
  HRESULT STDMETHODCALLTYPE GetIdentity(VSS_ID* instance, VSS_ID* writer, BSTR* name, VSS_USAGE_TYPE* usage,
                                        VSS_SOURCE_TYPE* source) override {
    logCall(call("IVssExamineWriterMetadata::GetIdentity"));
    if (!instance || !writer || !name || !usage || !source) return E_INVALIDARG;
    *instance = writer_.instanceId;
    *writer = writer_.writerId;
    *name = makeBstr(writer_.name);
    *usage = static_cast<VSS_USAGE_TYPE>(writer_.usage);
    *source = static_cast<VSS_SOURCE_TYPE>(writer_.source);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFileCounts(UINT* includes, UINT* excludes, UINT* components) override {
    logCall(call("IVssExamineWriterMetadata::GetFileCounts"));
    if (!includes || !excludes || !components) return E_INVALIDARG;
    *includes = static_cast<UINT>(writer_.includes.size());
    *excludes = static_cast<UINT>(writer_.excludes.size());
    *components = static_cast<UINT>(writer_.components.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIncludeFile(UINT index, IVssWMFiledesc** out) override {
    return file(writer_.includes, index, out, "GetIncludeFile");
  }
  HRESULT STDMETHODCALLTYPE GetExcludeFile(UINT index, IVssWMFiledesc** out) override {
    return file(writer_.excludes, index, out, "GetExcludeFile");
  }
  HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssWMComponent** out) override {
    logCall(call("IVssExamineWriterMetadata::GetComponent", index));
    if (!out || index >= writer_.components.size()) return E_INVALIDARG;
    return handOut<IVssWMComponent>(new (std::nothrow) WMComponent(writer_.components[index]), out);
  }
  HRESULT STDMETHODCALLTYPE GetRestoreMethod(VSS_RESTOREMETHOD_ENUM* method, BSTR* service, BSTR* procedure,
                                             VSS_WRITERRESTORE_ENUM* writerRestore, boolean* reboot,
                                             UINT* mappings) override {
    logCall(call("IVssExamineWriterMetadata::GetRestoreMethod"));
    if (!method || !service || !procedure || !writerRestore || !reboot || !mappings) return E_INVALIDARG;
    *method = static_cast<VSS_RESTOREMETHOD_ENUM>(writer_.restoreMethod);
    *service = makeBstr(writer_.service);
    *procedure = makeBstr(writer_.userProcedure);
    *writerRestore = static_cast<VSS_WRITERRESTORE_ENUM>(writer_.writerRestore);
    *reboot = writer_.reboot;
    *mappings = static_cast<UINT>(writer_.mappings.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT index, IVssWMFiledesc** out) override {
    return file(writer_.mappings, index, out, "GetAlternateLocationMapping");
  }
  HRESULT STDMETHODCALLTYPE GetBackupSchema(DWORD* schema) override {
    logCall(call("IVssExamineWriterMetadata::GetBackupSchema"));
    if (!schema) return E_INVALIDARG;
    *schema = writer_.schema;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDocument(IXMLDOMDocument**) override {
    logCall(call("IVssExamineWriterMetadata::GetDocument"));
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR* xml) override {
    logCall(call("IVssExamineWriterMetadata::SaveAsXML"));
    if (!xml) return E_INVALIDARG;
    *xml = makeBstr(widen(metadataDocument(writer_)));
    return *xml ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE LoadFromXML(BSTR xml) override {
    logCall(call("IVssExamineWriterMetadata::LoadFromXML"));
    WriterSpec loaded;
    if (!xml || !parseMetadataDocument(narrow(Text(xml)), &loaded)) return VSS_E_INVALID_XML_DOCUMENT;
    writer_ = std::move(loaded);
    return S_OK;
  }

 private:
  HRESULT file(const std::vector<FileSpec>& files, UINT index, IVssWMFiledesc** out, const char* method) {
    logCall(call((std::string("IVssExamineWriterMetadata::") + method).c_str(), index));
    if (!out || index >= files.size()) return E_INVALIDARG;
    return handOut<IVssWMFiledesc>(new (std::nothrow) Filedesc(files[index]), out);
  }
  WriterSpec writer_;
};

// ---- components of a backup or restore document ------------------------------------------------

struct Selected {
  GUID instance{}, writer{};
  int type = 0;
  OptText logicalPath;
  Text name;
  bool succeeded = false;
  OptText backupOptions, restoreOptions, backupStamp, previousStamp, preRestoreFailure, postRestoreFailure;
  bool selectedForRestore = false, additionalRestores = false;
  int restoreTarget = 1;  // VSS_RT_ORIGINAL
  int fileRestoreStatus = 0;
  struct Subcomponent {
    OptText logicalPath, name;
    bool repair;
  };
  std::vector<Subcomponent> subcomponents;

  bool matches(const GUID& w, int t, const WCHAR* path, const WCHAR* n) const {
    return sameGuid(writer, w) && type == t && samePath(logicalPath, path) && n && name == n;
  }
};

class Component final : public Counted<IVssComponent> {
 public:
  explicit Component(Selected c) : c_(std::move(c)) {}
  HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR* out) override { return text(c_.logicalPath, out, "GetLogicalPath"); }
  HRESULT STDMETHODCALLTYPE GetComponentType(VSS_COMPONENT_TYPE* out) override {
    return value(out, static_cast<VSS_COMPONENT_TYPE>(c_.type), "GetComponentType");
  }
  HRESULT STDMETHODCALLTYPE GetComponentName(BSTR* out) override { return text(c_.name, out, "GetComponentName"); }
  HRESULT STDMETHODCALLTYPE GetBackupSucceeded(boolean* out) override {
    return value(out, static_cast<boolean>(c_.succeeded), "GetBackupSucceeded");
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMappingCount(UINT* out) override {
    return value(out, 0u, "GetAlternateLocationMappingCount");
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT, IVssWMFiledesc**) override { return E_INVALIDARG; }
  HRESULT STDMETHODCALLTYPE SetBackupMetadata(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackupMetadata(BSTR* out) override { return text(OptText(), out, "GetBackupMetadata"); }
  HRESULT STDMETHODCALLTYPE AddPartialFile(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPartialFileCount(UINT* out) override { return value(out, 0u, "GetPartialFileCount"); }
  HRESULT STDMETHODCALLTYPE GetPartialFile(UINT, BSTR*, BSTR*, BSTR*, BSTR*) override { return E_INVALIDARG; }
  HRESULT STDMETHODCALLTYPE IsSelectedForRestore(boolean* out) override {
    return value(out, static_cast<boolean>(c_.selectedForRestore), "IsSelectedForRestore");
  }
  HRESULT STDMETHODCALLTYPE GetAdditionalRestores(boolean* out) override {
    return value(out, static_cast<boolean>(c_.additionalRestores), "GetAdditionalRestores");
  }
  HRESULT STDMETHODCALLTYPE GetNewTargetCount(UINT* out) override { return value(out, 0u, "GetNewTargetCount"); }
  HRESULT STDMETHODCALLTYPE GetNewTarget(UINT, IVssWMFiledesc**) override { return E_INVALIDARG; }
  HRESULT STDMETHODCALLTYPE AddDirectedTarget(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDirectedTargetCount(UINT* out) override {
    return value(out, 0u, "GetDirectedTargetCount");
  }
  HRESULT STDMETHODCALLTYPE GetDirectedTarget(UINT, BSTR*, BSTR*, BSTR*, BSTR*, BSTR*, BSTR*) override {
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE SetRestoreMetadata(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRestoreMetadata(BSTR* out) override {
    return text(OptText(), out, "GetRestoreMetadata");
  }
  HRESULT STDMETHODCALLTYPE SetRestoreTarget(VSS_RESTORE_TARGET) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRestoreTarget(VSS_RESTORE_TARGET* out) override {
    return value(out, static_cast<VSS_RESTORE_TARGET>(c_.restoreTarget), "GetRestoreTarget");
  }
  HRESULT STDMETHODCALLTYPE SetPreRestoreFailureMsg(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPreRestoreFailureMsg(BSTR* out) override {
    return text(c_.preRestoreFailure, out, "GetPreRestoreFailureMsg");
  }
  HRESULT STDMETHODCALLTYPE SetPostRestoreFailureMsg(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPostRestoreFailureMsg(BSTR* out) override {
    return text(c_.postRestoreFailure, out, "GetPostRestoreFailureMsg");
  }
  HRESULT STDMETHODCALLTYPE SetBackupStamp(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackupStamp(BSTR* out) override { return text(c_.backupStamp, out, "GetBackupStamp"); }
  HRESULT STDMETHODCALLTYPE GetPreviousBackupStamp(BSTR* out) override {
    return text(c_.previousStamp, out, "GetPreviousBackupStamp");
  }
  HRESULT STDMETHODCALLTYPE GetBackupOptions(BSTR* out) override {
    return text(c_.backupOptions, out, "GetBackupOptions");
  }
  HRESULT STDMETHODCALLTYPE GetRestoreOptions(BSTR* out) override {
    return text(c_.restoreOptions, out, "GetRestoreOptions");
  }
  HRESULT STDMETHODCALLTYPE GetRestoreSubcomponentCount(UINT* out) override {
    return value(out, static_cast<UINT>(c_.subcomponents.size()), "GetRestoreSubcomponentCount");
  }
  HRESULT STDMETHODCALLTYPE GetRestoreSubcomponent(UINT index, BSTR* path, BSTR* name, boolean* repair) override {
    logCall(call("IVssComponent::GetRestoreSubcomponent", index));
    if (!path || !name || !repair || index >= c_.subcomponents.size()) return E_INVALIDARG;
    *path = makeBstr(c_.subcomponents[index].logicalPath);
    *name = makeBstr(c_.subcomponents[index].name);
    *repair = c_.subcomponents[index].repair;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFileRestoreStatus(VSS_FILE_RESTORE_STATUS* out) override {
    return value(out, static_cast<VSS_FILE_RESTORE_STATUS>(c_.fileRestoreStatus), "GetFileRestoreStatus");
  }
  HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyTime(LPCWSTR, LPCWSTR, WINBOOL, FILETIME) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyLSN(LPCWSTR, LPCWSTR, WINBOOL, BSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDifferencedFilesCount(UINT* out) override {
    return value(out, 0u, "GetDifferencedFilesCount");
  }
  HRESULT STDMETHODCALLTYPE GetDifferencedFile(UINT, BSTR*, BSTR*, WINBOOL*, BSTR*, FILETIME*) override {
    return E_INVALIDARG;
  }

 private:
  HRESULT text(const OptText& v, BSTR* out, const char* method) {
    logCall(call((std::string("IVssComponent::") + method).c_str()));
    if (!out) return E_INVALIDARG;
    *out = makeBstr(v);
    return S_OK;
  }
  template <class T>
  HRESULT value(T* out, T v, const char* method) {
    logCall(call((std::string("IVssComponent::") + method).c_str()));
    if (!out) return E_INVALIDARG;
    *out = v;
    return S_OK;
  }
  Selected c_;
};

// The writer-components part comes first; the IUnknown through which the object
// is released follows one pointer further on.
class WriterComponents final : public IVssWriterComponentsExt, public IUnknown {
 public:
  WriterComponents(GUID instance, GUID writer, std::vector<Selected> components)
      : instance_(instance), writer_(writer), components_(std::move(components)) {
    objectCreated();
  }
  HRESULT STDMETHODCALLTYPE GetComponentCount(UINT* count) override {
    logCall(call("IVssWriterComponentsExt::GetComponentCount"));
    if (!count) return E_INVALIDARG;
    *count = static_cast<UINT>(components_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetWriterInfo(VSS_ID* instance, VSS_ID* writer) override {
    logCall(call("IVssWriterComponentsExt::GetWriterInfo"));
    if (!instance || !writer) return E_INVALIDARG;
    *instance = instance_;
    *writer = writer_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssComponent** out) override {
    logCall(call("IVssWriterComponentsExt::GetComponent", index));
    if (!out || index >= components_.size()) return E_INVALIDARG;
    return handOut<IVssComponent>(new (std::nothrow) Component(components_[index]), out);
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (sameGuid(iid, kIidUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    logCall(call("IVssWriterComponentsExt::Release"));
    ULONG left = --references_;
    if (!left) {
      delete this;
      objectDestroyed();
    }
    return left;
  }

 private:
  GUID instance_, writer_;
  std::vector<Selected> components_;
  std::atomic<ULONG> references_{1};
};

// ---- backup components ----------------------------------------------------------------------

struct Snapshot {
  GUID id{};
  Text volume;
  int copy = 0;  // HarddiskVolumeShadowCopyN once created
  LONGLONG created = 0;
};

class Backup;

// An operation that is pending until the first Wait, or the second QueryStatus.
class Async final : public Counted<IVssAsync> {
 public:
  Async(IUnknown* owner, std::mutex* lock, std::string name, std::function<HRESULT()> work,
        std::function<void()> cancelled)
      : owner_(owner), lock_(lock), name_(std::move(name)), work_(std::move(work)), cancelled_(std::move(cancelled)) {
    owner_->AddRef();
  }
  HRESULT STDMETHODCALLTYPE Cancel() override {
    logCall(call(("IVssAsync::Cancel[" + name_ + "]").c_str()));
    std::lock_guard<std::mutex> guard(*lock_);
    if (status_ == VSS_S_ASYNC_PENDING) {
      status_ = VSS_S_ASYNC_CANCELLED;
      cancelled_();
      return S_OK;
    }
    return status_ == VSS_S_ASYNC_CANCELLED ? VSS_S_ASYNC_CANCELLED : VSS_S_ASYNC_FINISHED;
  }
  HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds) override {
    logCall(call(("IVssAsync::Wait[" + name_ + "]").c_str(), static_cast<long long>(milliseconds)));
    std::lock_guard<std::mutex> guard(*lock_);
    finish();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* result, INT*) override {
    logCall(call(("IVssAsync::QueryStatus[" + name_ + "]").c_str()));
    if (!result) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(*lock_);
    if (++queries_ >= 2) finish();
    *result = status_;
    return S_OK;
  }

 private:
  ~Async() override {
    {
      // Releasing the operation does not stop it.
      std::lock_guard<std::mutex> guard(*lock_);
      finish();
    }
    owner_->Release();
  }
  void finish() {
    if (status_ != VSS_S_ASYNC_PENDING) return;
    HRESULT done = work_();
    status_ = FAILED(done) ? done : VSS_S_ASYNC_FINISHED;
  }
  IUnknown* owner_;
  std::mutex* lock_;
  std::string name_;
  std::function<HRESULT()> work_;
  std::function<void()> cancelled_;
  HRESULT status_ = VSS_S_ASYNC_PENDING;
  int queries_ = 0;
};

class Backup final : public Counted<IVssBackupComponents> {
 public:
  Backup() = default;

  HRESULT STDMETHODCALLTYPE GetWriterComponentsCount(UINT* count) override {
    logCall(call("IVssBackupComponents::GetWriterComponentsCount"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!count) return E_INVALIDARG;
    if (!componentsReadable()) return VSS_E_BAD_STATE;
    *count = static_cast<UINT>(writerGroups().size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetWriterComponents(UINT index, IVssWriterComponentsExt** out) override {
    logCall(call("IVssBackupComponents::GetWriterComponents", index));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    if (!componentsReadable()) return VSS_E_BAD_STATE;
    auto groups = writerGroups();
    if (index >= groups.size()) return E_INVALIDARG;
    std::vector<Selected> members;
    for (const auto& s : selected_)
      if (sameGuid(s.instance, groups[index].first) && sameGuid(s.writer, groups[index].second)) members.push_back(s);
    auto* created = new (std::nothrow) WriterComponents(groups[index].first, groups[index].second, members);
    if (!created) return E_OUTOFMEMORY;
    *out = created;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR xml) override {
    logCall(call("IVssBackupComponents::InitializeForBackup", xml));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kNew) return VSS_E_BAD_STATE;
    if (xml) return E_NOTIMPL;  // resuming a saved backup is not part of the stand-in
    mode_ = kBackup;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBackupState(boolean select, boolean bootable, VSS_BACKUP_TYPE type,
                                           boolean partial) override {
    logCall(call("IVssBackupComponents::SetBackupState", select, bootable, static_cast<long long>(type), partial));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kBackup || gathered_ || busy_) return VSS_E_BAD_STATE;
    if (type < VSS_BT_UNDEFINED || type > VSS_BT_OTHER) return E_INVALIDARG;
    stateSet_ = true;
    selectComponents_ = select != 0;
    bootable_ = bootable != 0;
    partial_ = partial != 0;
    backupType_ = type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InitializeForRestore(BSTR xml) override {
    logCall(call("IVssBackupComponents::InitializeForRestore", xml ? "<document>" : "null"));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kNew) return VSS_E_BAD_STATE;
    if (!xml) return E_INVALIDARG;
    std::vector<std::string> lines;
    if (!unwrapDocument("BACKUP_COMPONENTS", narrow(Text(xml)), &lines)) return VSS_E_INVALID_XML_DOCUMENT;
    std::vector<Selected> loaded;
    for (const auto& raw : lines) {
      Line line;
      if (!parseLine(raw, &line)) return VSS_E_INVALID_XML_DOCUMENT;
      if (line.keyword == "backup") {
        backupType_ = static_cast<int>(line.number("type"));
      } else if (line.keyword == "component") {
        Selected s;
        if (!parseGuid(line.get("writer"), &s.writer) || !parseGuid(line.get("instance"), &s.instance))
          return VSS_E_INVALID_XML_DOCUMENT;
        s.type = static_cast<int>(line.number("type"));
        s.logicalPath = line.text("path");
        s.name = widen(line.get("name"));
        s.succeeded = line.number("succeeded") != 0;
        s.backupOptions = line.text("options");
        s.backupStamp = line.text("stamp");
        s.previousStamp = line.text("previous");
        loaded.push_back(std::move(s));
      } else {
        return VSS_E_INVALID_XML_DOCUMENT;
      }
    }
    selected_ = std::move(loaded);
    mode_ = kRestore;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetRestoreState(VSS_RESTORE_TYPE type) override {
    logCall(call("IVssBackupComponents::SetRestoreState", static_cast<long long>(type)));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kRestore || preRestored_) return VSS_E_BAD_STATE;
    if (type < VSS_RTYPE_UNDEFINED || type > VSS_RTYPE_OTHER) return E_INVALIDARG;
    restoreType_ = type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** out) override {
    logCall(call("IVssBackupComponents::GatherWriterMetadata"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    if ((mode_ != kBackup && mode_ != kRestore) || busy_ || gathered_) return VSS_E_BAD_STATE;
    return start("GatherWriterMetadata", out, [this] {
      writers_.clear();
      for (auto& w : fixtureWriters())
        if (writerEnabled(w)) writers_.push_back(std::move(w));
      gathered_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT* count) override {
    logCall(call("IVssBackupComponents::GetWriterMetadataCount"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!count) return E_INVALIDARG;
    if (!gathered_ || metadataFreed_) return VSS_E_BAD_STATE;
    *count = static_cast<UINT>(writers_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT index, VSS_ID* instance,
                                              IVssExamineWriterMetadata** out) override {
    logCall(call("IVssBackupComponents::GetWriterMetadata", index));
    std::lock_guard<std::mutex> guard(lock_);
    if (!instance || !out) return E_INVALIDARG;
    if (!gathered_ || metadataFreed_) return VSS_E_BAD_STATE;
    if (index >= writers_.size()) return E_INVALIDARG;
    auto* created = new (std::nothrow) Metadata(writers_[index]);
    if (!created) return E_OUTOFMEMORY;
    *instance = writers_[index].instanceId;
    *out = created;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FreeWriterMetadata() override {
    logCall(call("IVssBackupComponents::FreeWriterMetadata"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!gathered_ || metadataFreed_) return VSS_E_BAD_STATE;
    metadataFreed_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddComponent(VSS_ID instance, VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path,
                                         LPCWSTR name) override {
    logCall(call("IVssBackupComponents::AddComponent", instance, writer, static_cast<long long>(type), path, name));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kBackup || !gathered_ || metadataFreed_ || !selectComponents_ || prepared_ || busy_)
      return VSS_E_BAD_STATE;
    if (!name) return E_INVALIDARG;
    const WriterSpec* w = findWriter(instance, writer);
    if (!w) return VSS_E_OBJECT_NOT_FOUND;
    bool known = false;
    for (const auto& c : w->components)
      if (c.type == type && samePath(c.logicalPath, path) && sameText(c.name, name)) known = true;
    if (!known) return VSS_E_OBJECT_NOT_FOUND;
    if (findSelected(writer, type, path, name)) return VSS_E_OBJECT_ALREADY_EXISTS;
    Selected s;
    s.instance = instance;
    s.writer = writer;
    s.type = type;
    s.logicalPath = optional(path);
    s.name = name;
    selected_.push_back(std::move(s));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PrepareForBackup(IVssAsync** out) override {
    logCall(call("IVssBackupComponents::PrepareForBackup"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    if (mode_ != kBackup || !gathered_ || !stateSet_ || prepared_ || busy_) return VSS_E_BAD_STATE;
    return start("PrepareForBackup", out, [this] {
      prepared_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE AbortBackup() override {
    logCall(call("IVssBackupComponents::AbortBackup"));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kBackup || busy_) return VSS_E_BAD_STATE;
    deleteCopies();
    mode_ = kAborted;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync** out) override {
    logCall(call("IVssBackupComponents::GatherWriterStatus"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    if ((mode_ != kBackup && mode_ != kRestore) || !gathered_ || busy_) return VSS_E_BAD_STATE;
    return start("GatherWriterStatus", out, [this] {
      statusGathered_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT* count) override {
    logCall(call("IVssBackupComponents::GetWriterStatusCount"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!count) return E_INVALIDARG;
    if (!statusGathered_) return VSS_E_BAD_STATE;
    *count = static_cast<UINT>(writers_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FreeWriterStatus() override {
    logCall(call("IVssBackupComponents::FreeWriterStatus"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!statusGathered_) return VSS_E_BAD_STATE;
    statusGathered_ = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT index, VSS_ID* instance, VSS_ID* writer, BSTR* name,
                                            VSS_WRITER_STATE* state, HRESULT* failure) override {
    logCall(call("IVssBackupComponents::GetWriterStatus", index));
    std::lock_guard<std::mutex> guard(lock_);
    if (!instance || !writer || !name || !state || !failure) return E_INVALIDARG;
    if (!statusGathered_) return VSS_E_BAD_STATE;
    if (index >= writers_.size()) return E_INVALIDARG;
    const WriterSpec& w = writers_[index];
    *instance = w.instanceId;
    *writer = w.writerId;
    *name = makeBstr(w.name);
    *state = static_cast<VSS_WRITER_STATE>(w.state);
    *failure = w.failure;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBackupSucceeded(VSS_ID instance, VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path,
                                               LPCWSTR name, boolean succeeded) override {
    logCall(call("IVssBackupComponents::SetBackupSucceeded", instance, writer, static_cast<long long>(type), path,
                 name, succeeded));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kBackup || !snapshotDone_) return VSS_E_BAD_STATE;
    Selected* s = findSelected(writer, type, path, name);
    if (!s || !sameGuid(s->instance, instance)) return VSS_E_OBJECT_NOT_FOUND;
    s->succeeded = succeeded != 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBackupOptions(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                             LPCWSTR options) override {
    logCall(call("IVssBackupComponents::SetBackupOptions", writer, static_cast<long long>(type), path, name, options));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kBackup || prepared_) return VSS_E_BAD_STATE;
    Selected* s = findSelected(writer, type, path, name);
    if (!s) return VSS_E_OBJECT_NOT_FOUND;
    s->backupOptions = optional(options);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSelectedForRestore(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                                  boolean selected) override {
    logCall(call("IVssBackupComponents::SetSelectedForRestore", writer, static_cast<long long>(type), path, name,
                 selected));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kRestore || preRestored_) return VSS_E_BAD_STATE;
    Selected* s = findSelected(writer, type, path, name);
    if (!s) return VSS_E_OBJECT_NOT_FOUND;
    s->selectedForRestore = selected != 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetRestoreOptions(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                              LPCWSTR options) override {
    logCall(call("IVssBackupComponents::SetRestoreOptions", writer, static_cast<long long>(type), path, name,
                 options));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kRestore || preRestored_) return VSS_E_BAD_STATE;
    Selected* s = findSelected(writer, type, path, name);
    if (!s) return VSS_E_OBJECT_NOT_FOUND;
    s->restoreOptions = optional(options);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean) override {
    return notImplemented("SetAdditionalRestores");
  }
  HRESULT STDMETHODCALLTYPE SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) override {
    return notImplemented("SetPreviousBackupStamp");
  }
  HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR* out) override {
    logCall(call("IVssBackupComponents::SaveAsXML"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    if (mode_ != kBackup || !stateSet_) return VSS_E_BAD_STATE;
    std::vector<std::string> lines;
    lines.push_back(formatLine("backup", {{"type", std::to_string(backupType_)},
                                          {"select", selectComponents_ ? "1" : "0"},
                                          {"bootable", bootable_ ? "1" : "0"},
                                          {"partial", partial_ ? "1" : "0"}}));
    for (const auto& s : selected_) {
      std::vector<std::pair<std::string, std::string>> fields = {{"writer", guidText(s.writer)},
                                                                 {"instance", guidText(s.instance)},
                                                                 {"type", std::to_string(s.type)},
                                                                 {"name", narrow(s.name)},
                                                                 {"succeeded", s.succeeded ? "1" : "0"}};
      if (s.logicalPath) fields.push_back({"path", narrow(*s.logicalPath)});
      if (s.backupOptions) fields.push_back({"options", narrow(*s.backupOptions)});
      if (s.backupStamp) fields.push_back({"stamp", narrow(*s.backupStamp)});
      if (s.previousStamp) fields.push_back({"previous", narrow(*s.previousStamp)});
      lines.push_back(formatLine("component", fields));
    }
    BSTR document = makeBstr(widen(wrapDocument("BACKUP_COMPONENTS", lines)));
    if (!document) return E_OUTOFMEMORY;
    *out = document;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync** out) override {
    logCall(call("IVssBackupComponents::BackupComplete"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    if (mode_ != kBackup || !snapshotDone_ || complete_ || busy_) return VSS_E_BAD_STATE;
    return start("BackupComplete", out, [this] {
      complete_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE AddAlternativeLocationMapping(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR,
                                                          LPCWSTR, boolean, LPCWSTR) override {
    return notImplemented("AddAlternativeLocationMapping");
  }
  HRESULT STDMETHODCALLTYPE AddRestoreSubcomponent(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                                   LPCWSTR subPath, LPCWSTR subName, boolean repair) override {
    logCall(call("IVssBackupComponents::AddRestoreSubcomponent", writer, static_cast<long long>(type), path, name,
                 subPath, subName, repair));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kRestore || preRestored_) return VSS_E_BAD_STATE;
    if (!subName) return E_INVALIDARG;
    Selected* s = findSelected(writer, type, path, name);
    if (!s) return VSS_E_OBJECT_NOT_FOUND;
    s->subcomponents.push_back({optional(subPath), optional(subName), repair != 0});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetFileRestoreStatus(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                                 VSS_FILE_RESTORE_STATUS status) override {
    logCall(call("IVssBackupComponents::SetFileRestoreStatus", writer, static_cast<long long>(type), path, name,
                 static_cast<long long>(status)));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kRestore || !preRestored_ || postRestored_) return VSS_E_BAD_STATE;
    if (status < VSS_RS_UNDEFINED || status > VSS_RS_FAILED) return E_INVALIDARG;
    Selected* s = findSelected(writer, type, path, name);
    if (!s) return VSS_E_OBJECT_NOT_FOUND;
    if (!s->selectedForRestore) return VSS_E_BAD_STATE;
    s->fileRestoreStatus = status;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                                         LPCWSTR) override {
    return notImplemented("AddNewTarget");
  }
  HRESULT STDMETHODCALLTYPE SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT, LPCWSTR) override {
    return notImplemented("SetRangesFilePath");
  }
  HRESULT STDMETHODCALLTYPE PreRestore(IVssAsync** out) override {
    logCall(call("IVssBackupComponents::PreRestore"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    if (mode_ != kRestore || preRestored_ || busy_) return VSS_E_BAD_STATE;
    return start("PreRestore", out, [this] {
      // A writer that reports a failure fails the pre-restore of its components.
      for (auto& s : selected_)
        for (const auto& w : fixtureWriters())
          if (s.selectedForRestore && sameGuid(w.writerId, s.writer) && FAILED(w.failure))
            s.preRestoreFailure = widen("pre-restore failed: " + narrow(w.name));
      preRestored_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE PostRestore(IVssAsync** out) override {
    logCall(call("IVssBackupComponents::PostRestore"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    if (mode_ != kRestore || !preRestored_ || postRestored_ || busy_) return VSS_E_BAD_STATE;
    return start("PostRestore", out, [this] {
      postRestored_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE SetContext(LONG context) override {
    logCall(call("IVssBackupComponents::SetContext", static_cast<long long>(context)));
    std::lock_guard<std::mutex> guard(lock_);
    if (mode_ != kBackup || setStarted_ || gathered_) return VSS_E_BAD_STATE;
    context_ = context;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID* setId) override {
    logCall(call("IVssBackupComponents::StartSnapshotSet"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!setId) return E_INVALIDARG;
    if (mode_ != kBackup || !gathered_) return VSS_E_BAD_STATE;
    if (setStarted_) return VSS_E_SNAPSHOT_SET_IN_PROGRESS;
    setStarted_ = true;
    setId_ = newGuid();
    *setId = setId_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ volume, VSS_ID provider, VSS_ID* snapshotId) override {
    logCall(call("IVssBackupComponents::AddToSnapshotSet", volume, provider));
    std::lock_guard<std::mutex> guard(lock_);
    if (!volume || !snapshotId) return E_INVALIDARG;
    if (mode_ != kBackup || !setStarted_ || snapshotDone_ || busy_) return VSS_E_BAD_STATE;
    if (!isNullGuid(provider) && !sameGuid(provider, kProviderId)) return VSS_E_PROVIDER_NOT_REGISTERED;
    if (!volumeExists(volume)) return VSS_E_OBJECT_NOT_FOUND;
    Text name = volume;
    if (name.back() != '\\') name += '\\';
    for (const auto& s : snapshots_)
      if (s.volume == name) return VSS_E_OBJECT_ALREADY_EXISTS;
    Snapshot s;
    s.id = newGuid();
    s.volume = name;
    snapshots_.push_back(s);
    *snapshotId = s.id;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DoSnapshotSet(IVssAsync** out) override {
    logCall(call("IVssBackupComponents::DoSnapshotSet"));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    if (mode_ != kBackup || !prepared_ || snapshots_.empty() || snapshotDone_ || busy_) return VSS_E_BAD_STATE;
    return start("DoSnapshotSet", out, [this] {
      FILETIME now;
      GetSystemTimeAsFileTime(&now);
      for (auto& s : snapshots_) {
        s.copy = createShadowCopy(s.volume);
        if (!s.copy) {
          deleteCopies();
          return VSS_E_UNEXPECTED;
        }
        s.created = static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
      }
      for (auto& s : selected_) s.backupStamp = widen("stamp " + guidText(setId_));
      snapshotDone_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE DeleteSnapshots(VSS_ID source, VSS_OBJECT_TYPE type, WINBOOL force, LONG* deleted,
                                            VSS_ID* nondeleted) override {
    logCall(call("IVssBackupComponents::DeleteSnapshots", source, static_cast<long long>(type), force));
    std::lock_guard<std::mutex> guard(lock_);
    if (!deleted || !nondeleted) return E_INVALIDARG;
    if (type != VSS_OBJECT_SNAPSHOT && type != VSS_OBJECT_SNAPSHOT_SET) return E_INVALIDARG;
    LONG count = 0;
    for (auto& s : snapshots_) {
      if (!s.copy) continue;
      if ((type == VSS_OBJECT_SNAPSHOT && sameGuid(s.id, source)) ||
          (type == VSS_OBJECT_SNAPSHOT_SET && sameGuid(setId_, source))) {
        deleteShadowCopy(s.copy);
        s.copy = 0;
        ++count;
      }
    }
    if (!count) return VSS_E_OBJECT_NOT_FOUND;
    *deleted = count;
    *nondeleted = GUID{};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ImportSnapshots(IVssAsync**) override { return notImplemented("ImportSnapshots"); }
  HRESULT STDMETHODCALLTYPE BreakSnapshotSet(VSS_ID) override { return notImplemented("BreakSnapshotSet"); }
  HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID id, VSS_SNAPSHOT_PROP* out) override {
    logCall(call("IVssBackupComponents::GetSnapshotProperties", id));
    std::lock_guard<std::mutex> guard(lock_);
    if (!out) return E_INVALIDARG;
    for (const auto& s : snapshots_) {
      if (!s.copy || !sameGuid(s.id, id)) continue;
      VSS_SNAPSHOT_PROP p{};
      p.m_SnapshotId = s.id;
      p.m_SnapshotSetId = setId_;
      p.m_lSnapshotsCount = static_cast<LONG>(snapshots_.size());
      p.m_pwszSnapshotDeviceObject =
          makeTaskText(widen("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy" + std::to_string(s.copy)));
      p.m_pwszOriginalVolumeName = makeTaskText(s.volume);
      p.m_pwszOriginatingMachine = makeTaskText(widen("standin.local"));
      p.m_pwszServiceMachine = makeTaskText(widen("standin.local"));
      p.m_ProviderId = kProviderId;
      p.m_lSnapshotAttributes = context_;
      p.m_tsCreationTimestamp = s.created;
      p.m_eStatus = VSS_SS_CREATED;
      if (!p.m_pwszSnapshotDeviceObject || !p.m_pwszOriginalVolumeName || !p.m_pwszOriginatingMachine ||
          !p.m_pwszServiceMachine) {
        VssFreeSnapshotPropertiesInternal(&p);
        return E_OUTOFMEMORY;
      }
      *out = p;
      return S_OK;
    }
    return VSS_E_OBJECT_NOT_FOUND;
  }
  HRESULT STDMETHODCALLTYPE Query(VSS_ID, VSS_OBJECT_TYPE, VSS_OBJECT_TYPE, IVssEnumObject**) override {
    return notImplemented("Query");
  }
  HRESULT STDMETHODCALLTYPE IsVolumeSupported(VSS_ID provider, VSS_PWSZ volume, WINBOOL* supported) override {
    logCall(call("IVssBackupComponents::IsVolumeSupported", provider, volume));
    if (!volume || !supported) return E_INVALIDARG;
    if (!isNullGuid(provider) && !sameGuid(provider, kProviderId)) return VSS_E_PROVIDER_NOT_REGISTERED;
    if (!volumeExists(volume)) return VSS_E_OBJECT_NOT_FOUND;
    *supported = TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DisableWriterClasses(const VSS_ID* ids, UINT count) override {
    return writerList("DisableWriterClasses", ids, count, &disabledClasses_);
  }
  HRESULT STDMETHODCALLTYPE EnableWriterClasses(const VSS_ID* ids, UINT count) override {
    return writerList("EnableWriterClasses", ids, count, &enabledClasses_);
  }
  HRESULT STDMETHODCALLTYPE DisableWriterInstances(const VSS_ID* ids, UINT count) override {
    return writerList("DisableWriterInstances", ids, count, &disabledInstances_);
  }
  HRESULT STDMETHODCALLTYPE ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*) override {
    return notImplemented("ExposeSnapshot");
  }
  HRESULT STDMETHODCALLTYPE RevertToSnapshot(VSS_ID, WINBOOL) override { return notImplemented("RevertToSnapshot"); }
  HRESULT STDMETHODCALLTYPE QueryRevertStatus(VSS_PWSZ, IVssAsync**) override {
    return notImplemented("QueryRevertStatus");
  }

 private:
  // Snapshots of a backup end with the backup components object.
  ~Backup() override { deleteCopies(); }

  enum Mode { kNew, kBackup, kRestore, kAborted };

  HRESULT notImplemented(const char* method) {
    logCall(call((std::string("IVssBackupComponents::") + method).c_str()));
    return E_NOTIMPL;
  }

  HRESULT start(const char* name, IVssAsync** out, std::function<HRESULT()> work) {
    auto* async = new (std::nothrow) Async(
        static_cast<IUnknown*>(this), &lock_, name,
        [this, work] {
          busy_ = false;
          return work();
        },
        [this] { busy_ = false; });
    if (!async) return E_OUTOFMEMORY;
    busy_ = true;
    *out = async;
    return S_OK;
  }

  HRESULT writerList(const char* method, const VSS_ID* ids, UINT count, std::vector<GUID>* list) {
    std::string text = std::string("IVssBackupComponents::") + method + "(";
    for (UINT i = 0; ids && i < count; ++i) text += (i ? ", " : "") + guidText(ids[i]);
    logCall(text + ")");
    std::lock_guard<std::mutex> guard(lock_);
    if (!ids && count) return E_INVALIDARG;
    if (mode_ != kBackup || gathered_ || busy_) return VSS_E_BAD_STATE;
    list->insert(list->end(), ids, ids + count);
    return S_OK;
  }

  bool writerEnabled(const WriterSpec& w) const {
    auto contains = [](const std::vector<GUID>& list, const GUID& g) {
      for (const auto& x : list)
        if (sameGuid(x, g)) return true;
      return false;
    };
    if (contains(disabledClasses_, w.writerId) && !contains(enabledClasses_, w.writerId)) return false;
    return !contains(disabledInstances_, w.instanceId);
  }

  const WriterSpec* findWriter(const GUID& instance, const GUID& writer) const {
    for (const auto& w : writers_)
      if (sameGuid(w.instanceId, instance) && sameGuid(w.writerId, writer)) return &w;
    return nullptr;
  }

  Selected* findSelected(const GUID& writer, int type, const WCHAR* path, const WCHAR* name) {
    for (auto& s : selected_)
      if (s.matches(writer, type, path, name)) return &s;
    return nullptr;
  }

  bool componentsReadable() const { return (mode_ == kBackup && prepared_) || mode_ == kRestore; }

  std::vector<std::pair<GUID, GUID>> writerGroups() const {
    std::vector<std::pair<GUID, GUID>> groups;
    for (const auto& s : selected_) {
      bool seen = false;
      for (const auto& g : groups)
        if (sameGuid(g.first, s.instance) && sameGuid(g.second, s.writer)) seen = true;
      if (!seen) groups.push_back({s.instance, s.writer});
    }
    return groups;
  }

  void deleteCopies() {
    for (auto& s : snapshots_) {
      if (s.copy) deleteShadowCopy(s.copy);
      s.copy = 0;
    }
  }

  std::mutex lock_;
  Mode mode_ = kNew;
  bool busy_ = false;
  bool stateSet_ = false, selectComponents_ = false, bootable_ = false, partial_ = false;
  int backupType_ = 0, restoreType_ = 0;
  LONG context_ = 0;
  std::vector<GUID> enabledClasses_, disabledClasses_, disabledInstances_;
  bool gathered_ = false, metadataFreed_ = false, statusGathered_ = false;
  std::vector<WriterSpec> writers_;
  std::vector<Selected> selected_;
  bool prepared_ = false, setStarted_ = false, snapshotDone_ = false, complete_ = false;
  bool preRestored_ = false, postRestored_ = false;
  GUID setId_{};
  std::vector<Snapshot> snapshots_;
};

}  // namespace
}  // namespace vssstandin

using namespace vssstandin;

extern "C" {

HRESULT STDAPICALLTYPE CreateVssBackupComponentsInternal(IVssBackupComponents** backup) {
  logCall("CreateVssBackupComponentsInternal()");
  if (!backup) return E_INVALIDARG;
  auto* created = new (std::nothrow) Backup();
  if (!created) return E_OUTOFMEMORY;
  *backup = created;
  return S_OK;
}

HRESULT STDAPICALLTYPE CreateVssExamineWriterMetadataInternal(BSTR xml, IVssExamineWriterMetadata** metadata) {
  logCall(std::string("CreateVssExamineWriterMetadataInternal(") + (xml ? "<document>" : "null") + ")");
  if (!metadata) return E_INVALIDARG;
  WriterSpec writer;
  if (!xml || !parseMetadataDocument(narrow(Text(xml)), &writer)) return VSS_E_INVALID_XML_DOCUMENT;
  auto* created = new (std::nothrow) Metadata(std::move(writer));
  if (!created) return E_OUTOFMEMORY;
  *metadata = created;
  return S_OK;
}

void APIENTRY VssFreeSnapshotPropertiesInternal(VSS_SNAPSHOT_PROP* p) {
  logCall("VssFreeSnapshotPropertiesInternal()");
  if (!p) return;
  for (VSS_PWSZ* text : {&p->m_pwszSnapshotDeviceObject, &p->m_pwszOriginalVolumeName, &p->m_pwszOriginatingMachine,
                         &p->m_pwszServiceMachine, &p->m_pwszExposedName, &p->m_pwszExposedPath}) {
    CoTaskMemFree(*text);
    *text = nullptr;
  }
}

}  // extern "C"
