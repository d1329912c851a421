// The frame's routines that need no Java VM: the long-path prefix.
#include <gtest/gtest.h>

#include <string>

#include "bridge.h"

namespace {

using Wide = std::basic_string<WCHAR>;

Wide wide(const std::string& ascii) { return Wide(ascii.begin(), ascii.end()); }

std::string prefixed(const std::string& ascii, bool& changed) {
  Wide path = wide(ascii);
  changed = rasbridge::addLongPathPrefix(path);
  return std::string(path.begin(), path.end());
}

TEST(LongPathPrefix, PrefixesDrivePathsAndRewritesUncPaths) {
  bool changed = false;
  EXPECT_EQ(prefixed("C:\\dir\\file", changed), "\\\\?\\C:\\dir\\file");
  EXPECT_TRUE(changed);
  EXPECT_EQ(prefixed("\\\\srv\\share\\x", changed), "\\\\?\\UNC\\srv\\share\\x");
  EXPECT_TRUE(changed);
  EXPECT_EQ(prefixed("\\\\?\\C:\\already", changed), "\\\\?\\C:\\already");
  EXPECT_FALSE(changed);
}

TEST(LongPathPrefix, LongPathsKeepEveryCharacter) {
  std::string path = "C:\\" + std::string(300, 'a');
  bool changed = false;
  std::string result = prefixed(path, changed);
  EXPECT_EQ(result.size(), path.size() + 4);
  EXPECT_EQ(result.substr(4), path);
  std::string unc = "\\\\srv\\share\\" + std::string(300, 'b');
  result = prefixed(unc, changed);
  EXPECT_EQ(result, "\\\\?\\UNC" + unc.substr(1));
}

}  // namespace
