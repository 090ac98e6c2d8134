// The main window as its builder makes it, its resizing, and "Display file" (Ctrl+O).
#include <gtest/gtest.h>  // before the X headers, whose macros clash with its names

#include <cstdio>
#include <string>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_File_Input.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Return_Button.H>

#include "fixtures.h"
#include "goto_dialog.h"
#include "image_source.h"
#include "irgb_view.h"
#include "main_window.h"
#include "program.h"
#include "view_harness.h"

namespace {

struct Files {
  std::string full, thousand, odd_name, missing;
};

const Files &files() {
  static Files f = [] {
    Files f;
    const std::string &dir = harness::temp_dir();
    f.full = dir + "/world.jpg";
    f.thousand = dir + "/thousand.jpg";
    f.odd_name = dir + "/with\\backslash.jpg";  // a legal Linux name; "\" also ends a folder
    f.missing = dir + "/none.dat";
    bool ok = fixture::write_jpeg(f.full, 21600, 10800, fixture::flat_rows(21600, 20, 60, 140));
    ok = ok && fixture::write_jpeg(f.thousand, 1000, 1000, fixture::flat_rows(1000, 1, 2, 3));
    ok = ok && fixture::write_jpeg(f.odd_name, 30, 20, fixture::flat_rows(30, 1, 2, 3));
    if (!ok) std::fprintf(stderr, "could not write the test images\n");
    return f;
  }();
  return f;
}

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files();
    harness::build_windows(true);
  }
  void SetUp() override {
    ASSERT_TRUE(MainWindow);
    if (MainWindow->shown() && (MainWindow->w() != 629 || MainWindow->h() != 574)) {
      MainWindow->size(629, 574);
      harness::settle();
    }
  }
};

TEST_F(MainWindowTest, BuilderMakesTheWidgetTree) {
  Fl_Double_Window *win = MainWindow;
  EXPECT_FALSE(win->shown());  // built hidden (this test runs first)
  EXPECT_EQ(629, win->w());
  EXPECT_EQ(574, win->h());
  EXPECT_STREQ("Mundoscope - please wait while loading the image...", win->label());
  EXPECT_EQ(FL_BORDER_BOX, win->box());
  EXPECT_EQ(win, win->resizable());
  ASSERT_EQ(2, win->children());

  ASSERT_EQ(MapView, win->child(0));
  EXPECT_EQ(1, MapView->x());
  EXPECT_EQ(1, MapView->y());
  EXPECT_EQ(627, MapView->w());
  EXPECT_EQ(572, MapView->h());
  EXPECT_EQ(nullptr, MapView->label());
  EXPECT_EQ(win, MapView->owner_);
  EXPECT_EQ(1, MapView->zoom());
  EXPECT_EQ(1, MapView->dirty_);
  EXPECT_EQ(nullptr, MapView->image());

  Fl_Group *group = win->child(1)->as_group();
  ASSERT_NE(nullptr, group);
  EXPECT_EQ(5, group->x());
  EXPECT_EQ(5, group->y());
  EXPECT_EQ(300, group->w());
  EXPECT_EQ(30, group->h());
  EXPECT_EQ(nullptr, group->label());
  EXPECT_EQ(FL_NO_BOX, group->box());  // the map shows between the buttons
  EXPECT_EQ(nullptr, group->resizable());
  ASSERT_EQ(3, group->children());

  const struct {
    int x;
    const char *label;
    Fl_Callback *cb;
    Fl_Button *global;
  } buttons[] = {{5, "Zoom In", zoom_in_cb, ZoomInButton},
                 {85, "Zoom Out", zoom_out_cb, ZoomOutButton},
                 {165, "Goto Pos", goto_open_cb, nullptr}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(buttons[i].label);
    Fl_Button *b = dynamic_cast<Fl_Button *>(group->child(i));
    ASSERT_NE(nullptr, b);
    if (buttons[i].global) {
      EXPECT_EQ(buttons[i].global, b);
    }
    EXPECT_EQ(buttons[i].x, b->x());
    EXPECT_EQ(5, b->y());
    EXPECT_EQ(75, b->w());
    EXPECT_EQ(24, b->h());
    EXPECT_STREQ(buttons[i].label, b->label());
    EXPECT_EQ(FL_PLASTIC_UP_BOX, b->box());
    EXPECT_EQ(70u, b->color());
    EXPECT_EQ(12, b->labelsize());
    EXPECT_EQ(buttons[i].cb, b->callback());
    EXPECT_EQ(nullptr, b->user_data());
    EXPECT_EQ(0, b->shortcut());
    EXPECT_EQ(FL_NORMAL_BUTTON, b->type());
    EXPECT_EQ(FL_WHEN_RELEASE, b->when());
    EXPECT_TRUE(b->active());
  }
  // Colour 70 of the toolkit's default map.
  EXPECT_EQ(0x3FDA0000u, Fl::get_color(70));
}

TEST_F(MainWindowTest, ResizingResizesTheViewAndKeepsTheButtons) {
  harness::show_main_window();
  const struct {
    int w, h;
  } sizes[] = {{900, 800}, {700, 600}, {629, 574}};
  for (const auto &s : sizes) {
    SCOPED_TRACE(std::to_string(s.w) + " x " + std::to_string(s.h));
    MainWindow->size(s.w, s.h);
    harness::settle();
    EXPECT_EQ(1, MapView->x());
    EXPECT_EQ(1, MapView->y());
    EXPECT_EQ(s.w - 2, MapView->w());
    EXPECT_EQ(s.h - 2, MapView->h());
    for (Fl_Button *b : {ZoomInButton, ZoomOutButton}) {
      EXPECT_EQ(75, b->w());
      EXPECT_EQ(24, b->h());
    }
  }
}

TEST(DisplayBaseName, TextAfterTheLastSlashOrBackslash) {
  const struct {
    const char *path, *base;
  } cases[] = {{"/a/b/map.jpg", "map.jpg"}, {"c:\\maps\\w.tif", "w.tif"},
               {"plain.dat", "plain.dat"}, {"/a/b/", ""},
               {"a/b\\c", "c"},             {"a\\b/c", "c"},
               {"", ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_STREQ(c.base, display_base_name(c.path));
  }
}

TEST_F(MainWindowTest, DisplayFileOpensThePrimaryAndTitlesItsSize) {
  ASSERT_NE(nullptr, MapView->load_overview(files().thousand.c_str()));
  const struct {
    const std::string *path;
    const char *title;
    int w;
  } cases[] = {
      {&files().full, "Mundoscope - world.jpg - 21600 x 10800 pixel - 667.4 MByte", 21600},
      {&files().thousand, "Mundoscope - thousand.jpg - 1000 x 1000 pixel - 2.9 MByte", 1000},
      {&files().odd_name, "Mundoscope - backslash.jpg - 30 x 20 pixel - 0.0 MByte", 30},
      {&files().missing, "Mundoscope - none.dat - 0 x 0 pixel - 0.0 MByte", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(*c.path);
    // Level, overview and buttons stay as they are.
    MapView->zoom(4);
    CurrentZoomLevel = 4;
    ZoomOutButton->deactivate();
    ZoomInButton->activate();
    const ImageSource *overview = MapView->overview();
    MainWindow->clear_damage();
    display_file_path(c.path->c_str());
    EXPECT_STREQ(c.title, MainWindow->label());
    EXPECT_EQ(c.w, MapView->image_w());
    EXPECT_EQ(4, MapView->zoom());
    EXPECT_EQ(4, CurrentZoomLevel);
    EXPECT_EQ(overview, MapView->overview());
    EXPECT_FALSE(ZoomOutButton->active());
    EXPECT_TRUE(ZoomInButton->active());
    if (MainWindow->shown()) {
      EXPECT_NE(0, MainWindow->damage());
    }
  }
  ZoomOutButton->activate();
}

// The file chooser is modal; a timer answers it as a user would.
struct ChooserAnswer {
  std::string seen_title;
  std::string path;  // typed into its file name field and confirmed; empty: cancelled
  bool answered = false;
};

Fl_Window *find_window(const char *label) {
  for (Fl_Window *w = Fl::first_window(); w; w = Fl::next_window(w))
    if (w->label() && std::string(w->label()) == label) return w;
  return nullptr;
}

template <class T>
T *find_child(Fl_Group *g) {
  for (int i = 0; i < g->children(); ++i) {
    if (T *t = dynamic_cast<T *>(g->child(i))) return t;
    if (Fl_Group *sub = g->child(i)->as_group())
      if (T *t = find_child<T>(sub)) return t;
  }
  return nullptr;
}

void answer_chooser(void *data) {
  ChooserAnswer *a = static_cast<ChooserAnswer *>(data);
  Fl_Window *w = find_window("Display file");
  if (!w || !w->shown()) {
    Fl::repeat_timeout(0.05, answer_chooser, data);
    return;
  }
  a->seen_title = w->label();
  a->answered = true;
  if (a->path.empty()) {
    w->do_callback();  // closing the chooser's window is its Cancel
    return;
  }
  Fl_File_Input *name = find_child<Fl_File_Input>(w);
  Fl_Return_Button *ok = find_child<Fl_Return_Button>(w);
  if (!name || !ok) {
    w->do_callback();
    return;
  }
  name->value(a->path.c_str());
  ok->do_callback();
}

int send_key(int key, int state) {
  Fl::e_keysym = key;
  Fl::e_state = state;
  static char text[2];
  text[0] = static_cast<char>(state & FL_CTRL ? key & 0x1f : key);
  Fl::e_text = text;
  Fl::e_length = 1;
  return MainWindow->handle(FL_SHORTCUT);
}

TEST_F(MainWindowTest, CtrlOAsksForAFileAndDisplaysIt) {
  harness::show_main_window();
  display_file_path(files().full.c_str());
  MainWindow->label("before");

  ChooserAnswer cancel;
  Fl::add_timeout(0.05, answer_chooser, &cancel);
  EXPECT_EQ(1, send_key('o', FL_CTRL));
  Fl::remove_timeout(answer_chooser, &cancel);
  EXPECT_TRUE(cancel.answered);
  EXPECT_EQ("Display file", cancel.seen_title);
  EXPECT_STREQ("before", MainWindow->label());  // cancelled: nothing done
  EXPECT_EQ(21600, MapView->image_w());

  ChooserAnswer pick;
  pick.path = files().thousand;
  Fl::add_timeout(0.05, answer_chooser, &pick);
  EXPECT_EQ(1, send_key('o', FL_CTRL));
  Fl::remove_timeout(answer_chooser, &pick);
  EXPECT_TRUE(pick.answered);
  EXPECT_STREQ("Mundoscope - thousand.jpg - 1000 x 1000 pixel - 2.9 MByte", MainWindow->label());
  EXPECT_EQ(1000, MapView->image_w());

  // Without Ctrl, or with Alt as well, the key is not the shortcut.
  MainWindow->label("before");
  EXPECT_EQ(0, send_key('o', 0));
  EXPECT_EQ(0, send_key('o', FL_CTRL | FL_ALT));
  EXPECT_EQ(0, send_key('p', FL_CTRL));
  EXPECT_STREQ("before", MainWindow->label());
  EXPECT_EQ(nullptr, find_window("Display file"));
}

}  // namespace
