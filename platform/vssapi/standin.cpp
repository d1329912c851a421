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

// ---- call log ----------------------------------------------------------------------------------
std::string arg(const GUID& g) { return guidText(g); }
std::string arg(const WCHAR* text) { return narrow(text); }
std::string arg(long long value) { return std::to_string(value); }
std::string arg(const std::string& text) { return text; }

// One line "Scope::Method(arguments)".
template <class... Args>
void log(const char* scope, const std::string& method, const Args&... args) {
  std::string line = std::string(scope) + "::" + method + "(";
  const char* separator = "";
  for (const std::string& text : std::vector<std::string>{arg(args)...}) {
    line += separator + text;
    separator = ", ";
  }
  logCall(line + ")");
}

Text plain(const OptText& text) { return text ? *text : Text(); }
bool samePath(const OptText& a, const WCHAR* b) { return plain(a) == (b ? Text(b) : Text()); }
bool sameText(const OptText& a, const WCHAR* b) { return b && a && *a == b; }

const GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The stand-in's own provider.
const GUID kProviderId = {0x6f6d7673, 0x7374, 0x4e64, {0x80, 0x69, 0x6e, 0x2d, 0x76, 0x73, 0x73, 0x31}};

// ---- out-values: a null out-pointer is refused, a text that cannot be allocated fails ---------------
template <class T, class V>
HRESULT put(T* out, const V& value) {
  if (!out) return E_INVALIDARG;
  *out = static_cast<T>(value);
  return S_OK;
}

HRESULT putText(BSTR* out, const OptText& text) {
  if (!out) return E_INVALIDARG;
  *out = makeBstr(text);
  return text && !*out ? E_OUTOFMEMORY : S_OK;
}

template <class Interface, class Object>
HRESULT handOut(Object* created, Interface** out) {
  if (!created) return E_OUTOFMEMORY;
  *out = created;
  return S_OK;
}

// IUnknown shared by every class: one reference count, the object live until its
// last reference goes. Interfaces lists the tables in their order in the object;
// one of them is IUnknown or derives from it. The getters log the call under the
// interface's name and hand out one value each.
template <class... Interfaces>
class Counted : public Interfaces... {
 public:
  explicit Counted(const char* scope) : scope_(scope) { objectCreated(); }
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

  template <class... Args>
  void logged(const std::string& method, const Args&... args) const {
    log(scope_, method, args...);
  }
  template <class T, class V>
  HRESULT giveValue(const char* method, T* out, const V& value) {
    logged(method);
    return put(out, value);
  }
  HRESULT giveText(const char* method, BSTR* out, const OptText& text) {
    logged(method);
    return putText(out, text);
  }
  // The index-th of `specs` as a new Object.
  template <class Object, class Interface, class Spec>
  HRESULT giveObject(const char* method, Interface** out, const std::vector<Spec>& specs, UINT index) {
    logged(method, index);
    if (!out || index >= specs.size()) return E_INVALIDARG;
    return handOut(new (std::nothrow) Object(specs[index]), out);
  }

 private:
  const char* scope_;
  std::atomic<ULONG> references_{1};
};

// ---- writer metadata -------------------------------------------------------------------------

class Filedesc final : public Counted<IVssWMFiledesc> {
 public:
  explicit Filedesc(FileSpec spec) : Counted("IVssWMFiledesc"), spec_(std::move(spec)) {}
  HRESULT STDMETHODCALLTYPE GetPath(BSTR* out) override { return giveText(__func__, out, spec_.path); }
  HRESULT STDMETHODCALLTYPE GetFilespec(BSTR* out) override { return giveText(__func__, out, spec_.spec); }
  HRESULT STDMETHODCALLTYPE GetRecursive(boolean* out) override { return giveValue(__func__, out, spec_.recursive); }
  HRESULT STDMETHODCALLTYPE GetAlternateLocation(BSTR* out) override {
    return giveText(__func__, out, spec_.alternate);
  }
  HRESULT STDMETHODCALLTYPE GetBackupTypeMask(DWORD* out) override { return giveValue(__func__, out, spec_.mask); }

 private:
  FileSpec spec_;
};

class Dependency final : public Counted<IVssWMDependency> {
 public:
  explicit Dependency(DependencySpec spec) : Counted("IVssWMDependency"), spec_(std::move(spec)) {}
  HRESULT STDMETHODCALLTYPE GetWriterId(VSS_ID* out) override { return giveValue(__func__, out, spec_.writer); }
  HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR* out) override { return giveText(__func__, out, spec_.logicalPath); }
  HRESULT STDMETHODCALLTYPE GetComponentName(BSTR* out) override { return giveText(__func__, out, spec_.name); }

 private:
  DependencySpec spec_;
};

class WMComponent final : public Counted<IVssWMComponent> {
 public:
  explicit WMComponent(ComponentSpec spec) : Counted("IVssWMComponent"), spec_(std::move(spec)) {}
  HRESULT STDMETHODCALLTYPE GetComponentInfo(PVSSCOMPONENTINFO* out) override {
    logged(__func__);
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
    logged(__func__);
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
    return giveObject<Filedesc>(__func__, out, spec_.files, index);
  }
  HRESULT STDMETHODCALLTYPE GetDatabaseFile(UINT index, IVssWMFiledesc** out) override {
    return giveObject<Filedesc>(__func__, out, spec_.databases, index);
  }
  HRESULT STDMETHODCALLTYPE GetDatabaseLogFile(UINT index, IVssWMFiledesc** out) override {
    return giveObject<Filedesc>(__func__, out, spec_.logs, index);
  }
  HRESULT STDMETHODCALLTYPE GetDependency(UINT index, IVssWMDependency** out) override {
    return giveObject<Dependency>(__func__, out, spec_.dependencies, index);
  }

 private:
  ComponentSpec spec_;
};

class Metadata final : public Counted<IVssExamineWriterMetadata> {
 public:
  explicit Metadata(WriterSpec writer) : Counted("IVssExamineWriterMetadata"), writer_(std::move(writer)) {}
  HRESULT STDMETHODCALLTYPE GetIdentity(VSS_ID* instance, VSS_ID* writer, BSTR* name, VSS_USAGE_TYPE* usage,
                                        VSS_SOURCE_TYPE* source) override {
    logged(__func__);
    if (!instance || !writer || !name || !usage || !source) return E_INVALIDARG;
    *instance = writer_.instanceId;
    *writer = writer_.writerId;
    *name = makeBstr(writer_.name);
    *usage = static_cast<VSS_USAGE_TYPE>(writer_.usage);
    *source = static_cast<VSS_SOURCE_TYPE>(writer_.source);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFileCounts(UINT* includes, UINT* excludes, UINT* components) override {
    logged(__func__);
    if (!includes || !excludes || !components) return E_INVALIDARG;
    *includes = static_cast<UINT>(writer_.includes.size());
    *excludes = static_cast<UINT>(writer_.excludes.size());
    *components = static_cast<UINT>(writer_.components.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIncludeFile(UINT index, IVssWMFiledesc** out) override {
    return giveObject<Filedesc>(__func__, out, writer_.includes, index);
  }
  HRESULT STDMETHODCALLTYPE GetExcludeFile(UINT index, IVssWMFiledesc** out) override {
    return giveObject<Filedesc>(__func__, out, writer_.excludes, index);
  }
  HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssWMComponent** out) override {
    return giveObject<WMComponent>(__func__, out, writer_.components, index);
  }
  HRESULT STDMETHODCALLTYPE GetRestoreMethod(VSS_RESTOREMETHOD_ENUM* method, BSTR* service, BSTR* procedure,
                                             VSS_WRITERRESTORE_ENUM* writerRestore, boolean* reboot,
                                             UINT* mappings) override {
    logged(__func__);
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
    return giveObject<Filedesc>(__func__, out, writer_.mappings, index);
  }
  HRESULT STDMETHODCALLTYPE GetBackupSchema(DWORD* schema) override {
    return giveValue(__func__, schema, writer_.schema);
  }
  HRESULT STDMETHODCALLTYPE GetDocument(IXMLDOMDocument**) override {
    logged(__func__);
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR* xml) override {
    return giveText(__func__, xml, widen(metadataDocument(writer_)));
  }
  HRESULT STDMETHODCALLTYPE LoadFromXML(BSTR xml) override {
    logged(__func__);
    WriterSpec loaded;
    if (!xml || !parseMetadataDocument(narrow(Text(xml)), &loaded)) return VSS_E_INVALID_XML_DOCUMENT;
    writer_ = std::move(loaded);
    return S_OK;
  }

 private:
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
  explicit Component(Selected c) : Counted("IVssComponent"), c_(std::move(c)) {}
  HRESULT STDMETHODCALLTYPE GetLogicalPath(BSTR* out) override { return giveText(__func__, out, c_.logicalPath); }
  HRESULT STDMETHODCALLTYPE GetComponentType(VSS_COMPONENT_TYPE* out) override {
    return giveValue(__func__, out, c_.type);
  }
  HRESULT STDMETHODCALLTYPE GetComponentName(BSTR* out) override { return giveText(__func__, out, c_.name); }
  HRESULT STDMETHODCALLTYPE GetBackupSucceeded(boolean* out) override {
    return giveValue(__func__, out, c_.succeeded);
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMappingCount(UINT* out) override {
    return giveValue(__func__, out, 0u);
  }
  HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT, IVssWMFiledesc**) override { return E_INVALIDARG; }
  HRESULT STDMETHODCALLTYPE SetBackupMetadata(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackupMetadata(BSTR* out) override { return giveText(__func__, out, OptText()); }
  HRESULT STDMETHODCALLTYPE AddPartialFile(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPartialFileCount(UINT* out) override { return giveValue(__func__, out, 0u); }
  HRESULT STDMETHODCALLTYPE GetPartialFile(UINT, BSTR*, BSTR*, BSTR*, BSTR*) override { return E_INVALIDARG; }
  HRESULT STDMETHODCALLTYPE IsSelectedForRestore(boolean* out) override {
    return giveValue(__func__, out, c_.selectedForRestore);
  }
  HRESULT STDMETHODCALLTYPE GetAdditionalRestores(boolean* out) override {
    return giveValue(__func__, out, c_.additionalRestores);
  }
  HRESULT STDMETHODCALLTYPE GetNewTargetCount(UINT* out) override { return giveValue(__func__, out, 0u); }
  HRESULT STDMETHODCALLTYPE GetNewTarget(UINT, IVssWMFiledesc**) override { return E_INVALIDARG; }
  HRESULT STDMETHODCALLTYPE AddDirectedTarget(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDirectedTargetCount(UINT* out) override { return giveValue(__func__, out, 0u); }
  HRESULT STDMETHODCALLTYPE GetDirectedTarget(UINT, BSTR*, BSTR*, BSTR*, BSTR*, BSTR*, BSTR*) override {
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE SetRestoreMetadata(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRestoreMetadata(BSTR* out) override { return giveText(__func__, out, OptText()); }
  HRESULT STDMETHODCALLTYPE SetRestoreTarget(VSS_RESTORE_TARGET) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRestoreTarget(VSS_RESTORE_TARGET* out) override {
    return giveValue(__func__, out, c_.restoreTarget);
  }
  HRESULT STDMETHODCALLTYPE SetPreRestoreFailureMsg(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPreRestoreFailureMsg(BSTR* out) override {
    return giveText(__func__, out, c_.preRestoreFailure);
  }
  HRESULT STDMETHODCALLTYPE SetPostRestoreFailureMsg(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPostRestoreFailureMsg(BSTR* out) override {
    return giveText(__func__, out, c_.postRestoreFailure);
  }
  HRESULT STDMETHODCALLTYPE SetBackupStamp(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBackupStamp(BSTR* out) override { return giveText(__func__, out, c_.backupStamp); }
  HRESULT STDMETHODCALLTYPE GetPreviousBackupStamp(BSTR* out) override {
    return giveText(__func__, out, c_.previousStamp);
  }
  HRESULT STDMETHODCALLTYPE GetBackupOptions(BSTR* out) override { return giveText(__func__, out, c_.backupOptions); }
  HRESULT STDMETHODCALLTYPE GetRestoreOptions(BSTR* out) override {
    return giveText(__func__, out, c_.restoreOptions);
  }
  HRESULT STDMETHODCALLTYPE GetRestoreSubcomponentCount(UINT* out) override {
    return giveValue(__func__, out, c_.subcomponents.size());
  }
  HRESULT STDMETHODCALLTYPE GetRestoreSubcomponent(UINT index, BSTR* path, BSTR* name, boolean* repair) override {
    logged(__func__, index);
    if (!path || !name || !repair || index >= c_.subcomponents.size()) return E_INVALIDARG;
    *path = makeBstr(c_.subcomponents[index].logicalPath);
    *name = makeBstr(c_.subcomponents[index].name);
    *repair = c_.subcomponents[index].repair;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFileRestoreStatus(VSS_FILE_RESTORE_STATUS* out) override {
    return giveValue(__func__, out, c_.fileRestoreStatus);
  }
  HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyTime(LPCWSTR, LPCWSTR, WINBOOL, FILETIME) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE AddDifferencedFilesByLastModifyLSN(LPCWSTR, LPCWSTR, WINBOOL, BSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDifferencedFilesCount(UINT* out) override { return giveValue(__func__, out, 0u); }
  HRESULT STDMETHODCALLTYPE GetDifferencedFile(UINT, BSTR*, BSTR*, WINBOOL*, BSTR*, FILETIME*) override {
    return E_INVALIDARG;
  }

 private:
  Selected c_;
};

// The writer-components part comes first; the IUnknown through which the object
// is released follows one pointer further on.
class WriterComponents final : public Counted<IVssWriterComponentsExt, IUnknown> {
 public:
  WriterComponents(GUID instance, GUID writer, std::vector<Selected> components)
      : Counted("IVssWriterComponentsExt"), instance_(instance), writer_(writer), components_(std::move(components)) {}
  HRESULT STDMETHODCALLTYPE GetComponentCount(UINT* count) override {
    return giveValue(__func__, count, components_.size());
  }
  HRESULT STDMETHODCALLTYPE GetWriterInfo(VSS_ID* instance, VSS_ID* writer) override {
    logged(__func__);
    if (!instance || !writer) return E_INVALIDARG;
    *instance = instance_;
    *writer = writer_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetComponent(UINT index, IVssComponent** out) override {
    return giveObject<Component>(__func__, out, components_, index);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    logged(__func__);
    return Counted::Release();
  }

 private:
  GUID instance_, writer_;
  std::vector<Selected> components_;
};

// ---- backup components ----------------------------------------------------------------------

struct Snapshot {
  GUID id{};
  Text volume;
  int copy = 0;  // HarddiskVolumeShadowCopyN once created
  LONGLONG created = 0;
};

// An operation that is pending until the first Wait, or the second QueryStatus.
class Async final : public Counted<IVssAsync> {
 public:
  Async(IUnknown* owner, std::mutex* lock, std::string name, std::function<HRESULT()> work,
        std::function<void()> cancelled)
      : Counted("IVssAsync"),
        owner_(owner),
        lock_(lock),
        name_(std::move(name)),
        work_(std::move(work)),
        cancelled_(std::move(cancelled)) {
    owner_->AddRef();
  }
  HRESULT STDMETHODCALLTYPE Cancel() override {
    logged(named(__func__));
    std::lock_guard<std::mutex> guard(*lock_);
    if (status_ == VSS_S_ASYNC_PENDING) {
      status_ = VSS_S_ASYNC_CANCELLED;
      cancelled_();
      return S_OK;
    }
    return status_ == VSS_S_ASYNC_CANCELLED ? VSS_S_ASYNC_CANCELLED : VSS_S_ASYNC_FINISHED;
  }
  HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds) override {
    logged(named(__func__), milliseconds);
    std::lock_guard<std::mutex> guard(*lock_);
    finish();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT* result, INT*) override {
    logged(named(__func__));
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
  // "Method[operation]" in the call log.
  std::string named(const char* method) const { return std::string(method) + "[" + name_ + "]"; }
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

// A null or unknown provider, then a volume whose folder exists.
HRESULT checkVolume(const GUID& provider, const WCHAR* volume) {
  if (!isNullGuid(provider) && !sameGuid(provider, kProviderId)) return VSS_E_PROVIDER_NOT_REGISTERED;
  return volumeExists(volume) ? S_OK : VSS_E_OBJECT_NOT_FOUND;
}

// The session's state; every method logs its call, then works under the session's lock.
class Backup final : public Counted<IVssBackupComponents> {
 public:
  Backup() : Counted("IVssBackupComponents") {}

  HRESULT STDMETHODCALLTYPE GetWriterComponentsCount(UINT* count) override {
    auto guard = enter(__func__);
    return putWhen(componentsReadable(), count, writerGroups().size());
  }
  HRESULT STDMETHODCALLTYPE GetWriterComponents(UINT index, IVssWriterComponentsExt** out) override {
    auto guard = enter(__func__, index);
    if (!out) return E_INVALIDARG;
    if (!componentsReadable()) return VSS_E_BAD_STATE;
    auto groups = writerGroups();
    if (index >= groups.size()) return E_INVALIDARG;
    std::vector<Selected> members;
    for (const auto& s : selected_)
      if (sameGuid(s.instance, groups[index].first) && sameGuid(s.writer, groups[index].second)) members.push_back(s);
    return handOut(new (std::nothrow) WriterComponents(groups[index].first, groups[index].second, members), out);
  }
  HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR xml) override {
    auto guard = enter(__func__, xml);
    if (mode_ != kNew) return VSS_E_BAD_STATE;
    if (xml) return E_NOTIMPL;  // resuming a saved backup is not part of the stand-in
    mode_ = kBackup;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBackupState(boolean select, boolean bootable, VSS_BACKUP_TYPE type,
                                           boolean partial) override {
    auto guard = enter(__func__, select, bootable, type, partial);
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
    auto guard = enter(__func__, std::string(xml ? "<document>" : "null"));
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
    auto guard = enter(__func__, type);
    if (!restoreEditable()) return VSS_E_BAD_STATE;
    if (type < VSS_RTYPE_UNDEFINED || type > VSS_RTYPE_OTHER) return E_INVALIDARG;
    restoreType_ = type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** out) override {
    auto guard = enter(__func__);
    return start(__func__, out, (mode_ == kBackup || mode_ == kRestore) && !gathered_, [this] {
      writers_.clear();
      for (auto& w : fixtureWriters())
        if (writerEnabled(w)) writers_.push_back(std::move(w));
      gathered_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT* count) override {
    auto guard = enter(__func__);
    return putWhen(metadataReadable(), count, writers_.size());
  }
  HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT index, VSS_ID* instance,
                                              IVssExamineWriterMetadata** out) override {
    auto guard = enter(__func__, index);
    if (!instance || !out) return E_INVALIDARG;
    if (!metadataReadable()) return VSS_E_BAD_STATE;
    if (index >= writers_.size()) return E_INVALIDARG;
    HRESULT result = handOut(new (std::nothrow) Metadata(writers_[index]), out);
    if (SUCCEEDED(result)) *instance = writers_[index].instanceId;
    return result;
  }
  HRESULT STDMETHODCALLTYPE FreeWriterMetadata() override {
    auto guard = enter(__func__);
    if (!metadataReadable()) return VSS_E_BAD_STATE;
    metadataFreed_ = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddComponent(VSS_ID instance, VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path,
                                         LPCWSTR name) override {
    auto guard = enter(__func__, instance, writer, type, path, name);
    if (mode_ != kBackup || !metadataReadable() || !selectComponents_ || prepared_ || busy_) return VSS_E_BAD_STATE;
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
    auto guard = enter(__func__);
    return start(__func__, out, mode_ == kBackup && gathered_ && stateSet_ && !prepared_, [this] {
      prepared_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE AbortBackup() override {
    auto guard = enter(__func__);
    if (mode_ != kBackup || busy_) return VSS_E_BAD_STATE;
    deleteCopies();
    mode_ = kAborted;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync** out) override {
    auto guard = enter(__func__);
    return start(__func__, out, (mode_ == kBackup || mode_ == kRestore) && gathered_, [this] {
      statusGathered_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT* count) override {
    auto guard = enter(__func__);
    return putWhen(statusGathered_, count, writers_.size());
  }
  HRESULT STDMETHODCALLTYPE FreeWriterStatus() override {
    auto guard = enter(__func__);
    if (!statusGathered_) return VSS_E_BAD_STATE;
    statusGathered_ = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT index, VSS_ID* instance, VSS_ID* writer, BSTR* name,
                                            VSS_WRITER_STATE* state, HRESULT* failure) override {
    auto guard = enter(__func__, index);
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
    auto guard = enter(__func__, instance, writer, type, path, name, succeeded);
    if (mode_ != kBackup || !snapshotDone_) return VSS_E_BAD_STATE;
    return changeComponent(writer, type, path, name, [&](Selected& s) -> HRESULT {
      if (!sameGuid(s.instance, instance)) return VSS_E_OBJECT_NOT_FOUND;
      s.succeeded = succeeded != 0;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE SetBackupOptions(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                             LPCWSTR options) override {
    auto guard = enter(__func__, writer, type, path, name, options);
    if (mode_ != kBackup || prepared_) return VSS_E_BAD_STATE;
    return changeComponent(writer, type, path, name, [&](Selected& s) { return set(&s.backupOptions, options); });
  }
  HRESULT STDMETHODCALLTYPE SetSelectedForRestore(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                                  boolean selected) override {
    auto guard = enter(__func__, writer, type, path, name, selected);
    if (!restoreEditable()) return VSS_E_BAD_STATE;
    return changeComponent(writer, type, path, name, [&](Selected& s) { return set(&s.selectedForRestore, selected); });
  }
  HRESULT STDMETHODCALLTYPE SetRestoreOptions(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                              LPCWSTR options) override {
    auto guard = enter(__func__, writer, type, path, name, options);
    if (!restoreEditable()) return VSS_E_BAD_STATE;
    return changeComponent(writer, type, path, name, [&](Selected& s) { return set(&s.restoreOptions, options); });
  }
  HRESULT STDMETHODCALLTYPE SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean) override {
    return notImplemented(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) override {
    return notImplemented(__func__);
  }
  HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR* out) override {
    auto guard = enter(__func__);
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
    return putText(out, widen(wrapDocument("BACKUP_COMPONENTS", lines)));
  }
  HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync** out) override {
    auto guard = enter(__func__);
    return start(__func__, out, mode_ == kBackup && snapshotDone_ && !complete_, [this] {
      complete_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE AddAlternativeLocationMapping(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR,
                                                          LPCWSTR, boolean, LPCWSTR) override {
    return notImplemented(__func__);
  }
  HRESULT STDMETHODCALLTYPE AddRestoreSubcomponent(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                                   LPCWSTR subPath, LPCWSTR subName, boolean repair) override {
    auto guard = enter(__func__, writer, type, path, name, subPath, subName, repair);
    if (!restoreEditable()) return VSS_E_BAD_STATE;
    if (!subName) return E_INVALIDARG;
    return changeComponent(writer, type, path, name, [&](Selected& s) {
      s.subcomponents.push_back({optional(subPath), optional(subName), repair != 0});
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE SetFileRestoreStatus(VSS_ID writer, VSS_COMPONENT_TYPE type, LPCWSTR path, LPCWSTR name,
                                                 VSS_FILE_RESTORE_STATUS status) override {
    auto guard = enter(__func__, writer, type, path, name, status);
    if (mode_ != kRestore || !preRestored_ || postRestored_) return VSS_E_BAD_STATE;
    if (status < VSS_RS_UNDEFINED || status > VSS_RS_FAILED) return E_INVALIDARG;
    return changeComponent(writer, type, path, name, [&](Selected& s) -> HRESULT {
      if (!s.selectedForRestore) return VSS_E_BAD_STATE;
      s.fileRestoreStatus = status;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                                         LPCWSTR) override {
    return notImplemented(__func__);
  }
  HRESULT STDMETHODCALLTYPE SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT, LPCWSTR) override {
    return notImplemented(__func__);
  }
  HRESULT STDMETHODCALLTYPE PreRestore(IVssAsync** out) override {
    auto guard = enter(__func__);
    return start(__func__, out, mode_ == kRestore && !preRestored_, [this] {
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
    auto guard = enter(__func__);
    return start(__func__, out, mode_ == kRestore && preRestored_ && !postRestored_, [this] {
      postRestored_ = true;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE SetContext(LONG context) override {
    auto guard = enter(__func__, context);
    if (mode_ != kBackup || setStarted_ || gathered_) return VSS_E_BAD_STATE;
    context_ = context;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID* setId) override {
    auto guard = enter(__func__);
    if (!setId) return E_INVALIDARG;
    if (mode_ != kBackup || !gathered_) return VSS_E_BAD_STATE;
    if (setStarted_) return VSS_E_SNAPSHOT_SET_IN_PROGRESS;
    setStarted_ = true;
    setId_ = newGuid();
    *setId = setId_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ volume, VSS_ID provider, VSS_ID* snapshotId) override {
    auto guard = enter(__func__, volume, provider);
    if (!volume || !snapshotId) return E_INVALIDARG;
    if (mode_ != kBackup || !setStarted_ || snapshotDone_ || busy_) return VSS_E_BAD_STATE;
    if (HRESULT refused = checkVolume(provider, volume)) return refused;
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
    auto guard = enter(__func__);
    return start(__func__, out, mode_ == kBackup && prepared_ && !snapshots_.empty() && !snapshotDone_, [this] {
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
    auto guard = enter(__func__, source, type, force);
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
  HRESULT STDMETHODCALLTYPE ImportSnapshots(IVssAsync**) override { return notImplemented(__func__); }
  HRESULT STDMETHODCALLTYPE BreakSnapshotSet(VSS_ID) override { return notImplemented(__func__); }
  HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID id, VSS_SNAPSHOT_PROP* out) override {
    auto guard = enter(__func__, id);
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
    return notImplemented(__func__);
  }
  HRESULT STDMETHODCALLTYPE IsVolumeSupported(VSS_ID provider, VSS_PWSZ volume, WINBOOL* supported) override {
    logged(__func__, provider, volume);
    if (!volume || !supported) return E_INVALIDARG;
    if (HRESULT refused = checkVolume(provider, volume)) return refused;
    *supported = TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DisableWriterClasses(const VSS_ID* ids, UINT count) override {
    return writerList(__func__, ids, count, &disabledClasses_);
  }
  HRESULT STDMETHODCALLTYPE EnableWriterClasses(const VSS_ID* ids, UINT count) override {
    return writerList(__func__, ids, count, &enabledClasses_);
  }
  HRESULT STDMETHODCALLTYPE DisableWriterInstances(const VSS_ID* ids, UINT count) override {
    return writerList(__func__, ids, count, &disabledInstances_);
  }
  HRESULT STDMETHODCALLTYPE ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*) override {
    return notImplemented(__func__);
  }
  HRESULT STDMETHODCALLTYPE RevertToSnapshot(VSS_ID, WINBOOL) override { return notImplemented(__func__); }
  HRESULT STDMETHODCALLTYPE QueryRevertStatus(VSS_PWSZ, IVssAsync**) override { return notImplemented(__func__); }

 private:
  // Snapshots of a backup end with the backup components object.
  ~Backup() override { deleteCopies(); }

  enum Mode { kNew, kBackup, kRestore, kAborted };

  template <class... Args>
  std::unique_lock<std::mutex> enter(const char* method, const Args&... args) {
    logged(method, args...);
    return std::unique_lock<std::mutex>(lock_);
  }

  HRESULT notImplemented(const char* method) {
    logged(method);
    return E_NOTIMPL;
  }

  template <class T, class V>
  static HRESULT putWhen(bool allowed, T* out, const V& value) {
    if (out && !allowed) return VSS_E_BAD_STATE;
    return put(out, value);
  }

  // An operation of the session, when its state allows it and no other is pending.
  HRESULT start(const char* name, IVssAsync** out, bool allowed, std::function<HRESULT()> work) {
    if (!out) return E_INVALIDARG;
    if (!allowed || busy_) return VSS_E_BAD_STATE;
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
    std::string text;
    for (UINT i = 0; ids && i < count; ++i) text += (i ? ", " : "") + guidText(ids[i]);
    auto guard = enter(method, text);
    if (!ids && count) return E_INVALIDARG;
    if (mode_ != kBackup || gathered_ || busy_) return VSS_E_BAD_STATE;
    list->insert(list->end(), ids, ids + count);
    return S_OK;
  }

  Selected* findSelected(const GUID& writer, int type, const WCHAR* path, const WCHAR* name) {
    for (auto& s : selected_)
      if (s.matches(writer, type, path, name)) return &s;
    return nullptr;
  }
  // The selected component the call names, changed when found.
  template <class Change>
  HRESULT changeComponent(const GUID& writer, int type, const WCHAR* path, const WCHAR* name, Change change) {
    Selected* s = findSelected(writer, type, path, name);
    return s ? change(*s) : VSS_E_OBJECT_NOT_FOUND;
  }
  static HRESULT set(OptText* field, const WCHAR* text) {
    *field = optional(text);
    return S_OK;
  }
  static HRESULT set(bool* field, boolean value) {
    *field = value != 0;
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

  bool metadataReadable() const { return gathered_ && !metadataFreed_; }
  bool componentsReadable() const { return (mode_ == kBackup && prepared_) || mode_ == kRestore; }
  bool restoreEditable() const { return mode_ == kRestore && !preRestored_; }

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
  return handOut(new (std::nothrow) Backup(), backup);
}

HRESULT STDAPICALLTYPE CreateVssExamineWriterMetadataInternal(BSTR xml, IVssExamineWriterMetadata** metadata) {
  logCall(std::string("CreateVssExamineWriterMetadataInternal(") + (xml ? "<document>" : "null") + ")");
  if (!metadata) return E_INVALIDARG;
  WriterSpec writer;
  if (!xml || !parseMetadataDocument(narrow(Text(xml)), &writer)) return VSS_E_INVALID_XML_DOCUMENT;
  return handOut(new (std::nothrow) Metadata(std::move(writer)), metadata);
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
