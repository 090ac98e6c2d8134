// The view's geometry rules with the numbers of a 627 x 572 view on the 21600 x 10800 map.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "irgb_view.h"
#include "view_geometry.h"

namespace {

const int kW = 627, kH = 572;  // the view inside the 629 x 574 main window
const int kMapW = 21600, kMapH = 10800;

std::string fmt2(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(v));
  return buf;
}

TEST(ViewGeometry, ZoomFactorPerLevel) {
  EXPECT_EQ(1, ZoomFactor[1]);
  EXPECT_EQ(2, ZoomFactor[2]);
  EXPECT_EQ(4, ZoomFactor[3]);
  EXPECT_EQ(8, ZoomFactor[4]);
}

TEST(ViewGeometry, OriginLiesLeftAndAboveAtTheCoarseLevels) {
  struct Case {
    int level, x, y, ox, oy;
  } cases[] = {
      {1, 10300, 1358, 10300, 1358},
      {2, 10300, 1358, 10300, 1358},
      {3, 10300, 1358, 10300 - 156, 1358 - 143},
      {3, 0, 0, -156, -143},
      {4, 21600, 10800, 21600 - 627 - 156, 10800 - 572 - 143},
      {4, 0, 0, -783, -715},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + " at " + std::to_string(c.x) + "," +
                 std::to_string(c.y));
    const ViewPoint o = view_origin(c.x, c.y, kW, kH, c.level);
    EXPECT_EQ(c.ox, o.x);
    EXPECT_EQ(c.oy, o.y);
  }
}

TEST(ViewGeometry, ReadoutGivesTheCentresLongitudeAndLatitude) {
  struct Case {
    int level, x, y;
    const char *lon, *lat;
  } cases[] = {
      {2, 10173, 4828, "0.00", "0.00"},
      {3, 10300, 1358, "9.97", "-50.68"},  // north of the equator reads negative
      {1, 0, 0, "-174.78", "-85.23"},
      {4, 21600, 10800, "208.75", "116.22"},  // beyond the map's edge: beyond +-180 / +-90
      {1, 10800 - 313, 5400 - 286, "0.01", "0.00"},  // odd width centres on a half pixel
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + " at " + std::to_string(c.x) + "," +
                 std::to_string(c.y));
    const GeoPoint g = view_readout(c.x, c.y, kW, kH, c.level, kMapW, kMapH);
    EXPECT_EQ(c.lon, fmt2(g.lon));
    EXPECT_EQ(c.lat, fmt2(g.lat));
  }
}

TEST(ViewGeometry, ReadoutOfAHalfPixelIsExact) {
  // Level 1 at 10487, 5114: the centre is 0.5 pixel east of the centre column.
  const GeoPoint g = view_readout(10487, 5114, kW, kH, 1, kMapW, kMapH);
  EXPECT_FLOAT_EQ(0.5f / 10800.0f * 180.0f, g.lon);
  EXPECT_FLOAT_EQ(0.0f, g.lat);
}

TEST(ViewGeometry, OverviewPositionIsTheOriginInQuarterPixelsClampedAtZero) {
  struct Case {
    int level, x, y, ox, oy;
  } cases[] = {
      {3, 10300, 1358, 2536, 304},
      {4, 9075, 3827, 2073, 778},
      {3, 0, 0, 0, 0},        // -39, -35 before the clamp
      {4, 0, 0, 0, 0},
      {3, 100, 5000, 0, 1215},  // only the negative coordinate is clamped
      {3, 21600, 10800, 5361, 2665},  // no upper bound
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + " at " + std::to_string(c.x) + "," +
                 std::to_string(c.y));
    const ViewPoint o = overview_position(c.x, c.y, kW, kH, c.level);
    EXPECT_EQ(c.ox, o.x);
    EXPECT_EQ(c.oy, o.y);
  }
}

TEST(ViewGeometry, ZoomShiftsOfThe627x572View) {
  struct Case {
    int coarser, dx, dy;
  } cases[] = {{2, 313, 286}, {3, 470, 429}, {4, 627, 572}};
  for (const Case &c : cases) {
    SCOPED_TRACE("to level " + std::to_string(c.coarser));
    const ViewPoint s = zoom_shift(kW, kH, c.coarser);
    EXPECT_EQ(c.dx, s.x);
    EXPECT_EQ(c.dy, s.y);
  }
}

TEST(ViewGeometry, ZoomShiftsKeepTheCentreWithinAPixel) {
  // Stepping a level coarser shifts the position so the read-out hardly moves.
  const int x = 9000, y = 4000;
  for (int coarse = 2; coarse <= 4; ++coarse) {
    SCOPED_TRACE("to level " + std::to_string(coarse));
    const ViewPoint s = zoom_shift(kW, kH, coarse);
    const GeoPoint before = view_readout(x, y, kW, kH, coarse - 1, kMapW, kMapH);
    const GeoPoint after = view_readout(x - s.x, y - s.y, kW, kH, coarse, kMapW, kMapH);
    const float pixel = 1.0f / 60.0f;
    EXPECT_NEAR(before.lon, after.lon, 1.01f * pixel);
    EXPECT_NEAR(before.lat, after.lat, 1.01f * pixel);
  }
}

TEST(ViewGeometry, ClampKeepsBothBoundsIncluded) {
  struct Case {
    long long x, y;
    int cx, cy;
  } cases[] = {
      {-5, 99999, 0, 10800},
      {21600, 0, 21600, 0},
      {21601, 10801, 21600, 10800},
      {-(1LL << 40), 1LL << 40, 0, 10800},  // far past the image: no wrap
      {1234, 567, 1234, 567},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    const ViewPoint p = clamp_position(c.x, c.y, kMapW, kMapH);
    EXPECT_EQ(c.cx, p.x);
    EXPECT_EQ(c.cy, p.y);
  }
}

}  // namespace
