// viewparam.dat against the real windows: what a load does to the view, the zoom
// buttons and the window geometry; the exact bytes a save writes; the round trip; and
// the rows the start-up prefetch brings into the row store.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <gtest/gtest.h>

#include "fixtures.h"
#include "image_source.h"
#include "irgb_view.h"
#include "program.h"
#include "shell_windows.h"
#include "view_params.h"

namespace {

using shell_test::MAP_H;
using shell_test::MAP_W;

std::string params_path() { return shell_test::resource_dir() + "/viewparam.dat"; }

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct Geometry {
  int x, y, w, h;
};
bool operator==(const Geometry &a, const Geometry &b) {
  return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}
std::ostream &operator<<(std::ostream &os, const Geometry &g) {
  return os << g.x << "," << g.y << " " << g.w << "x" << g.h;
}
Geometry geometry_of(const Fl_Widget *w) { return {w->x(), w->y(), w->w(), w->h()}; }

// The state reset() leaves, which a rejected group must not change.
constexpr Geometry kMainBuilt = {0, 0, 629, 574};
constexpr Geometry kDialogBuilt = {0, 0, 216, 75};
enum { BEFORE_X = 1234, BEFORE_Y = 567, BEFORE_LEVEL = 2 };

struct LoadCase {
  const char *name;
  const char *content;  // null: no file
  bool narrow_image;    // the 150 x 100 map as primary image
  int result;
  int x, y, level;      // view position and level afterwards (level also CurrentZoomLevel)
  bool zoom_in_active, zoom_out_active;
  Geometry main, dialog;
};

constexpr Geometry kMain = {100, 80, 700, 600};
constexpr Geometry kDialog = {300, 200, 216, 75};
#define FULL_WINDOWS " 100 80 700 600 300 200"

const LoadCase kLoadCases[] = {
    {"no file", nullptr, false, 1, BEFORE_X, BEFORE_Y, BEFORE_LEVEL, true, true, kMainBuilt,
     kDialogBuilt},
    {"empty file", "", false, 0, 0, 0, 1, false, true, kMainBuilt, kDialogBuilt},
    {"nine values", "5000 2500 2" FULL_WINDOWS, false, 0, 5000, 2500, 2, true, true, kMain,
     kDialog},
    {"ten values as written", "5000 2500 2" FULL_WINDOWS " 1100000000", false, 0, 5000, 2500, 2,
     true, true, kMain, kDialog},
    {"extra text after the ninth", "5000 2500 2" FULL_WINDOWS "xyz 17 more", false, 0, 5000,
     2500, 2, true, true, kMain, kDialog},
    {"any white space between values", "\n 5000\t2500\r\n3 \v100\f80 700   600\n300\n200", false,
     0, 5000, 2500, 3, true, true, kMain, kDialog},
    {"explicit plus signs", "+5000 +2500 +3" FULL_WINDOWS, false, 0, 5000, 2500, 3, true, true,
     kMain, kDialog},
    {"zoom 0 keeps the view, windows applied", "5000 2500 0" FULL_WINDOWS, false, 0, BEFORE_X,
     BEFORE_Y, BEFORE_LEVEL, true, true, kMain, kDialog},
    {"zoom 5 keeps the view, windows applied", "5000 2500 5" FULL_WINDOWS, false, 0, BEFORE_X,
     BEFORE_Y, BEFORE_LEVEL, true, true, kMain, kDialog},
    {"level 1 deactivates Zoom In", "7000 3000 1" FULL_WINDOWS, false, 0, 7000, 3000, 1, false,
     true, kMain, kDialog},
    {"level 4 deactivates Zoom Out", "7000 3000 4" FULL_WINDOWS, false, 0, 7000, 3000, 4, true,
     false, kMain, kDialog},
    {"caps at W-200 and H-200", "25000 20000 3" FULL_WINDOWS, false, 0, MAP_W - 200, MAP_H - 200,
     3, true, true, kMain, kDialog},
    {"just past the caps", "21401 10601 3" FULL_WINDOWS, false, 0, 21400, 10600, 3, true, true,
     kMain, kDialog},
    {"exactly at the caps", "21400 10600 3" FULL_WINDOWS, false, 0, 21400, 10600, 3, true, true,
     kMain, kDialog},
    {"negative column and row raised to 0", "-50 -7 3" FULL_WINDOWS, false, 0, 0, 0, 3, true,
     true, kMain, kDialog},
    {"main window x 0 rejected", "5000 2500 2 0 80 700 600 300 200", false, 0, 5000, 2500, 2,
     true, true, kMainBuilt, kDialog},
    {"main window x 4096 rejected", "5000 2500 2 4096 80 700 600 300 200", false, 0, 5000, 2500,
     2, true, true, kMainBuilt, kDialog},
    {"main window y 4096 rejected", "5000 2500 2 100 4096 700 600 300 200", false, 0, 5000, 2500,
     2, true, true, kMainBuilt, kDialog},
    {"main window at 4095, 1 accepted", "5000 2500 2 4095 1 700 600 300 200", false, 0, 5000,
     2500, 2, true, true, {4095, 1, 700, 600}, kDialog},
    {"main window width 5000 accepted", "5000 2500 2 100 80 5000 600 300 200", false, 0, 5000,
     2500, 2, true, true, {100, 80, 5000, 600}, kDialog},
    {"main window width 0 rejected", "5000 2500 2 100 80 0 600 300 200", false, 0, 5000, 2500, 2,
     true, true, kMainBuilt, kDialog},
    {"main window height -1 rejected", "5000 2500 2 100 80 700 -1 300 200", false, 0, 5000, 2500,
     2, true, true, kMainBuilt, kDialog},
    {"dialog 0 0 ignored", "5000 2500 2 100 80 700 600 0 0", false, 0, 5000, 2500, 2, true, true,
     kMain, kDialogBuilt},
    {"dialog y 4096 ignored", "5000 2500 2 100 80 700 600 300 4096", false, 0, 5000, 2500, 2,
     true, true, kMain, kDialogBuilt},
    {"dialog at 4095, 4095 accepted", "5000 2500 2 100 80 700 600 4095 4095", false, 0, 5000,
     2500, 2, true, true, kMain, {4095, 4095, 216, 75}},
    {"image narrower than 200 pixels skips the view", "10 10 2" FULL_WINDOWS, true, 0, BEFORE_X,
     BEFORE_Y, BEFORE_LEVEL, true, true, kMain, kDialog},
    {"value beyond int stops the reading", "5000 2500 2 100 80 2147483648 600 300 200", false, 0,
     5000, 2500, 2, true, true, kMainBuilt, kDialogBuilt},
    {"negative value beyond int stops the reading", "5000 -2147483649 3" FULL_WINDOWS, false, 0,
     5000, 0, 1, false, true, kMainBuilt, kDialogBuilt},
    {"a long run of digits stops the reading", "5000 99999999999999999999999 3" FULL_WINDOWS,
     false, 0, 5000, 0, 1, false, true, kMainBuilt, kDialogBuilt},
    {"int limits themselves are read", "2147483647 -2147483648 3" FULL_WINDOWS, false, 0,
     MAP_W - 200, 0, 3, true, true, kMain, kDialog},
    {"garbage text", "hello world 5000 2500 2", false, 0, 0, 0, 1, false, true, kMainBuilt,
     kDialogBuilt},
    {"a decimal point stops the reading after the level", "5000 2500 2.5 100 80 700 600 300 200",
     false, 0, 5000, 2500, 2, true, true, kMainBuilt, kDialogBuilt},
    {"a doubled sign stops the reading", "5000 --2500 2" FULL_WINDOWS, false, 0, 5000, 0, 1,
     false, true, kMainBuilt, kDialogBuilt},
};

void PrintTo(const LoadCase &c, std::ostream *os) { *os << c.name; }

class ViewParamsLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(ViewParamsLoad, AppliesEachGroupOnlyWhenValid) {
  const LoadCase &c = GetParam();
  shell_test::reset();
  if (c.narrow_image) {
    ASSERT_NE(MapView->load_image(shell_test::narrow_map_path().c_str()), nullptr);
    MapView->zoom(BEFORE_LEVEL);
    MapView->set_position(BEFORE_X, BEFORE_Y);  // clamped to the small image
  }
  const int before_x = MapView->image()->pos_x, before_y = MapView->image()->pos_y;
  if (c.content) {
    ASSERT_TRUE(fixture::write_bytes(params_path(), c.content));
  }

  EXPECT_EQ(load_view_params(), c.result);

  const int want_x = c.narrow_image ? before_x : c.x, want_y = c.narrow_image ? before_y : c.y;
  EXPECT_EQ(MapView->image()->pos_x, want_x);
  EXPECT_EQ(MapView->image()->pos_y, want_y);
  EXPECT_EQ(MapView->zoom(), c.level);
  EXPECT_EQ(CurrentZoomLevel, c.level);
  EXPECT_EQ(ZoomInButton->active() != 0, c.zoom_in_active);
  EXPECT_EQ(ZoomOutButton->active() != 0, c.zoom_out_active);
  EXPECT_EQ(geometry_of(MainWindow), c.main);
  EXPECT_EQ(geometry_of(GotoDialog), c.dialog);
  EXPECT_FALSE(MainWindow->shown());
  EXPECT_FALSE(GotoDialog->shown());
}

INSTANTIATE_TEST_SUITE_P(Contents, ViewParamsLoad, ::testing::ValuesIn(kLoadCases),
                         [](const ::testing::TestParamInfo<LoadCase> &info) {
                           std::string n;
                           for (const char *p = info.param.name; *p; ++p)
                             n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return n;
                         });

TEST(ViewParamsLoadFailure, FolderOfThatNameCountsAsUnreadable) {
  shell_test::reset();
  ASSERT_EQ(mkdir(params_path().c_str(), 0755), 0);
  EXPECT_EQ(load_view_params(), 1);
  EXPECT_EQ(MapView->image()->pos_x, BEFORE_X);
  EXPECT_EQ(MapView->zoom(), BEFORE_LEVEL);
  EXPECT_TRUE(ZoomInButton->active());
  rmdir(params_path().c_str());
}

TEST(ViewParamsLoadFailure, NoPrimaryImageReturnsOneAndChangesNothing) {
  shell_test::reset();
  ASSERT_TRUE(fixture::write_bytes(params_path(), "5000 2500 1" FULL_WINDOWS));
  MapView->load_image((shell_test::resource_dir() + "/missing.jpg").c_str());
  ASSERT_EQ(MapView->image(), nullptr);
  EXPECT_EQ(load_view_params(), 1);
  EXPECT_EQ(CurrentZoomLevel, BEFORE_LEVEL);
  EXPECT_EQ(geometry_of(MainWindow), kMainBuilt);
  EXPECT_TRUE(ZoomInButton->active());
  EXPECT_EQ(save_view_params(), 1);
  EXPECT_EQ(read_all(params_path()), "5000 2500 1" FULL_WINDOWS);
}

// Splits "a b c ..." into its fields; fails the test on anything but single blanks.
std::vector<std::string> fields_of(const std::string &s) {
  std::vector<std::string> out(1);
  for (char ch : s) {
    if (ch == ' ') {
      out.emplace_back();
    } else {
      EXPECT_TRUE(ch == '-' || (ch >= '0' && ch <= '9')) << "unexpected byte " << int(ch);
      out.back() += ch;
    }
  }
  return out;
}

void set_saved_state() {
  MapView->zoom(3);
  CurrentZoomLevel = 3;
  MapView->set_position(8000, 4000);
  MainWindow->resize(120, 90, 700, 620);
  GotoDialog->resize(400, 300, 216, 75);
}

TEST(ViewParamsSave, WritesTenValuesWithoutLineEnd) {
  shell_test::reset();
  set_saved_state();
  const long t0 = static_cast<long>(std::time(nullptr));
  EXPECT_EQ(save_view_params(), 0);
  const long t1 = static_cast<long>(std::time(nullptr));

  const std::string bytes = read_all(params_path());
  const std::string fixed = "8000 4000 3 120 90 700 620 400 300 ";
  ASSERT_EQ(bytes.compare(0, fixed.size(), fixed), 0) << bytes;
  const std::vector<std::string> f = fields_of(bytes);
  ASSERT_EQ(f.size(), 10u) << bytes;
  const long stamp = std::stol(f[9]);
  EXPECT_GE(stamp, t0);
  EXPECT_LE(stamp, t1);
  EXPECT_EQ(std::to_string(stamp), f[9]);  // nothing after the stamp, no line end

  struct stat st;
  ASSERT_EQ(stat(params_path().c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST(ViewParamsSave, WritesUnplacedDialogAndNegativeWindowValuesAsTheyAre) {
  shell_test::reset();
  MapView->zoom(1);
  MapView->set_position(MAP_W, MAP_H);
  MainWindow->resize(-20, -5, 629, 574);
  EXPECT_EQ(save_view_params(), 0);
  const std::string got = read_all(params_path());
  const std::string fixed = "21600 10800 1 -20 -5 629 574 0 0 ";
  EXPECT_EQ(got.compare(0, fixed.size(), fixed), 0) << got;
}

// Names in the resource folder other than the two maps: a save must leave no
// temporary file behind, whether it succeeds or fails.
std::vector<std::string> stray_files() {
  std::vector<std::string> out;
  FILE *p = popen(("ls -A '" + shell_test::resource_dir() + "'").c_str(), "r");
  char line[4096];
  while (p && std::fgets(line, sizeof line, p)) {
    std::string n(line);
    if (!n.empty() && n.back() == '\n') n.pop_back();
    if (n != "map.jpg" && n != "narrow.jpg" && n != "viewparam.dat") out.push_back(n);
  }
  if (p) pclose(p);
  return out;
}

TEST(ViewParamsSave, ReplacesTheOldFileAndLeavesNoTemporaryFile) {
  shell_test::reset();
  ASSERT_TRUE(fixture::write_bytes(params_path(), std::string(500, '9')));
  set_saved_state();
  EXPECT_EQ(save_view_params(), 0);
  EXPECT_EQ(read_all(params_path()).compare(0, 11, "8000 4000 3"), 0);
  EXPECT_LT(read_all(params_path()).size(), 60u);
  EXPECT_TRUE(stray_files().empty());
}

TEST(ViewParamsSave, FailedWriteKeepsTheOldFileWhole) {
  shell_test::reset();
  const std::string old = "10300 1358 3 100 80 629 574 300 200 1100000000";
  ASSERT_TRUE(fixture::write_bytes(params_path(), old));
  set_saved_state();

  // A file-size limit smaller than the new content makes the write itself fail (EFBIG).
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*old_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tiny = saved;
  tiny.rlim_cur = 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  const int result = save_view_params();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_NE(result, 0);
  EXPECT_EQ(read_all(params_path()), old);
  EXPECT_TRUE(stray_files().empty());
}

TEST(ViewParamsSave, UnwritableFolderReturnsNonZeroAndPrintsNothing) {
  shell_test::reset();
  const std::string saved = ResourceDir;
  const std::string missing = shell_test::resource_dir() + "/no-such-folder/";
  std::snprintf(ResourceDir, sizeof ResourceDir, "%s", missing.c_str());
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int result = save_view_params();
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  std::snprintf(ResourceDir, sizeof ResourceDir, "%s", saved.c_str());
  EXPECT_NE(result, 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
}

TEST(ViewParamsSave, TargetThatCannotBeReplacedReturnsNonZero) {
  shell_test::reset();
  ASSERT_EQ(mkdir(params_path().c_str(), 0755), 0);
  EXPECT_NE(save_view_params(), 0);
  struct stat st;
  ASSERT_EQ(stat(params_path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(stray_files().empty());
  rmdir(params_path().c_str());
}

bool all_shown() { return MainWindow->shown() && GotoDialog->shown(); }

TEST(ViewParamsRoundTrip, SavedWindowsComeBackOnLoad) {
  shell_test::reset();
  MapView->zoom(4);
  CurrentZoomLevel = 4;
  MapView->set_position(8000, 4000);
  MainWindow->resize(120, 90, 700, 620);
  GotoDialog->resize(400, 300, 216, 75);
  MainWindow->show();
  GotoDialog->show();
  ASSERT_TRUE(shell_test::wait_until(all_shown, 10));
  Fl::wait(0.2);  // let the server's placement come back through the event loop
  const Geometry main = geometry_of(MainWindow), dialog = geometry_of(GotoDialog);
  EXPECT_EQ(main, (Geometry{120, 90, 700, 620}));
  EXPECT_EQ(dialog, (Geometry{400, 300, 216, 75}));
  GotoDialog->hide();
  MainWindow->hide();
  ASSERT_EQ(save_view_params(), 0);

  const std::string saved = read_all(params_path());
  shell_test::reset();  // removes viewparam.dat: put it back
  ASSERT_TRUE(fixture::write_bytes(params_path(), saved));
  ASSERT_EQ(load_view_params(), 0);
  EXPECT_EQ(MapView->image()->pos_x, 8000);
  EXPECT_EQ(MapView->image()->pos_y, 4000);
  EXPECT_EQ(MapView->zoom(), 4);
  EXPECT_EQ(CurrentZoomLevel, 4);
  EXPECT_TRUE(ZoomInButton->active());
  EXPECT_FALSE(ZoomOutButton->active());
  EXPECT_EQ(geometry_of(MainWindow), main);
  EXPECT_EQ(geometry_of(GotoDialog), dialog);
}

// The start-up prefetch: which rows are in the row store before the first draw.
struct PrefetchCase {
  const char *content;
  int first, last;  // rows expected cached, inclusive; first > last for none
  int pos_y;        // vertical position afterwards
};

const PrefetchCase kPrefetchCases[] = {
    {"5000 3000 1", 2500, 3643, 3000},
    {"5000 300 1", 0, 1143, 300},
    {"5000 0 1", 0, 1143, 0},
    {"5000 10600 1", 10100, MAP_H - 1, 10600},
    {"5000 3000 2", 1, 0, 3000},
    {"5000 3000 3", 1, 0, 3000},
    {"5000 3000 4", 1, 0, 3000},
};

void PrintTo(const PrefetchCase &c, std::ostream *os) { *os << '"' << c.content << '"'; }

class ViewParamsPrefetch : public ::testing::TestWithParam<PrefetchCase> {};

TEST_P(ViewParamsPrefetch, LoadsTheBandAroundARestoredFullResolutionView) {
  const PrefetchCase &c = GetParam();
  shell_test::reset();
  ASSERT_EQ(MapView->h(), 572);
  ASSERT_TRUE(fixture::write_bytes(params_path(), c.content));
  ASSERT_EQ(load_view_params(), 0);
  const unsigned samples_before = MapView->sample_count_;
  prefetch_view_rows();

  const ImageSource *img = MapView->image();
  EXPECT_EQ(img->pos_y, c.pos_y);
  EXPECT_EQ(img->pos_x, 5000);
  EXPECT_EQ(MapView->sample_count_, samples_before);  // no picture was made
  int cached = 0, wrong = 0, first_wrong = -1;
  for (int r = 0; r < img->height; ++r) {
    const bool want = r >= c.first && r <= c.last;
    const bool have = img->rows[r].buffer != nullptr;
    cached += have;
    if (want != have && wrong++ == 0) first_wrong = r;
  }
  EXPECT_EQ(wrong, 0) << "first mismatch at row " << first_wrong << ", " << cached
                      << " rows cached";
}

INSTANTIATE_TEST_SUITE_P(Rows, ViewParamsPrefetch, ::testing::ValuesIn(kPrefetchCases));

}  // namespace
