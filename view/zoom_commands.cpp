// The "Zoom In" and "Zoom Out" commands: one level at a time around the view centre.
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>

#include "image_source.h"
#include "irgb_view.h"
#include "program.h"
#include "view_geometry.h"

void zoom_in_cb(Fl_Widget *, void *) {
  if (MapView && MapView->image() && CurrentZoomLevel > 1) {
    if (ZoomOutButton) ZoomOutButton->activate();
    const int level = CurrentZoomLevel;
    const ImageSource *img = MapView->image();
    // The shift belongs to the coarser of the two levels, the one being left.
    const ViewPoint s = zoom_shift(MapView->w(), MapView->h(), level);
    const int nx = img->pos_x + s.x;
    const int ny = img->pos_y + s.y;
    CurrentZoomLevel = level - 1;
    MapView->zoom(level - 1);
    MapView->set_position(nx, ny);
    if (CurrentZoomLevel == 1 && ZoomInButton) ZoomInButton->deactivate();
  }
  if (MainWindow) MainWindow->redraw();
}

void zoom_out_cb(Fl_Widget *, void *) {
  if (MapView && MapView->image() && CurrentZoomLevel <= 3) {
    if (ZoomInButton) ZoomInButton->activate();
    const int level = CurrentZoomLevel + 1;
    CurrentZoomLevel = level;
    const ImageSource *img = MapView->image();
    // The shift belongs to the coarser of the two levels, the one arrived at.
    const ViewPoint s = zoom_shift(MapView->w(), MapView->h(), level);
    const int nx = img->pos_x - s.x;
    const int ny = img->pos_y - s.y;
    MapView->zoom(level);
    MapView->set_position(nx, ny);
    if (CurrentZoomLevel == 4 && ZoomOutButton) ZoomOutButton->deactivate();
  }
  if (MainWindow) MainWindow->redraw();
  goto_dialog_keep_in_front();
}
