// The shadow-copy stand-in on its own: interface layout, BSTR blocks, fixture
// documents and the snapshot device paths the stand-in file layer resolves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "platform/testing/temp_folder.h"
#include "platform/vssapi/model.h"
#include "platform/vssapi/standin.h"

namespace {

class StandIn : public ::testing::Test {
 protected:
  void SetUp() override { setenv("OM_VSS_FIXTURE", OM_VSS_FIXTURE_PATH, 1); }
  void TearDown() override {
    EXPECT_EQ(0, OmVssStandInLiveObjects());
    EXPECT_EQ(0, OmVssStandInLiveBstrs());
  }
};

HRESULT finish(IVssAsync* async) {
  HRESULT status = 0;
  EXPECT_EQ(S_OK, async->QueryStatus(&status, nullptr));
  EXPECT_EQ(VSS_S_ASYNC_PENDING, status);
  EXPECT_EQ(S_OK, async->Wait(INFINITE));
  EXPECT_EQ(S_OK, async->QueryStatus(&status, nullptr));
  async->Release();
  return status;
}

std::u16string u(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// A backup session with the fixture's writers gathered; null when it could not be made.
IVssBackupComponents* gathered(bool selectComponents, VSS_BACKUP_TYPE type) {
  IVssBackupComponents* backup = nullptr;
  EXPECT_EQ(S_OK, CreateVssBackupComponentsInternal(&backup));
  if (!backup) return nullptr;
  EXPECT_EQ(S_OK, backup->InitializeForBackup());
  EXPECT_EQ(S_OK, backup->SetBackupState(selectComponents, false, type, false));
  IVssAsync* async = nullptr;
  EXPECT_EQ(S_OK, backup->GatherWriterMetadata(&async));
  if (async) {
    EXPECT_EQ(VSS_S_ASYNC_FINISHED, finish(async));
  }
  return backup;
}

}  // namespace

TEST_F(StandIn, BstrCarriesItsByteLengthBeforeTheText) {
  BSTR text = SysAllocString(u"snap");
  ASSERT_NE(nullptr, text);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
  EXPECT_EQ(8u, prefix);
  EXPECT_EQ(4u, SysStringLen(text));
  EXPECT_EQ(0, text[4]);
  EXPECT_EQ(1, OmVssStandInLiveBstrs());
  SysFreeString(text);
  SysFreeString(nullptr);
}

TEST_F(StandIn, FixtureWritersAndMetadataDocumentRoundTrip) {
  auto writers = vssstandin::fixtureWriters();
  ASSERT_EQ(3u, writers.size());
  EXPECT_EQ(u"SqlServerWriter", std::u16string(writers[1].name.begin(), writers[1].name.end()));
  ASSERT_EQ(2u, writers[1].components.size());
  EXPECT_EQ(1u, writers[1].components[1].dependencies.size());
  EXPECT_EQ(static_cast<HRESULT>(0x800423F4), writers[2].failure);
  EXPECT_FALSE(writers[0].components[0].logicalPath.has_value());

  std::string document = vssstandin::metadataDocument(writers[1]);
  vssstandin::WriterSpec back;
  ASSERT_TRUE(vssstandin::parseMetadataDocument(document, &back));
  EXPECT_TRUE(vssstandin::sameGuid(writers[1].writerId, back.writerId));
  EXPECT_EQ(2u, back.components.size());
  EXPECT_FALSE(vssstandin::parseMetadataDocument("<WRITER_METADATA>\nwriter\tid=x\n</WRITER_METADATA>\n", &back));
  EXPECT_FALSE(vssstandin::parseMetadataDocument("garbage", &back));
}

TEST_F(StandIn, MangledDocumentsAreRefusedNotMisread) {
  auto writers = vssstandin::fixtureWriters();
  ASSERT_FALSE(writers.empty());
  const std::string document = vssstandin::metadataDocument(writers[1]);
  std::mt19937 random(7);
  const char alphabet[] = "\t\n<>&=;{}-0123456789ABCDEFxyz";
  for (int round = 0; round < 3000; ++round) {
    std::string mangled = document;
    int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = random() % (mangled.size() + 1);
      switch (random() % 3) {
        case 0: if (at < mangled.size()) mangled.erase(at, 1 + random() % 8); break;
        case 1: mangled.insert(at, 1, alphabet[random() % (sizeof alphabet - 1)]); break;
        default: if (at < mangled.size()) mangled[at] = alphabet[random() % (sizeof alphabet - 1)];
      }
    }
    vssstandin::WriterSpec parsed;
    if (vssstandin::parseMetadataDocument(mangled, &parsed)) {
      // Whatever is accepted is one whole writer that saves back to a document it accepts again.
      vssstandin::WriterSpec again;
      EXPECT_TRUE(vssstandin::parseMetadataDocument(vssstandin::metadataDocument(parsed), &again));
    }
  }
  IVssExamineWriterMetadata* metadata = reinterpret_cast<IVssExamineWriterMetadata*>(1);
  BSTR garbage = SysAllocString(u"<WRITER_METADATA>\nwriter\n</WRITER_METADATA>\n");
  EXPECT_EQ(static_cast<HRESULT>(0x80042311), CreateVssExamineWriterMetadataInternal(garbage, &metadata));
  EXPECT_EQ(reinterpret_cast<IVssExamineWriterMetadata*>(1), metadata);
  SysFreeString(garbage);
  // Dashes in place of a writer id's digits.
  garbage = SysAllocString(u"<WRITER_METADATA>\nwriter\tid={---------4455-6677-8899-AABBCCDDEEFF}\t"
                           u"instance={0B8C5AD1-7E1B-4D55-8B7E-1F6C2E0D4A11}\n</WRITER_METADATA>\n");
  EXPECT_EQ(static_cast<HRESULT>(0x80042311), CreateVssExamineWriterMetadataInternal(garbage, &metadata));
  SysFreeString(garbage);
}

TEST_F(StandIn, GuidTextRoundTrip) {
  GUID g{0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  EXPECT_EQ("{00112233-4455-6677-8899-AABBCCDDEEFF}", vssstandin::guidText(g));
  GUID back{};
  ASSERT_TRUE(vssstandin::parseGuid(vssstandin::guidText(g), &back));
  EXPECT_TRUE(vssstandin::sameGuid(g, back));
  EXPECT_FALSE(vssstandin::parseGuid("{00112233-4455-6677-8899-AABBCCDDEEF}", &back));
  EXPECT_FALSE(vssstandin::parseGuid("{00112233-4455-6677-8899-AABBCCDDEEFG}", &back));
  EXPECT_FALSE(vssstandin::parseGuid("{-0112233-4455-6677-8899-AABBCCDDEEFF}", &back));
}

TEST_F(StandIn, WriterComponentsReleaseThroughTheirSecondTable) {
  IVssBackupComponents* backup = gathered(true, VSS_BT_FULL);
  ASSERT_NE(nullptr, backup);
  IVssAsync* async = nullptr;
  IVssExamineWriterMetadata* metadata = nullptr;
  VSS_ID instance{};
  ASSERT_EQ(S_OK, backup->GetWriterMetadata(1, &instance, &metadata));
  VSS_ID writer{};
  BSTR name = nullptr;
  VSS_USAGE_TYPE usage;
  VSS_SOURCE_TYPE source;
  ASSERT_EQ(S_OK, metadata->GetIdentity(&instance, &writer, &name, &usage, &source));
  SysFreeString(name);
  ASSERT_EQ(S_OK, backup->AddComponent(instance, writer, VSS_CT_DATABASE, u"SQLHOST\\MSSQLSERVER", u"master"));
  metadata->Release();
  ASSERT_EQ(S_OK, backup->PrepareForBackup(&async));
  EXPECT_EQ(VSS_S_ASYNC_FINISHED, finish(async));
  IVssWriterComponentsExt* components = nullptr;
  ASSERT_EQ(S_OK, backup->GetWriterComponents(0, &components));
  UINT count = 0;
  EXPECT_EQ(S_OK, components->GetComponentCount(&count));
  EXPECT_EQ(1u, count);
  auto* unknown = reinterpret_cast<IUnknown*>(reinterpret_cast<void**>(components) + 1);
  EXPECT_EQ(2u, unknown->AddRef());
  EXPECT_EQ(1u, unknown->Release());
  EXPECT_EQ(0u, unknown->Release());
  EXPECT_EQ(0u, backup->Release());
}

TEST_F(StandIn, SnapshotIsAPointInTimeCopyReadThroughItsDevicePath) {
  om::testing::TempFolder temp("omvss.");
  std::string folder = temp.path();
  std::ofstream(folder + "/data.txt") << "before";
  IVssBackupComponents* backup = gathered(false, VSS_BT_COPY);
  ASSERT_NE(nullptr, backup);
  IVssAsync* async = nullptr;
  VSS_ID set{}, snapshot{};
  ASSERT_EQ(S_OK, backup->StartSnapshotSet(&set));
  std::u16string volume = u("C:" + folder);
  ASSERT_EQ(S_OK, backup->AddToSnapshotSet(&volume[0], GUID{}, &snapshot));
  ASSERT_EQ(S_OK, backup->PrepareForBackup(&async));
  finish(async);
  ASSERT_EQ(S_OK, backup->DoSnapshotSet(&async));
  EXPECT_EQ(VSS_S_ASYNC_FINISHED, finish(async));
  std::ofstream(folder + "/data.txt") << "after!";

  VSS_SNAPSHOT_PROP properties{};
  ASSERT_EQ(S_OK, backup->GetSnapshotProperties(snapshot, &properties));
  std::u16string device = properties.m_pwszSnapshotDeviceObject;
  EXPECT_EQ(0u, device.rfind(u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy", 0));
  VssFreeSnapshotPropertiesInternal(&properties);
  EXPECT_EQ(nullptr, properties.m_pwszSnapshotDeviceObject);

  std::u16string file = device + u"\\data.txt";
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, handle);
  char buffer[16] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ("before", std::string(buffer, got));
  CloseHandle(handle);

  LONG deleted = -1;
  VSS_ID kept{};
  EXPECT_EQ(S_OK, backup->DeleteSnapshots(snapshot, VSS_OBJECT_SNAPSHOT, TRUE, &deleted, &kept));
  EXPECT_EQ(1, deleted);
  EXPECT_EQ(VSS_E_OBJECT_NOT_FOUND, backup->DeleteSnapshots(snapshot, VSS_OBJECT_SNAPSHOT, TRUE, &deleted, &kept));
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(0u, backup->Release());
}

TEST_F(StandIn, BackupOptionsComeBackUnchangedFromTheSavedDocument) {
  IVssBackupComponents* backup = gathered(true, VSS_BT_FULL);
  ASSERT_NE(nullptr, backup);
  VSS_ID writer{}, instance{};
  ASSERT_TRUE(vssstandin::parseGuid("{A65FAA63-5EA8-4EBC-9DBD-A0C4DB26912A}", &writer));
  ASSERT_TRUE(vssstandin::parseGuid("{C4A3E90F-3F54-4DB1-9E3C-3B6A4F2A9C01}", &instance));
  const char16_t* path = u"SQLHOST\\MSSQLSERVER";
  ASSERT_EQ(S_OK, backup->AddComponent(instance, writer, VSS_CT_DATABASE, path, u"master"));
  // Tabs and line ends separate the saved document's fields and lines.
  const std::u16string options = u"copy\tsucceeded=1\ncomponent\r&amp;";
  ASSERT_EQ(S_OK, backup->SetBackupOptions(writer, VSS_CT_DATABASE, path, u"master", options.c_str()));
  BSTR document = nullptr;
  ASSERT_EQ(S_OK, backup->SaveAsXML(&document));
  EXPECT_EQ(0u, backup->Release());

  IVssBackupComponents* restore = nullptr;
  ASSERT_EQ(S_OK, CreateVssBackupComponentsInternal(&restore));
  EXPECT_EQ(S_OK, restore->InitializeForRestore(document));
  SysFreeString(document);
  IVssWriterComponentsExt* components = nullptr;
  IVssComponent* component = nullptr;
  if (restore->GetWriterComponents(0, &components) == S_OK) {
    EXPECT_EQ(S_OK, components->GetComponent(0, &component));
    reinterpret_cast<IUnknown*>(reinterpret_cast<void**>(components) + 1)->Release();
  }
  if (component) {
    BSTR saved = nullptr;
    EXPECT_EQ(S_OK, component->GetBackupOptions(&saved));
    EXPECT_EQ(options, std::u16string(saved ? saved : u"null"));
    SysFreeString(saved);
    boolean succeeded = 1;
    EXPECT_EQ(S_OK, component->GetBackupSucceeded(&succeeded));
    EXPECT_EQ(0, succeeded);
    component->Release();
  }
  EXPECT_EQ(0u, restore->Release());
}
