// The bundle folder found from the executable's path, and ResourceDir formed from it.
#include <climits>
#include <cstring>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "program.h"
#include "resource_dir.h"

namespace {

struct BundleCase {
  const char *exe;
  int status;
  const char *bundle;
};

TEST(BundlePath, FolderAboveContentsOrTheExecutablesOwnFolder) {
  const BundleCase cases[] = {
      {"/opt/Mundoscope.app/Contents/Linux/mundoscope", 0, "/opt/Mundoscope.app"},
      {"/home/u/a b/M.app/Contents/MacOS/mundoscope", 0, "/home/u/a b/M.app"},
      {"/Contents/Linux/mundoscope", 0, ""},           // the bundle is the root folder
      {"/usr/bin/mundoscope", 0, "/usr/bin"},          // no bundle: own folder
      {"/mundoscope", 0, ""},
      {"/Linux/mundoscope", 0, "/Linux"},
      {"/x/Contents/mundoscope", 0, "/x/Contents"},    // executable's folder is Contents itself
      {"/x/MyContents/Linux/m", 0, "/x/MyContents/Linux"},
      {"/x/contents/Linux/m", 0, "/x/contents/Linux"},
      {"/x/Contents2/Linux/m", 0, "/x/Contents2/Linux"},
      {"/a/Contents/b/Contents/Linux/m", 0, "/a/Contents/b"},
      {"relative/Contents/Linux/m", 1, ""},
      {"", 1, ""},
  };
  for (const BundleCase &c : cases) {
    SCOPED_TRACE(c.exe);
    char out[64] = "garbage";
    EXPECT_EQ(c.status, bundle_path_for_executable(c.exe, out, sizeof out));
    EXPECT_STREQ(c.bundle, out);
  }
}

TEST(BundlePath, ResultThatDoesNotFitIsRefusedWithoutOverflow) {
  const char *exe = "/abcdefgh/Contents/Linux/m";  // bundle "/abcdefgh": 9 characters
  char out[16];
  std::memset(out, 'z', sizeof out);
  EXPECT_EQ(0, bundle_path_for_executable(exe, out, 10));  // 9 + NUL fits exactly
  EXPECT_STREQ("/abcdefgh", out);
  std::memset(out, 'z', sizeof out);
  EXPECT_EQ(1, bundle_path_for_executable(exe, out, 9));
  EXPECT_EQ('\0', out[0]);
  EXPECT_EQ('z', out[9]);  // nothing written past the given size
  EXPECT_EQ(1, bundle_path_for_executable(exe, out, 0));
  EXPECT_EQ('z', out[1]);
}

TEST(LocateResources, NamesContentsResourcesBesideThisExecutable) {
  // This test binary does not lie in a bundle, so its own folder is taken as the bundle.
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  const std::string path(exe);
  const std::string expected = path.substr(0, path.rfind('/')) + "/Contents/Resources/";
  std::strcpy(ResourceDir, "stale");
  locate_resources();
  EXPECT_EQ(expected, std::string(ResourceDir));
}

}  // namespace
