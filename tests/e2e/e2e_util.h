// Driving the real programs from a test: starting them, waiting for their windows and
// titles, and the pointer and keyboard through xdotool, as a user would.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>
#include <X11/Xlib.h>

namespace e2e {

using Clock = std::chrono::steady_clock;

// A program started with its standard output and error in files; killed (this process
// only) when the object goes while it still runs.
class Program {
 public:
  ~Program();
  // Starts argv[0] with the arguments; false if it could not be started.
  bool start(const std::vector<std::string> &argv, const std::string &out_file,
             const std::string &err_file);
  // Waits for the exit; the exit status, or -1 after a signal or at the timeout.
  int wait_exit(double seconds);
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = 0;
};

// Runs a program to its end with output and error in files; its exit status or -1.
int run(const std::vector<std::string> &argv, const std::string &out_file,
        const std::string &err_file);

// Polls for a viewable top-level window named exactly `name`.
bool wait_window(Display *d, const std::string &name, double seconds, Window *out);

// Polls until no viewable top-level window is named `name`.
bool wait_gone(Display *d, const std::string &name, double seconds);

// Polls until the window's name satisfies `pred`; the last name seen goes to *name.
bool wait_name(Display *d, Window w, const std::function<bool(const std::string &)> &pred,
               double seconds, std::string *name);

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};
Rect rect_of(Display *d, Window w);
bool wait_geometry(Display *d, Window w, const Rect &want, double seconds);

// The pointer through xdotool (XTEST, the server's own input path). Coordinates are on
// the screen. No window manager runs: the window under the pointer takes the keys.
bool move_to(int x, int y);
bool click(int x, int y);
bool drag(int x1, int y1, int x2, int y2);
// Replaces the text of the input field at x, y with `text`.
bool retype_field(int x, int y, const std::string &text);

// The screen pixels of a rectangle (3 bytes each); empty when it is off the screen.
std::vector<uint8_t> grab(Display *d, const Rect &r);

// Pixels of a button's label area dark enough to be the active label's black text.
// An inactive button draws its label greyed, so this falls to zero.
int dark_label_pixels(Display *d, const Rect &button);

// Saves a screenshot of the rectangle under <build>/screenshots/<name>.png.
void save_shot(Display *d, const Rect &r, const std::string &name);

}  // namespace e2e
