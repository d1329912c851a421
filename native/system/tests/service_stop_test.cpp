// Stopping a service with its running dependents, through the stand-in's
// service manager and real service processes.
#include <gtest/gtest.h>
#include <jni.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <time.h>

#include "bridge_testing.h"
#include "platform/jni/testing/fake_jni.h"
#include "platform/testing/temp_folder.h"
#include "platform/win32.h"

#include "com_ombrel_agentframework_os_win32_Util.h"

namespace {

std::string helperCommand(const std::string& name, const std::string& log, DWORD stopPendingMs) {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
  path = path.substr(0, path.find_last_of('/')) + "/stop_service_helper";
  return "\"" + om::testing::windowsPath(path) + "\" " + name + " \"C:" + log + "\" " + std::to_string(stopPendingMs);
}

DWORD stateOf(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool waitFor(SC_HANDLE service, DWORD state) {
  for (int i = 0; i < 1000; ++i) {
    if (stateOf(service) == state) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

SC_HANDLE createHelperService(SC_HANDLE manager, const char* name, const char* dependencies, const std::string& log,
                              DWORD stopPendingMs = 180) {
  return CreateServiceA(manager, name, nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                        SERVICE_ERROR_NORMAL, helperCommand(name, log, stopPendingMs).c_str(), nullptr, nullptr,
                        dependencies, nullptr, nullptr);
}

// CPU time the calling thread has used, in milliseconds.
long threadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

TEST(ServiceStop, DependentsStopFirstDeepestFirst) {
  omtest::FakeJni& jni = bridgetest::shared();
  std::string log = std::string(std::getenv("OM_STANDIN_ROOT")) + "/stopped.log";
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  struct Service {
    const char* name;
    const char* dependencies;
    SC_HANDLE handle;
  } services[] = {{"OmBase", "\0", nullptr}, {"OmMiddle", "OmBase\0", nullptr}, {"OmTop", "OmMiddle\0", nullptr},
                  {"OmIdle", "OmBase\0", nullptr}};
  for (auto& service : services) {
    service.handle = createHelperService(manager, service.name, service.dependencies, log);
    ASSERT_NE(service.handle, nullptr) << service.name << " " << GetLastError();
  }
  for (int i = 0; i < 3; ++i) {  // the idle dependent is never started
    ASSERT_TRUE(StartServiceA(services[i].handle, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(waitFor(services[i].handle, SERVICE_RUNNING)) << services[i].name;
  }

  Java_com_ombrel_agentframework_os_win32_Util_StopServiceN(jni.env(), nullptr, jni.string("OmBase"));
  EXPECT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  for (auto& service : services) EXPECT_EQ(stateOf(service.handle), DWORD(SERVICE_STOPPED)) << service.name;
  std::ifstream in(log);
  std::stringstream order;
  order << in.rdbuf();
  EXPECT_EQ(order.str(), "OmTop\nOmMiddle\nOmBase\n");

  // A stopped service: nothing to do.
  Java_com_ombrel_agentframework_os_win32_Util_StopServiceN(jni.env(), nullptr, jni.string("OmBase"));
  EXPECT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  Java_com_ombrel_agentframework_os_win32_Util_StopServiceN(jni.env(), nullptr, jni.string("OmNone"));
  EXPECT_EQ(jni.exceptionText(),
            "java/lang/Exception: The specified service does not exist as an installed service.");
  jni.clearException();
  EXPECT_EQ(jni.openPins(), 0);
  for (auto& service : services) {
    DeleteService(service.handle);
    CloseServiceHandle(service.handle);
  }
  CloseServiceHandle(manager);
}

// A service stopping without a wait hint is polled at ease (once a second), not
// in a busy loop.
TEST(ServiceStop, NoWaitHintIsNoBusyPoll) {
  omtest::FakeJni& jni = bridgetest::shared();
  std::string log = std::string(std::getenv("OM_STANDIN_ROOT")) + "/stopped.log";
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE service = createHelperService(manager, "OmNoHint", "\0", log, 1500);
  ASSERT_NE(service, nullptr) << GetLastError();
  ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(waitFor(service, SERVICE_RUNNING));

  long before = threadCpuMs();
  Java_com_ombrel_agentframework_os_win32_Util_StopServiceN(jni.env(), nullptr, jni.string("OmNoHint"));
  long used = threadCpuMs() - before;
  EXPECT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  EXPECT_EQ(stateOf(service), DWORD(SERVICE_STOPPED));
  EXPECT_LT(used, 150) << "ms of CPU for a stop of 1.5 s";
  DeleteService(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

// A stop that outlasts the bridge's 30-second time-out fails with 1460. The
// stand-in's tick clock runs 100000 times as fast meanwhile: the time-out passes
// at the first look after the service began stopping, while the service takes
// three seconds of stop pending.
TEST(ServiceStop, StopOutlastingTheTimeOutFails) {
  omtest::FakeJni& jni = bridgetest::shared();
  std::string log = std::string(std::getenv("OM_STANDIN_ROOT")) + "/stopped.log";
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE service = createHelperService(manager, "OmSlow", "\0", log, 3000);
  ASSERT_NE(service, nullptr) << GetLastError();
  ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(waitFor(service, SERVICE_RUNNING));

  OmStandinClockRate(100000);
  Java_com_ombrel_agentframework_os_win32_Util_StopServiceN(jni.env(), nullptr, jni.string("OmSlow"));
  OmStandinClockRate(1);
  EXPECT_EQ(jni.exceptionText(), "java/lang/Exception: This operation returned because the timeout period expired.");
  jni.clearException();
  EXPECT_TRUE(waitFor(service, SERVICE_STOPPED));  // the stop itself goes on
  EXPECT_EQ(jni.openPins(), 0);
  DeleteService(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

}  // namespace
