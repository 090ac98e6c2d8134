// The Information window against the real toolkit: its boxes, its place over the main
// window and its timeout.
#include <string>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <gtest/gtest.h>

#include "info_window.h"
#include "program.h"
#include "shell_windows.h"

namespace {

TEST(InfoWindowBuild, FourLabelBoxesAsLaidOut) {
  shell_test::reset();
  EXPECT_FALSE(InfoWindow->shown());
  EXPECT_EQ(InfoWindow->w(), 271);
  EXPECT_EQ(InfoWindow->h(), 165);
  EXPECT_STREQ(InfoWindow->label(), "Information");
  EXPECT_EQ(InfoWindow->resizable(), nullptr);
  ASSERT_EQ(InfoWindow->children(), 4);

  struct Expect {
    int x, y, w, h;
    Fl_Font font;
    int size;
  } const want[] = {{25, 10, 220, 55, FL_TIMES_ITALIC, 42},
                    {25, 70, 220, 20, FL_TIMES, 16},
                    {30, 90, 210, 20, FL_TIMES, 16},
                    {10, 120, 250, 20, FL_TIMES, 16}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const Fl_Box *b = dynamic_cast<const Fl_Box *>(InfoWindow->child(i));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->x(), want[i].x);
    EXPECT_EQ(b->y(), want[i].y);
    EXPECT_EQ(b->w(), want[i].w);
    EXPECT_EQ(b->h(), want[i].h);
    EXPECT_EQ(b->labelfont(), want[i].font);
    EXPECT_EQ(b->labelsize(), want[i].size);
    EXPECT_EQ(b->box(), FL_NO_BOX);
    ASSERT_NE(b->label(), nullptr);
  }
  EXPECT_STREQ(InfoWindow->child(0)->label(), "Mundoscope");
  EXPECT_STREQ(InfoWindow->child(2)->label(), "Image data credit: Visible Earth, NASA");
  // The web address names a reserved example domain, no real site.
  EXPECT_NE(std::string(InfoWindow->child(3)->label()).find(".example.org"), std::string::npos);
}

struct CentreCase {
  int x, y, w, h;  // main window
  int ix, iy;      // Information window afterwards
};

const CentreCase kCentreCases[] = {
    {100, 80, 629, 574, 100 + 314 - 135, 80 + 287 - 82},  // 279, 285
    {0, 0, 629, 574, 179, 205},
    {50, 40, 200, 100, 50 + 100 - 135, 40 + 50 - 82},  // narrower than the window itself
    {1, 1, 1, 1, 1 - 135, 1 - 82},
    {2000, 1500, 1001, 999, 2000 + 500 - 135, 1500 + 499 - 82},
};

TEST(InfoWindowCentre, PlacedOverTheMainWindowsCentreKeepingItsSize) {
  for (const CentreCase &c : kCentreCases) {
    SCOPED_TRACE(testing::Message() << "main " << c.x << "," << c.y << " " << c.w << "x" << c.h);
    shell_test::reset();
    MainWindow->resize(c.x, c.y, c.w, c.h);
    centre_info_window();
    EXPECT_EQ(InfoWindow->x(), c.ix);
    EXPECT_EQ(InfoWindow->y(), c.iy);
    EXPECT_EQ(InfoWindow->w(), 271);
    EXPECT_EQ(InfoWindow->h(), 165);
  }
}

bool info_shown() { return InfoWindow->shown() != 0; }

TEST(InfoWindowShow, AppearsWhereCentredOnTheScreen) {
  shell_test::reset();
  MainWindow->resize(100, 80, 629, 574);
  centre_info_window();
  MainWindow->show();
  InfoWindow->show();
  ASSERT_TRUE(shell_test::wait_until(info_shown, 10));
  Fl::wait(0.2);
  EXPECT_EQ(InfoWindow->x(), 279);
  EXPECT_EQ(InfoWindow->y(), 285);
  info_timeout_cb(nullptr);
  EXPECT_FALSE(InfoWindow->shown());
  MainWindow->hide();
}

TEST(InfoWindowShow, TimeoutAfterAnEarlyCloseIsHarmless) {
  shell_test::reset();
  InfoWindow->show();
  InfoWindow->hide();  // closed by the user before the timer fires
  info_timeout_cb(nullptr);
  EXPECT_FALSE(InfoWindow->shown());
}

}  // namespace
