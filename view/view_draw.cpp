// IRGBView::draw: grey background, the sampled picture, the centre marker while pressed.
#include <cstdint>

#include <FL/fl_draw.H>

#include "image_source.h"
#include "irgb_view.h"
#include "view_geometry.h"

namespace {

const uchar kGrey = 127;
const double kMarkerRadius[2] = {10.0, 12.0};
// Negative factor: load the rows of a factor-2 window into the row store, no picture.
const int kLoadAheadFactor = -2;

}  // namespace

void IRGBView::sample_picture(int w, int h) {
  ++sample_count_;
  if (!image_ || w <= 0 || h <= 0) {
    rgb_ = nullptr;
  } else if (overview_ && (zoom_ == 3 || zoom_ == 4)) {
    // The overview is a quarter of the primary's size; it borrows the primary's output
    // buffer for this one sampling, so the view never holds two pictures.
    const ViewPoint o = overview_position(image_->pos_x, image_->pos_y, w, h, zoom_);
    overview_->pos_x = o.x;
    overview_->pos_y = o.y;
    overview_->out_cap_width = image_->out_cap_width;
    overview_->out_cap_height = image_->out_cap_height;
    overview_->out_buffer = image_->out_buffer;
    rgb_ = image_source_sample(overview_, w, h, ZoomFactor[zoom_ - 2]);
    image_->out_cap_width = overview_->out_cap_width;
    image_->out_cap_height = overview_->out_cap_height;
    image_->out_buffer = overview_->out_buffer;
  } else {
    if (last_zoom_ > 1 && zoom_ == 1) {
      // Arriving at full resolution: load half a view above to half a view below, so the
      // first pans find their rows already read.
      const int32_t kept_y = image_->pos_y;
      const int32_t top = kept_y - h / 2;
      image_->pos_y = top < 0 ? 0 : top;
      image_source_sample(image_, w, h, kLoadAheadFactor);
      image_->pos_y = kept_y;
    }
    rgb_ = image_source_sample(image_, w, h, ZoomFactor[zoom_]);
  }
  last_w_ = w;
  last_h_ = h;
  dirty_ = 0;
  last_zoom_ = zoom_;
}

void IRGBView::draw() {
  const int X = x(), Y = y(), W = w(), H = h();
  fl_push_clip(X, Y, W, H);
  fl_rectf(X, Y, W, H, kGrey, kGrey, kGrey);
  if (dirty_ || W != last_w_ || H != last_h_) sample_picture(W, H);
  if (rgb_) fl_draw_image(rgb_, X, Y, W, H, 3, 0);
  if (pressed_) {
    fl_color(255, 0, 0);
    for (double r : kMarkerRadius) fl_circle(X + W / 2, Y + H / 2, r);
  }
  fl_pop_clip();
}
