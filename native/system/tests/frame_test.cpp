// The frame's routines that need no Java VM: the long-path prefix.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "bridge.h"

namespace {

using Wide = std::basic_string<WCHAR>;

Wide wide(const std::string& ascii) { return Wide(ascii.begin(), ascii.end()); }

std::string prefixed(const std::string& ascii, bool& allocated) {
  Wide path = wide(ascii);
  WCHAR* result = rasbridge::addLongPathPrefix(&path[0], path.size(), allocated);
  std::string text;
  for (const WCHAR* p = result; *p; ++p) text += static_cast<char>(*p);
  if (allocated) std::free(result);
  return text;
}

TEST(LongPathPrefix, PrefixesDrivePathsAndRewritesUncPaths) {
  bool allocated = false;
  EXPECT_EQ(prefixed("C:\\dir\\file", allocated), "\\\\?\\C:\\dir\\file");
  EXPECT_TRUE(allocated);
  EXPECT_EQ(prefixed("\\\\srv\\share\\x", allocated), "\\\\?\\UNC\\srv\\share\\x");
  EXPECT_TRUE(allocated);
  EXPECT_EQ(prefixed("\\\\?\\C:\\already", allocated), "\\\\?\\C:\\already");
  EXPECT_FALSE(allocated);
}

TEST(LongPathPrefix, LongPathsKeepEveryCharacter) {
  std::string path = "C:\\" + std::string(300, 'a');
  bool allocated = false;
  std::string result = prefixed(path, allocated);
  EXPECT_EQ(result.size(), path.size() + 4);
  EXPECT_EQ(result.substr(4), path);
  std::string unc = "\\\\srv\\share\\" + std::string(300, 'b');
  result = prefixed(unc, allocated);
  EXPECT_EQ(result, "\\\\?\\UNC" + unc.substr(1));
}

}  // namespace
