#include "view_harness.h"

#include <cstdlib>

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include "fixtures.h"
#include "goto_dialog.h"
#include "image_source.h"
#include "irgb_view.h"
#include "main_window.h"
#include "program.h"
#include "x11util.h"

namespace harness {

void build_windows(bool with_goto_dialog) {
  if (!MainWindow) MainWindow = build_main_window();
  if (with_goto_dialog && !GotoDialog) {
    GotoDialog = build_goto_dialog();
    GotoDialog->position(700, 0);
  }
}

bool wait_until(const std::function<bool()> &pred, double seconds) {
  const double step = 0.01;
  for (double t = 0; t < seconds && !pred(); t += step) Fl::wait(step);
  return pred();
}

void settle() {
  Fl::check();
  Fl::flush();
  if (fl_display) XSync(fl_display, False);
  Fl::check();
}

void show_main_window() {
  if (!MainWindow->shown()) {
    MainWindow->position(0, 0);
    MainWindow->show();
  }
  wait_until([] { return MainWindow->visible() && MainWindow->shown(); });
  // The first draw waits for the server's expose; after it nothing is damaged.
  wait_until([] {
    XWindowAttributes a;
    return XGetWindowAttributes(fl_display, fl_xid(MainWindow), &a) &&
           a.map_state == IsViewable && !MainWindow->damage();
  });
  settle();
}

void redraw_and_settle() {
  MainWindow->redraw();
  settle();
}

std::vector<uint8_t> read_view(bool redraw_first) {
  if (redraw_first) MainWindow->redraw();
  settle();
  MainWindow->make_current();
  const int w = MapView->w(), h = MapView->h();
  uchar *p = fl_read_image(nullptr, MapView->x(), MapView->y(), w, h);
  std::vector<uint8_t> out;
  if (p) out.assign(p, p + static_cast<size_t>(w) * h * 3);
  delete[] p;
  return out;
}

int mouse(int event, int x, int y) {
  Fl::e_x = x;
  Fl::e_y = y;
  Fl::e_x_root = x + MainWindow->x();
  Fl::e_y_root = y + MainWindow->y();
  return MapView->handle(event);
}

std::string cached_rows(const ImageSource *src) {
  std::string out;
  for (int y = 0; y < src->height; ++y) {
    if (!src->rows[y].buffer) continue;
    int end = y;
    while (end + 1 < src->height && src->rows[end + 1].buffer) ++end;
    if (!out.empty()) out += ",";
    out += std::to_string(y);
    if (end > y) out += "-" + std::to_string(end);
    y = end;
  }
  return out;
}

namespace {
struct TempDir {
  std::string path = fixture::make_temp_dir("view");
  ~TempDir() { fixture::remove_tree(path); }
};
}  // namespace

const std::string &temp_dir() {
  static TempDir dir;
  return dir.path;
}

bool above(const void *a_window, const void *b_window) {
  const Window a = fl_xid(static_cast<const Fl_Window *>(a_window));
  const Window b = fl_xid(static_cast<const Fl_Window *>(b_window));
  int ia = -1, ib = -1, i = 0;
  for (Window w : x11::top_levels(fl_display)) {
    if (w == a) ia = i;
    if (w == b) ib = i;
    ++i;
  }
  return ia >= 0 && ib >= 0 && ia > ib;
}

}  // namespace harness
