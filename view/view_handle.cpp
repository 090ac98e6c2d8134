// IRGBView::handle: click and drag pans. The map stays put while the button is held;
// the release moves the view by the whole distance and shows the new centre.
#include <cstdio>

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>

#include "image_source.h"
#include "irgb_view.h"
#include "program.h"
#include "view_geometry.h"

namespace {

// Writes the view centre into the title and the Goto Position dialog's fields, which
// may not exist when the dialog was never built.
void show_readout(float lon, float lat) {
  std::snprintf(TitleText, sizeof TitleText, "Mundoscope by Haldrick - Position %.2f %.2f",
                static_cast<double>(lon), static_cast<double>(lat));
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(lat));
  if (LatitudeField) LatitudeField->value(text);
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(lon));
  if (LongitudeField) LongitudeField->value(text);
  if (MainWindow) MainWindow->label(TitleText);
}

}  // namespace

int IRGBView::handle(int event) {
  switch (event) {
    case FL_PUSH:
      if (!image_ || Fl::event_x() <= 0 || Fl::event_y() <= 0) return 0;
      anchor_x_ = Fl::event_x();
      anchor_y_ = Fl::event_y();
      if (owner_) owner_->cursor(FL_CURSOR_MOVE);
      dragging_ = 1;
      pressed_ = 1;
      if (owner_) owner_->redraw();
      goto_dialog_keep_in_front();
      return 1;

    case FL_DRAG:
      if (!dragging_) return 0;
      goto_dialog_keep_in_front();
      return 1;

    case FL_RELEASE: {
      pressed_ = 0;
      if (!image_ || !dragging_) return 0;
      const long long f = ZoomFactor[zoom_];
      const ViewPoint p = clamp_position(
          image_->pos_x - (static_cast<long long>(Fl::event_x()) - anchor_x_) * f,
          image_->pos_y - (static_cast<long long>(Fl::event_y()) - anchor_y_) * f,
          image_->width, image_->height);
      image_->pos_x = p.x;
      image_->pos_y = p.y;
      dirty_ = 1;
      if (owner_) owner_->redraw();
      if (owner_) owner_->cursor(FL_CURSOR_DEFAULT);
      const GeoPoint g =
          view_readout(p.x, p.y, w(), h(), zoom_, image_->width, image_->height);
      lon_ = g.lon;
      lat_ = g.lat;
      show_readout(lon_, lat_);
      if (owner_) owner_->redraw();
      dragging_ = 0;
      goto_dialog_keep_in_front();
      return 1;
    }

    default:
      return 0;
  }
}
