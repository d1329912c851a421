// Unit tests of the service host's pieces: properties, runtime discovery, log
// lines, error texts, the event-log source and (on the stand-in) the service
// manager's error codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "service/java_invoker.h"
#include "service/properties.h"
#include "service/service_controller.h"
#include "service/service_log.h"
#include "service/setup.h"
#include "platform/testing/temp_folder.h"
#include "platform/win32_owners.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// A fresh folder (Windows spelling, no trailing "\"); on the stand-in it is also
// OM_STANDIN_ROOT, so registry, services and event log start empty.
class ServiceUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    setenv("OM_STANDIN_ROOT", hostRoot.c_str(), 1);
#endif
  }

  om::testing::TempFolder temp{"om-service-unit-"};
  const std::string hostRoot = temp.path();
  const std::string folder = om::testing::windowsPath(hostRoot);
};

TEST_F(ServiceUnitTest, PropertiesFollowTheFileRules) {
  temp.write("service.properties",
            "# comment=no\nmemory=1024\n main-class=x\nno equals sign\n\nextra-params=-Dfoo=bar\n"
            "working-dir=C:\\A\r\nworking-dir=C:\\B\nempty=\n=novalue\nlast=line");
  cpputil::Properties properties;
  ASSERT_EQ(properties.load((folder + "\\service.properties").c_str()), 0);
  EXPECT_EQ(properties.find("# comment"), nullptr);
  ASSERT_NE(properties.find("memory"), nullptr);
  EXPECT_EQ(properties.find("memory")->value, "1024");
  EXPECT_EQ(properties.find("main-class"), nullptr);
  ASSERT_NE(properties.find(" main-class"), nullptr);
  EXPECT_EQ(properties.find("extra-params")->value, "-Dfoo=bar");
  EXPECT_EQ(properties.find("working-dir")->value, "C:\\A");
  EXPECT_EQ(properties.find("empty")->value, "");
  EXPECT_EQ(properties.find("")->value, "novalue");
  EXPECT_EQ(properties.find("last")->value, "line");
  EXPECT_EQ(properties.find("Memory"), nullptr);
  EXPECT_EQ(properties.all().size(), 8u);
  EXPECT_EQ(properties.load((folder + "\\missing.properties").c_str()), -1);
}

// Random and damaged files: whatever the bytes, every line (up to "\n", a CR
// before it dropped) that is no comment and holds "=" is one entry, split at
// its first "=", in file order; nothing else is read and nothing is lost.
TEST_F(ServiceUnitTest, PropertiesSurviveDamagedFiles) {
  const std::vector<std::string> pieces = {
      "memory=1024",  "#x=y",      "=",       "==",     "\n",       "\r\n",         "\r",
      "\r\r\n",       std::string(1, '\0'),  "\\",      "\\\n",     "a\\=b",        "\\u0041=1",
      "\xC3\xA9=\xE6\x97\xA5", "\xEF\xBB\xBF", "\xFF\xFE", "\x1A", " key = value ", "\t",
      std::string(70000, 'k') + "=" + std::string(70000, 'v'), std::string(5000, '=')};
  std::mt19937 random(20261209);
  auto pick = [&random](size_t n) { return static_cast<size_t>(random() % n); };
  const std::string path = folder + "\\fuzz.properties";
  for (int round = 0; round < 300; ++round) {
    std::string content;
    if (round % 3 == 0) content = "\xEF\xBB\xBF";  // Notepad's UTF-8 mark
    for (size_t n = pick(24); n > 0; --n) content += pieces[pick(pieces.size())];
    // Mutations: bytes flipped, inserted and cut; the end may come mid-line.
    for (size_t n = pick(4); n > 0 && !content.empty(); --n) content[pick(content.size())] ^= 1 << pick(8);
    if (round % 2) content.insert(pick(content.size() + 1), 1, static_cast<char>(random()));
    if (round % 5 == 0 && !content.empty()) content.resize(pick(content.size()));
    temp.write("fuzz.properties", content);

    std::vector<std::pair<std::string, std::string>> expected;
    for (size_t start = 0; start < content.size();) {
      size_t end = std::min(content.find('\n', start), content.size());
      std::string line = content.substr(start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t eq = line.find('=');
      if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
      expected.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    cpputil::Properties properties;
    ASSERT_EQ(properties.load(path.c_str()), 0);
    ASSERT_EQ(properties.all().size(), expected.size()) << "round " << round;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(properties.all()[i].key, expected[i].first) << "round " << round << " entry " << i;
      EXPECT_EQ(properties.all()[i].value, expected[i].second) << "round " << round << " entry " << i;
    }
    // The first entry of a key wins (a key holding a NUL is not found by its C text).
    std::set<std::string> seen;
    for (const auto& [key, value] : expected) {
      if (key.find('\0') == std::string::npos && seen.insert(key).second) {
        EXPECT_EQ(properties.find(key.c_str())->value, value) << "round " << round;
      }
    }
  }
}

TEST(ServiceSetup, MemoryReadsAsADecimalInteger) {
  EXPECT_EQ(ombackup::readMegabytes("1024"), 1024);
  EXPECT_EQ(ombackup::readMegabytes(" +70m"), 70);
  EXPECT_EQ(ombackup::readMegabytes("abc"), 0);
  EXPECT_EQ(ombackup::readMegabytes("-5"), -5);
  // Too many digits for an int: the nearest end, not a wrapped value.
  EXPECT_EQ(ombackup::readMegabytes("99999999999"), INT_MAX);
  EXPECT_EQ(ombackup::readMegabytes("-99999999999"), INT_MIN);
}

TEST_F(ServiceUnitTest, FindJreChoosesTheFolderSortingLast) {
  temp.makeFolder("omjre");
  temp.makeFolder("omjre/jre1.6");
  temp.makeFolder("omjre/jre1.8");
  temp.makeFolder("omjre/jreX");
  temp.write("omjre/jreZ", "a file, not a runtime");
  EXPECT_EQ(ombackup::findJre(folder), folder + "\\omjre\\jreX");
  EXPECT_EQ(ombackup::findJre(folder + "\\"), folder + "\\omjre\\jreX");
  auto names = ombackup::listSubdirectories(folder + "\\omjre", "jre*");
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "jre1.6");
  EXPECT_EQ(names[2], "jreX");
}

TEST_F(ServiceUnitTest, FindJreReportsWhatIsMissing) {
  try {
    ombackup::findJre(folder + "\\nothing");
    FAIL();
  } catch (const ombackup::SetupError& e) {
    EXPECT_EQ(std::string(e.what()), "Backup client installation directory not found: " + folder + "\\nothing");
  }
  try {
    ombackup::findJre(folder);
    FAIL();
  } catch (const ombackup::SetupError& e) {
    EXPECT_EQ(std::string(e.what()), "Java container directory not found: " + folder + "\\omjre");
  }
  temp.makeFolder("omjre");
  try {
    ombackup::findJre(folder);
    FAIL();
  } catch (const ombackup::SetupError& e) {
    EXPECT_EQ(std::string(e.what()), "Java container directory don't seem to have any JRE directories.");
  }
  EXPECT_THROW(ombackup::listSubdirectories("", "x"), ombackup::SetupError);
  EXPECT_THROW(ombackup::listSubdirectories("x", ""), ombackup::SetupError);
  EXPECT_FALSE(ombackup::directoryExists(""));
}

TEST_F(ServiceUnitTest, InvokerTakesTheMainClassInInternalForm) {
  JavaInvoker invoker("com.ombrel.agentservice.Start");
  EXPECT_EQ(invoker.getMainClassName(), "com/ombrel/agentservice/Start");
  EXPECT_EQ(invoker.getMaxHeapMegabytes(), 256);
  invoker.setErrorLog(nullptr);
  EXPECT_FALSE(invoker.launch(0, nullptr));  // "Could not find JRE home"
#ifdef _WIN32
  EXPECT_EQ(javaExtDirsOption("C:\\App\\omjre\\jre8"),
            "-Djava.ext.dirs=C:\\App\\omjre\\jre8\\lib;C:\\App\\omjre\\jre8\\lib\\ext");
#else
  EXPECT_EQ(javaExtDirsOption("C:\\App\\omjre\\jre8"), "-Djava.ext.dirs=/App/omjre/jre8/lib:/App/omjre/jre8/lib/ext");
#endif
}

#ifndef _WIN32
TEST_F(ServiceUnitTest, FormatLastErrorAddsTheCodeInHex) {
  SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(ombackup::formatLastError(), "The specified service does not exist as an installed service. (0x424)");
  SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(ombackup::formatLastError(70), "");  // 62 characters of text + 14 do not fit
  SetLastError(0x7fffffff);
  EXPECT_EQ(ombackup::formatLastError(), "");
}
#endif

TEST_F(ServiceUnitTest, LogLinesCarryDateTimeAndLevel) {
  std::string program = om::moduleFileName();
  ASSERT_FALSE(program.empty());
  std::string logPath = program + ".log";
  DeleteFileA(logPath.c_str());
  ombackup::setLogLevel(ombackup::LOG_MESSAGE);
  ombackup::openLog();
  ombackup::writeLog("an error", ombackup::LOG_ERROR);
  ombackup::writeLog("a debug line", ombackup::LOG_DEBUG);
  ombackup::setLogLevel(ombackup::LOG_TRACE);
  ombackup::writeLog("a trace line", ombackup::LOG_TRACE);
  ombackup::writeLog("no label", -1);
  ombackup::setLogLevel(ombackup::LOG_MESSAGE);
  // Lines written at once from several threads (service, control handler,
  // Java) are all kept, each whole.
  constexpr int kThreads = 8, kLines = 200;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) ombackup::writeLogf(ombackup::LOG_ERROR, "thread %d line %d", t, i);
    });
  for (std::thread& writer : writers) writer.join();

  om::UniqueFile file(CreateFileA(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
  std::istringstream lines(content);
  std::vector<std::string> texts;
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ASSERT_GE(line.size(), 18u) << line;
    EXPECT_EQ(line[2], '/');
    EXPECT_EQ(line[5], '/');
    EXPECT_EQ(line[8], ' ');
    EXPECT_EQ(line[11], ':');
    EXPECT_EQ(line[14], ':');
    EXPECT_EQ(line[17], ' ');
    texts.push_back(line.substr(18));
  }
  ASSERT_EQ(texts.size(), 4u + kThreads * kLines);
  EXPECT_EQ(texts[0], "Message: Backup service wrapper started");
  EXPECT_EQ(texts[1], "Error: an error");
  EXPECT_EQ(texts[2], "Trace: a trace line");
  EXPECT_EQ(texts[3], "no label");
  std::set<std::string> threaded(texts.begin() + 4, texts.end());
  EXPECT_EQ(threaded.size(), static_cast<size_t>(kThreads * kLines));
  EXPECT_EQ(threaded.count("Error: thread 7 line 199"), 1u);
}

#ifndef _WIN32
TEST_F(ServiceUnitTest, EventSourceIsRegisteredAndReportsCarryTheUserSid) {
  ombackup::ServiceRegistration registration;
  registration.serviceName = "Unit Source";
  registration.reportServiceError("something failed");
  EXPECT_EQ(registration.lastReportError, 0u);

  om::UniqueHkey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Unit Source",
                          0, KEY_READ, key.put()),
            ERROR_SUCCESS);
  char file[520];
  DWORD size = sizeof file;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key.get(), "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(file), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  std::string program = ombackup::programFolder();
  EXPECT_EQ(std::string(file), program + "Tolvenmsg.dll");
  DWORD types = 0;
  size = sizeof types;
  ASSERT_EQ(RegQueryValueExA(key.get(), "TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(types, 31u);

  std::string log = temp.read("eventlog/Application.log");
  EXPECT_EQ(log, "Unit Source\t1\t0\t0x20000001\tS-1-22-1-" + std::to_string(getuid()) + "\tsomething failed\n");
}

TEST_F(ServiceUnitTest, ServiceManagerErrorCodes) {
  om::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  EXPECT_EQ(OpenServiceA(manager.get(), "Nope", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  om::UniqueServiceHandle service(CreateServiceA(manager.get(), "Unit Svc", "Unit Display", SERVICE_ALL_ACCESS,
                                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                                 "\"C:\\bin\\true\" -start", nullptr, nullptr, "", nullptr, nullptr));
  ASSERT_TRUE(service);
  EXPECT_EQ(CreateServiceA(manager.get(), "unit svc", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x", nullptr, nullptr, "", nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
  SERVICE_STATUS status;
  ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

  // /bin/true never connects a dispatcher: the start times out as the process ends.
  EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));

  om::UniqueServiceHandle second(OpenServiceA(manager.get(), "UNIT SVC", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(second);
  EXPECT_TRUE(DeleteService(service.get()));
  EXPECT_FALSE(DeleteService(second.get()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  // Gone once the last handle is closed.
  second.reset();
  service.reset();
  EXPECT_EQ(OpenServiceA(manager.get(), "Unit Svc", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>("Unit Svc"), [](DWORD, LPSTR*) {}}, {nullptr, nullptr}};
  EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
  EXPECT_EQ(RegisterServiceCtrlHandlerA("Unit Svc", [](DWORD) {}), nullptr);
}

TEST_F(ServiceUnitTest, TokensCarryTheUserSid) {
  HANDLE token = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
  std::unique_ptr<BYTE[]> sid = ombackup::currentUserSid();
  ASSERT_NE(sid, nullptr);
  EXPECT_TRUE(IsValidSid(sid.get()));
  EXPECT_EQ(GetLengthSid(sid.get()), 16u);
  LPSTR text = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(sid.get(), &text));
  om::UniqueLocal owner(text);
  EXPECT_EQ(std::string(text), "S-1-22-1-" + std::to_string(getuid()));
}
#endif

}  // namespace
