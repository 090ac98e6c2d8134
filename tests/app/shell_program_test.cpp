// The real program in a temporary bundle under the test's own X server: the Information
// window over the main window and gone after about three seconds, the main window closed
// while the Goto Position dialog is open, and a second start coming back at the view and
// window geometry the first one was closed at.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "program_runner.h"
#include "x11util.h"

namespace {

using runner::Clock;
using runner::click;
using runner::read_all;
using runner::rect_of;
using runner::Rect;
using runner::wait_geometry;
using runner::wait_gone;
using runner::wait_window;

const char *kFirstTitle = "Mundoscope v1.0 - Use mouse 'click and drag' to pan";

// A bundle with a copy of the viewer and generated maps of the real sizes.
class Bundle {
 public:
  bool make() {
    root_ = fixture::make_temp_dir("bundle");
    runner::BundleCopy copy;
    if (!runner::copy_bundle(root_, true, &copy)) return false;
    exe_ = copy.exe;
    res_ = copy.resources;
    return fixture::write_jpeg(res_ + "VisibleEarth.dat", 21600, 10800,
                               fixture::flat_rows(21600, 30, 80, 150)) &&
           fixture::write_jpeg(res_ + "VisibleEarth_25.dat", 5400, 2700,
                               fixture::flat_rows(5400, 30, 80, 150));
  }
  ~Bundle() { fixture::remove_tree(root_); }
  const std::string &exe() const { return exe_; }
  std::string params() const { return res_ + "viewparam.dat"; }
  std::string log(const char *name) const { return root_ + "/" + name; }

 private:
  std::string root_, exe_, res_;
};

// One run of the program; killed (only this process) if the test leaves it running.
class ProgramRun : public runner::Program {
 public:
  bool start(const Bundle &b) { return Program::start({b.exe()}, b.log("stdout"), b.log("stderr")); }
};

// The program's own buttons, relative to the main window.
void click_zoom_in(const Rect &main) { ASSERT_TRUE(click(main.x + 5 + 37, main.y + 5 + 12)); }
void click_goto_pos(const Rect &main) { ASSERT_TRUE(click(main.x + 165 + 37, main.y + 5 + 12)); }

// viewparam.dat as its fields; every separator must be one blank and nothing may follow.
std::vector<long> params_values(const std::string &text) {
  std::vector<long> out;
  std::string cur;
  for (char ch : text) {
    if (ch == ' ') {
      EXPECT_FALSE(cur.empty()) << "doubled blank in \"" << text << "\"";
      out.push_back(std::stol(cur));
      cur.clear();
    } else {
      EXPECT_TRUE(ch == '-' || (ch >= '0' && ch <= '9')) << "byte " << int(ch) << " in \"" << text << "\"";
      cur += ch;
    }
  }
  if (!cur.empty()) out.push_back(std::stol(cur));
  return out;
}

class ShellProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = x11::open_display();
    ASSERT_NE(display_, nullptr) << "no X display";
    // Windows of the program vanish while the test looks at them; a query on a gone
    // window must fail quietly rather than end the test through Xlib's default handler.
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    ASSERT_TRUE(bundle_.make());
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }

  // Starts the program and checks the Information window: centred on the main window
  // as start-up placed it before showing it (`expected_main`, or where the main window
  // is once shown when null), gone after about three seconds. Returns the main window
  // and its geometry on the screen.
  void start_and_check_info(ProgramRun *run, const Rect *expected_main, Window *main,
                            Rect *main_rect) {
    const auto started = Clock::now();
    ASSERT_TRUE(run->start(bundle_));
    Window info;
    ASSERT_TRUE(wait_window(display_, "Information", 60, &info)) << read_all(bundle_.log("stderr"));
    const auto seen = Clock::now();
    ASSERT_TRUE(wait_window(display_, kFirstTitle, 10, main));
    *main_rect = rect_of(display_, *main);
    const Rect centred_on = expected_main ? *expected_main : *main_rect;
    const Rect ir = rect_of(display_, info);
    SCOPED_TRACE(testing::Message() << "main window at " << main_rect->x << "," << main_rect->y
                                    << " " << main_rect->w << "x" << main_rect->h);
    EXPECT_EQ(ir.w, 271);
    EXPECT_EQ(ir.h, 165);
    EXPECT_EQ(ir.x, centred_on.x + centred_on.w / 2 - 135);
    EXPECT_EQ(ir.y, centred_on.y + centred_on.h / 2 - 82);
    std::printf("windows up %.2f s after the start\n",
                std::chrono::duration<double>(seen - started).count());

    ASSERT_TRUE(wait_gone(display_, "Information", 20));
    const double shown_for = std::chrono::duration<double>(Clock::now() - seen).count();
    EXPECT_GE(shown_for, 2.0);
    EXPECT_LE(shown_for, 12.0);
    std::printf("Information window shown for %.2f s\n", shown_for);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_TRUE(x11::find_by_name(display_, "Information").empty()) << "came back";
  }

  // Opens the dialog with the Goto Pos button and closes the main window while it is
  // open; the watchdog must still let the program end, and it must save.
  void close_with_dialog_open(ProgramRun *run, Window main, const Rect &main_rect, Rect *dialog_rect,
                              const Rect *move_dialog_to) {
    click_goto_pos(main_rect);
    Window dialog;
    ASSERT_TRUE(wait_window(display_, "Goto Position", 10, &dialog));
    if (move_dialog_to) {
      XMoveWindow(display_, dialog, move_dialog_to->x, move_dialog_to->y);
      XSync(display_, False);
      ASSERT_TRUE(wait_geometry(display_, dialog, *move_dialog_to, 5));
    }
    *dialog_rect = rect_of(display_, dialog);
    ASSERT_TRUE(x11::request_close(display_, main));
    ASSERT_TRUE(wait_gone(display_, kFirstTitle, 10));
    // Whether the dialog is still up at this moment is a race with the watchdog, which may
    // run at any time within 0.7 s; what counts is that the program ends and saves.
    const auto closed = Clock::now();
    EXPECT_EQ(run->wait_exit(20), 0) << read_all(bundle_.log("stderr"));
    std::printf("ended %.2f s after the main window was closed\n",
                std::chrono::duration<double>(Clock::now() - closed).count());
    EXPECT_TRUE(x11::find_by_name(display_, "Goto Position").empty());
  }

  Display *display_ = nullptr;
  Bundle bundle_;
};

TEST_F(ShellProgram, SecondStartComesBackWhereTheFirstWasClosed) {
  const Rect main_place = {100, 80, 700, 620};
  const Rect dialog_place = {300, 200, 216, 75};

  // First run: no viewparam.dat yet.
  std::vector<long> first;
  {
    ProgramRun run;
    Window main;
    Rect main_rect, dialog_rect;
    // Built without a position, the main window is at 0, 0 when the Information window
    // is centred on it; the toolkit then moves it to keep its title bar on the screen.
    const Rect built = {0, 0, 629, 574};
    ASSERT_NO_FATAL_FAILURE(start_and_check_info(&run, &built, &main, &main_rect));
    EXPECT_EQ(main_rect.w, 629);
    EXPECT_EQ(main_rect.h, 574);
    XMoveResizeWindow(display_, main, main_place.x, main_place.y, main_place.w, main_place.h);
    XSync(display_, False);
    ASSERT_TRUE(wait_geometry(display_, main, main_place, 5));
    click_zoom_in(main_place);  // level 3, the first view, to level 2
    const long t0 = static_cast<long>(std::time(nullptr));
    ASSERT_NO_FATAL_FAILURE(
        close_with_dialog_open(&run, main, main_place, &dialog_rect, &dialog_place));
    const long t1 = static_cast<long>(std::time(nullptr));

    const std::string text = read_all(bundle_.params());
    first = params_values(text);
    ASSERT_EQ(first.size(), 10u) << text;
    EXPECT_EQ(first[2], 2) << text;  // one Zoom In from the first view's level 3
    EXPECT_EQ(first[3], main_place.x) << text;
    EXPECT_EQ(first[4], main_place.y) << text;
    EXPECT_EQ(first[5], main_place.w) << text;
    EXPECT_EQ(first[6], main_place.h) << text;
    EXPECT_EQ(first[7], dialog_place.x) << text;
    EXPECT_EQ(first[8], dialog_place.y) << text;
    EXPECT_GE(first[9], t0);
    EXPECT_LE(first[9], t1 + 1);
  }

  // Second run: the window, the dialog and the view come back; closing at once saves
  // the same view again.
  {
    ProgramRun run;
    Window main;
    Rect main_rect, dialog_rect;
    ASSERT_NO_FATAL_FAILURE(start_and_check_info(&run, nullptr, &main, &main_rect));
    EXPECT_EQ(main_rect.x, main_place.x);
    EXPECT_EQ(main_rect.y, main_place.y);
    EXPECT_EQ(main_rect.w, main_place.w);
    EXPECT_EQ(main_rect.h, main_place.h);
    ASSERT_NO_FATAL_FAILURE(close_with_dialog_open(&run, main, main_rect, &dialog_rect, nullptr));
    EXPECT_EQ(dialog_rect.x, dialog_place.x);
    EXPECT_EQ(dialog_rect.y, dialog_place.y);

    const std::string text = read_all(bundle_.params());
    const std::vector<long> second = params_values(text);
    ASSERT_EQ(second.size(), 10u) << text;
    for (int i = 0; i < 9; ++i) EXPECT_EQ(second[i], first[i]) << "value " << i + 1 << ": " << text;
  }
}

}  // namespace
