// IRGBView: the map view widget. Holds the two image sources it draws from, the zoom
// level, the state of a pan and the last sampled picture. The view position is the
// primary image's pos_x/pos_y, in full-resolution pixels.
#pragma once

#include <FL/Fl_Widget.H>

class Fl_Window;
struct ImageSource;

// Full-resolution image pixels per screen pixel, indexed by zoom level 1..4 ([0] unused).
extern const int ZoomFactor[5];

class IRGBView : public Fl_Widget {
 public:
  // A view with no label, no images and no owner; init() gives it its owner.
  IRGBView(int x, int y, int w, int h);
  // Closes both image sources and releases their one shared output buffer once.
  ~IRGBView() override;

  // Gives every field its initial value; owner receives cursor changes and redraws.
  void init(Fl_Window *owner);

  // Sets the level when 1..4 and marks the view for sampling; other values are ignored.
  void zoom(int level);
  int zoom() const { return zoom_; }

  // Clamps to 0..width and 0..height of the primary image, stores, marks for sampling.
  // Does nothing without a primary image.
  void set_position(int x, int y);

  // Replace the primary / overview image; return the new source or null if it did not open.
  // The shared output buffer passes to a new primary, or is released when none opened.
  ImageSource *load_image(const char *path);
  ImageSource *load_overview(const char *path);

  // The primary image's size; 0 without one.
  int image_w() const;
  int image_h() const;

  ImageSource *image() const { return image_; }
  ImageSource *overview() const { return overview_; }

  void draw() override;
  int handle(int event) override;

  // Fields are public so that the shell and the tests can read the view's state.
  unsigned char *rgb_;   // last sampled picture (borrowed from an image source), or null
  int last_w_;           // widget size at the last sampling
  int last_h_;
  int dirty_;            // sample again at the next draw
  int pressed_;          // a button is held in the view: draw the centre marker
  ImageSource *image_;   // primary image (full resolution), owned
  ImageSource *overview_;// quarter-size overview for levels 3 and 4, owned
  float lon_;            // view centre at the end of the last pan, degrees
  float lat_;
  int anchor_x_;         // window position of the press that began the pan
  int anchor_y_;
  int zoom_;             // 1..4
  int last_zoom_;        // level at the last sampling
  int dragging_;         // a pan has begun and not ended
  Fl_Window *owner_;     // the window holding the view; not owned
  unsigned sample_count_;// samplings done by draw, so a redraw that did not sample shows

 private:
  // Makes a new w x h picture from the primary or, at levels 3 and 4, the overview, and
  // records the size and level it was made for. rgb_ is null when nothing could be made.
  void sample_picture(int w, int h);
};

// The zoom commands, callbacks of the "Zoom In" and "Zoom Out" buttons.
void zoom_in_cb(Fl_Widget *, void *);
void zoom_out_cb(Fl_Widget *, void *);
