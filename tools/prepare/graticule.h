// Lines of latitude and longitude every 10 degrees, drawn into map rows, to check
// positions by eye. The map's convention: column = lon / 180 * (W / 2) + W / 2 and
// row = lat / 90 * (H / 2) + H / 2, so on the 21600 x 10800 map a line every 600 pixels,
// and latitude grows downwards (positive latitudes in the lower half).
#pragma once

#include <cstdint>

enum {
  GRATICULE_STEP_DEGREES = 10,
  GRATICULE_HALF_WIDTH = 2,  // a line covers the pixels from p - 2 to p + 1 around its edge p
};

// The colours of ordinary lines and of the equator and prime meridian.
extern const uint8_t GraticuleColour[3];
extern const uint8_t GraticuleMainColour[3];

// Pixel position of the line k steps from the left or top edge of a map `length`
// pixels long spanning `degrees` (360 across, 180 down).
int graticule_line_at(int k, int length, int degrees);

// Draws the graticule into row y (width * 3 bytes) of a width x height map.
void graticule_draw_row(uint8_t *row, int width, int height, int y);
