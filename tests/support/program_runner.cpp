#include "program_runner.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "x11util.h"

extern char **environ;

namespace runner {

static void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

static Clock::time_point after(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(seconds));
}

bool wait_for(const std::function<bool()> &pred, double seconds) {
  const auto end = after(seconds);
  while (!pred()) {
    if (Clock::now() >= end) return false;
    pause_ms(20);
  }
  return true;
}

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool copy_executable(const std::string &from, const std::string &to) {
  const std::string bytes = read_all(from);
  if (bytes.empty()) return false;
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out) && chmod(to.c_str(), 0755) == 0;
}

bool copy_bundle(const std::string &root, bool with_resources, BundleCopy *out) {
  const char *built = std::getenv("MUNDOSCOPE_BUNDLE_DIR");
  char real[PATH_MAX];
  if (!built || root.empty() || !realpath(root.c_str(), real)) return false;
  out->app = std::string(real) + "/Mundoscope.app";
  out->exe = out->app + "/Contents/Linux/mundoscope";
  out->resources = out->app + "/Contents/Resources/";
  std::vector<std::string> dirs = {out->app, out->app + "/Contents", out->app + "/Contents/Linux"};
  if (with_resources) dirs.push_back(out->app + "/Contents/Resources");
  for (const std::string &d : dirs)
    if (mkdir(d.c_str(), 0755) != 0) return false;
  return copy_executable(std::string(built) + "/Contents/Linux/mundoscope", out->exe);
}

Program::~Program() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool Program::start(const std::vector<std::string> &argv, const std::string &out_file,
                    const std::string &err_file, const std::string &cwd) {
  if (argv.empty() || pid_ > 0) return false;
  out_file_ = out_file;
  err_file_ = err_file;
  status_ = -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // In the child only: the test's own working folder stays.
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) pid_ = 0;
  return rc == 0;
}

bool Program::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  pid_ = 0;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return false;
}

int Program::wait_exit(double seconds) {
  wait_for([this] { return !running(); }, seconds);
  return pid_ > 0 ? -1 : status_;
}

int run(const std::vector<std::string> &argv, const std::string &out_file,
        const std::string &err_file) {
  Program p;
  if (!p.start(argv, out_file, err_file)) return -1;
  return p.wait_exit(600);
}

bool wait_window(Display *d, const std::string &name, double seconds, Window *out) {
  return wait_for(
      [&] {
        const std::vector<Window> found = x11::find_by_name(d, name);
        if (found.empty()) return false;
        *out = found.back();
        return true;
      },
      seconds);
}

bool wait_gone(Display *d, const std::string &name, double seconds) {
  return wait_for([&] { return x11::find_by_name(d, name).empty(); }, seconds);
}

bool wait_name(Display *d, Window w, const std::function<bool(const std::string &)> &pred,
               double seconds, std::string *name) {
  return wait_for(
      [&] {
        *name = x11::window_name(d, w);
        return pred(*name);
      },
      seconds);
}

Rect rect_of(Display *d, Window w) {
  Rect r;
  if (!x11::geometry(d, w, &r.x, &r.y, &r.w, &r.h)) r = Rect();
  return r;
}

bool wait_geometry(Display *d, Window w, const Rect &want, double seconds) {
  return wait_for(
      [&] {
        const Rect r = rect_of(d, w);
        return r.x == want.x && r.y == want.y && r.w == want.w && r.h == want.h;
      },
      seconds);
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

bool save_shot(Display *d, const Rect &r, const std::string &name) {
  const char *build = std::getenv("MUNDOSCOPE_BUILD_DIR");
  if (!build) return true;
  const std::string dir = std::string(build) + "/screenshots";
  mkdir(dir.c_str(), 0755);
  const std::vector<uint8_t> px = grab(d, r);
  return !px.empty() && x11::write_png(dir + "/" + name + ".png", r.w, r.h, px.data());
}

}  // namespace runner
