// Windows with more rows than the hard limit holds stream through the row store: the
// picture is right and the memory spent on rows stops growing at the hard limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <tiffio.h>

#include "image_test_util.h"

using imgtest::Source;
using imgtest::TempDir;

class StreamSmall : public testing::TestWithParam<int> {};

// 24 x 2000 pixels, soft limit 100 rows, hard limit 200 rows.
TEST_P(StreamSmall, AWindowTallerThanTheHardLimitStreamsThrough) {
  const int w = 24, h = 2000;
  TempDir dir;
  const std::string path = dir.file("tall");
  std::vector<uint8_t> img;
  if (GetParam() == IMAGE_KIND_TIFF) {
    fixture::TiffOptions o;
    o.compression = COMPRESSION_ADOBE_DEFLATE;
    o.rows_per_strip = 8;
    ASSERT_TRUE(fixture::write_tiff(path, w, h, fixture::pattern_rows(w), o));
    img = fixture::pattern_image(w, h);
  } else {
    ASSERT_TRUE(fixture::write_jpeg(path, w, h, fixture::pattern_rows(w)));
    int rw = 0, rh = 0;
    img = fixture::decode_jpeg(path, &rw, &rh);
  }
  Source src = imgtest::open_source(path);
  ASSERT_NE(src, nullptr);
  const uint32_t rb = static_cast<uint32_t>(src->row_bytes);
  src->soft_limit = 100 * rb;
  src->hard_limit = 200 * rb;

  struct Pass {
    int x0, y0, w, h, f;
  };
  const Pass passes[] = {
      {3, 151, 15, 700, 2},    // 1400 rows
      {0, 600, 24, 1500, 1},   // 1500 rows, the last 100 below the image
      {5, 0, 4, 250, 8},       // all 2000 rows
      {0, 1200, 24, 100, 1},   // back up again
  };
  uint32_t after_first = 0;
  for (const Pass &p : passes) {
    SCOPED_TRACE(testing::Message() << "window at " << p.x0 << "," << p.y0 << " f " << p.f);
    src->pos_x = p.x0;
    src->pos_y = p.y0;
    const uint8_t *out = image_source_sample(src.get(), p.w, p.h, p.f);
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> want = imgtest::reference_sample(img, w, h, p.x0, p.y0, p.w, p.h, p.f);
    EXPECT_EQ(imgtest::first_difference(out, want.data(), want.size()), -1);
    EXPECT_LE(src->allocated_bytes, src->hard_limit + rb);
    // Past the hard limit after the first window, nothing more is ever allocated.
    if (&p != passes) {
      EXPECT_EQ(src->allocated_bytes, after_first);
    }
    after_first = src->allocated_bytes;
    imgtest::expect_buffers_accounted(src.get());
  }
  EXPECT_GT(src->allocated_bytes, src->hard_limit);  // the streaming regime was reached
}

INSTANTIATE_TEST_SUITE_P(BothKinds, StreamSmall,
                         testing::Values(int(IMAGE_KIND_TIFF), int(IMAGE_KIND_JPEG)),
                         [](const testing::TestParamInfo<int> &i) {
                           return i.param == IMAGE_KIND_TIFF ? std::string("Tiff")
                                                             : std::string("Jpeg");
                         });

// The real limits on rows of the full map's width: 4800 rows of 64,800 bytes are 311 MB,
// more than the 256 MiB hard limit. Each row has one colour, so the file stays small.
TEST(StreamFullWidth, RowMemoryStaysWithinTheHardLimit) {
  const int w = 21600, h = 4800;
  auto colour = [](int y, int c) {
    return static_cast<uint8_t>(c == 0 ? y & 0xFF : c == 1 ? (y >> 8) * 40 : 255 - (y & 0x7F));
  };
  TempDir dir;
  const std::string path = dir.file("wide.tif");
  fixture::TiffOptions o;
  o.compression = COMPRESSION_ADOBE_DEFLATE;
  o.rows_per_strip = 16;
  ASSERT_TRUE(fixture::write_tiff(path, w, h,
                                  [&](int y, uint8_t *row) {
                                    for (int x = 0; x < w; ++x)
                                      for (int c = 0; c < 3; ++c) row[x * 3 + c] = colour(y, c);
                                  },
                                  o));
  Source src = imgtest::open_source(path);
  ASSERT_NE(src, nullptr);
  const int ow = 627, oh = 600, f = 8;
  src->pos_x = 20000;  // the right part of the window lies past the image
  const uint8_t *out = image_source_sample(src.get(), ow, oh, f);
  ASSERT_NE(out, nullptr);
  EXPECT_GT(src->allocated_bytes, src->soft_limit);
  EXPECT_LE(src->allocated_bytes, src->hard_limit + static_cast<uint32_t>(src->row_bytes));
  const int inside = (w - 20000) / f;  // 200 whole blocks
  for (int i = 0; i < oh; ++i) {
    int sum[3] = {0, 0, 0};
    for (int dy = 0; dy < f; ++dy)
      for (int c = 0; c < 3; ++c) sum[c] += f * colour(i * f + dy, c);
    for (int j : {0, inside - 1, inside, ow - 1}) {
      for (int c = 0; c < 3; ++c) {
        const int want = j < inside ? sum[c] / (f * f) : IMAGE_GREY;
        ASSERT_EQ(out[(i * ow + j) * 3 + c], want) << "output " << j << "," << i << " c " << c;
      }
    }
  }
  imgtest::expect_buffers_accounted(src.get());
}
