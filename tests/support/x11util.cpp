#include "x11util.h"

#include <cstdio>

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <png.h>

namespace x11 {

Display *open_display() { return XOpenDisplay(nullptr); }

std::vector<Window> top_levels(Display *d) {
  std::vector<Window> out;
  Window root_ret, parent;
  Window *children = nullptr;
  unsigned n = 0;
  if (XQueryTree(d, DefaultRootWindow(d), &root_ret, &parent, &children, &n)) {
    out.assign(children, children + n);
    if (children) XFree(children);
  }
  return out;
}

std::string window_name(Display *d, Window w) {
  char *name = nullptr;
  std::string out;
  if (XFetchName(d, w, &name) && name) {
    out = name;
    XFree(name);
  }
  return out;
}

bool is_viewable(Display *d, Window w) {
  XWindowAttributes a;
  return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

std::vector<Window> find_by_name(Display *d, const std::string &name) {
  std::vector<Window> out;
  for (Window w : top_levels(d))
    if (is_viewable(d, w) && window_name(d, w) == name) out.push_back(w);
  return out;
}

bool geometry(Display *d, Window w, int *x, int *y, int *width, int *height) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, w, &a)) return false;
  Window child;
  if (!XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, x, y, &child)) return false;
  *width = a.width;
  *height = a.height;
  return true;
}

bool grab_screen(Display *d, int x, int y, int width, int height, std::vector<uint8_t> *rgb) {
  const int sw = DisplayWidth(d, DefaultScreen(d));
  const int sh = DisplayHeight(d, DefaultScreen(d));
  if (width <= 0 || height <= 0 || x < 0 || y < 0 || x + width > sw || y + height > sh)
    return false;
  XImage *img = XGetImage(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (!img) return false;
  rgb->resize(static_cast<size_t>(width) * height * 3);
  const unsigned long rm = img->red_mask, gm = img->green_mask, bm = img->blue_mask;
  auto shift_of = [](unsigned long m) {
    int s = 0;
    while (m && !(m & 1)) {
      m >>= 1;
      ++s;
    }
    return s;
  };
  const int rs = shift_of(rm), gs = shift_of(gm), bs = shift_of(bm);
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) {
      const unsigned long p = XGetPixel(img, i, j);
      uint8_t *o = rgb->data() + (static_cast<size_t>(j) * width + i) * 3;
      o[0] = static_cast<uint8_t>((p & rm) >> rs);
      o[1] = static_cast<uint8_t>((p & gm) >> gs);
      o[2] = static_cast<uint8_t>((p & bm) >> bs);
    }
  XDestroyImage(img);
  return true;
}

bool write_png(const std::string &path, int width, int height, const uint8_t *rgb) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int j = 0; j < height; ++j)
    png_write_row(png, const_cast<png_bytep>(rgb + static_cast<size_t>(j) * width * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

bool request_close(Display *d, Window w) {
  XEvent e = {};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  const Status ok = XSendEvent(d, w, False, NoEventMask, &e);
  XSync(d, False);
  return ok != 0;
}

bool cursor_image(Display *d, CursorImage *out) {
  int event_base, error_base;
  if (!XFixesQueryExtension(d, &event_base, &error_base)) return false;
  XFixesCursorImage *c = XFixesGetCursorImage(d);
  if (!c) return false;
  out->width = c->width;
  out->height = c->height;
  out->serial = c->cursor_serial;
  out->argb.assign(c->pixels, c->pixels + static_cast<size_t>(c->width) * c->height);
  XFree(c);
  return true;
}

}  // namespace x11
