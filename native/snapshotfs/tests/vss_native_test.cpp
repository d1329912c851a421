// The Volume Shadow Copy natives of omnative-win32-x64 driven without a Java
// runtime, through the in-process JNI environment of the tests: on Linux against the
// shared library, under Wine against the DLL, which must bind our vssapi.dll
// (WINEDLLOVERRIDES=vssapi=n) rather than Wine's own.
#define OM_WIN32_VSS
#include <gtest/gtest.h>
#include <jni.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "com_ombrel_vss_win32_VssApi.h"
#include "com_ombrel_vss_win32_VssAsync.h"
#include "com_ombrel_vss_win32_VssBackupComponents.h"
#include "com_ombrel_vss_win32_VssExamineWriterMetadata.h"
#include "com_ombrel_vss_win32_VssExamineWriterMetadataComponent.h"
#include "com_ombrel_vss_win32_VssExamineWriterMetadataDependency.h"
#include "com_ombrel_vss_win32_VssExamineWriterMetadataFileDescriptor.h"
#include "com_ombrel_vss_win32_VssSnapshotProperties.h"
#include "com_ombrel_vss_win32_VssWriterComponentExt.h"
#include "com_ombrel_vss_win32_VssWriterComponentsExt.h"
#include "platform/jni/testing/fake_jni.h"
#include "platform/testing/temp_folder.h"
#include "platform/win32.h"
#include "platform/win32_owners.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <fstream>
#endif

namespace {

// ---- arrays and strings of the in-process JNI environment ---------------------------------

omtest::FakeJni& jni() {
  static omtest::FakeJni* instance = new omtest::FakeJni;
  return *instance;
}
JNIEnv* environment() { return jni().env(); }

template <class T>
struct Array {
  explicit Array(size_t n, T fill = T()) : handle(jni().array<T>(n, fill)) {}
  T operator[](size_t i) const { return jni().elementsOf<T>(handle)[i]; }
  template <class J>
  J get() {
    return reinterpret_cast<J>(handle);
  }
  jarray handle;
};
using Longs = Array<jlong>;
using Ints = Array<jint>;
using Bytes = Array<jbyte>;
using Booleans = Array<jboolean>;

// A writer and its instance as Java passes GUIDs (byte[16], little-endian fields).
const unsigned char kSqlWriter[16] = {0x63, 0xAA, 0x5F, 0xA6, 0xA8, 0x5E, 0xBC, 0x4E,
                                      0x9D, 0xBD, 0xA0, 0xC4, 0xDB, 0x26, 0x91, 0x2A};
const unsigned char kSqlInstance[16] = {0x0F, 0xE9, 0xA3, 0xC4, 0x54, 0x3F, 0xB1, 0x4D,
                                        0x9E, 0x3C, 0x3B, 0x6A, 0x4F, 0x2A, 0x9C, 0x01};

Bytes guidArray(const unsigned char (&guid)[16]) {
  Bytes array(16);
  environment()->SetByteArrayRegion(array.get<jbyteArray>(), 0, 16, reinterpret_cast<const jbyte*>(guid));
  return array;
}

struct Str {
  explicit Str(const std::string& text) : handle(jni().string(text)) {}
  jstring get() { return handle; }
  jstring handle;
};

// ---- the library and the stand-in's hooks -----------------------------------------------

struct Library {
  Library() {
#ifdef _WIN32
    module = LoadLibraryA(OMNATIVE_LIBRARY);
#else
    module = dlopen(OMNATIVE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
#endif
  }
  void* find(const char* name) const {
#ifdef _WIN32
    if (std::strncmp(name, "OmVss", 5) == 0)
      return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("vssapi.dll"), name));
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
    return dlsym(module, name);
#endif
  }
  void* module;
};

Library& library() {
  static Library* l = new Library;
  return *l;
}

template <class F>
F* native(const std::string& name) {
  void* f = library().find(name.c_str());
  EXPECT_NE(nullptr, f) << name;
  return reinterpret_cast<F*>(f);
}

// One native of com.ombrel.vss.win32.<cls>, found by name and called with the
// fake environment through the type of its generated declaration.
template <class F, class... Args>
auto call(const std::string& cls, const std::string& method, Args... args) {
  using R = std::invoke_result_t<F*, JNIEnv*, jclass, Args...>;
  auto* f = native<F>("Java_com_ombrel_vss_win32_" + cls + "_" + method);
  if constexpr (std::is_void_v<R>) {
    if (f) f(environment(), nullptr, args...);
    EXPECT_FALSE(jni().exceptionPending()) << cls << "." << method << " left an exception pending";
    jni().clearException();
  } else {
    if (!f) return R();
    R result = f(environment(), nullptr, args...);
    EXPECT_FALSE(jni().exceptionPending()) << cls << "." << method << " left an exception pending";
    jni().clearException();
    return result;
  }
}
#define VSS(Class, Method, ...) call<decltype(Java_com_ombrel_vss_win32_##Class##_##Method)>(#Class, #Method, __VA_ARGS__)
#define BACKUP(method, ...) VSS(VssBackupComponents, method, __VA_ARGS__)

long liveObjects() { return native<long()>("OmVssStandInLiveObjects")(); }
std::string callLog() {
  auto* log = native<int(char*, int)>("OmVssStandInCallLog");
  std::string text(static_cast<size_t>(log(nullptr, 0)), '\0');
  log(&text[0], static_cast<int>(text.size()));
  text.pop_back();
  return text;
}

std::string takeBstr(jlong address) {
  BSTR text = reinterpret_cast<BSTR>(static_cast<intptr_t>(address));
  if (!text) return "null";
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(text) - 4, 4);
  std::string out;
  for (uint32_t i = 0; i < bytes / 2; ++i) out += static_cast<char>(text[i]);
  SysFreeString(text);
  return out;
}

jlong finish(jint result, Longs& async) {
  EXPECT_EQ(0, result);
  Ints status(1);
  EXPECT_EQ(0, VSS(VssAsync, Wait, async[0], jint(-1)));
  EXPECT_EQ(0, VSS(VssAsync, QueryStatus, async[0], status.get<jintArray>()));
  EXPECT_EQ(0x4230A, status[0]);
  return VSS(VssAsync, Release, async[0]);
}

std::string fixture() {
#ifdef _WIN32
  return std::string("Z:") + OM_VSS_FIXTURE_PATH;
#else
  return OM_VSS_FIXTURE_PATH;
#endif
}

class VssNatives : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifdef _WIN32
    SetEnvironmentVariableA("OM_VSS_FIXTURE", fixture().c_str());
#else
    setenv("OM_VSS_FIXTURE", fixture().c_str(), 1);
#endif
  }
  void SetUp() override { ASSERT_NE(nullptr, library().module); }
  void TearDown() override { EXPECT_EQ(0, liveObjects()); }
};

}  // namespace

TEST_F(VssNatives, BindsTheStandInVssapi) {
#ifdef _WIN32
  HMODULE vssapi = GetModuleHandleA("vssapi.dll");
  ASSERT_NE(nullptr, vssapi) << "omnative-win32-x64.dll did not load vssapi.dll";
  std::string loaded = om::moduleFileName(vssapi);
  for (char& c : loaded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(std::string::npos, loaded.find("tests\\vssapi.dll")) << loaded;
#endif
  EXPECT_NE(nullptr, library().find("OmVssStandInLiveObjects"));
  EXPECT_NE(nullptr, library().find("Java_com_ombrel_vss_win32_VssBackupComponents_DoSnapshotSet"));
}

TEST_F(VssNatives, SnapshotBackupSequence) {
  om::testing::TempFolder folder("omvss-harness-");
  std::string volume = om::testing::windowsPath(folder.path());
  std::string original = volume + "\\data.txt";
  auto write = [&](const char* text) {
    std::u16string name(original.begin(), original.end());
    om::UniqueFile f(CreateFileW(reinterpret_cast<LPCWSTR>(name.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                 nullptr));
    ASSERT_TRUE(f);
    DWORD written = 0;
    WriteFile(f.get(), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  };
  write("before");

  Longs components(1);
  ASSERT_EQ(0, VSS(VssApi, CreateVssBackupComponents0, components.get<jlongArray>()));
  jlong backup = components[0];
  ASSERT_NE(0, backup);
  EXPECT_EQ(0, BACKUP(InitializeForBackup, backup));
  EXPECT_EQ(0, BACKUP(SetContext, backup, jint(0)));
  EXPECT_EQ(0, BACKUP(SetBackupState, backup, jboolean(1), jboolean(0), jint(1), jboolean(0)));
  Longs async(1);
  EXPECT_EQ(0, finish(BACKUP(GatherWriterMetadata, backup, async.get<jlongArray>()), async));

  Ints count(1);
  ASSERT_EQ(0, BACKUP(GetWriterMetadataCount, backup, count.get<jintArray>()));
  ASSERT_EQ(3, count[0]);
  std::vector<std::string> names;
  for (jint i = 0; i < count[0]; ++i) {
    Bytes instance(16), writer(16);
    Longs metadata(1), name(1);
    Ints usage(1), source(1);
    ASSERT_EQ(0, BACKUP(GetWriterMetadata, backup, i, instance.get<jbyteArray>(), metadata.get<jlongArray>()));
    ASSERT_EQ(0, VSS(VssExamineWriterMetadata, GetIdentity, metadata[0], instance.get<jbyteArray>(),
                      writer.get<jbyteArray>(), name.get<jlongArray>(), usage.get<jintArray>(),
                      source.get<jintArray>()));
    names.push_back(takeBstr(name[0]));
    Ints includes(1), excludes(1), parts(1);
    ASSERT_EQ(0, VSS(VssExamineWriterMetadata, GetFileCounts, metadata[0], includes.get<jintArray>(),
                      excludes.get<jintArray>(), parts.get<jintArray>()));
    for (jint c = 0; c < parts[0]; ++c) {
      Longs component(1), info(1);
      ASSERT_EQ(0, VSS(VssExamineWriterMetadata, GetComponent, metadata[0], c, component.get<jlongArray>()));
      ASSERT_EQ(0, VSS(VssExamineWriterMetadataComponent, GetComponentInfo, component[0],
                        info.get<jlongArray>()));
      Ints type(1), iconSize(1), flags(1), files(1), databases(1), logs(1), dependencies(1);
      Longs path(1), cname(1), caption(1), icon(1);
      Booleans b1(1), b2(1), b3(1), b4(1);
      ASSERT_EQ(0, VSS(VssExamineWriterMetadataComponent, LoadComponentInfo, info[0], type.get<jintArray>(),
                        path.get<jlongArray>(), cname.get<jlongArray>(), caption.get<jlongArray>(),
                        icon.get<jlongArray>(), iconSize.get<jintArray>(), b1.get<jbooleanArray>(),
                        b2.get<jbooleanArray>(), b3.get<jbooleanArray>(), b4.get<jbooleanArray>(),
                        flags.get<jintArray>(), files.get<jintArray>(), databases.get<jintArray>(),
                        logs.get<jintArray>(), dependencies.get<jintArray>()));
      EXPECT_NE(0, cname[0]);
      EXPECT_EQ(0, VSS(VssExamineWriterMetadataComponent, FreeComponentInfo, component[0], info[0]));
      for (jint f = 0; f < files[0]; ++f) {
        Longs file(1), spec(1);
        ASSERT_EQ(0, VSS(VssExamineWriterMetadataComponent, GetFile, component[0], f, file.get<jlongArray>()));
        ASSERT_EQ(0, VSS(VssExamineWriterMetadataFileDescriptor, GetFileSpec, file[0], spec.get<jlongArray>()));
        EXPECT_NE("null", takeBstr(spec[0]));
        EXPECT_EQ(0, VSS(VssAsync, Release, file[0]));
      }
      EXPECT_EQ(0, VSS(VssAsync, Release, component[0]));
    }
    EXPECT_EQ(0, VSS(VssBackupComponents, Release, metadata[0]));
  }
  EXPECT_EQ((std::vector<std::string>{"System Writer", "SqlServerWriter", "BITS Writer"}), names);

  EXPECT_EQ(0, finish(BACKUP(GatherWriterStatus, backup, async.get<jlongArray>()), async));
  {
    Bytes writer(16), instance(16);
    Longs name(1);
    Ints state(1), failure(1);
    ASSERT_EQ(0, BACKUP(GetWriterStatus, backup, jint(2), writer.get<jbyteArray>(), instance.get<jbyteArray>(),
                        name.get<jlongArray>(), state.get<jintArray>(), failure.get<jintArray>()));
    EXPECT_EQ("BITS Writer", takeBstr(name[0]));
    EXPECT_EQ(7, state[0]);
    EXPECT_EQ(static_cast<jint>(0x800423F4), failure[0]);
    // A failing call hands back zeros, not what the callee left in its out-variables.
    Longs junk(1, 0x5A5A5A5A);
    EXPECT_EQ(static_cast<jint>(0x80070057), BACKUP(GetWriterStatus, backup, jint(9), writer.get<jbyteArray>(),
                                                    instance.get<jbyteArray>(), junk.get<jlongArray>(),
                                                    state.get<jintArray>(), failure.get<jintArray>()));
    EXPECT_EQ(0, junk[0]);
    // A wrong out-array is refused before the call, with no exception left pending.
    Longs two(2);
    EXPECT_EQ(87, BACKUP(GetWriterStatus, backup, jint(0), writer.get<jbyteArray>(), instance.get<jbyteArray>(),
                         two.get<jlongArray>(), state.get<jintArray>(), failure.get<jintArray>()));
  }
  EXPECT_EQ(0, BACKUP(FreeWriterStatus, backup));

  // Writer W, instance I: the interface receives I first.
  Bytes sqlWriter = guidArray(kSqlWriter), sqlInstance = guidArray(kSqlInstance);
  Str path("SQLHOST\\MSSQLSERVER"), sales("sales");
  EXPECT_EQ(0, BACKUP(AddComponent, backup, sqlWriter.get<jbyteArray>(), sqlInstance.get<jbyteArray>(), jint(1),
                      path.get(), sales.get()));
  EXPECT_NE(std::string::npos,
            callLog().find("AddComponent({C4A3E90F-3F54-4DB1-9E3C-3B6A4F2A9C01}, {A65FAA63-5EA8-4EBC-9DBD-A0C4DB26912A}"));

  Bytes set(16), snapshot(16);
  EXPECT_EQ(0, BACKUP(StartSnapshotSet, backup, set.get<jbyteArray>()));
  Str volumeName(volume);
  ASSERT_EQ(0, BACKUP(AddToSnapshotSet, backup, volumeName.get(), snapshot.get<jbyteArray>()));
  EXPECT_EQ(0, finish(BACKUP(PrepareForBackup, backup, async.get<jlongArray>()), async));
  EXPECT_EQ(0, finish(BACKUP(DoSnapshotSet, backup, async.get<jlongArray>()), async));
  write("after, and longer");

  Longs properties(1);
  ASSERT_EQ(0, BACKUP(GetSnapshotProperties, backup, snapshot.get<jbyteArray>(), properties.get<jlongArray>()));
  jint length = VSS(VssSnapshotProperties, GetSnapshotDeviceObjectLength, properties[0]);
  Array<jchar> device(static_cast<size_t>(length));
  VSS(VssSnapshotProperties, GetSnapshotDeviceObject, properties[0], device.get<jcharArray>());
  std::string devicePath;
  for (jint i = 0; i < length; ++i) devicePath += static_cast<char>(device[i]);
  EXPECT_EQ(0u, devicePath.rfind("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy", 0)) << devicePath;
  EXPECT_EQ(12, VSS(VssSnapshotProperties, GetStatus, properties[0]));
  VSS(VssSnapshotProperties, VssFreeSnapshotProperties, properties[0]);
#ifndef _WIN32
  // The stand-in file layer reads the snapshot through its device path.
  std::u16string copy(devicePath.begin(), devicePath.end());
  copy += u"\\data.txt";
  om::UniqueFile f(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(f);
  char buffer[32] = {};
  DWORD got = 0;
  ReadFile(f.get(), buffer, sizeof buffer, &got, nullptr);
  f.reset();
  EXPECT_EQ("before", std::string(buffer, got));
#endif

  Longs writerComponents(1);
  ASSERT_EQ(0, BACKUP(GetWriterComponents, backup, jint(0), writerComponents.get<jlongArray>()));
  Ints inWriter(1);
  EXPECT_EQ(0, VSS(VssWriterComponentsExt, GetComponentCount, writerComponents[0], inWriter.get<jintArray>()));
  EXPECT_EQ(1, inWriter[0]);
  EXPECT_EQ(0, VSS(VssWriterComponentsExt, Release, writerComponents[0]));

  EXPECT_EQ(0, BACKUP(SetBackupSucceeded, backup, sqlWriter.get<jbyteArray>(), sqlInstance.get<jbyteArray>(),
                      jint(1), path.get(), sales.get(), jboolean(1)));
  EXPECT_EQ(0, finish(BACKUP(BackupComplete, backup, async.get<jlongArray>()), async));
  Longs document(1);
  EXPECT_EQ(0, BACKUP(SaveAsXML, backup, document.get<jlongArray>()));
  EXPECT_NE(std::string::npos, takeBstr(document[0]).find("succeeded=1"));
  EXPECT_EQ(0, BACKUP(FreeWriterMetadata, backup));
  EXPECT_EQ(0, VSS(VssBackupComponents, Release, backup));
  EXPECT_EQ(0, VSS(VssBackupComponents, Release, jlong(0)));
}

TEST_F(VssNatives, RestoreSequence) {
  Bytes sqlWriter = guidArray(kSqlWriter), sqlInstance = guidArray(kSqlInstance);
  Str path("SQLHOST\\MSSQLSERVER"), master("master"), options("norecovery");
  Longs components(1), async(1), document(1);

  ASSERT_EQ(0, VSS(VssApi, CreateVssBackupComponents0, components.get<jlongArray>()));
  jlong backup = components[0];
  EXPECT_EQ(0, BACKUP(InitializeForBackup, backup));
  EXPECT_EQ(0, BACKUP(SetBackupState, backup, jboolean(1), jboolean(0), jint(1), jboolean(0)));
  EXPECT_EQ(0, finish(BACKUP(GatherWriterMetadata, backup, async.get<jlongArray>()), async));
  EXPECT_EQ(0, BACKUP(AddComponent, backup, sqlWriter.get<jbyteArray>(), sqlInstance.get<jbyteArray>(), jint(1),
                      path.get(), master.get()));
  ASSERT_EQ(0, BACKUP(SaveAsXML, backup, document.get<jlongArray>()));
  EXPECT_EQ(0, VSS(VssBackupComponents, Release, backup));

  ASSERT_EQ(0, VSS(VssApi, CreateVssBackupComponents0, components.get<jlongArray>()));
  jlong restore = components[0];
  EXPECT_EQ(0, BACKUP(InitializeForRestore, restore, document[0]));
  takeBstr(document[0]);
  EXPECT_EQ(0, finish(BACKUP(GatherWriterMetadata, restore, async.get<jlongArray>()), async));
  EXPECT_EQ(0, BACKUP(SetRestoreState, restore, jint(1)));
  EXPECT_EQ(0, BACKUP(SetSelectedForRestore, restore, sqlWriter.get<jbyteArray>(), jint(1), path.get(), master.get(),
                      jboolean(1)));
  EXPECT_EQ(0, BACKUP(SetRestoreOptions, restore, sqlWriter.get<jbyteArray>(), jint(1), path.get(), master.get(),
                      options.get()));
  EXPECT_EQ(0, finish(BACKUP(PreRestore, restore, async.get<jlongArray>()), async));
  EXPECT_EQ(0, BACKUP(SetFileRestoreStatus, restore, sqlWriter.get<jbyteArray>(), jint(1), path.get(), master.get(),
                      jint(2)));
  EXPECT_EQ(0, finish(BACKUP(PostRestore, restore, async.get<jlongArray>()), async));

  Longs writer(1), component(1), text(1);
  ASSERT_EQ(0, BACKUP(GetWriterComponents, restore, jint(0), writer.get<jlongArray>()));
  ASSERT_EQ(0, VSS(VssWriterComponentsExt, GetComponent, writer[0], jint(0), component.get<jlongArray>()));
  EXPECT_EQ(0, VSS(VssWriterComponentExt, GetRestoreOptions, component[0], text.get<jlongArray>()));
  EXPECT_EQ("norecovery", takeBstr(text[0]));
  Ints status(1);
  EXPECT_EQ(0, VSS(VssWriterComponentExt, GetFileRestoreStatus, component[0], status.get<jintArray>()));
  EXPECT_EQ(2, status[0]);
  Booleans selected(1);
  EXPECT_EQ(0, VSS(VssWriterComponentExt, IsSelectedForRestore, component[0], selected.get<jbooleanArray>()));
  EXPECT_EQ(1, selected[0]);
  EXPECT_EQ(0, VSS(VssAsync, Release, component[0]));
  EXPECT_EQ(0, VSS(VssWriterComponentsExt, Release, writer[0]));
  EXPECT_EQ(0, VSS(VssBackupComponents, Release, restore));

  std::string log = callLog();
  size_t at = log.find("IVssBackupComponents::InitializeForRestore");
  ASSERT_NE(std::string::npos, at);
  size_t order[] = {log.find("::PreRestore", at), log.find("::SetFileRestoreStatus", at),
                    log.find("::PostRestore", at)};
  EXPECT_LT(order[0], order[1]);
  EXPECT_LT(order[1], order[2]);
}
