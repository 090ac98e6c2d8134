// The pure rules that relate the stored view position to the screen, to latitude and
// longitude, to the overview image and to the zoom steps. No toolkit, no image source:
// the widget and the zoom commands only call these.
#pragma once

// A position in pixels (full-resolution or overview pixels, as the function says).
struct ViewPoint {
  int x;
  int y;
};

// Longitude and latitude of a point, degrees, single precision.
struct GeoPoint {
  float lon;
  float lat;
};

// Full-resolution pixel at the top-left corner of a w x h view at zoom level 1..4 whose
// stored position is (pos_x, pos_y). Levels 3 and 4 lie left of and above the position.
// A level outside 1..4 is taken as 1.
ViewPoint view_origin(int pos_x, int pos_y, int w, int h, int level);

// Longitude and latitude of the centre of that view on an image_w x image_h map,
// 60 full-resolution pixels a degree; negative latitudes lie above the centre row.
GeoPoint view_readout(int pos_x, int pos_y, int w, int h, int level, int image_w, int image_h);

// Position in overview pixels (a quarter of the full resolution) from which levels 3
// and 4 sample the overview; negative coordinates become 0, there is no upper bound.
ViewPoint overview_position(int pos_x, int pos_y, int w, int h, int level);

// The shift of the stored position when stepping between a level and the next coarser
// one, coarser_level 2..4: ((w * coarser_level) / 4, (h * coarser_level) / 4).
ViewPoint zoom_shift(int w, int h, int coarser_level);

// The position clamped to 0..width and 0..height, both bounds included.
// Takes 64-bit coordinates so that a pan far past the image cannot wrap.
ViewPoint clamp_position(long long x, long long y, int width, int height);
