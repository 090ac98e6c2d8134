// Driving the real main window in-process under Xvfb: building it once, showing it,
// waiting for draws, reading back the view's pixels, and mouse events with the toolkit's
// event coordinates set.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ImageSource;

namespace harness {

// Builds MainWindow with build_main_window() and, when asked, GotoDialog with its fields,
// once per test binary. The dialog is placed right of the main window, off its pixels.
void build_windows(bool with_goto_dialog);

// Runs the event loop until pred() holds or `seconds` pass; returns pred().
bool wait_until(const std::function<bool()> &pred, double seconds = 20.0);

// Shows the main window at 0, 0 if it is not shown, and waits until it is mapped.
void show_main_window();

// Handles pending events and draws every damaged window; the X server has done all of it
// when this returns.
void settle();

// Redraws the main window and settles: the view draws once.
void redraw_and_settle();

// The view's pixels as on the screen, w x h x 3 bytes, rows top first. With
// redraw_first the main window is redrawn before (the view draws once), else only what
// is pending is drawn.
std::vector<uint8_t> read_view(bool redraw_first = true);

// Sends `event` to the view's handle with Fl::event_x/y set to the window position x, y.
int mouse(int event, int x, int y);

// The rows of a source that hold a buffer, as ranges "a-b,c" ("" when none).
std::string cached_rows(const ImageSource *src);

// A temporary folder for the test binary's generated images, removed at exit.
const std::string &temp_dir();

// X stacking order: whether window `a` lies above window `b` (both shown top levels).
bool above(const void *a_window, const void *b_window);

}  // namespace harness
