// The main window: the map view under a row of three buttons, and "Display file".
#include "main_window.h"

#include <cstdio>
#include <cstring>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Group.H>

#include "goto_dialog.h"
#include "image_source.h"
#include "irgb_view.h"
#include "program.h"

namespace {

// The main window, which offers "Display file" as Ctrl+O; otherwise a plain window.
class MainWindowClass : public Fl_Double_Window {
 public:
  MainWindowClass(int w, int h, const char *title) : Fl_Double_Window(w, h, title) {}

  int handle(int event) override {
    if (event == FL_SHORTCUT && Fl::test_shortcut(FL_CTRL + 'o')) {
      display_file();
      return 1;
    }
    return Fl_Double_Window::handle(event);
  }
};

Fl_Button *make_button(int x, const char *label) {
  Fl_Button *b = new Fl_Button(x, 5, 75, 24, label);
  b->box(FL_PLASTIC_UP_BOX);
  b->color(70);
  b->labelsize(12);
  return b;
}

}  // namespace

Fl_Double_Window *build_main_window() {
  Fl_Double_Window *win =
      new MainWindowClass(629, 574, "Mundoscope - please wait while loading the image...");
  win->box(FL_BORDER_BOX);
  MapView = new IRGBView(1, 1, 627, 572);
  MapView->init(win);
  Fl_Group *buttons = new Fl_Group(5, 5, 300, 30);
  ZoomInButton = make_button(5, "Zoom In");
  ZoomInButton->callback(zoom_in_cb);
  ZoomOutButton = make_button(85, "Zoom Out");
  ZoomOutButton->callback(zoom_out_cb);
  Fl_Button *goto_button = make_button(165, "Goto Pos");
  goto_button->callback(goto_open_cb);
  buttons->end();
  buttons->resizable(nullptr);  // the buttons keep their size when the window grows
  win->end();
  win->resizable(win);
  return win;
}

const char *display_base_name(const char *path) {
  const char *base = path;
  for (const char *p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

void display_file_path(const char *path) {
  if (!MapView || !path) return;
  MapView->load_image(path);
  const int w = MapView->image_w();
  const int h = MapView->image_h();
  // The byte count in 64 bits: W x H x 3 of a large image does not fit an int.
  const float mbytes = static_cast<float>(static_cast<long long>(w) * h * 3) / 1048576.0f;
  std::snprintf(TitleText, sizeof TitleText, "Mundoscope - %s - %d x %d pixel - %.1f MByte",
                display_base_name(path), w, h, static_cast<double>(mbytes));
  if (MainWindow) {
    MainWindow->label(TitleText);
    MainWindow->redraw();
  }
}

void display_file() {
  const char *path = fl_file_chooser("Display file", "*", ".", 0);
  if (!path) return;
  // The chooser's result lives in its own buffer, which later calls overwrite.
  char copy[4096];
  if (std::strlen(path) >= sizeof copy) return;
  std::strcpy(copy, path);
  display_file_path(copy);
}
