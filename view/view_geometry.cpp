#include "view_geometry.h"

#include "irgb_view.h"

ViewPoint view_origin(int pos_x, int pos_y, int w, int h, int level) {
  switch (level) {
    case 3: return {pos_x - w / 4, pos_y - h / 4};
    case 4: return {(pos_x - w) - w / 4, (pos_y - h) - h / 4};
    default: return {pos_x, pos_y};
  }
}

GeoPoint view_readout(int pos_x, int pos_y, int w, int h, int level, int image_w, int image_h) {
  if (level < 1 || level > 4) level = 1;
  const ViewPoint o = view_origin(pos_x, pos_y, w, h, level);
  const int f = ZoomFactor[level];
  // The extent is an integer product first; the halvings are in floating point, so an
  // odd extent centres on a half pixel.
  const float cx = static_cast<float>(o.x) + static_cast<float>(w * f) / 2.0f -
                   static_cast<float>(image_w) / 2.0f;
  const float cy = static_cast<float>(o.y) + static_cast<float>(h * f) / 2.0f -
                   static_cast<float>(image_h) / 2.0f;
  return {cx / 10800.0f * 180.0f, cy / 5400.0f * 90.0f};
}

ViewPoint overview_position(int pos_x, int pos_y, int w, int h, int level) {
  int ox = pos_x / 4 - w / 16;
  int oy = pos_y / 4 - h / 16;
  if (level == 4) {
    ox = ox - w / 4;
    oy = oy - h / 4;
  }
  return {ox < 0 ? 0 : ox, oy < 0 ? 0 : oy};
}

ViewPoint zoom_shift(int w, int h, int coarser_level) {
  return {(w * coarser_level) / 4, (h * coarser_level) / 4};
}

ViewPoint clamp_position(long long x, long long y, int width, int height) {
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  if (x > width) x = width;
  if (y > height) y = height;
  return {static_cast<int>(x), static_cast<int>(y)};
}
