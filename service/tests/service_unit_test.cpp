// Unit tests of the service host's pieces: properties, runtime discovery, log
// lines, error texts, the event-log source and (on the stand-in) the service
// manager's error codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "service/java_invoker.h"
#include "service/properties.h"
#include "service/service_controller.h"
#include "service/service_log.h"
#include "service/setup.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// A fresh folder (Windows spelling, no trailing "\"); on the stand-in also a fresh
// OM_STANDIN_ROOT so registry, services and event log start empty.
class ServiceUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    char root[] = "/tmp/om-service-unit.XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    hostRoot = root;
    setenv("OM_STANDIN_ROOT", root, 1);
    folder = "C:" + hostRoot;
    for (char& c : folder)
      if (c == '/') c = '\\';
#else
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    // A folder this test creates itself: Wine reuses process ids, so a name
    // alone could meet the leftovers of an earlier run.
    do {
      folder = std::string(temp) + "om-service-unit-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(counter++);
    } while (!CreateDirectoryA(folder.c_str(), nullptr));
#endif
  }
  void TearDown() override {
#ifndef _WIN32
    std::string command = "rm -rf '" + hostRoot + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
#else
    removeTree(folder);
#endif
  }
#ifdef _WIN32
  static void removeTree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string child = path + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(child);
        else DeleteFileA(child.c_str());
      } while (FindNextFileA(search, &entry));
      FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
  }
#endif
  void makeDir(const std::string& relative) { CreateDirectoryA((folder + "\\" + relative).c_str(), nullptr); }
  void writeFile(const std::string& relative, const std::string& content) {
    HANDLE file = CreateFileA((folder + "\\" + relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
  }
  std::string folder;
  std::string hostRoot;
#ifdef _WIN32
  static inline int counter = 0;
#endif
};

TEST_F(ServiceUnitTest, PropertiesFollowTheFileRules) {
  writeFile("service.properties",
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

TEST_F(ServiceUnitTest, FindJreChoosesTheFolderSortingLast) {
  makeDir("omjre");
  makeDir("omjre\\jre1.6");
  makeDir("omjre\\jre1.8");
  makeDir("omjre\\jreX");
  writeFile("omjre\\jreZ", "a file, not a runtime");
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
  makeDir("omjre");
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
  char buffer[256];
  SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  ombackup::formatLastError(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "The specified service does not exist as an installed service. (0x424)");
  SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  ombackup::formatLastError(buffer, 70);  // 62 characters of text + 14 do not fit
  EXPECT_STREQ(buffer, "");
  SetLastError(0x7fffffff);
  ombackup::formatLastError(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "");
}
#endif

TEST_F(ServiceUnitTest, LogLinesCarryDateTimeAndLevel) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::string logPath = std::string(path) + ".log";
  DeleteFileA(logPath.c_str());
  ombackup::setLogLevel(ombackup::LOG_MESSAGE);
  ombackup::openLog();
  ombackup::writeLog("an error", ombackup::LOG_ERROR);
  ombackup::writeLog("a debug line", ombackup::LOG_DEBUG);
  ombackup::setLogLevel(ombackup::LOG_TRACE);
  ombackup::writeLog("a trace line", ombackup::LOG_TRACE);
  ombackup::writeLog("no label", -1);
  ombackup::setLogLevel(ombackup::LOG_MESSAGE);
  HANDLE file = CreateFileA(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[4096];
  DWORD read = 0;
  ReadFile(file, buffer, sizeof buffer, &read, nullptr);
  CloseHandle(file);
  std::istringstream lines(std::string(buffer, read));
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
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "Message: Backup service wrapper started");
  EXPECT_EQ(texts[1], "Error: an error");
  EXPECT_EQ(texts[2], "Trace: a trace line");
  EXPECT_EQ(texts[3], "no label");
}

#ifndef _WIN32
std::string readHostFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(ServiceUnitTest, EventSourceIsRegisteredAndReportsCarryTheUserSid) {
  ombackup::ServiceRegistration registration;
  registration.serviceName = "Unit Source";
  registration.reportServiceError("something failed");
  EXPECT_EQ(registration.lastReportError, 0u);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Unit Source",
                          0, KEY_READ, &key),
            ERROR_SUCCESS);
  char file[520];
  DWORD size = sizeof file;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(file), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  std::string program = ombackup::programFolder();
  EXPECT_EQ(std::string(file), program + "Tolvenmsg.dll");
  DWORD types = 0;
  size = sizeof types;
  ASSERT_EQ(RegQueryValueExA(key, "TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(types, 31u);
  RegCloseKey(key);

  std::string log = readHostFile(hostRoot + "/eventlog/Application.log");
  EXPECT_EQ(log, "Unit Source\t1\t0\t0x20000001\tS-1-22-1-" + std::to_string(getuid()) + "\tsomething failed\n");
}

TEST_F(ServiceUnitTest, ServiceManagerErrorCodes) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(OpenServiceA(manager, "Nope", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  SC_HANDLE service = CreateServiceA(manager, "Unit Svc", "Unit Display", SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     "\"C:\\bin\\true\" -start", nullptr, nullptr, "", nullptr, nullptr);
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(CreateServiceA(manager, "unit svc", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x", nullptr, nullptr, "", nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
  SERVICE_STATUS status;
  ASSERT_TRUE(QueryServiceStatus(service, &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

  // /bin/true never connects a dispatcher: the start times out as the process ends.
  EXPECT_FALSE(StartServiceA(service, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));

  SC_HANDLE second = OpenServiceA(manager, "UNIT SVC", SERVICE_ALL_ACCESS);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(DeleteService(service));
  EXPECT_FALSE(DeleteService(second));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  CloseServiceHandle(second);
  CloseServiceHandle(service);
  EXPECT_EQ(OpenServiceA(manager, "Unit Svc", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  CloseServiceHandle(manager);

  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>("Unit Svc"), [](DWORD, LPSTR*) {}}, {nullptr, nullptr}};
  EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
  EXPECT_EQ(RegisterServiceCtrlHandlerA("Unit Svc", [](DWORD) {}), nullptr);
}

TEST_F(ServiceUnitTest, TokensCarryTheUserSid) {
  HANDLE token = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
  std::unique_ptr<BYTE[]> sid(ombackup::currentUserSid());
  ASSERT_NE(sid, nullptr);
  EXPECT_TRUE(IsValidSid(sid.get()));
  EXPECT_EQ(GetLengthSid(sid.get()), 16u);
  LPSTR text = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(sid.get(), &text));
  EXPECT_EQ(std::string(text), "S-1-22-1-" + std::to_string(getuid()));
  LocalFree(text);
}
#endif

}  // namespace
