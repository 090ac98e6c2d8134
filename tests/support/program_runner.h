// Running the real programs from a test: a copy of the viewer in a temporary bundle,
// starting programs with their output in files, waiting for their windows, names and
// geometry, and the pointer and keyboard through xdotool, as a user would.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>
#include <X11/Xlib.h>

namespace runner {

using Clock = std::chrono::steady_clock;

// Polls `pred` every 20 ms until it holds (true) or `seconds` have passed (false).
bool wait_for(const std::function<bool()> &pred, double seconds);

// The whole file; empty when it cannot be read.
std::string read_all(const std::string &path);

// Copies a file and makes the copy executable; false on failure or an empty source.
bool copy_executable(const std::string &from, const std::string &to);

// <root>/Mundoscope.app laid out as the build lays it out, with a copy of the built
// viewer from MUNDOSCOPE_BUNDLE_DIR (a link would resolve to the build's own bundle).
// Paths go through realpath, as the program reports them.
struct BundleCopy {
  std::string app;        // .../Mundoscope.app
  std::string exe;        // .../Contents/Linux/mundoscope
  std::string resources;  // .../Contents/Resources/ (with the slash)
};
// Makes the folders (Contents/Resources only `with_resources`) and copies the viewer.
bool copy_bundle(const std::string &root, bool with_resources, BundleCopy *out);

// A program started with its standard output and error in files; killed (this process
// only) when the object goes while it still runs.
class Program {
 public:
  ~Program();
  // Starts argv[0] with the arguments, in the folder `cwd` when given; false if it could
  // not be started.
  bool start(const std::vector<std::string> &argv, const std::string &out_file,
             const std::string &err_file, const std::string &cwd = std::string());
  // Whether it still runs (reaps it once it has ended).
  bool running();
  // Waits for the exit; the exit status, or -1 after a signal or at the timeout.
  int wait_exit(double seconds);
  // What it wrote so far to its standard output and error.
  std::string out() const { return read_all(out_file_); }
  std::string err() const { return read_all(err_file_); }

 private:
  pid_t pid_ = 0;
  int status_ = -1;
  std::string out_file_, err_file_;
};

// Runs a program to its end with output and error in files; its exit status or -1.
int run(const std::vector<std::string> &argv, const std::string &out_file,
        const std::string &err_file);

// Polls for a viewable top-level window named exactly `name` (the topmost of several).
bool wait_window(Display *d, const std::string &name, double seconds, Window *out);

// Polls until no viewable top-level window is named `name`.
bool wait_gone(Display *d, const std::string &name, double seconds);

// Polls until the window's name satisfies `pred`; the last name seen goes to *name.
bool wait_name(Display *d, Window w, const std::function<bool(const std::string &)> &pred,
               double seconds, std::string *name);

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};
// The window's place on the screen and size; all zero when it is gone.
Rect rect_of(Display *d, Window w);
// Polls until the window stands exactly at `want`.
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

// Saves a screenshot of the rectangle as <build>/screenshots/<name>.png. True when saved
// or when no build folder is set; false when the grab or the write fails.
bool save_shot(Display *d, const Rect &r, const std::string &name);

}  // namespace runner
