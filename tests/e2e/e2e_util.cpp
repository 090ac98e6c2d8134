#include "e2e_util.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "x11util.h"

extern char **environ;

namespace e2e {

static void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

static bool before(Clock::time_point end) { return Clock::now() < end; }

static Clock::time_point after(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(seconds));
}

Program::~Program() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool Program::start(const std::vector<std::string> &argv, const std::string &out_file,
                    const std::string &err_file) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) pid_ = 0;
  return rc == 0;
}

int Program::wait_exit(double seconds) {
  const auto end = after(seconds);
  while (pid_ > 0 && before(end)) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pause_ms(20);
  }
  return -1;
}

int run(const std::vector<std::string> &argv, const std::string &out_file,
        const std::string &err_file) {
  Program p;
  if (!p.start(argv, out_file, err_file)) return -1;
  return p.wait_exit(600);
}

bool wait_window(Display *d, const std::string &name, double seconds, Window *out) {
  const auto end = after(seconds);
  do {
    const std::vector<Window> found = x11::find_by_name(d, name);
    if (!found.empty()) {
      *out = found.back();
      return true;
    }
    pause_ms(20);
  } while (before(end));
  return false;
}

bool wait_gone(Display *d, const std::string &name, double seconds) {
  const auto end = after(seconds);
  do {
    if (x11::find_by_name(d, name).empty()) return true;
    pause_ms(20);
  } while (before(end));
  return false;
}

bool wait_name(Display *d, Window w, const std::function<bool(const std::string &)> &pred,
               double seconds, std::string *name) {
  const auto end = after(seconds);
  do {
    *name = x11::window_name(d, w);
    if (pred(*name)) return true;
    pause_ms(20);
  } while (before(end));
  return false;
}

Rect rect_of(Display *d, Window w) {
  Rect r;
  x11::geometry(d, w, &r.x, &r.y, &r.w, &r.h);
  return r;
}

bool wait_geometry(Display *d, Window w, const Rect &want, double seconds) {
  const auto end = after(seconds);
  do {
    const Rect r = rect_of(d, w);
    if (r.x == want.x && r.y == want.y && r.w == want.w && r.h == want.h) return true;
    pause_ms(20);
  } while (before(end));
  return false;
}

static bool xdotool(const std::string &args) {
  return std::system(("xdotool " + args).c_str()) == 0;
}

static std::string at(int x, int y) { return std::to_string(x) + " " + std::to_string(y); }

bool move_to(int x, int y) { return xdotool("mousemove " + at(x, y)); }

// No --sync on moves: it waits for the pointer to move, which it never does when it
// already stands there.
bool click(int x, int y) { return xdotool("mousemove " + at(x, y) + " click 1"); }

bool drag(int x1, int y1, int x2, int y2) {
  // Steps in between, so the toolkit sees the drag as a user makes it.
  std::string cmd = "mousemove " + at(x1, y1) + " mousedown 1";
  for (int i = 1; i <= 4; ++i)
    cmd += " sleep 0.05 mousemove " + at(x1 + (x2 - x1) * i / 4, y1 + (y2 - y1) * i / 4);
  cmd += " sleep 0.05 mouseup 1";
  return xdotool(cmd);
}

bool retype_field(int x, int y, const std::string &text) {
  // End, then enough BackSpaces for any earlier text; then the new text.
  return click(x, y) && xdotool("key End") && xdotool("key --repeat 24 --delay 5 BackSpace") &&
         xdotool("type --delay 20 -- '" + text + "'");
}

std::vector<uint8_t> grab(Display *d, const Rect &r) {
  std::vector<uint8_t> rgb;
  if (!x11::grab_screen(d, r.x, r.y, r.w, r.h, &rgb)) rgb.clear();
  return rgb;
}

int dark_label_pixels(Display *d, const Rect &b) {
  // The middle of the button, clear of its border and of the focus box inside it.
  const Rect label{b.x + 8, b.y + 6, b.w - 16, b.h - 12};
  const std::vector<uint8_t> px = grab(d, label);
  int dark = 0;
  for (size_t i = 0; i + 2 < px.size(); i += 3)
    if (px[i] < 70 && px[i + 1] < 70 && px[i + 2] < 70) ++dark;
  return dark;
}

void save_shot(Display *d, const Rect &r, const std::string &name) {
  const char *build = std::getenv("MUNDOSCOPE_BUILD_DIR");
  if (!build) return;
  const std::string dir = std::string(build) + "/screenshots";
  mkdir(dir.c_str(), 0755);
  const std::vector<uint8_t> px = grab(d, r);
  if (!px.empty()) x11::write_png(dir + "/" + name + ".png", r.w, r.h, px.data());
}

}  // namespace e2e
