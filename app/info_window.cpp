// The Information window: shown once at start-up over the main window, gone after 3 s.
#include "info_window.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>

#include "program.h"

enum { INFO_W = 271, INFO_H = 165 };

static void add_line(int x, int y, int w, int h, const char *text, Fl_Font font, int size) {
  Fl_Box *box = new Fl_Box(x, y, w, h, text);
  box->labelfont(font);
  box->labelsize(size);
}

Fl_Double_Window *build_info_window() {
  Fl_Double_Window *win = new Fl_Double_Window(INFO_W, INFO_H, "Information");
  add_line(25, 10, 220, 55, "Mundoscope", FL_TIMES_ITALIC, 42);
  add_line(25, 70, 220, 20, "Written by Haldrick", FL_TIMES, 16);
  add_line(30, 90, 210, 20, "Image data credit: Visible Earth, NASA", FL_TIMES, 16);
  add_line(10, 120, 250, 20, "https://mundoscope.example.org", FL_TIMES, 16);
  win->end();
  return win;
}

void centre_info_window() {
  if (!InfoWindow || !MainWindow) return;
  const int x = MainWindow->x() + MainWindow->w() / 2 - INFO_W / 2;
  const int y = MainWindow->y() + MainWindow->h() / 2 - INFO_H / 2;
  InfoWindow->resize(x, y, InfoWindow->w(), InfoWindow->h());
}

void info_timeout_cb(void *) {
  if (InfoWindow) InfoWindow->hide();
}
