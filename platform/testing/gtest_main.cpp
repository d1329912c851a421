// main() of the GoogleTest executables. On the stand-in every test process gets
// a fresh, empty OM_STANDIN_ROOT (unless the caller chose one) that is removed
// afterwards; on Windows system error dialogs are switched off so a failing test
// cannot hang on a message box under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <filesystem>
#include <stdlib.h>
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
#ifdef _WIN32
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  return RUN_ALL_TESTS();
#else
  std::string created;
  if (!std::getenv("OM_STANDIN_ROOT")) {
    std::string pattern = (std::filesystem::temp_directory_path() / "om-standin.XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 2;
    created = pattern;
    setenv("OM_STANDIN_ROOT", created.c_str(), 1);
  }
  int rc = RUN_ALL_TESTS();
  if (!created.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(created, ignored);
  }
  return rc;
#endif
}
