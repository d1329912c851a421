// TOmServiceControl under Wine's real service manager, against the test
// service built beside this program.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include "platform/win32.h"
#include "platform/testing/temp_folder.h"
#include "tray/routines.h"
#include "tray/service_control.h"
#include "tray/tray_platform.h"

using namespace om;
using namespace om::testing;

namespace {

std::string TestServiceExe() { return ExtractFilePath(ProgramFileName()) + "om_tray_test_service.exe"; }

// Installs a service for one test and removes it afterwards.
class TTestService {
public:
  TTestService(const std::string& tag, const std::string& commandLine) {
    // Wine reuses process ids, and a service marked for deletion lingers until
    // its process ends: every name is new.
    static std::mt19937 rng(std::random_device{}() ^ GetTickCount());
    Name = "OmTrayTest" + tag + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(rng() % 1000000);
    UniqueServiceHandle m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    EXPECT_TRUE(m);
    UniqueServiceHandle s(CreateServiceA(m.get(), Name.c_str(), Name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                         commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(s) << "CreateService " << GetLastError();
  }
  ~TTestService() {
    UniqueServiceHandle m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle s(OpenServiceA(m.get(), Name.c_str(), SERVICE_ALL_ACCESS));
    if (s) {
      SERVICE_STATUS st;
      ControlService(s.get(), SERVICE_CONTROL_STOP, &st);
      for (int i = 0; i < 100 && QueryServiceStatus(s.get(), &st) && st.dwCurrentState != SERVICE_STOPPED; ++i)
        Sleep(100);
      DeleteService(s.get());
    }
  }
  DWORD State() const {
    UniqueServiceHandle m(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle s(OpenServiceA(m.get(), Name.c_str(), SERVICE_QUERY_STATUS));
    SERVICE_STATUS st{};
    QueryServiceStatus(s.get(), &st);
    return st.dwCurrentState;
  }
  std::string Name;
};

std::string Quoted(const std::string& exe, const std::string& args) { return "\"" + exe + "\" " + args; }

// The exception f raises (a test failure, and a stand-in, when it raises none).
template <class E, class F>
std::shared_ptr<E> Raised(F&& f, E fallback) {
  try {
    f();
  } catch (const E& e) {
    return std::make_shared<E>(e);
  }
  ADD_FAILURE() << "nothing raised";
  return std::make_shared<E>(fallback);
}

}  // namespace

TEST(ServiceControl, ServiceThatIsNotInstalled) {
  TOmServiceControl sc;
  auto e = Raised([&] { sc.OpenBackupService("OmTrayNoSuchService", 0); }, EOmServiceNotExistError("none", 0));
  EXPECT_EQ(e->ErrorCode(), 1060u);
  EXPECT_EQ(e->Message(), "The backup service does not exist\r\nFirst install the backup service and then try again. [1060: " +
                             SysErrorMessage(1060) + "]");
  EXPECT_THROW(sc.StartBackupService("OmTrayNoSuchService"), EOmServiceNotExistError);
  EXPECT_THROW(sc.StopBackupService("OmTrayNoSuchService"), EOmServiceNotExistError);
  TStringList list;
  sc.FindServicesByImage("nosuchprogram.exe", list);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ServiceControl, FindServicesByImageQuotedAndBlankCut) {
  TempFolder folder;
  folder.makeFolder("dir with blank");
  std::string copy = folder.file("dir with blank\\om_tray_test_service.exe");
  ASSERT_TRUE(CopyFileA(TestServiceExe().c_str(), copy.c_str(), FALSE));
  TTestService quoted("Quoted", Quoted(TestServiceExe(), "run -x"));
  TTestService unquoted("Blank", copy + " run -x");
  TStringList list;
  TOmServiceControl sc;
  sc.FindServicesByImage("OM_TRAY_TEST_SERVICE.EXE", list);
  EXPECT_GE(list.IndexOf(quoted.Name + "=" + TestServiceExe()), 0) << list.Text();
  EXPECT_GE(list.IndexOf(unquoted.Name + "=" + copy), 0) << list.Text();
  UniqueServiceHandle h = sc.OpenBackupService(unquoted.Name, 0);
  EXPECT_EQ(sc.QueryServiceProgram(h.get()), copy);
}

TEST(ServiceControl, StartAndStop) {
  TTestService svc("Run", Quoted(TestServiceExe(), "run"));
  TOmServiceControl sc;
  EXPECT_EQ(sc.PendingWaitMinimumMs, 30000u);
  sc.StartBackupService(svc.Name);
  EXPECT_EQ(svc.State(), static_cast<DWORD>(SERVICE_RUNNING));
  // A start request the manager refuses raises the system's error.
  auto running = Raised([&] { sc.StartBackupService(svc.Name); }, EOSError("none", 0));
  EXPECT_EQ(running->ErrorCode(), static_cast<uint32_t>(ERROR_SERVICE_ALREADY_RUNNING));
  sc.StopBackupService(svc.Name);
  EXPECT_EQ(svc.State(), static_cast<DWORD>(SERVICE_STOPPED));
  auto stopped = Raised([&] { sc.StopBackupService(svc.Name); }, EOSError("none", 0));
  EXPECT_EQ(stopped->ErrorCode(), static_cast<uint32_t>(ERROR_SERVICE_NOT_ACTIVE));
  sc.StartBackupService(svc.Name);
  sc.StopBackupService(svc.Name);
}

TEST(ServiceControl, AgentExitCodeDuringStart) {
  TTestService svc("Exit15", Quoted(TestServiceExe(), "exit15"));
  TOmServiceControl sc;
  auto e = Raised([&] { sc.StartBackupService(svc.Name); }, EOmServiceStartError("none", 0));
  EXPECT_EQ(e->Message(), "Error starting backup service [15: No write access to log folder. Please check permissions.]");
}

TEST(ServiceControl, SystemExitCodeDuringStartGetsTheSystemText) {
  TTestService five("Exit5", Quoted(TestServiceExe(), "exit5"));
  TTestService zero("Exit0", Quoted(TestServiceExe(), "exit0"));
  TOmServiceControl sc;
  auto e = Raised([&] { sc.StartBackupService(five.Name); }, EOmServiceStartError("none", 0));
  EXPECT_EQ(e->Message(), "Error starting backup service [5: " + SysErrorMessage(5) + "]");
  EXPECT_EQ(e->Message().find("Could not bind"), std::string::npos);
  auto z = Raised([&] { sc.StartBackupService(zero.Name); }, EOmServiceStartError("none", 0));
  EXPECT_EQ(z->ErrorCode(), static_cast<uint32_t>(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_EQ(z->Message().find("[0: "), std::string::npos);
}

TEST(ServiceControl, PendingStatesAreWaitedForWithABound) {
  TTestService hang("Hang", Quoted(TestServiceExe(), "hang"));
  TTestService stopHang("StopHang", Quoted(TestServiceExe(), "stophang"));
  TOmServiceControl sc;
  sc.PendingWaitMinimumMs = 2000;
  auto t0 = std::chrono::steady_clock::now();
  auto e = Raised([&] { sc.StartBackupService(hang.Name); }, EOmServiceStartError("none", 0));
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(s, 1.9);
  EXPECT_LT(s, 12.0);
  EXPECT_EQ(e->ErrorCode(), static_cast<uint32_t>(ERROR_SERVICE_REQUEST_TIMEOUT));
  EXPECT_EQ(e->Message(), "Error starting backup service [1053: " + SysErrorMessage(1053) + "]");

  sc.StartBackupService(stopHang.Name);
  auto f = Raised([&] { sc.StopBackupService(stopHang.Name); }, EOmServiceStopError("none", 0));
  EXPECT_EQ(f->ErrorCode(), static_cast<uint32_t>(ERROR_SERVICE_REQUEST_TIMEOUT));
  EXPECT_EQ(f->Message(), "Error stoping backup service [1053: " + SysErrorMessage(1053) + "]");
}

TEST(ServiceControl, ExceptionTexts) {
  EXPECT_EQ(EOmServiceControlError("Cannot open service", 5).Message(),
            "Cannot open service [5: " + SysErrorMessage(5) + "]");
  EXPECT_EQ(EOmServiceControlError("x", 17, true).Message(),
            "x [17: This Fileserver will not start up without a special decrypt certificate.]");
  EXPECT_EQ(EOmServiceControlError("x", 4, true).Message(), "x [4: Incorrect SSL passsword.]");
  EXPECT_EQ(EOmServiceControlError("x", 7, true).Message(), "x [7: " + SysErrorMessage(7) + "]");
  SetLastError(1060);
  EOmServiceControlError last("y");
  EXPECT_EQ(last.ErrorCode(), 1060u);
  for (uint32_t code : {1u, 2u, 3u, 4u, 5u, 6u, 13u, 14u, 15u, 16u, 17u}) EXPECT_FALSE(AgentExitCodeText(code).empty());
  for (uint32_t code : {0u, 7u, 12u, 18u}) EXPECT_TRUE(AgentExitCodeText(code).empty());
}
