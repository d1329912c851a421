#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32_owners.h"
#include "support/sysqueries.h"
#include "support/unitversions.h"

#include <shlobj.h>
#include <userenv.h>

namespace om {
namespace {

bool tokenUser(std::string& name, std::string& domain) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  std::vector<unsigned char> buffer(1024);
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size))
    return false;
  char n[512], d[512];
  DWORD nn = sizeof n, dn = sizeof d;
  SID_NAME_USE use;
  if (!LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, n, &nn, d, &dn, &use))
    return false;
  name = n;
  domain = d;
  return true;
}

TEST(ProcessStatus, ProgramPathOfThisProcess) {
  char buffer[MAX_PATH] = {};
  DWORD n = CallLoadedPsapiFunction(GetCurrentProcess(), nullptr, buffer, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(moduleFileName(), std::string(buffer, n));
  EXPECT_TRUE(EnsureProcessStatusLibrary());
}

TEST(ProcessStatus, ProgramPathOfAnotherProcess) {
  // cmd.exe waits on a pipe we hold, so it stays alive while we look.
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  ASSERT_TRUE(CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0));
  SetHandleInformation(writeEnd.get(), HANDLE_FLAG_INHERIT, 0);
  char system[MAX_PATH];
  UINT sn = GetSystemDirectoryA(system, MAX_PATH);
  std::string cmd = std::string(system, sn) + "\\cmd.exe";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = readEnd.get();
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::string line = "cmd.exe /q /k";
  ASSERT_TRUE(CreateProcessA(cmd.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                             &pi));
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  readEnd.reset();
  std::string got;
  for (int i = 0; i < 1200 && got.empty(); ++i) {
    got = ProcessImagePath(process.get());
    if (got.empty()) Sleep(50);
  }
  char want[MAX_PATH];
  DWORD wn = MAX_PATH;
  ASSERT_TRUE(QueryFullProcessImageNameA(process.get(), 0, want, &wn));
  EXPECT_EQ(0, lstrcmpiA(want, got.c_str())) << want << " vs " << got;
  writeEnd.reset();
  if (WaitForSingleObject(process.get(), 5000) != WAIT_OBJECT_0) TerminateProcess(process.get(), 1);
}

TEST(ProcessStatus, WithoutTheLibraryNothingIsCopied) {
  processstatus_detail::SetProcessStatusLibraryName("om-no-such-psapi.dll");
  EXPECT_FALSE(EnsureProcessStatusLibrary());
  char buffer[MAX_PATH];
  std::fill(buffer, buffer + MAX_PATH, 'x');
  EXPECT_EQ(0u, CallLoadedPsapiFunction(GetCurrentProcess(), nullptr, buffer, MAX_PATH));
  EXPECT_EQ("", ProcessImagePath(GetCurrentProcess()));
  // A library without the entry point counts the same.
  processstatus_detail::SetProcessStatusLibraryName("kernel32.dll");
  EXPECT_TRUE(EnsureProcessStatusLibrary());
  EXPECT_EQ(0u, CallLoadedPsapiFunction(GetCurrentProcess(), nullptr, buffer, MAX_PATH));
  processstatus_detail::SetProcessStatusLibraryName("PSAPI.dll");
  EXPECT_NE("", ProcessImagePath(GetCurrentProcess()));
}

TEST(UserQueries, ProfileFolderIsTheUsersProfile) {
  UniqueHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
  char want[MAX_PATH];
  DWORD size = MAX_PATH;
  ASSERT_TRUE(GetUserProfileDirectoryA(token.get(), want, &size));
  const std::string got = GetProfileFolder();
  EXPECT_FALSE(got.empty());
  EXPECT_EQ(0, lstrcmpiA(want, got.c_str())) << want << " vs " << got;
  char windows[MAX_PATH];
  UINT wn = GetWindowsDirectoryA(windows, MAX_PATH);
  EXPECT_EQ(0, lstrcmpiA(std::string(windows, wn).c_str(), GetSpecialFolder(CSIDL_WINDOWS).c_str()));
  EXPECT_EQ("", GetSpecialFolder(0x00EE));  // no such folder
}

TEST(UserQueries, ComputerName) {
  char want[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof want;
  ASSERT_TRUE(GetComputerNameExA(ComputerNameNetBIOS, want, &size));
  EXPECT_EQ(std::string(want, size), GetLocalComputerName());
}

TEST(UserQueries, UserNameAndDomainOfTheAccount) {
  std::string name, domain;
  ASSERT_TRUE(tokenUser(name, domain));
  EXPECT_EQ(0, lstrcmpiA(name.c_str(), GetLocalUserName().c_str())) << name << " vs " << GetLocalUserName();
  EXPECT_EQ(domain, GetCurrentUserDomain());
  EXPECT_EQ(domain, GetAccountDomain(name));
  // An account the lookup cannot resolve gives an empty domain.
  EXPECT_EQ("", GetAccountDomain("om-no-such-account-7f3a"));
  EXPECT_EQ("", GetAccountDomain(""));
}

TEST(UnitVersions, SysInfoUnitRecordsItsVersionOnce) {
  InitializeSysInfoUnit();
  InitializeSysInfoUnit();
  const TUnitVersioningModule* m = GetVersionRegistry()->FindModule(ThisModuleInstance());
  ASSERT_NE(nullptr, m);
  EXPECT_GE(m->Count(), 1u);
  FinalizeSysInfoUnit();
  EXPECT_EQ(nullptr, GetVersionRegistry()->FindModule(ThisModuleInstance()));
  FinalizeSysInfoUnit();
  EXPECT_NE("", GetLocalComputerName());
}

}  // namespace
}  // namespace om
