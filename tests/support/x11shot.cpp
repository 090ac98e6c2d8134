// x11shot: screenshots and pixels of the X display for tests and by hand.
//   x11shot shot FILE.png [WINDOW]   the whole screen, or the window's area, as PNG
//   x11shot pixel X Y                prints "R G B" of the screen pixel at X, Y
//   x11shot close WINDOW             asks the window to close (WM_DELETE_WINDOW)
// WINDOW is an X window id, decimal (as xdotool prints it) or 0x-hex.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "x11util.h"

static int usage() {
  std::fprintf(stderr, "usage: x11shot shot FILE.png [WINDOW] | pixel X Y | close WINDOW\n");
  return 2;
}

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  Display *d = x11::open_display();
  if (!d) {
    std::fprintf(stderr, "x11shot: cannot open display\n");
    return 1;
  }
  const char *cmd = argv[1];
  if (!std::strcmp(cmd, "shot") && (argc == 3 || argc == 4)) {
    int x = 0, y = 0;
    int w = DisplayWidth(d, DefaultScreen(d)), h = DisplayHeight(d, DefaultScreen(d));
    if (argc == 4 && !x11::geometry(d, std::strtoul(argv[3], nullptr, 0), &x, &y, &w, &h)) {
      std::fprintf(stderr, "x11shot: no such window\n");
      return 1;
    }
    std::vector<uint8_t> rgb;
    if (!x11::grab_screen(d, x, y, w, h, &rgb) || !x11::write_png(argv[2], w, h, rgb.data())) {
      std::fprintf(stderr, "x11shot: could not write %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  if (!std::strcmp(cmd, "pixel") && argc == 4) {
    std::vector<uint8_t> rgb;
    if (!x11::grab_screen(d, std::atoi(argv[2]), std::atoi(argv[3]), 1, 1, &rgb)) return 1;
    std::printf("%d %d %d\n", rgb[0], rgb[1], rgb[2]);
    return 0;
  }
  if (!std::strcmp(cmd, "close") && argc == 3)
    return x11::request_close(d, std::strtoul(argv[2], nullptr, 0)) ? 0 : 1;
  return usage();
}
