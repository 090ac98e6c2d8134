// Mundoscope: a viewer for one very large world map.
#include <cstdio>
#include <cstdlib>

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_ask.H>

#include "goto_dialog.h"
#include "image_source.h"
#include "info_window.h"
#include "irgb_view.h"
#include "main_window.h"
#include "program.h"
#include "resource_dir.h"
#include "view_params.h"

int main(int argc, char **argv) {
  MainWindow = build_main_window();
  GotoDialog = build_goto_dialog();
  InfoWindow = build_info_window();
  locate_resources();
  if (!MainWindow) return 1;

  char path[RESOURCE_DIR_SIZE + 32];
  std::snprintf(path, sizeof path, "%sVisibleEarth.dat", ResourceDir);
  MapView->load_image(path);
  std::printf("%s", path);
  std::fflush(stdout);
  std::snprintf(path, sizeof path, "%sVisibleEarth_25.dat", ResourceDir);
  MapView->load_overview(path);

  if (!MapView->image()) {
    MainWindow->show(argc, argv);
    fl_alert("Unable to find map: Data file missing");
    std::exit(0);
  }

  const int no_saved_view = load_view_params();
  centre_info_window();
  if (no_saved_view) {
    MapView->set_position(10300, 1358);
    MapView->zoom(3);
    CurrentZoomLevel = 3;
  }
  if (CurrentZoomLevel == 1) prefetch_view_rows();

  MainWindow->label("Mundoscope v1.0 - Use mouse 'click and drag' to pan");
  MainWindow->show(argc, argv);
  MainWindow->redraw();
  InfoWindow->show(argc, argv);
  Fl::add_timeout(3.0, info_timeout_cb);
  Fl::add_timeout(2.0, goto_watchdog_cb);
  Fl::run();

  save_view_params();
  return 0;
}
