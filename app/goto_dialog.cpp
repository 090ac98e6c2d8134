// The Goto Position dialog: a latitude and a longitude typed by the user become the
// view centre. Its fields also show the view centre after every pan (written by the view).
#include "goto_dialog.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>

#include "irgb_view.h"
#include "image_source.h"
#include "program.h"

Fl_Double_Window *build_goto_dialog() {
  Fl_Double_Window *dialog = new Fl_Double_Window(216, 75, "Goto Position");
  LatitudeField = new Fl_Input(80, 10, 65, 25, "Latitude:");
  LongitudeField = new Fl_Input(80, 40, 65, 25, "Longitude:");
  // A plain button, not a return button: Enter in a field must not move the view.
  Fl_Button *ok = new Fl_Button(155, 15, 50, 45, "Ok");
  ok->callback(goto_ok_cb);
  dialog->end();
  return dialog;
}

void goto_open_cb(Fl_Widget *, void *) {
  if (GotoDialog) GotoDialog->show();
}

// Reads the longest leading number of `text` as "%f" would. Returns 0 when the text
// does not begin with one or reads as NaN, which has no place to go to.
static int read_degrees(const char *text, float *out) {
  if (!text) return 0;
  char *end = nullptr;
  // strtof rather than sscanf: the same syntax, but an overflow gives infinity instead
  // of being undefined.
  const float v = std::strtof(text, &end);
  if (end == text || std::isnan(v)) return 0;
  *out = v;
  return 1;
}

// deg / span × half + half: the division in single precision, the rest in double,
// rounded to single precision. The double is kept within float range first, since an
// out-of-range conversion to float is undefined.
static float degrees_to_pixel(float deg, float span, double half) {
  double p = static_cast<double>(deg / span) * half + half;
  if (p > FLT_MAX) p = FLT_MAX;
  if (p < -FLT_MAX) p = -FLT_MAX;
  return static_cast<float>(p);
}

// Truncates toward zero; values beyond int saturate instead of being undefined.
static int float_to_int_clamped(float v) {
  if (v >= 2147483648.0f) return INT_MAX;
  if (v < -2147483648.0f) return INT_MIN;
  return static_cast<int>(v);
}

// One axis: the typed value minus the offset from the stored position to the view
// centre at this level. Without a value the coordinate stays at cur.
static int axis_position(const char *text, float span, double half, long long extent, int level,
                         int cur) {
  float deg;
  if (!read_degrees(text, &deg)) return cur;
  const long long f = ZoomFactor[level];
  long long offset = (extent * f) / 2;
  if (level == 3) offset -= extent / 4;
  if (level == 4) offset -= extent + extent / 4;
  const float target = degrees_to_pixel(deg, span, half);
  return float_to_int_clamped(target - static_cast<float>(offset));
}

void goto_target_position(const char *lat_text, const char *lon_text, int view_w, int view_h,
                          int level, int cur_x, int cur_y, int *col, int *row) {
  if (level < 1 || level > 4) level = 1;
  *col = axis_position(lon_text, 180.0f, 10800.0, view_w, level, cur_x);
  *row = axis_position(lat_text, 90.0f, 5400.0, view_h, level, cur_y);
}

void goto_ok_cb(Fl_Widget *, void *) {
  if (MapView && LatitudeField && LongitudeField) {
    const ImageSource *img = MapView->image();
    int col = 0, row = 0;
    goto_target_position(LatitudeField->value(), LongitudeField->value(), MapView->w(),
                         MapView->h(), CurrentZoomLevel, img ? img->pos_x : 0,
                         img ? img->pos_y : 0, &col, &row);
    MapView->set_position(col, row);
  }
  if (MainWindow) MainWindow->redraw();
  if (GotoDialog && GotoDialog->shown()) GotoDialog->hide();
}

void goto_watchdog_cb(void *) {
  // Without this the event loop would not end while the dialog is open after the main
  // window was closed.
  if (GotoDialog && (!MainWindow || !MainWindow->shown())) GotoDialog->hide();
  Fl::add_timeout(0.7, goto_watchdog_cb);
}
