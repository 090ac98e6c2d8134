// The map view inside the real main window under Xvfb: its state operations, what draw
// puts on the screen and when it samples, the pan with its read-out, and the zoom
// commands run through the buttons.
#include <gtest/gtest.h>  // before the X headers, whose macros clash with its names

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/x.H>

#include "fixtures.h"
#include "image_source.h"
#include "irgb_view.h"
#include "program.h"
#include "view_harness.h"
#include "x11util.h"

namespace {

using harness::cached_rows;
using harness::mouse;

const int kViewW = 627, kViewH = 572;
const uint8_t kGrey = 127;

// A pattern for the overview that differs from the primary's, so that a picture taken
// from the wrong source shows.
uint8_t overview_sample(int x, int y, int c) { return fixture::pattern_sample(x * 5 + 3, y * 2 + 1, c); }

struct Maps {
  std::string full, full25, small, small25, tall, missing;
  std::vector<uint8_t> small_px, small25_px;
};

enum { kSmallW = 960, kSmallH = 800, kSmall25W = 400, kSmall25H = 300 };
enum { kTallW = 700, kTallH = 6000 };

const Maps &maps() {
  static Maps m = [] {
    Maps m;
    const std::string &dir = harness::temp_dir();
    m.full = dir + "/full.jpg";  // the map's size, flat, so it is quick to write
    m.full25 = dir + "/full25.tif";
    m.small = dir + "/small.tif";
    m.small25 = dir + "/small25.tif";
    m.tall = dir + "/tall.tif";
    m.missing = dir + "/no-such-file.dat";
    fixture::TiffOptions deflate;
    deflate.compression = 8;  // lossless strips: small files, rows read at random
    deflate.rows_per_strip = 8;
    bool ok = fixture::write_jpeg(m.full, 21600, 10800, fixture::flat_rows(21600, 40, 90, 160));
    ok = ok && fixture::write_tiff(m.full25, 5400, 2700, fixture::flat_rows(5400, 40, 90, 160),
                                   deflate);
    ok = ok && fixture::write_tiff(m.small, kSmallW, kSmallH, fixture::pattern_rows(kSmallW));
    auto ov_rows = [](int y, uint8_t *row) {
      for (int x = 0; x < kSmall25W; ++x)
        for (int c = 0; c < 3; ++c) row[x * 3 + c] = overview_sample(x, y, c);
    };
    ok = ok && fixture::write_tiff(m.small25, kSmall25W, kSmall25H, ov_rows);
    ok = ok && fixture::write_tiff(m.tall, kTallW, kTallH, fixture::pattern_rows(kTallW), deflate);
    if (!ok) std::fprintf(stderr, "could not write the test maps\n");
    m.small_px = fixture::pattern_image(kSmallW, kSmallH);
    m.small25_px.resize(static_cast<size_t>(kSmall25W) * kSmall25H * 3);
    for (int y = 0; y < kSmall25H; ++y) ov_rows(y, &m.small25_px[static_cast<size_t>(y) * kSmall25W * 3]);
    return m;
  }();
  return m;
}

// The picture the view should show: each pixel the average of an f x f block from
// (x0, y0), grey where the block lies right of or reaches below the image. The blocks
// used here never straddle the right edge.
std::vector<uint8_t> expected_picture(const std::vector<uint8_t> &img, int iw, int ih, int x0,
                                      int y0, int f) {
  std::vector<uint8_t> out(static_cast<size_t>(kViewW) * kViewH * 3, kGrey);
  for (int j = 0; j < kViewH; ++j) {
    const int by = y0 + j * f;
    if (by + f - 1 >= ih) continue;
    for (int i = 0; i < kViewW; ++i) {
      const int bx = x0 + i * f;
      if (bx >= iw) continue;
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int dy = 0; dy < f; ++dy)
          for (int dx = 0; dx < f; ++dx)
            sum += img[(static_cast<size_t>(by + dy) * iw + bx + dx) * 3 + c];
        out[(static_cast<size_t>(j) * kViewW + i) * 3 + c] = static_cast<uint8_t>(sum / (f * f));
      }
    }
  }
  return out;
}

// Whether view pixel x, y lies under one of the buttons, which are drawn over the map.
bool under_a_button(int x, int y) {
  // The three buttons sit at window x 5, 85 and 165, y 5, each 75 x 24.
  const int wx = x + 1, wy = y + 1;
  if (wy < 5 || wy >= 29) return false;
  for (int bx : {5, 85, 165})
    if (wx >= bx && wx < bx + 75) return true;
  return false;
}

// Counts differing pixels outside the buttons and describes the first one.
int count_differences(const std::vector<uint8_t> &want, const std::vector<uint8_t> &got,
                      std::string *first) {
  if (want.size() != got.size()) {
    *first = "size " + std::to_string(got.size()) + " instead of " + std::to_string(want.size());
    return -1;
  }
  int n = 0;
  for (size_t p = 0; p < want.size(); p += 3) {
    if (std::memcmp(&want[p], &got[p], 3) == 0) continue;
    if (under_a_button(static_cast<int>(p / 3 % kViewW), static_cast<int>(p / 3 / kViewW)))
      continue;
    if (n++ == 0) {
      const size_t px = p / 3;
      char buf[160];
      std::snprintf(buf, sizeof buf, "at %zu,%zu: want %d %d %d, got %d %d %d", px % kViewW,
                    px / kViewW, want[p], want[p + 1], want[p + 2], got[p], got[p + 1], got[p + 2]);
      *first = buf;
    }
  }
  return n;
}

class MapViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    maps();
    harness::build_windows(true);
    harness::show_main_window();
  }

  void SetUp() override {
    ASSERT_TRUE(MainWindow && MapView && GotoDialog);
    if (GotoDialog->shown()) GotoDialog->hide();
    if (MainWindow->w() != 629 || MainWindow->h() != 574) MainWindow->size(629, 574);
    MapView->pressed_ = 0;
    MapView->dragging_ = 0;
    MainWindow->cursor(FL_CURSOR_DEFAULT);
    LatitudeField->value("");
    LongitudeField->value("");
    ZoomInButton->activate();
    ZoomOutButton->activate();
  }

  // Opens fresh sources (empty row stores) and sets the view; the next draw samples.
  void use(const std::string &primary, const std::string &overview, int level, int x, int y) {
    ASSERT_NE(nullptr, MapView->load_image(primary.c_str())) << primary;
    if (overview.empty()) {
      MapView->load_overview(maps().missing.c_str());
    } else {
      ASSERT_NE(nullptr, MapView->load_overview(overview.c_str())) << overview;
    }
    MapView->zoom(level);
    CurrentZoomLevel = level;
    MapView->set_position(x, y);
  }

  // Lets pending draws happen, so that the next checks start from a drawn view.
  void draw_now() { harness::redraw_and_settle(); }

  static int pos_x() { return MapView->image()->pos_x; }
  static int pos_y() { return MapView->image()->pos_y; }
};

// ---- state ----

TEST_F(MapViewTest, InitGivesEveryFieldItsStartValue) {
  IRGBView v(0, 0, 10, 10);
  v.init(MainWindow);
  EXPECT_EQ(nullptr, v.rgb_);
  EXPECT_EQ(0, v.last_w_);
  EXPECT_EQ(0, v.last_h_);
  EXPECT_EQ(1, v.dirty_);
  EXPECT_EQ(0, v.pressed_);
  EXPECT_EQ(nullptr, v.image_);
  EXPECT_EQ(nullptr, v.overview_);
  EXPECT_EQ(0.0f, v.lon_);
  EXPECT_EQ(0.0f, v.lat_);
  EXPECT_EQ(0, v.anchor_x_);
  EXPECT_EQ(0, v.anchor_y_);
  EXPECT_EQ(1, v.zoom());
  EXPECT_EQ(1, v.last_zoom_);
  EXPECT_EQ(0, v.dragging_);
  EXPECT_EQ(MainWindow, v.owner_);
  EXPECT_EQ(0, v.image_w());
  EXPECT_EQ(0, v.image_h());
}

TEST_F(MapViewTest, ZoomTakesOnlyLevelsOneToFour) {
  use(maps().full, maps().full25, 2, 1000, 1000);
  draw_now();
  const struct {
    int level, zoom, dirty;
  } cases[] = {{0, 2, 0}, {5, 2, 0}, {-1, 2, 0}, {2, 2, 1}, {4, 4, 1}, {1, 1, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE("zoom(" + std::to_string(c.level) + ")");
    MapView->zoom(2);
    MapView->dirty_ = 0;
    MapView->zoom(c.level);
    EXPECT_EQ(c.zoom, MapView->zoom());
    EXPECT_EQ(c.dirty, MapView->dirty_);
  }
  MapView->zoom(2);
}

TEST_F(MapViewTest, SetPositionClampsToTheWholeImage) {
  use(maps().full, maps().full25, 3, 0, 0);
  EXPECT_EQ(21600, MapView->image_w());
  EXPECT_EQ(10800, MapView->image_h());
  const struct {
    int x, y, px, py;
  } cases[] = {{-5, 99999, 0, 10800}, {21600, 0, 21600, 0}, {21601, -1, 21600, 0},
               {10300, 1358, 10300, 1358}, {-2147483647 - 1, 2147483647, 0, 10800}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    MapView->dirty_ = 0;
    MapView->set_position(c.x, c.y);
    EXPECT_EQ(c.px, pos_x());
    EXPECT_EQ(c.py, pos_y());
    EXPECT_EQ(1, MapView->dirty_);
  }
}

TEST_F(MapViewTest, WithoutAPrimaryImageNothingMovesAndOnlyGreyIsDrawn) {
  use(maps().small, maps().small25, 3, 100, 100);
  draw_now();
  EXPECT_EQ(nullptr, MapView->load_image(maps().missing.c_str()));
  EXPECT_EQ(nullptr, MapView->image());
  EXPECT_NE(nullptr, MapView->overview());  // left as it was
  EXPECT_EQ(3, MapView->zoom());
  EXPECT_EQ(0, MapView->image_w());
  EXPECT_EQ(0, MapView->image_h());

  const unsigned before = MapView->sample_count_;
  const std::vector<uint8_t> px = harness::read_view();
  EXPECT_EQ(before + 1, MapView->sample_count_);
  EXPECT_EQ(nullptr, MapView->rgb_);
  std::string first;
  EXPECT_EQ(0, count_differences(std::vector<uint8_t>(px.size(), kGrey), px, &first)) << first;

  MapView->dirty_ = 0;
  MapView->set_position(5, 5);
  EXPECT_EQ(0, MapView->dirty_);
  EXPECT_EQ(0, mouse(FL_PUSH, 100, 100));  // presses are refused
  EXPECT_EQ(0, MapView->pressed_);
  EXPECT_EQ(0, MapView->dragging_);
  EXPECT_EQ(0, mouse(FL_DRAG, 120, 100));
  EXPECT_EQ(0, mouse(FL_RELEASE, 120, 100));

  ZoomInButton->do_callback();
  EXPECT_EQ(3, CurrentZoomLevel);
  ZoomOutButton->do_callback();
  EXPECT_EQ(3, CurrentZoomLevel);
  EXPECT_EQ(3, MapView->zoom());
  EXPECT_TRUE(ZoomInButton->active());
  EXPECT_TRUE(ZoomOutButton->active());
}

TEST_F(MapViewTest, LoadImageKeepsLevelAndOverviewAndPassesOnTheOneBuffer) {
  use(maps().small, maps().small25, 1, 100, 100);
  draw_now();
  const ImageSource *overview = MapView->overview();
  uint8_t *buffer = MapView->image()->out_buffer;
  ASSERT_NE(nullptr, buffer);

  ASSERT_NE(nullptr, MapView->load_image(maps().tall.c_str()));
  EXPECT_EQ(kTallW, MapView->image_w());
  EXPECT_EQ(0, pos_x());  // a newly opened source starts at 0, 0
  EXPECT_EQ(0, pos_y());
  EXPECT_EQ(1, MapView->zoom());
  EXPECT_EQ(overview, MapView->overview());
  EXPECT_EQ(0, MapView->last_w_);
  EXPECT_EQ(0, MapView->last_h_);
  EXPECT_EQ(1, MapView->dirty_);
  EXPECT_EQ(buffer, MapView->image()->out_buffer);  // no second picture buffer

  // A failed load releases the buffer (the sanitizer build sees a leak or a double free).
  EXPECT_EQ(nullptr, MapView->load_image(maps().missing.c_str()));
  draw_now();
  ASSERT_NE(nullptr, MapView->load_image(maps().small.c_str()));
  EXPECT_EQ(nullptr, MapView->image()->out_buffer);
  draw_now();
  EXPECT_NE(nullptr, MapView->rgb_);
}

TEST_F(MapViewTest, LoadOverviewReplacesOnlyTheOverview) {
  use(maps().small, maps().small25, 4, 500, 500);
  draw_now();
  const ImageSource *primary = MapView->image();
  MapView->dirty_ = 0;
  ASSERT_NE(nullptr, MapView->load_overview(maps().full25.c_str()));
  EXPECT_EQ(5400, MapView->overview()->width);
  EXPECT_EQ(primary, MapView->image());
  EXPECT_EQ(1, MapView->dirty_);
  EXPECT_EQ(kViewW, MapView->last_w_);  // the size of the last picture stays
  EXPECT_EQ(nullptr, MapView->load_overview(maps().missing.c_str()));
  EXPECT_EQ(nullptr, MapView->overview());
}

TEST_F(MapViewTest, DestroyingAViewReleasesItsSourcesAndTheSharedBufferOnce) {
  // A view of its own in a window of its own; the sanitizer build sees a leak or a
  // double free of the buffer the two sources shared.
  Fl_Double_Window *win = new Fl_Double_Window(700, 0, 200, 150);
  IRGBView *view = new IRGBView(0, 0, 200, 150);
  view->init(win);
  win->end();
  win->resizable(win);
  ASSERT_NE(nullptr, view->load_image(maps().small.c_str()));
  ASSERT_NE(nullptr, view->load_overview(maps().small25.c_str()));
  view->zoom(3);
  win->show();
  ASSERT_TRUE(harness::wait_until([&] { return view->sample_count_ == 1; }));
  EXPECT_EQ(view->image()->out_buffer, view->overview()->out_buffer);
  // A larger picture at level 1 replaces the buffer in the primary alone; the
  // overview's copy is stale from then on and must not be released.
  view->zoom(1);
  win->size(400, 300);
  harness::settle();
  ASSERT_TRUE(harness::wait_until([&] { return view->sample_count_ == 2; }));
  EXPECT_EQ(400, view->image()->out_cap_width);
  delete win;  // deletes the view with it
  harness::settle();
}

// ---- drawing ----

TEST_F(MapViewTest, DrawShowsTheImagePixelsAndTheBlockAverages) {
  const Maps &m = maps();
  const struct {
    const char *name;
    bool overview;
    int level, x, y;
    bool from_overview;
    int sx, sy, f;  // expected source position and factor
  } cases[] = {
      {"level 1 inside the image", true, 1, 100, 50, false, 100, 50, 1},
      {"level 1 past the right and bottom edges", true, 1, 500, 400, false, 500, 400, 1},
      {"level 2 from the corner", true, 2, 0, 0, false, 0, 0, 2},
      {"level 2 from an odd row", true, 2, 2, 3, false, 2, 3, 2},
      {"level 3 from the overview", true, 3, 956, 800, true, 200, 165, 1},
      {"level 4 from the overview", true, 4, 956, 800, true, 44, 22, 2},
      {"level 3 overview clamped at 0, 0", true, 3, 0, 0, true, 0, 0, 1},
      {"level 3 without overview", false, 3, 0, 0, false, 0, 0, 4},
      {"level 4 without overview", false, 4, 8, 16, false, 8, 16, 8},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    use(m.small, c.overview ? m.small25 : std::string(), c.level, c.x, c.y);
    const unsigned before = MapView->sample_count_;
    const std::vector<uint8_t> got = harness::read_view();
    EXPECT_EQ(before + 1, MapView->sample_count_);
    const std::vector<uint8_t> want =
        c.from_overview
            ? expected_picture(m.small25_px, kSmall25W, kSmall25H, c.sx, c.sy, c.f)
            : expected_picture(m.small_px, kSmallW, kSmallH, c.sx, c.sy, c.f);
    std::string first;
    EXPECT_EQ(0, count_differences(want, got, &first)) << first;
    EXPECT_EQ(c.x, pos_x());  // drawing leaves the stored position alone
    EXPECT_EQ(c.y, pos_y());
  }
}

TEST_F(MapViewTest, OverviewIsSampledFromItsOwnPositionWithTheLevelsFactor) {
  const struct {
    int level, x, y, ox, oy;
    const char *rows;  // overview rows read: the factor shows in how many
  } cases[] = {
      {3, 10300, 1358, 2536, 304, "304-875"},
      {4, 9075, 3827, 2073, 778, "778-1921"},
      {3, 0, 0, 0, 0, "0-571"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + " at " + std::to_string(c.x) + "," +
                 std::to_string(c.y));
    use(maps().full, maps().full25, c.level, c.x, c.y);
    draw_now();
    const ImageSource *ov = MapView->overview();
    const ImageSource *img = MapView->image();
    EXPECT_EQ(c.ox, ov->pos_x);
    EXPECT_EQ(c.oy, ov->pos_y);
    EXPECT_EQ(c.rows, cached_rows(ov));
    EXPECT_EQ("", cached_rows(img));  // the primary is not read at these levels
    EXPECT_EQ(c.x, img->pos_x);
    EXPECT_EQ(c.y, img->pos_y);
    // One buffer for both: after the overview's sampling the primary names it too.
    EXPECT_NE(nullptr, img->out_buffer);
    EXPECT_EQ(ov->out_buffer, img->out_buffer);
    EXPECT_EQ(ov->out_cap_width, img->out_cap_width);
    EXPECT_EQ(ov->out_cap_height, img->out_cap_height);
    EXPECT_EQ(img->out_buffer, MapView->rgb_);
  }
}

TEST_F(MapViewTest, WithoutOverviewCoarseLevelsSampleThePrimaryWithoutShift) {
  const struct {
    int level, y;
    const char *rows;
  } cases[] = {{3, 100, "100-2387"}, {4, 100, "100-4675"}};
  for (const auto &c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level));
    use(maps().tall, std::string(), c.level, 40, c.y);
    draw_now();
    EXPECT_EQ(c.rows, cached_rows(MapView->image()));
  }
}

TEST_F(MapViewTest, ArrivingAtFullResolutionLoadsRowsAroundTheView) {
  const struct {
    const char *name;
    int from_level, from_y, to_level, to_y;
    const char *rows;
  } cases[] = {
      {"from level 3 at row 3000", 3, 3000, 1, 3000, "2714-3857"},
      {"from level 3 at row 100", 3, 100, 1, 100, "0-1143"},
      {"from level 2 at row 3000", 2, 3000, 1, 3000, "2714-4143"},  // level 2 read 3000-4143
      {"from level 1 to level 2", 1, 3000, 2, 3000, "3000-4143"},
      {"staying at level 1", 1, 3000, 1, 3200, "3000-3771"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    // Draw once at the first level, then again on a fresh row store: the second picture
    // is the one made at that level before the change.
    use(maps().tall, maps().small25, c.from_level, 0, c.from_y);
    draw_now();
    use(maps().tall, maps().small25, c.from_level, 0, c.from_y);
    draw_now();
    ASSERT_EQ(c.from_level, MapView->last_zoom_);
    MapView->zoom(c.to_level);
    MapView->set_position(0, c.to_y);
    draw_now();
    EXPECT_EQ(c.rows, cached_rows(MapView->image()));
    EXPECT_EQ(c.to_y, pos_y());
    EXPECT_EQ(c.to_level, MapView->last_zoom_);
  }
}

TEST_F(MapViewTest, RepaintsWithoutChangesDoNotSample) {
  use(maps().small, maps().small25, 1, 100, 50);
  const std::vector<uint8_t> picture = harness::read_view();
  const unsigned n = MapView->sample_count_;
  harness::redraw_and_settle();
  EXPECT_EQ(n, MapView->sample_count_);

  // An exposure: another X window covers the view and goes away again.
  const Window cover = XCreateSimpleWindow(fl_display, RootWindow(fl_display, fl_screen), 0, 0,
                                           400, 400, 0, 0, 0);
  XSetWindowAttributes attr;
  attr.override_redirect = True;
  XChangeWindowAttributes(fl_display, cover, CWOverrideRedirect, &attr);
  XMapRaised(fl_display, cover);
  XSync(fl_display, False);
  harness::settle();
  XDestroyWindow(fl_display, cover);
  XSync(fl_display, False);
  // The expose repaints the map from the kept picture.
  std::string first;
  harness::wait_until(
      [&] { return count_differences(picture, harness::read_view(false), &first) == 0; }, 5);
  EXPECT_EQ(0, count_differences(picture, harness::read_view(false), &first)) << first;
  EXPECT_EQ(n, MapView->sample_count_);
}

TEST_F(MapViewTest, PressShowsTwoRedCirclesWithoutSamplingAndReleaseRemovesThem) {
  use(maps().small, maps().small25, 1, 100, 50);
  const std::vector<uint8_t> picture = harness::read_view();
  const unsigned n = MapView->sample_count_;

  ASSERT_EQ(1, mouse(FL_PUSH, 200, 200));
  const std::vector<uint8_t> pressed = harness::read_view(false);  // the press redraws
  EXPECT_EQ(n, MapView->sample_count_);  // the kept picture, repainted
  // The centre of the view in view pixels; every changed pixel is red, and the circles
  // pass through the points 10 and 12 pixels from it along both axes.
  const int cx = kViewW / 2, cy = kViewH / 2;
  auto at = [&](const std::vector<uint8_t> &px, int x, int y) {
    const uint8_t *p = &px[(static_cast<size_t>(y) * kViewW + x) * 3];
    return std::vector<int>{p[0], p[1], p[2]};
  };
  const std::vector<int> red = {255, 0, 0};
  for (int r : {10, 12}) {
    SCOPED_TRACE("radius " + std::to_string(r));
    EXPECT_EQ(red, at(pressed, cx + r, cy));
    EXPECT_EQ(red, at(pressed, cx - r, cy));
    EXPECT_EQ(red, at(pressed, cx, cy + r));
    EXPECT_EQ(red, at(pressed, cx, cy - r));
  }
  EXPECT_EQ(at(picture, cx, cy), at(pressed, cx, cy));
  EXPECT_EQ(at(picture, cx + 11, cy), at(pressed, cx + 11, cy));
  int changed = 0, not_red = 0;
  for (size_t p = 0; p < picture.size(); p += 3) {
    if (std::memcmp(&picture[p], &pressed[p], 3) == 0) continue;
    ++changed;
    if (pressed[p] != 255 || pressed[p + 1] != 0 || pressed[p + 2] != 0) ++not_red;
  }
  EXPECT_GT(changed, 100);
  EXPECT_EQ(0, not_red);

  EXPECT_EQ(1, mouse(FL_DRAG, 230, 180));  // the map does not follow during the drag
  EXPECT_EQ(1, mouse(FL_RELEASE, 200, 200));
  std::string first;
  EXPECT_EQ(0, count_differences(picture, harness::read_view(false), &first)) << first;
  EXPECT_EQ(n + 1, MapView->sample_count_);  // a click without moving still samples
}

TEST_F(MapViewTest, EnlargingTheWindowSamplesAtTheNewSize) {
  use(maps().small, maps().small25, 1, 0, 0);
  draw_now();
  const unsigned n = MapView->sample_count_;
  MainWindow->size(900, 850);
  harness::settle();
  harness::wait_until([] { return MapView->w() == 898 && !MainWindow->damage(); }, 5);
  harness::settle();
  EXPECT_EQ(898, MapView->w());
  EXPECT_EQ(848, MapView->h());
  EXPECT_EQ(n + 1, MapView->sample_count_);
  EXPECT_EQ(898, MapView->last_w_);
  EXPECT_EQ(848, MapView->last_h_);
  const std::vector<uint8_t> got = harness::read_view();
  ASSERT_EQ(static_cast<size_t>(898) * 848 * 3, got.size());
  // Image pixels inside, grey beyond the image's right and bottom edges.
  const struct {
    int x, y;
  } probes[] = {{0, 0}, {500, 300}, {897, 10}, {10, 847}, {959, 799}};
  for (const auto &p : probes) {
    SCOPED_TRACE(std::to_string(p.x) + "," + std::to_string(p.y));
    if (p.x >= 898 || p.y >= 848) continue;
    const uint8_t *g = &got[(static_cast<size_t>(p.y) * 898 + p.x) * 3];
    for (int c = 0; c < 3; ++c) {
      const int want = (p.x < kSmallW && p.y < kSmallH)
                           ? maps().small_px[(static_cast<size_t>(p.y) * kSmallW + p.x) * 3 + c]
                           : kGrey;
      EXPECT_EQ(want, g[c]) << "channel " << c;
    }
  }
  MainWindow->size(629, 574);
  harness::settle();
}

// ---- panning ----

TEST_F(MapViewTest, PressesAtOrLeftOfTheWindowEdgeAreRefused) {
  use(maps().full, maps().full25, 3, 5000, 5000);
  const struct {
    int x, y;
  } cases[] = {{0, 100}, {100, 0}, {-5, 50}, {50, -5}, {0, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    MapView->anchor_x_ = MapView->anchor_y_ = 7;
    EXPECT_EQ(0, mouse(FL_PUSH, c.x, c.y));
    EXPECT_EQ(0, MapView->pressed_);
    EXPECT_EQ(0, MapView->dragging_);
    EXPECT_EQ(7, MapView->anchor_x_);
    EXPECT_EQ(0, mouse(FL_DRAG, c.x + 10, c.y));
  }
  EXPECT_EQ(1, mouse(FL_PUSH, 1, 1));
  EXPECT_EQ(1, mouse(FL_RELEASE, 1, 1));
}

TEST_F(MapViewTest, ReleasePansByTheMouseDistanceTimesTheFactor) {
  const struct {
    const char *name;
    int level, x, y, px, py, rx, ry, ex, ey;
  } cases[] = {
      {"level 4, 10 right", 4, 5000, 5000, 100, 100, 110, 100, 4920, 5000},
      {"level 1, 10 right", 1, 5000, 5000, 100, 100, 110, 100, 4990, 5000},
      {"level 2, up and left", 2, 5000, 5000, 300, 300, 250, 280, 5100, 5040},
      {"level 3, down", 3, 5000, 5000, 300, 300, 300, 350, 5000, 4800},
      {"level 1 clamped at the corner", 1, 100, 100, 100, 100, 400, 400, 0, 0},
      {"level 4 clamped at width and height", 4, 21000, 10000, 300, 300, 100, 100, 21600, 10800},
      {"release outside the window", 1, 5000, 5000, 100, 100, 1500, -400, 3600, 5500},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    use(maps().full, maps().full25, c.level, c.x, c.y);
    ASSERT_EQ(1, mouse(FL_PUSH, c.px, c.py));
    EXPECT_EQ(c.px, MapView->anchor_x_);
    EXPECT_EQ(c.py, MapView->anchor_y_);
    EXPECT_EQ(1, MapView->pressed_);
    EXPECT_EQ(1, MapView->dragging_);
    MapView->dirty_ = 0;
    EXPECT_EQ(1, mouse(FL_DRAG, c.rx, c.ry));
    EXPECT_EQ(c.x, pos_x());  // nothing moves before the release
    EXPECT_EQ(c.y, pos_y());
    EXPECT_EQ(0, MapView->dirty_);
    EXPECT_EQ(1, mouse(FL_RELEASE, c.rx, c.ry));
    EXPECT_EQ(c.ex, pos_x());
    EXPECT_EQ(c.ey, pos_y());
    EXPECT_EQ(1, MapView->dirty_);
    EXPECT_EQ(0, MapView->pressed_);
    EXPECT_EQ(0, MapView->dragging_);
    EXPECT_EQ(c.level, MapView->zoom());
  }
}

TEST_F(MapViewTest, PanEndShowsTheCentreInTitleAndFields) {
  const struct {
    int level, x, y, dx, dy;
    const char *title, *lat, *lon;
  } cases[] = {
      {2, 10173, 4828, 30, -20, "Mundoscope by Haldrick - Position 0.00 0.00", "0.00", "0.00"},
      {3, 10300, 1358, -15, 40, "Mundoscope by Haldrick - Position 9.97 -50.68", "-50.68",
       "9.97"},
      {3, 10300, 1358, 0, 0, "Mundoscope by Haldrick - Position 9.97 -50.68", "-50.68", "9.97"},
      {1, 0, 0, 0, 0, "Mundoscope by Haldrick - Position -174.78 -85.23", "-85.23", "-174.78"},
      {4, 21600, 10800, 0, 0, "Mundoscope by Haldrick - Position 208.75 116.22", "116.22",
       "208.75"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.title);
    // Start where a drag of dx, dy ends at the case's position.
    const int f = ZoomFactor[c.level];
    use(maps().full, maps().full25, c.level, c.x + c.dx * f, c.y + c.dy * f);
    LatitudeField->value("");
    LongitudeField->value("");
    MainWindow->label("before");
    ASSERT_EQ(1, mouse(FL_PUSH, 200, 200));
    EXPECT_STREQ("before", MainWindow->label());  // the read-out waits for the release
    ASSERT_EQ(1, mouse(FL_RELEASE, 200 + c.dx, 200 + c.dy));
    EXPECT_EQ(c.x, pos_x());
    EXPECT_EQ(c.y, pos_y());
    EXPECT_STREQ(c.title, MainWindow->label());
    EXPECT_EQ(TitleText, MainWindow->label());
    EXPECT_STREQ(c.lat, LatitudeField->value());
    EXPECT_STREQ(c.lon, LongitudeField->value());
  }
}

TEST_F(MapViewTest, ReadoutWithoutTheDialogsFieldsStillSetsTheTitle) {
  use(maps().full, maps().full25, 2, 10173, 4828);
  Fl_Input *lat = LatitudeField, *lon = LongitudeField;
  LatitudeField = LongitudeField = nullptr;
  ASSERT_EQ(1, mouse(FL_PUSH, 50, 50));
  EXPECT_EQ(1, mouse(FL_RELEASE, 50, 50));
  LatitudeField = lat;
  LongitudeField = lon;
  EXPECT_STREQ("Mundoscope by Haldrick - Position 0.00 0.00", MainWindow->label());
}

TEST_F(MapViewTest, ReleaseWithoutAPressEndsNothing) {
  use(maps().full, maps().full25, 2, 5000, 5000);
  MapView->pressed_ = 1;  // as if a press had shown the marker but started no pan
  EXPECT_EQ(0, mouse(FL_RELEASE, 300, 300));
  EXPECT_EQ(0, MapView->pressed_);
  EXPECT_EQ(5000, pos_x());
  EXPECT_EQ(0, mouse(FL_DRAG, 300, 300));
}

TEST_F(MapViewTest, ASecondPressMeasuresThePanFromItself) {
  use(maps().full, maps().full25, 1, 5000, 5000);
  ASSERT_EQ(1, mouse(FL_PUSH, 100, 100));
  ASSERT_EQ(1, mouse(FL_PUSH, 300, 200));
  EXPECT_EQ(1, mouse(FL_RELEASE, 310, 205));
  EXPECT_EQ(4990, pos_x());
  EXPECT_EQ(4995, pos_y());
}

TEST_F(MapViewTest, PressShowsTheMoveCursorAndReleaseTheDefault) {
  use(maps().full, maps().full25, 3, 5000, 5000);
  draw_now();
  const Window win = fl_xid(MainWindow);
  XWarpPointer(fl_display, None, win, 0, 0, 0, 0, 300, 300);
  XSync(fl_display, False);
  x11::CursorImage idle, moving, after, fleur;
  ASSERT_TRUE(x11::cursor_image(fl_display, &idle)) << "no XFixes";

  // The reference: the X font cursor for moving, on a window of our own under the pointer.
  const Window probe = XCreateSimpleWindow(fl_display, RootWindow(fl_display, fl_screen), 900,
                                           600, 50, 50, 0, 0, 0);
  XSetWindowAttributes attr;
  attr.override_redirect = True;
  attr.cursor = XCreateFontCursor(fl_display, 52 /* XC_fleur */);
  XChangeWindowAttributes(fl_display, probe, CWOverrideRedirect | CWCursor, &attr);
  XMapRaised(fl_display, probe);
  XWarpPointer(fl_display, None, probe, 0, 0, 0, 0, 25, 25);
  XSync(fl_display, False);
  ASSERT_TRUE(x11::cursor_image(fl_display, &fleur));
  XDestroyWindow(fl_display, probe);
  XFreeCursor(fl_display, attr.cursor);
  XWarpPointer(fl_display, None, win, 0, 0, 0, 0, 300, 300);
  XSync(fl_display, False);

  ASSERT_EQ(1, mouse(FL_PUSH, 300, 300));
  XSync(fl_display, False);
  ASSERT_TRUE(x11::cursor_image(fl_display, &moving));
  EXPECT_EQ(fleur.argb, moving.argb);
  EXPECT_NE(idle.argb, moving.argb);

  ASSERT_EQ(1, mouse(FL_RELEASE, 300, 300));
  XSync(fl_display, False);
  ASSERT_TRUE(x11::cursor_image(fl_display, &after));
  EXPECT_EQ(idle.argb, after.argb);
}

TEST_F(MapViewTest, EveryStepOfAPanBringsAShownDialogToTheFront) {
  use(maps().full, maps().full25, 3, 5000, 5000);
  GotoDialog->show();
  harness::wait_until([] { return GotoDialog->shown() && GotoDialog->visible(); });
  harness::settle();
  const struct {
    int event;
    const char *name;
  } steps[] = {{FL_PUSH, "press"}, {FL_DRAG, "drag"}, {FL_DRAG, "drag"}, {FL_RELEASE, "release"}};
  for (const auto &s : steps) {
    SCOPED_TRACE(s.name);
    XRaiseWindow(fl_display, fl_xid(MainWindow));
    XSync(fl_display, False);
    ASSERT_TRUE(harness::above(MainWindow, GotoDialog));
    EXPECT_EQ(1, mouse(s.event, 200, 200));
    XSync(fl_display, False);
    EXPECT_TRUE(harness::above(GotoDialog, MainWindow));
  }
  GotoDialog->hide();
  harness::settle();
  for (const auto &s : steps) {
    SCOPED_TRACE(std::string(s.name) + " with the dialog hidden");
    mouse(s.event, 200, 200);
    EXPECT_FALSE(GotoDialog->shown());
  }
}

// ---- zoom commands ----

TEST_F(MapViewTest, ZoomCommandsShiftAroundTheCentreAndBackAgain) {
  const struct {
    const char *name;
    int level, x, y;
    bool out;  // Zoom Out, else Zoom In
    int level2, x2, y2;
  } cases[] = {
      {"1 -> 2", 1, 1000, 1000, true, 2, 687, 714},
      {"2 -> 1", 2, 687, 714, false, 1, 1000, 1000},
      {"1 -> 2 clamped at the corner", 1, 0, 0, true, 2, 0, 0},
      {"2 -> 1 from the corner", 2, 0, 0, false, 1, 313, 286},
      {"2 -> 3", 2, 5000, 5000, true, 3, 4530, 4571},
      {"3 -> 2", 3, 4530, 4571, false, 2, 5000, 5000},
      {"3 -> 4", 3, 5000, 5000, true, 4, 4373, 4428},
      {"4 -> 3", 4, 4373, 4428, false, 3, 5000, 5000},
      {"4 -> 3 clamped at width and height", 4, 21600, 10800, false, 3, 21600, 10800},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    use(maps().full, maps().full25, c.level, c.x, c.y);
    MainWindow->label("unchanged");
    MapView->dirty_ = 0;
    (c.out ? ZoomOutButton : ZoomInButton)->do_callback();
    EXPECT_EQ(c.level2, CurrentZoomLevel);
    EXPECT_EQ(c.level2, MapView->zoom());
    EXPECT_EQ(c.x2, pos_x());
    EXPECT_EQ(c.y2, pos_y());
    EXPECT_EQ(1, MapView->dirty_);
    EXPECT_STREQ("unchanged", MainWindow->label());  // the read-out is left alone
  }
}

TEST_F(MapViewTest, ZoomButtonsAreActiveExactlyWithinTheLimits) {
  use(maps().full, maps().full25, 2, 5000, 5000);
  ZoomInButton->do_callback();  // 2 -> 1
  EXPECT_FALSE(ZoomInButton->active());
  EXPECT_TRUE(ZoomOutButton->active());
  ZoomOutButton->do_callback();  // 1 -> 2
  EXPECT_TRUE(ZoomInButton->active());
  EXPECT_TRUE(ZoomOutButton->active());
  ZoomOutButton->do_callback();  // 2 -> 3
  EXPECT_TRUE(ZoomInButton->active());
  EXPECT_TRUE(ZoomOutButton->active());
  ZoomOutButton->do_callback();  // 3 -> 4
  EXPECT_TRUE(ZoomInButton->active());
  EXPECT_FALSE(ZoomOutButton->active());
  EXPECT_EQ(4, CurrentZoomLevel);
}

TEST_F(MapViewTest, ZoomAtTheLimitsOrWithoutImageOnlyRedraws) {
  const struct {
    const char *name;
    bool image;
    int level;
    bool out;
  } cases[] = {
      {"Zoom In at level 1", true, 1, false},
      {"Zoom Out at level 4", true, 4, true},
      {"Zoom In without image", false, 3, false},
      {"Zoom Out without image", false, 3, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    use(maps().full, maps().full25, c.level, 5000, 5000);
    if (!c.image) MapView->load_image(maps().missing.c_str());
    GotoDialog->show();
    harness::wait_until([] { return GotoDialog->visible(); });
    harness::settle();
    XRaiseWindow(fl_display, fl_xid(MainWindow));
    XSync(fl_display, False);
    MapView->dirty_ = 0;
    (c.out ? ZoomOutButton : ZoomInButton)->do_callback();
    XSync(fl_display, False);
    EXPECT_EQ(c.level, CurrentZoomLevel);
    EXPECT_EQ(c.level, MapView->zoom());
    EXPECT_EQ(0, MapView->dirty_);
    if (c.image) {
      EXPECT_EQ(5000, pos_x());
    }
    EXPECT_TRUE(ZoomInButton->active());
    EXPECT_TRUE(ZoomOutButton->active());
    EXPECT_NE(0, MainWindow->damage());  // redrawn all the same
    // Only Zoom Out brings the dialog to the front.
    EXPECT_EQ(c.out, harness::above(GotoDialog, MainWindow));
    GotoDialog->hide();
    harness::settle();
  }
}

}  // namespace
