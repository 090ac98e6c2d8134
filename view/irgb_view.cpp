// IRGBView: construction, state and the two image sources.
#include "irgb_view.h"

#include <cstdint>
#include <cstdlib>

#include "image_source.h"
#include "view_geometry.h"

const int ZoomFactor[5] = {1, 1, 2, 4, 8};

// init() with the owner must still follow; the fields are given their start values here
// too, so that a view destroyed or drawn before init() reads no indeterminate pointer.
IRGBView::IRGBView(int x, int y, int w, int h) : Fl_Widget(x, y, w, h, nullptr) { init(nullptr); }

// The view's sources share one output buffer that closing a source leaves alone. The
// primary holds it between draws; the overview's copy is only borrowed for the length
// of an overview sampling (and may be stale afterwards), so it is never released here.
IRGBView::~IRGBView() {
  uint8_t *shared = image_ ? image_->out_buffer : nullptr;
  image_source_close(image_);
  image_source_close(overview_);
  image_ = nullptr;
  overview_ = nullptr;
  rgb_ = nullptr;
  std::free(shared);
}

void IRGBView::init(Fl_Window *owner) {
  rgb_ = nullptr;
  last_w_ = 0;
  last_h_ = 0;
  dirty_ = 1;
  pressed_ = 0;
  image_ = nullptr;
  overview_ = nullptr;
  lon_ = 0.0f;
  lat_ = 0.0f;
  anchor_x_ = 0;
  anchor_y_ = 0;
  zoom_ = 1;
  last_zoom_ = 1;
  dragging_ = 0;
  owner_ = owner;
  sample_count_ = 0;
}

void IRGBView::zoom(int level) {
  if (level < 1 || level > 4) return;
  zoom_ = level;
  dirty_ = 1;
}

void IRGBView::set_position(int x, int y) {
  if (!image_) return;
  const ViewPoint p = clamp_position(x, y, image_->width, image_->height);
  image_->pos_x = p.x;
  image_->pos_y = p.y;
  dirty_ = 1;
}

ImageSource *IRGBView::load_image(const char *path) {
  // The shared output buffer moves on to the new primary, so replacing the image neither
  // leaks it nor leaves a second one beside it.
  uint8_t *shared = nullptr;
  int32_t cap_w = 0, cap_h = 0;
  if (image_) {
    shared = image_->out_buffer;
    cap_w = image_->out_cap_width;
    cap_h = image_->out_cap_height;
    image_source_close(image_);
  }
  image_ = image_source_open(path);
  if (image_) {
    image_->out_buffer = shared;
    image_->out_cap_width = cap_w;
    image_->out_cap_height = cap_h;
  } else {
    std::free(shared);
    if (overview_) {  // its copy named the buffer just released
      overview_->out_buffer = nullptr;
      overview_->out_cap_width = 0;
      overview_->out_cap_height = 0;
    }
  }
  rgb_ = nullptr;
  last_w_ = 0;
  last_h_ = 0;
  dirty_ = 1;
  return image_;
}

ImageSource *IRGBView::load_overview(const char *path) {
  // The overview's out_buffer, if any, is a borrowed copy of the primary's: closing the
  // source leaves it alone, which is what the sharing needs.
  image_source_close(overview_);
  overview_ = image_source_open(path);
  dirty_ = 1;
  return overview_;
}

int IRGBView::image_w() const { return image_ ? image_->width : 0; }

int IRGBView::image_h() const { return image_ ? image_->height : 0; }
