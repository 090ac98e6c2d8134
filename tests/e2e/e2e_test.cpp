// The whole program as a user meets it: mundoscope-prepare makes a bundle from a small
// generated map, the viewer runs in it under the test's own X server, and xdotool drives
// it: a pan with its read-out, the zoom buttons and their activity, Goto Position, the
// map's pixels on the screen, closing, and a second start that comes back where the
// first one ended. A second test takes the README's screenshot on the demo map.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "image_source.h"
#include "program_runner.h"
#include "x11util.h"

namespace {

using runner::read_all;
using runner::Rect;

const char *const kFirstTitle = "Mundoscope v1.0 - Use mouse 'click and drag' to pan";
const char *const kPanTitle = "Mundoscope by Haldrick - Position ";
const int kViewW = 627, kViewH = 572;  // the view in the main window's built-in size
const int kZoomFactor[5] = {0, 1, 2, 4, 8};

// The position read-out of a stored position, from the view origin rule and the map's
// convention (60 pixels a degree, latitude growing downwards), in single precision.
struct LonLat {
  float lon, lat;
};
LonLat readout(int X, int Y, int w, int h, int level) {
  int ox = X, oy = Y;
  if (level == 3) {
    ox = X - w / 4;
    oy = Y - h / 4;
  } else if (level == 4) {
    ox = (X - w) - w / 4;
    oy = (Y - h) - h / 4;
  }
  const float cx = static_cast<float>(ox) + static_cast<float>(w * kZoomFactor[level]) / 2 - 21600.0f / 2;
  const float cy = static_cast<float>(oy) + static_cast<float>(h * kZoomFactor[level]) / 2 - 10800.0f / 2;
  return {cx / 10800 * 180, cy / 5400 * 90};
}

std::string pan_title(LonLat p) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s%.2f %.2f", kPanTitle, static_cast<double>(p.lon),
                static_cast<double>(p.lat));
  return buf;
}

bool parse_pan_title(const std::string &title, float *lon, float *lat) {
  if (title.rfind(kPanTitle, 0) != 0) return false;
  return std::sscanf(title.c_str() + std::strlen(kPanTitle), "%f %f", lon, lat) == 2;
}

// RGB of a map file's pixel, read through the image source as the viewer reads it.
std::vector<uint8_t> map_pixels(const std::string &path, int x, int y, int count) {
  std::vector<uint8_t> px;
  ImageSource *src = image_source_open(path.c_str());
  if (!src) return px;
  const uint8_t *row = image_source_fetch_row(src, y, y, y + 1);
  if (row) px.assign(row + x * 3, row + (x + count) * 3);
  image_source_close(src);
  return px;
}

// A bundle as a user has it: the viewer's executable (a copy: a link would resolve to
// the build's own bundle) and the data files made by mundoscope-prepare.
struct Bundle {
  std::string root, app, exe, res, prepare_log;
  bool make(const std::string &tag, const std::string &source, const std::vector<std::string> &options) {
    root = fixture::make_temp_dir(tag);
    runner::BundleCopy copy;
    if (!runner::copy_bundle(root, false, &copy)) return false;
    app = copy.app;
    exe = copy.exe;
    res = copy.resources;
    std::vector<std::string> argv = {PREPARE_TOOL, "--quiet"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(source);
    argv.push_back(app);
    prepare_log = root + "/prepare.txt";
    return runner::run(argv, root + "/prepare-out.txt", prepare_log) == 0;
  }
  ~Bundle() { fixture::remove_tree(root); }
};

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = x11::open_display();
    ASSERT_NE(display_, nullptr) << "no X display";
    // The program's windows come and go while the test looks at them.
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }

  // Starts the viewer in the bundle and waits for its main window and for the
  // Information window (which covers the middle of the view) to be gone.
  void start(runner::Program *run, const Bundle &b, Window *main, Rect *main_rect) {
    ASSERT_TRUE(run->start({b.exe}, b.root + "/stdout.txt", b.root + "/stderr.txt"));
    ASSERT_TRUE(runner::wait_window(display_, kFirstTitle, 120, main))
        << read_all(b.root + "/stderr.txt");
    ASSERT_TRUE(runner::wait_gone(display_, "Information", 30));
    *main_rect = runner::rect_of(display_, *main);
  }

  // Clicks at a point of the view without moving and returns the read-out it writes
  // into the title (which changes from `before`).
  std::string click_readout(Window main, int x, int y, const std::string &before) {
    EXPECT_TRUE(runner::click(x, y));
    std::string title;
    EXPECT_TRUE(runner::wait_name(
        display_, main,
        [&](const std::string &t) { return t.rfind(kPanTitle, 0) == 0 && t != before; }, 30,
        &title))
        << "title stayed " << title;
    return title;
  }

  Display *display_ = nullptr;
};

// The main window's buttons, 75 x 24 at x = 5, 85 and 165, y = 5.
Rect zoom_in_button(const Rect &m) { return {m.x + 5, m.y + 5, 75, 24}; }
Rect zoom_out_button(const Rect &m) { return {m.x + 85, m.y + 5, 75, 24}; }
Rect goto_button(const Rect &m) { return {m.x + 165, m.y + 5, 75, 24}; }
bool press(const Rect &button) { return runner::click(button.x + button.w / 2, button.y + button.h / 2); }

// Pixels of a button's label area dark enough to be the active label's black text.
// An inactive button draws its label greyed, so this falls to zero.
int dark_label_pixels(Display *d, const Rect &b) {
  // The middle of the button, clear of its border and of the focus box inside it.
  const Rect label{b.x + 8, b.y + 6, b.w - 16, b.h - 12};
  const std::vector<uint8_t> px = runner::grab(d, label);
  int dark = 0;
  for (size_t i = 0; i + 2 < px.size(); i += 3)
    if (px[i] < 70 && px[i + 1] < 70 && px[i + 2] < 70) ++dark;
  return dark;
}

// Waits until the button shows itself active (black label) or inactive (greyed).
bool wait_activity(Display *d, const Rect &button, bool active) {
  for (int i = 0; i < 250; ++i) {
    const int dark = dark_label_pixels(d, button);
    if (active ? dark >= 15 : dark == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string bytes_text(const std::vector<uint8_t> &v) {
  std::string s;
  for (uint8_t b : v) s += std::to_string(b) + " ";
  return s;
}

// Waits until the screen shows these pixels in the rectangle.
::testing::AssertionResult wait_pixels(Display *d, const Rect &r, const std::vector<uint8_t> &want) {
  std::vector<uint8_t> got;
  for (int i = 0; i < 250; ++i) {
    got = runner::grab(d, r);
    if (got == want) return ::testing::AssertionSuccess();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ::testing::AssertionFailure() << "screen " << bytes_text(got) << "map " << bytes_text(want);
}

std::vector<long> params_values(const std::string &text) {
  std::vector<long> v;
  std::istringstream in(text);
  for (long x; in >> x;) v.push_back(x);
  return v;
}

TEST_F(EndToEnd, PanZoomGotoCloseAndComeBack) {
  // A small generated world map with a graticule, enlarged to the viewer's size.
  Bundle b;
  const std::string source_dir = fixture::make_temp_dir("e2e-source");
  const std::string source = source_dir + "/world.jpg";
  ASSERT_TRUE(fixture::write_jpeg(source, 1080, 540, fixture::pattern_rows(1080)));
  ASSERT_TRUE(b.make("e2e", source, {"--graticule"})) << read_all(b.prepare_log);
  fixture::remove_tree(source_dir);
  const std::string full_map = b.res + "VisibleEarth.dat", overview = b.res + "VisibleEarth_25.dat";

  runner::Program run;
  Window main;
  Rect m;
  start(&run, b, &main, &m);
  const Rect view{m.x + 1, m.y + 1, kViewW, kViewH};
  EXPECT_EQ(m.w, 629);
  EXPECT_EQ(m.h, 574);
  EXPECT_EQ(read_all(b.root + "/stdout.txt"), full_map);

  // First view: level 3 at 10300, 1358, drawn from the overview at 2536, 304: the
  // screen's pixels at the view centre are the overview's.
  const Rect centre{view.x + kViewW / 2 - 1, view.y + kViewH / 2, 3, 1};  // 3 pixels across the centre
  EXPECT_TRUE(wait_pixels(display_, centre, map_pixels(overview, 2536 + kViewW / 2 - 1, 304 + kViewH / 2, 3)));
  runner::save_shot(display_, m, "e2e-1-start");
  ASSERT_TRUE(wait_activity(display_, zoom_in_button(m), true));
  ASSERT_TRUE(wait_activity(display_, zoom_out_button(m), true));

  // Pan: 50 right and 30 down at level 3 moves the position by 200 and 120 up-left.
  ASSERT_TRUE(runner::drag(view.x + 300, view.y + 300, view.x + 350, view.y + 330));
  std::string title;
  EXPECT_TRUE(runner::wait_name(
      display_, main, [](const std::string &t) { return t.rfind(kPanTitle, 0) == 0; }, 30, &title));
  EXPECT_EQ(title, pan_title(readout(10100, 1238, kViewW, kViewH, 3)));
  runner::save_shot(display_, m, "e2e-2-panned");

  // Zoom Out to level 4: Zoom Out greys, the picture changes, the centre stays.
  const std::vector<uint8_t> at_level3 = runner::grab(display_, view);
  ASSERT_TRUE(press(zoom_out_button(m)));
  EXPECT_TRUE(wait_activity(display_, zoom_out_button(m), false)) << "Zoom Out still active at level 4";
  EXPECT_TRUE(wait_activity(display_, zoom_in_button(m), true));
  EXPECT_NE(runner::grab(display_, view), at_level3);
  // The read-out there is the same text as before the zoom: a title of the test's own
  // first, so that only the click's read-out can end the wait.
  const char *const kWaiting = "e2e: waiting for the read-out";
  XStoreName(display_, main, kWaiting);
  XSync(display_, False);
  const std::string level4 = click_readout(main, view.x + 200, view.y + 200, kWaiting);
  EXPECT_EQ(level4, pan_title(readout(10100 - 627, 1238 - 572, kViewW, kViewH, 4)));
  EXPECT_EQ(level4, title) << "the zoom keeps the view centre";
  runner::save_shot(display_, m, "e2e-3-level4");

  // Zoom Out again at level 4 does nothing.
  const std::vector<uint8_t> at_level4 = runner::grab(display_, view);
  ASSERT_TRUE(press(zoom_out_button(m)));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(runner::grab(display_, view), at_level4);

  // Zoom In to level 3, 2 and 1: both buttons active on the way, Zoom In greys at 1.
  for (int level = 3; level >= 1; --level) {
    SCOPED_TRACE(testing::Message() << "to level " << level);
    ASSERT_TRUE(press(zoom_in_button(m)));
    EXPECT_TRUE(wait_activity(display_, zoom_out_button(m), true));
    EXPECT_TRUE(wait_activity(display_, zoom_in_button(m), level > 1));
  }
  runner::save_shot(display_, m, "e2e-4-level1");

  // Goto Position: latitude 12.5 (south of the equator, in the lower half of the map)
  // and longitude -30.25; then a click without moving reads the view centre.
  ASSERT_TRUE(press(goto_button(m)));
  Window dialog;
  ASSERT_TRUE(runner::wait_window(display_, "Goto Position", 10, &dialog));
  const Rect d = runner::rect_of(display_, dialog);
  EXPECT_EQ(d.w, 216);
  EXPECT_EQ(d.h, 75);
  ASSERT_TRUE(runner::retype_field(d.x + 80 + 32, d.y + 10 + 12, "12.5"));
  ASSERT_TRUE(runner::retype_field(d.x + 80 + 32, d.y + 40 + 12, "-30.25"));
  runner::save_shot(display_, d, "e2e-5-goto");
  ASSERT_TRUE(runner::click(d.x + 155 + 25, d.y + 15 + 22));
  EXPECT_TRUE(runner::wait_gone(display_, "Goto Position", 10));
  const std::string after_goto = click_readout(main, view.x + 100, view.y + 450, level4);
  float lon = 0, lat = 0;
  ASSERT_TRUE(parse_pan_title(after_goto, &lon, &lat)) << after_goto;
  EXPECT_NEAR(lon, -30.25, 0.02) << after_goto;
  EXPECT_NEAR(lat, 12.5, 0.02) << after_goto;

  // The position Goto sets at level 1, and the map's own pixels at the view centre.
  const float gx = static_cast<float>(static_cast<double>(-30.25f / 180.0f) * 10800 + 10800);
  const float gy = static_cast<float>(static_cast<double>(12.5f / 90.0f) * 5400 + 5400);
  const int col = static_cast<int>(gx - static_cast<float>(kViewW / 2));
  const int row = static_cast<int>(gy - static_cast<float>(kViewH / 2));
  EXPECT_TRUE(runner::move_to(m.x + m.w + 50, m.y + 50));  // the pointer off the view
  EXPECT_TRUE(wait_pixels(display_, centre, map_pixels(full_map, col + kViewW / 2 - 1, row + kViewH / 2, 3)))
      << "screen and map differ at the view centre";
  runner::save_shot(display_, m, "e2e-6-after-goto");

  // A new window geometry, then the read-out there, then close.
  const Rect moved{120, 90, 700, 620};
  XMoveResizeWindow(display_, main, moved.x, moved.y, moved.w, moved.h);
  XSync(display_, False);
  ASSERT_TRUE(runner::wait_geometry(display_, main, moved, 10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string before_close = click_readout(main, moved.x + 1 + 100, moved.y + 1 + 450, after_goto);
  ASSERT_TRUE(x11::request_close(display_, main));
  EXPECT_EQ(run.wait_exit(30), 0) << read_all(b.root + "/stderr.txt");

  const std::vector<long> saved = params_values(read_all(b.res + "viewparam.dat"));
  ASSERT_EQ(saved.size(), 10u) << read_all(b.res + "viewparam.dat");
  EXPECT_EQ(saved[0], col);
  EXPECT_EQ(saved[1], row);
  EXPECT_EQ(saved[2], 1);
  EXPECT_EQ(saved[3], moved.x);
  EXPECT_EQ(saved[4], moved.y);
  EXPECT_EQ(saved[5], moved.w);
  EXPECT_EQ(saved[6], moved.h);

  // Second start: the window where it was, level 1 (Zoom In greyed), the same centre.
  runner::Program again;
  Window main2;
  Rect m2;
  start(&again, b, &main2, &m2);
  EXPECT_EQ(m2.x, moved.x);
  EXPECT_EQ(m2.y, moved.y);
  EXPECT_EQ(m2.w, moved.w);
  EXPECT_EQ(m2.h, moved.h);
  EXPECT_TRUE(wait_activity(display_, zoom_in_button(m2), false));
  EXPECT_TRUE(wait_activity(display_, zoom_out_button(m2), true));
  EXPECT_EQ(click_readout(main2, m2.x + 1 + 100, m2.y + 1 + 450, ""), before_close);
  runner::save_shot(display_, m2, "e2e-7-second-start");
  ASSERT_TRUE(x11::request_close(display_, main2));
  EXPECT_EQ(again.wait_exit(30), 0) << read_all(b.root + "/stderr.txt");
}

// The README's picture: the viewer on the demo map (xplanet-images' Earth, prepared with
// a graticule, as scripts/run-demo makes it), at its first view after a short pan.
TEST_F(EndToEnd, DemoMapScreenshot) {
  const char *earth = "/usr/share/xplanet/images/earth.jpg";
  // The test packages include xplanet-images; without it the picture would go untaken.
  ASSERT_EQ(access(earth, R_OK), 0) << earth << ": is xplanet-images installed?";
  Bundle b;
  ASSERT_TRUE(b.make("e2e-demo", earth, {"--graticule"})) << read_all(b.prepare_log);
  runner::Program run;
  Window main;
  Rect m;
  start(&run, b, &main, &m);
  const Rect view{m.x + 1, m.y + 1, kViewW, kViewH};
  // From the first view over Europe, 40 screen pixels to the left and 60 up.
  ASSERT_TRUE(runner::drag(view.x + 400, view.y + 350, view.x + 360, view.y + 290));
  std::string title;
  EXPECT_TRUE(runner::wait_name(
      display_, main, [](const std::string &t) { return t.rfind(kPanTitle, 0) == 0; }, 30, &title));
  const int X = 10300 + 160, Y = 1358 + 240;
  EXPECT_EQ(title, pan_title(readout(X, Y, kViewW, kViewH, 3)));
  EXPECT_TRUE(runner::move_to(m.x + m.w + 50, m.y + 50));
  const Rect centre{view.x + kViewW / 2 - 1, view.y + kViewH / 2, 3, 1};  // 3 pixels across the centre
  EXPECT_TRUE(wait_pixels(display_, centre,
                          map_pixels(b.res + "VisibleEarth_25.dat",
                                     X / 4 - kViewW / 16 + kViewW / 2 - 1, Y / 4 - kViewH / 16 + kViewH / 2, 3)));
  runner::save_shot(display_, m, "demo");
  std::printf("screenshot: %s/screenshots/demo.png (%s)\n", std::getenv("MUNDOSCOPE_BUILD_DIR"),
              title.c_str());
  ASSERT_TRUE(x11::request_close(display_, main));
  EXPECT_EQ(run.wait_exit(30), 0);
}

}  // namespace
