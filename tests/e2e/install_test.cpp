// The install target into a fresh prefix: the files a desktop looks for, the link in
// bin/ that resolves to the bundle, and the installed tools working together: the
// installed mundoscope-prepare fills the installed bundle and the viewer, started through
// the link, finds its map there.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "program_runner.h"
#include "x11util.h"

namespace {

using runner::read_all;

bool is_file(const std::string &p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TEST(Install, PutsTheBundleToolsAndDesktopEntryWhereADesktopFindsThem) {
  const char *build = std::getenv("MUNDOSCOPE_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  const std::string root = fixture::make_temp_dir("install");
  ASSERT_FALSE(root.empty());
  const std::string prefix = root + "/prefix";
  ASSERT_EQ(runner::run({CMAKE_COMMAND, "--install", build, "--prefix", prefix}, root + "/install.txt",
                     root + "/install-err.txt"),
            0)
      << read_all(root + "/install-err.txt");

  const std::string app = prefix + "/lib/mundoscope/Mundoscope.app";
  const std::string exe = app + "/Contents/Linux/mundoscope";
  EXPECT_TRUE(is_file(exe));
  EXPECT_TRUE(is_file(prefix + "/bin/mundoscope-prepare"));
  EXPECT_TRUE(is_file(prefix + "/share/applications/mundoscope.desktop"));
  EXPECT_TRUE(is_file(prefix + "/share/icons/hicolor/scalable/apps/mundoscope.svg"));
  EXPECT_TRUE(is_file(prefix + "/share/icons/hicolor/128x128/apps/mundoscope.png"));
  struct stat st;
  ASSERT_EQ(lstat((prefix + "/bin/mundoscope").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  char resolved[PATH_MAX], exe_real[PATH_MAX];
  ASSERT_NE(realpath((prefix + "/bin/mundoscope").c_str(), resolved), nullptr);
  ASSERT_NE(realpath(exe.c_str(), exe_real), nullptr);
  EXPECT_STREQ(resolved, exe_real);

  const std::string desktop = read_all(prefix + "/share/applications/mundoscope.desktop");
  EXPECT_NE(desktop.find("\nExec=mundoscope\n"), std::string::npos);
  EXPECT_NE(desktop.find("\nIcon=mundoscope\n"), std::string::npos);
  // desktop-file-utils is among the test packages: a missing validator is a failure too.
  const std::string cmd = "desktop-file-validate '" + prefix + "/share/applications/mundoscope.desktop'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);

  // The installed tool fills the installed bundle from a small map...
  const std::string source = root + "/world.jpg";
  ASSERT_TRUE(fixture::write_jpeg(source, 360, 180, fixture::pattern_rows(360)));
  ASSERT_EQ(runner::run({prefix + "/bin/mundoscope-prepare", "--quiet", source, app},
                     root + "/prepare.txt", root + "/prepare-err.txt"),
            0)
      << read_all(root + "/prepare-err.txt");

  // ...and the viewer, started through the link, finds it there.
  Display *d = x11::open_display();
  ASSERT_NE(d, nullptr) << "no X display";
  XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
  runner::Program viewer;
  ASSERT_TRUE(viewer.start({prefix + "/bin/mundoscope"}, root + "/stdout.txt", root + "/stderr.txt"));
  Window main;
  EXPECT_TRUE(runner::wait_window(d, "Mundoscope v1.0 - Use mouse 'click and drag' to pan", 60, &main))
      << read_all(root + "/stderr.txt");
  char app_real[PATH_MAX];
  ASSERT_NE(realpath(app.c_str(), app_real), nullptr);
  EXPECT_EQ(read_all(root + "/stdout.txt"),
            std::string(app_real) + "/Contents/Resources/VisibleEarth.dat");
  EXPECT_TRUE(x11::request_close(d, main));
  EXPECT_EQ(viewer.wait_exit(30), 0) << read_all(root + "/stderr.txt");
  EXPECT_TRUE(is_file(app + "/Contents/Resources/viewparam.dat"));
  XCloseDisplay(d);
  fixture::remove_tree(root);
}

}  // namespace
