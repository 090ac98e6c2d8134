#include "graticule.h"

#include <cstring>

const uint8_t GraticuleColour[3] = {255, 236, 120};
const uint8_t GraticuleMainColour[3] = {255, 70, 70};

int graticule_line_at(int k, int length, int degrees) {
  // Rounded k * length * step / degrees: exact on the full map (600 px per step).
  const long long num = static_cast<long long>(k) * length * GRATICULE_STEP_DEGREES;
  return static_cast<int>((2 * num + degrees) / (2LL * degrees));
}

static void paint(uint8_t *row, int from, int to, int width, const uint8_t *colour) {
  if (from < 0) from = 0;
  if (to > width) to = width;
  for (int x = from; x < to; ++x) std::memcpy(row + static_cast<size_t>(x) * 3, colour, 3);
}

void graticule_draw_row(uint8_t *row, int width, int height, int y) {
  const int parallels = 180 / GRATICULE_STEP_DEGREES;
  const int meridians = 360 / GRATICULE_STEP_DEGREES;
  // A line lies on a pixel edge p (the exact coordinate of its degree value) and covers
  // GRATICULE_HALF_WIDTH pixels on either side of it.
  for (int k = 0; k <= parallels; ++k) {
    const int p = graticule_line_at(k, height, 180);
    if (y >= p - GRATICULE_HALF_WIDTH && y < p + GRATICULE_HALF_WIDTH) {
      paint(row, 0, width, width, 2 * k == parallels ? GraticuleMainColour : GraticuleColour);
      return;
    }
  }
  for (int k = 0; k <= meridians; ++k) {
    const int p = graticule_line_at(k, width, 360);
    paint(row, p - GRATICULE_HALF_WIDTH, p + GRATICULE_HALF_WIDTH, width,
          2 * k == meridians ? GraticuleMainColour : GraticuleColour);
  }
}
