// The Goto Position dialog against the real windows: its widgets, the Ok operation from
// typed texts to the stored view position at each zoom level, Enter, and the watchdog.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Enumerations.H>
#include <gtest/gtest.h>

#include "goto_dialog.h"
#include "image_source.h"
#include "irgb_view.h"
#include "program.h"
#include "shell_windows.h"

namespace {

using shell_test::MAP_H;
using shell_test::MAP_W;

Fl_Button *ok_button() { return dynamic_cast<Fl_Button *>(GotoDialog->child(2)); }

TEST(GotoDialogBuild, WidgetsAsLaidOut) {
  shell_test::reset();
  EXPECT_FALSE(GotoDialog->shown());
  EXPECT_EQ(GotoDialog->w(), 216);
  EXPECT_EQ(GotoDialog->h(), 75);
  EXPECT_STREQ(GotoDialog->label(), "Goto Position");
  EXPECT_EQ(GotoDialog->resizable(), nullptr);
  ASSERT_EQ(GotoDialog->children(), 3);

  struct Expect {
    const char *label;
    int x, y, w, h;
  } const want[] = {{"Latitude:", 80, 10, 65, 25}, {"Longitude:", 80, 40, 65, 25},
                    {"Ok", 155, 15, 50, 45}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(want[i].label);
    const Fl_Widget *w = GotoDialog->child(i);
    EXPECT_STREQ(w->label(), want[i].label);
    EXPECT_EQ(w->x(), want[i].x);
    EXPECT_EQ(w->y(), want[i].y);
    EXPECT_EQ(w->w(), want[i].w);
    EXPECT_EQ(w->h(), want[i].h);
  }
  EXPECT_EQ(GotoDialog->child(0), LatitudeField);
  EXPECT_EQ(GotoDialog->child(1), LongitudeField);
  ASSERT_NE(ok_button(), nullptr);
  EXPECT_EQ(dynamic_cast<Fl_Return_Button *>(GotoDialog->child(2)), nullptr);
  EXPECT_EQ(ok_button()->shortcut(), 0);
  EXPECT_EQ(ok_button()->callback(), &goto_ok_cb);
  EXPECT_STREQ(LatitudeField->value(), "");
}

TEST(GotoDialogBuild, GotoPosButtonOpensTheDialog) {
  shell_test::reset();
  // The main window's button group holds Zoom In, Zoom Out and Goto Pos.
  Fl_Button *goto_pos = nullptr;
  for (int i = 0; i < MainWindow->children(); ++i) {
    Fl_Group *g = MainWindow->child(i)->as_group();
    if (g && g->children() == 3) goto_pos = dynamic_cast<Fl_Button *>(g->child(2));
  }
  ASSERT_NE(goto_pos, nullptr);
  EXPECT_STREQ(goto_pos->label(), "Goto Pos");
  LatitudeField->value("12.5");
  goto_pos->do_callback();
  EXPECT_TRUE(GotoDialog->shown());
  EXPECT_STREQ(LatitudeField->value(), "12.5");  // Open touches neither field
  goto_pos->do_callback();                       // already open: stays open
  EXPECT_TRUE(GotoDialog->shown());
  GotoDialog->hide();
}

struct OkCase {
  const char *name;
  const char *lat, *lon;
  int level;
  int x, y;  // stored position afterwards; the view starts at 4000, 3000
};

// Offsets from the stored position to the view centre for a 627 x 572 view:
// level 1: 313, 286; level 2: 627, 572; level 3: 1098, 1001; level 4: 1725, 1573.
const OkCase kOkCases[] = {
    {"equator level 1", "0", "0", 1, 10487, 5114},
    {"equator level 2", "0", "0", 2, 10173, 4828},
    {"equator level 3", "0", "0", 3, 9702, 4399},
    {"equator level 4", "0", "0", 4, 9075, 3827},
    {"top left level 1", "-90", "-180", 1, 0, 0},
    {"top left level 2", "-90", "-180", 2, 0, 0},
    {"top left level 3", "-90", "-180", 3, 0, 0},
    {"top left level 4", "-90", "-180", 4, 0, 0},
    {"bottom right at the centre", "90", "180", 1, 21287, 10514},
    {"latitude 200 clamped to the height", "200", "0", 1, 10487, MAP_H},
    {"positive latitude lies below the middle", "45", "0", 1, 10487, 8100 - 286},
    {"first view", "-50.68", "9.97", 3, 10300, 1358},
    {"text after the number ignored", "45N", "0E", 1, 10487, 8100 - 286},
    {"leading blanks skipped", "   45", "\t 0", 1, 10487, 8100 - 286},
    {"empty latitude keeps the row", "", "0", 1, 10487, 3000},
    {"empty longitude keeps the column", "0", "", 1, 4000, 5114},
    {"both empty keep the view level 1", "", "", 1, 4000, 3000},
    {"both empty keep the view level 2", "", "", 2, 4000, 3000},
    {"both empty keep the view level 3", "", "", 3, 4000, 3000},
    {"both empty keep the view level 4", "", "", 4, 4000, 3000},
    {"words keep the view at level 4", "north", "east", 4, 4000, 3000},
    {"word latitude, number longitude at level 3", "N45", "9.97", 3, 10300, 3000},
    {"nan keeps the coordinate", "nan", "NaN", 2, 4000, 3000},
    {"infinity clamped to the far edge", "inf", "infinity", 1, MAP_W, MAP_H},
    {"minus infinity clamped to 0", "-inf", "-inf", 3, 0, 0},
    {"1e30 clamped to the far edge", "1e30", "1e30", 4, MAP_W, MAP_H},
    {"-1e30 clamped to 0", "-1e30", "-1e30", 1, 0, 0},
    {"beyond float range", "1e999", "-1e999", 2, 0, MAP_H},
    {"beyond int but finite", "3e8", "-4e8", 1, 0, MAP_H},
};

void PrintTo(const OkCase &c, std::ostream *os) { *os << c.name; }

class GotoOk : public ::testing::TestWithParam<OkCase> {};

TEST_P(GotoOk, StoresThePositionThatCentresTheTypedPoint) {
  const OkCase &c = GetParam();
  shell_test::reset();
  ASSERT_EQ(MapView->w(), 627);
  ASSERT_EQ(MapView->h(), 572);
  MapView->zoom(c.level);
  CurrentZoomLevel = c.level;
  MapView->set_position(4000, 3000);
  LatitudeField->value(c.lat);
  LongitudeField->value(c.lon);
  GotoDialog->show();
  MapView->dirty_ = 0;

  ok_button()->do_callback();

  EXPECT_EQ(MapView->image()->pos_x, c.x);
  EXPECT_EQ(MapView->image()->pos_y, c.y);
  EXPECT_EQ(MapView->dirty_, 1);
  EXPECT_EQ(MapView->zoom(), c.level);
  EXPECT_FALSE(GotoDialog->shown());
  EXPECT_STREQ(LatitudeField->value(), c.lat);  // the fields keep what was typed
}

INSTANTIATE_TEST_SUITE_P(Fields, GotoOk, ::testing::ValuesIn(kOkCases),
                         [](const ::testing::TestParamInfo<OkCase> &info) {
                           std::string n;
                           for (const char *p = info.param.name; *p; ++p)
                             n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return n;
                         });

// The read-out of the view centre, as a pan writes it into the fields: the view origin
// for the level, then the centre's offset from the image centre in degrees.
void centre_text(int X, int Y, int w, int h, int level, char *lat, char *lon) {
  static const int factor[5] = {0, 1, 2, 4, 8};
  int ox = X, oy = Y;
  if (level == 3) ox = X - w / 4, oy = Y - h / 4;
  if (level == 4) ox = (X - w) - w / 4, oy = (Y - h) - h / 4;
  const float cx = float(ox) + float(w * factor[level]) / 2 - float(MAP_W) / 2;
  const float cy = float(oy) + float(h * factor[level]) / 2 - float(MAP_H) / 2;
  std::snprintf(lon, 32, "%.2f", cx / 10800 * 180);
  std::snprintf(lat, 32, "%.2f", cy / 5400 * 90);
}

TEST(GotoOkReadOut, OkOnTheShownCentreMovesAtMostOnePixel) {
  const int positions[][2] = {{10300, 1358}, {10173, 4828}, {5001, 7777}, {20000, 9000},
                              {2345, 678}};
  for (int level = 1; level <= 4; ++level) {
    for (const auto &p : positions) {
      shell_test::reset();
      MapView->zoom(level);
      CurrentZoomLevel = level;
      MapView->set_position(p[0], p[1]);
      char lat[32], lon[32];
      centre_text(p[0], p[1], MapView->w(), MapView->h(), level, lat, lon);
      SCOPED_TRACE(testing::Message() << "level " << level << " at " << p[0] << "," << p[1]
                                      << ": " << lat << " " << lon);
      LatitudeField->value(lat);
      LongitudeField->value(lon);
      ok_button()->do_callback();
      EXPECT_LE(std::abs(MapView->image()->pos_x - p[0]), 1);
      EXPECT_LE(std::abs(MapView->image()->pos_y - p[1]), 1);
    }
  }
}

TEST(GotoOkReadOut, WithoutPrimaryImageOnlyHidesTheDialog) {
  shell_test::reset();
  MapView->load_image((shell_test::resource_dir() + "/missing.jpg").c_str());
  ASSERT_EQ(MapView->image(), nullptr);
  LatitudeField->value("10");
  LongitudeField->value("10");
  GotoDialog->show();
  ok_button()->do_callback();
  EXPECT_FALSE(GotoDialog->shown());
  EXPECT_EQ(MapView->image(), nullptr);
}

bool dialog_shown() { return GotoDialog->shown(); }
bool dialog_hidden() { return !GotoDialog->shown(); }

TEST(GotoDialogKeys, EnterInAFieldDoesNotMoveTheView) {
  shell_test::reset();
  MainWindow->show();
  GotoDialog->show();
  ASSERT_TRUE(shell_test::wait_until(dialog_shown, 10));
  Fl::wait(0.1);
  LatitudeField->value("0");
  LongitudeField->value("0");
  for (Fl_Input *field : {LatitudeField, LongitudeField}) {
    field->take_focus();
    Fl::e_keysym = FL_Enter;
    Fl::e_text = const_cast<char *>("\r");
    Fl::e_length = 1;
    Fl::handle(FL_KEYBOARD, GotoDialog);
    Fl::e_keysym = FL_KP_Enter;
    Fl::handle(FL_KEYBOARD, GotoDialog);
  }
  EXPECT_EQ(MapView->image()->pos_x, 1234);
  EXPECT_EQ(MapView->image()->pos_y, 567);
  EXPECT_TRUE(GotoDialog->shown());
  // The same texts through Ok do move it, so the keys were the only thing missing.
  ok_button()->do_callback();
  EXPECT_EQ(MapView->image()->pos_x, 10173);
  GotoDialog->hide();
  MainWindow->hide();
}

TEST(GotoWatchdog, HidesTheDialogOnlyOnceTheMainWindowIsGone) {
  shell_test::reset();
  MainWindow->show();
  GotoDialog->show();
  goto_watchdog_cb(nullptr);
  EXPECT_TRUE(GotoDialog->shown());
  EXPECT_TRUE(Fl::has_timeout(goto_watchdog_cb));  // re-armed
  Fl::remove_timeout(goto_watchdog_cb);

  MainWindow->hide();
  goto_watchdog_cb(nullptr);
  EXPECT_FALSE(GotoDialog->shown());
  EXPECT_TRUE(Fl::has_timeout(goto_watchdog_cb));
  Fl::remove_timeout(goto_watchdog_cb);
}

TEST(GotoWatchdog, EventLoopEndsWhenTheMainWindowClosesWithTheDialogOpen) {
  shell_test::reset();
  MainWindow->show();
  GotoDialog->show();
  ASSERT_TRUE(shell_test::wait_until(dialog_shown, 10));
  Fl::add_timeout(2.0, goto_watchdog_cb);
  MainWindow->hide();  // what the window's close control does
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(shell_test::wait_until(dialog_hidden, 20));
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(waited, 1.9);  // the first run is 2.0 s after it was added
  Fl::remove_timeout(goto_watchdog_cb);
}

}  // namespace
