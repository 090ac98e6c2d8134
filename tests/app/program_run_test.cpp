// The real program in temporary bundles under the test's own X server, driven with
// xdotool as a user would: the standard output, the missing-map alert, a missing
// overview, a bundle path too long for the resource directory, closing the window,
// a pan with its marker and read-out, Ctrl+O, and screenshots saved in the build folder.
#include <gtest/gtest.h>  // before the X headers, whose macros clash with its names

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "fixtures.h"
#include "program_runner.h"
#include "x11util.h"

namespace {

using runner::wait_for;

const char *kFirstTitle = "Mundoscope v1.0 - Use mouse 'click and drag' to pan";
const char *kLoadingTitle = "Mundoscope - please wait while loading the image...";
const int kViewW = 627, kViewH = 572;

int sh(const std::string &cmd) { return std::system(cmd.c_str()); }

// A 10-degree checker tinted by position, so that a screenshot shows where it is.
fixture::RowFn checker_rows(int w, int h) {
  return [w, h](int y, uint8_t *row) {
    for (int x = 0; x < w; ++x) {
      const bool dark = ((x * 36 / w) + (y * 18 / h)) & 1;
      row[x * 3] = static_cast<uint8_t>(x * 255 / w);
      row[x * 3 + 1] = dark ? 60 : 180;
      row[x * 3 + 2] = static_cast<uint8_t>(y * 255 / h);
    }
  };
}

// The maps every bundle of this binary uses, written once.
struct Maps {
  std::string dir, full, overview, pick, other;
  ~Maps() { fixture::remove_tree(dir); }
};
const Maps &maps() {
  static Maps m;
  if (!m.dir.empty()) return m;
  m.dir = fixture::make_temp_dir("run-maps");
  m.full = m.dir + "/full.jpg";
  m.overview = m.dir + "/overview.jpg";
  // The chooser completes a typed name among the folder's files, so the file to pick
  // lies alone in its folder.
  m.pick = m.dir + "/pick";
  m.other = m.pick + "/other.jpg";
  mkdir(m.pick.c_str(), 0755);
  if (!fixture::write_jpeg(m.full, 21600, 10800, checker_rows(21600, 10800)) ||
      !fixture::write_jpeg(m.overview, 5400, 2700, checker_rows(5400, 2700)) ||
      !fixture::write_jpeg(m.other, 1000, 1000, fixture::flat_rows(1000, 200, 40, 40)))
    std::fprintf(stderr, "could not write the maps\n");
  return m;
}

// A bundle with a copy of the viewer and, as asked, the maps.
class Bundle {
 public:
  // `base` is the folder to make Mundoscope.app in; empty for a new temporary one.
  bool make(bool with_map, bool with_overview, const std::string &base = std::string()) {
    root_ = base.empty() ? fixture::make_temp_dir("run") : base;
    if (!runner::copy_bundle(root_, true, &copy_)) return false;
    bool ok = true;
    if (with_map) ok = ok && copy(maps().full, resources() + "VisibleEarth.dat");
    if (with_overview) ok = ok && copy(maps().overview, resources() + "VisibleEarth_25.dat");
    return ok;
  }
  ~Bundle() {
    if (!keep_) fixture::remove_tree(root_);
  }
  std::string resources() const { return copy_.resources; }
  const std::string &exe() const { return copy_.exe; }
  const std::string &root() const { return root_; }
  void keep() { keep_ = true; }

 private:
  static bool copy(const std::string &from, const std::string &to) {
    const std::string bytes = runner::read_all(from);
    return !bytes.empty() && fixture::write_bytes(to, bytes);
  }
  std::string root_;
  runner::BundleCopy copy_;
  bool keep_ = false;
};

// One run of the program, its output in files beside the bundle. The program looks up
// nothing relative to the working folder; the file chooser starts there.
class ProgramProcess : public runner::Program {
 public:
  bool start(const Bundle &b, const std::string &cwd) {
    return Program::start({b.exe()}, b.root() + "/stdout", b.root() + "/stderr", cwd);
  }
};

class ProgramRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { maps(); }
  void SetUp() override {
    d_ = x11::open_display();
    ASSERT_NE(nullptr, d_) << "no X display";
  }
  void TearDown() override {
    if (d_) XCloseDisplay(d_);
  }

  // The one viewable window of that name, 0 until it appears.
  Window window(const std::string &name) {
    const std::vector<Window> w = x11::find_by_name(d_, name);
    return w.size() == 1 ? w[0] : 0;
  }
  Window wait_window(const std::string &name, double seconds = 20) {
    Window w = 0;
    wait_for([&] { return (w = window(name)) != 0; }, seconds);
    return w;
  }
  // Viewable top-level windows other than `known`.
  std::vector<Window> others(const std::vector<Window> &known) {
    std::vector<Window> out;
    for (Window w : x11::top_levels(d_)) {
      if (!x11::is_viewable(d_, w)) continue;
      bool k = false;
      for (Window kw : known) k = k || kw == w;
      if (!k) out.push_back(w);
    }
    return out;
  }
  // RGB of the screen pixel at x, y.
  std::vector<int> pixel(int x, int y) {
    std::vector<uint8_t> p;
    if (!x11::grab_screen(d_, x, y, 1, 1, &p)) return {};
    return {p[0], p[1], p[2]};
  }
  // The screen is 1280 x 1024; the program's windows lie in its top-left quarter.
  void screenshot(const std::string &name) {
    EXPECT_TRUE(runner::save_shot(d_, {0, 0, 700, 620}, name));
  }
  // Gives the window the keyboard and sends it keys through xdotool.
  void keys(Window w, const std::string &xdotool_args) {
    ASSERT_EQ(0, sh("xdotool windowfocus --sync " + std::to_string(w) + " " + xdotool_args));
  }

  Display *d_ = nullptr;
};

TEST_F(ProgramRun, ViewPanDisplayFileAndClose) {
  Bundle b;
  ASSERT_TRUE(b.make(true, true));
  ProgramProcess run;
  ASSERT_TRUE(run.start(b, maps().pick));
  const Window main = wait_window(kFirstTitle);
  ASSERT_NE(0u, main) << run.err();
  // The Information window goes by itself after three seconds; then nothing covers the map.
  ASSERT_TRUE(wait_for([&] { return others({main}).empty(); }, 10));
  EXPECT_EQ(b.resources() + "VisibleEarth.dat", run.out());  // no line end

  int wx, wy, ww, wh;
  ASSERT_TRUE(x11::geometry(d_, main, &wx, &wy, &ww, &wh));
  EXPECT_EQ(629, ww);
  EXPECT_EQ(574, wh);
  const int vx = wx + 1, vy = wy + 1;  // the view's top-left on the screen

  // The first view: level 3 at 10300, 1358, drawn from the overview at 2536, 304.
  int ow = 0, oh = 0;
  const std::vector<uint8_t> ov = fixture::decode_jpeg(maps().overview, &ow, &oh);
  ASSERT_EQ(5400, ow);
  auto overview_at = [&](int i, int j) {
    const uint8_t *p = &ov[(static_cast<size_t>(304 + j) * ow + 2536 + i) * 3];
    return std::vector<int>{p[0], p[1], p[2]};
  };
  ASSERT_TRUE(wait_for([&] { return pixel(vx + 400, vy + 400) == overview_at(400, 400); }, 10));
  for (const auto &p : {std::pair<int, int>{0, 40}, {626, 571}, {313, 286}, {100, 500}, {600, 10}})
    EXPECT_EQ(overview_at(p.first, p.second), pixel(vx + p.first, vy + p.second))
        << "view pixel " << p.first << "," << p.second;
  // The three buttons lie over the map at y 5 to 28 of the window.
  for (int bx : {5, 85, 165})
    EXPECT_NE(overview_at(bx + 37, 16), pixel(wx + bx + 37, wy + 17)) << "button at " << bx;
  screenshot("mundoscope-view");

  // Hold a press: the marker's two red circles around the view centre.
  const int cx = vx + kViewW / 2, cy = vy + kViewH / 2;
  const std::vector<int> red = {255, 0, 0};
  ASSERT_EQ(0, sh("xdotool mousemove " + std::to_string(cx - 50) + " " + std::to_string(cy + 60) +
                  " mousedown 1"));
  ASSERT_TRUE(wait_for([&] { return pixel(cx + 10, cy) == red; }, 10));
  for (int r : {10, 12}) {
    EXPECT_EQ(red, pixel(cx - r, cy));
    EXPECT_EQ(red, pixel(cx, cy + r));
    EXPECT_EQ(red, pixel(cx, cy - r));
  }
  screenshot("mundoscope-press");
  // The map does not follow the mouse while the button is held.
  ASSERT_EQ(0, sh("xdotool mousemove " + std::to_string(cx - 10) + " " + std::to_string(cy + 90)));
  ASSERT_EQ(0, sh("xdotool mouseup 1"));
  // A drag of 40, 30 at level 3 ends at 10140, 1238.
  const char *readout = "Mundoscope by Haldrick - Position 7.30 -52.68";
  EXPECT_TRUE(wait_for([&] { return x11::window_name(d_, main) == readout; }, 10))
      << x11::window_name(d_, main);
  EXPECT_TRUE(wait_for([&] { return pixel(cx + 10, cy) != red; }, 10));
  screenshot("mundoscope-after-pan");

  // Ctrl+O: the chooser opens in the working folder, where other.jpg lies.
  ASSERT_EQ(0, sh("xdotool mousemove " + std::to_string(cx) + " " + std::to_string(cy)));
  keys(main, "key ctrl+o");
  const Window chooser = wait_window("Display file");
  ASSERT_NE(0u, chooser);
  keys(chooser, "type --delay 20 other.jpg");
  keys(chooser, "key Return");
  EXPECT_TRUE(wait_for(
      [&] {
        return x11::window_name(d_, main) ==
               "Mundoscope - other.jpg - 1000 x 1000 pixel - 2.9 MByte";
      },
      10))
      << x11::window_name(d_, main);

  ASSERT_TRUE(x11::request_close(d_, main));
  EXPECT_EQ(0, run.wait_exit(20)) << run.err();
}

TEST_F(ProgramRun, MissingMapShowsTheAlertAndExitsWithZero) {
  Bundle b;
  ASSERT_TRUE(b.make(false, true));
  ProgramProcess run;
  ASSERT_TRUE(run.start(b, b.root()));
  const Window main = wait_window(kLoadingTitle);
  ASSERT_NE(0u, main) << run.err();
  std::vector<Window> alert;
  ASSERT_TRUE(wait_for([&] { return (alert = others({main})).size() == 1; }, 10));
  EXPECT_EQ(b.resources() + "VisibleEarth.dat", run.out());
  int x, y, w, h;
  ASSERT_TRUE(x11::geometry(d_, alert[0], &x, &y, &w, &h));
  EXPECT_LT(h, 200);  // a small message window, not another main window
  screenshot("mundoscope-missing-map");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(run.running());  // the alert waits for the user
  keys(alert[0], "key Escape");
  EXPECT_EQ(0, run.wait_exit(20)) << run.err();
}

TEST_F(ProgramRun, MissingOverviewStartsWithoutAMessage) {
  Bundle b;
  ASSERT_TRUE(b.make(true, false));
  ProgramProcess run;
  ASSERT_TRUE(run.start(b, b.root()));
  const Window main = wait_window(kFirstTitle);
  ASSERT_NE(0u, main) << run.err();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // Only the Information window shows beside the main window.
  const std::vector<Window> rest = others({main});
  ASSERT_EQ(1u, rest.size());
  EXPECT_EQ("Information", x11::window_name(d_, rest[0]));
  EXPECT_EQ(b.resources() + "VisibleEarth.dat", run.out());
  ASSERT_TRUE(x11::request_close(d_, main));
  EXPECT_EQ(0, run.wait_exit(20)) << run.err();  // once the Information window has gone
}

TEST_F(ProgramRun, BundlePathTooLongForTheResourceDirectoryCountsAsEmpty) {
  // Folders deep enough that the bundle path and "/Contents/Resources/" pass 2048 bytes.
  std::string base = fixture::make_temp_dir("run-long");
  ASSERT_FALSE(base.empty());
  const std::string top = base;
  for (int i = 0; base.size() < 2100; ++i) {
    base += "/" + std::string(200, static_cast<char>('a' + i));
    ASSERT_EQ(0, mkdir(base.c_str(), 0755));
  }
  {
    Bundle b;
    ASSERT_TRUE(b.make(true, true, base));
    ProgramProcess run;
    ASSERT_TRUE(run.start(b, top));
    const Window main = wait_window(kLoadingTitle);
    ASSERT_NE(0u, main) << run.err();
    EXPECT_EQ("/Contents/Resources/VisibleEarth.dat", run.out());
    std::vector<Window> alert;
    ASSERT_TRUE(wait_for([&] { return (alert = others({main})).size() == 1; }, 10));
    keys(alert[0], "key Escape");
    EXPECT_EQ(0, run.wait_exit(20)) << run.err();
  }
  fixture::remove_tree(top);
}

}  // namespace
