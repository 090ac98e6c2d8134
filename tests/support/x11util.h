// Small X11 helpers for GUI tests: finding top-level windows, reading what is on the
// screen, writing it as PNG, closing a window as a window manager would, and the
// pointer's cursor image. No toolkit: usable from tests that spawn the real program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <X11/Xlib.h>

namespace x11 {

// Opens $DISPLAY; null when there is none.
Display *open_display();

// The root window's children in stacking order, bottom first (no window manager runs
// under Xvfb, so these are the programs' own top-level windows).
std::vector<Window> top_levels(Display *d);

// WM_NAME of a window, empty when it has none.
std::string window_name(Display *d, Window w);

// Whether the window is mapped (IsViewable).
bool is_viewable(Display *d, Window w);

// Viewable top-level windows whose name is exactly `name`.
std::vector<Window> find_by_name(Display *d, const std::string &name);

// Position on the root window and size; false when the window is gone.
bool geometry(Display *d, Window w, int *x, int *y, int *width, int *height);

// RGB bytes (3 per pixel, rows top first) of a rectangle of the screen, as shown.
// Returns false when the rectangle is not on the screen.
bool grab_screen(Display *d, int x, int y, int width, int height, std::vector<uint8_t> *rgb);

// Writes 8-bit RGB rows as a PNG file; false on failure.
bool write_png(const std::string &path, int width, int height, const uint8_t *rgb);

// Asks the window to close through WM_PROTOCOLS / WM_DELETE_WINDOW, as a window manager's
// close button does. Returns false if the message could not be sent.
bool request_close(Display *d, Window w);

// The cursor now shown at the pointer (XFixes): ARGB pixels, width and height. The
// serial differs for every distinct cursor. False without the extension.
struct CursorImage {
  int width = 0;
  int height = 0;
  unsigned long serial = 0;
  std::vector<unsigned long> argb;
};
bool cursor_image(Display *d, CursorImage *out);

}  // namespace x11
