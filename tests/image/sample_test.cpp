// Region sampling against a slow reference, the output buffer rules and the passes that
// only load rows.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "image_test_util.h"

using imgtest::Source;
using imgtest::TempDir;

namespace {

const int kW = 37, kH = 23;  // odd, so that blocks straddle both edges

struct Window {
  const char *name;
  int x0, y0, w, h, f;
};

const Window kWindows[] = {
    {"whole image", 0, 0, kW, kH, 1},
    {"f1 last 10 columns then grey", kW - 10, 0, 100, 5, 1},
    {"f1 right of the image", kW, 0, 20, 30, 1},
    {"f1 straddling the bottom", 0, 20, 10, 8, 1},
    {"f1 straddling both", 30, 18, 12, 9, 1},
    {"f1 one-pixel column at the right edge", kW - 1, 0, 1, kH, 1},
    {"f1 one-pixel row at the bottom", 0, kH - 1, kW, 1, 1},
    {"f1 below the image", 5, kH, 8, 4, 1},
    {"f1 far right of the image", kW + 5, 3, 4, 2, 1},
    {"f2 odd top row", 0, 1, 18, 11, 2},
    {"f2 block straddling the right edge", 0, 0, 20, 11, 2},
    {"f2 odd left column, straddling", 1, 3, 19, 9, 2},
    {"f2 straddling the bottom", 4, 15, 10, 6, 2},
    {"f2 one-pixel strip at the bottom", 0, kH - 2, 18, 1, 2},
    {"f2 block reaching below the last row", 0, kH - 1, 5, 2, 2},
    {"f2 wholly below", 0, kH, 4, 4, 2},
    {"f4 three columns inside the last block", 2, 2, 10, 7, 4},
    {"f4 right of the image", kW, 0, 5, 5, 4},
    {"f4 far right and below", kW + 9, kH + 2, 2, 2, 4},
    {"f4 one column", kW - 1, 0, 1, 6, 4},
    {"f8 five columns in the last block", 0, 0, 6, 4, 8},
    {"f8 odd corner", 3, 5, 5, 3, 8},
    {"f8 one-pixel strip at the right", kW - 1, 0, 1, 2, 8},
};

}  // namespace

class SampleWindows : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    path_ = dir_.file("map");
    if (GetParam() == IMAGE_KIND_TIFF) {
      ASSERT_TRUE(fixture::write_tiff(path_, kW, kH, fixture::pattern_rows(kW)));
      img_ = fixture::pattern_image(kW, kH);
    } else {
      ASSERT_TRUE(fixture::write_jpeg(path_, kW, kH, fixture::pattern_rows(kW)));
      int w = 0, h = 0;
      img_ = fixture::decode_jpeg(path_, &w, &h);
      ASSERT_EQ(w, kW);
      ASSERT_EQ(h, kH);
    }
  }
  TempDir dir_;
  std::string path_;
  std::vector<uint8_t> img_;
};

TEST_P(SampleWindows, MatchTheSlowReference) {
  // One source for all windows, so the row store and the buffer carry over between calls.
  Source src = imgtest::open_source(path_);
  ASSERT_NE(src, nullptr);
  for (const Window &win : kWindows) {
    SCOPED_TRACE(win.name);
    src->pos_x = win.x0;
    src->pos_y = win.y0;
    const uint8_t *out = image_source_sample(src.get(), win.w, win.h, win.f);
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> want =
        imgtest::reference_sample(img_, kW, kH, win.x0, win.y0, win.w, win.h, win.f);
    long diff = imgtest::first_difference(out, want.data(), want.size());
    EXPECT_EQ(diff, -1) << "pixel " << diff / 3 << " channel " << diff % 3 << ": got "
                        << int(diff >= 0 ? out[diff] : 0) << ", want "
                        << int(diff >= 0 ? want[diff] : 0);
    // The same call again, now from the row store, gives the same picture.
    out = image_source_sample(src.get(), win.w, win.h, win.f);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(imgtest::first_difference(out, want.data(), want.size()), -1);
  }
}

INSTANTIATE_TEST_SUITE_P(BothKinds, SampleWindows,
                         testing::Values(int(IMAGE_KIND_TIFF), int(IMAGE_KIND_JPEG)),
                         [](const testing::TestParamInfo<int> &i) {
                           return i.param == IMAGE_KIND_TIFF ? std::string("Tiff")
                                                             : std::string("Jpeg");
                         });

TEST(Sample, FlatImageAveragesToItselfAndGreyRightOfIt) {
  TempDir dir;
  const int w = 30, h = 17;
  ASSERT_TRUE(fixture::write_tiff(dir.file("flat"), w, h, fixture::flat_rows(w, 200, 100, 50)));
  Source src = imgtest::open_source(dir.file("flat"));
  ASSERT_NE(src, nullptr);
  const uint8_t *out = image_source_sample(src.get(), 10, 4, 4);
  ASSERT_NE(out, nullptr);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 10; ++j) {
      SCOPED_TRACE(testing::Message() << "output " << j << "," << i);
      const uint8_t *p = out + (i * 10 + j) * 3;
      if (j < 7) {  // blocks wholly inside
        EXPECT_EQ(p[0], 200);
        EXPECT_EQ(p[1], 100);
        EXPECT_EQ(p[2], 50);
      } else if (j == 7) {  // columns 28, 29 inside, 30, 31 count as grey
        EXPECT_EQ(p[0], (2 * 200 + 2 * 127) / 4);
        EXPECT_EQ(p[1], (2 * 100 + 2 * 127) / 4);
        EXPECT_EQ(p[2], (2 * 50 + 2 * 127) / 4);
      } else {
        EXPECT_EQ(p[0], 127);
        EXPECT_EQ(p[1], 127);
        EXPECT_EQ(p[2], 127);
      }
    }
  }
}

TEST(SampleBuffer, IsReusedWhenItFitsAndReallocatedToExactlyWxHWhenNot) {
  TempDir dir;
  ASSERT_TRUE(fixture::write_tiff(dir.file("t"), kW, kH, fixture::pattern_rows(kW)));
  Source src = imgtest::open_source(dir.file("t"));
  ASSERT_NE(src, nullptr);
  const std::vector<uint8_t> img = fixture::pattern_image(kW, kH);
  struct Step {
    int w, h;
    bool same;  // the buffer of the previous step is returned
    int cap_w, cap_h;
  };
  const Step steps[] = {
      {10, 8, false, 10, 8}, {5, 5, true, 10, 8},  {10, 8, true, 10, 8},
      {12, 3, false, 12, 3}, {12, 3, true, 12, 3}, {4, 9, false, 4, 9},
      {1, 1, true, 4, 9},    {0, 0, true, 4, 9},
  };
  uint8_t *previous = nullptr;
  for (const Step &s : steps) {
    SCOPED_TRACE(testing::Message() << s.w << " x " << s.h);
    uint8_t *out = image_source_sample(src.get(), s.w, s.h, 1);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out, src->out_buffer);
    if (s.same) {
      EXPECT_EQ(out, previous);
    }
    EXPECT_EQ(src->out_cap_width, s.cap_w);
    EXPECT_EQ(src->out_cap_height, s.cap_h);
    // Rows are packed at w * 3 bytes, whatever the capacity.
    std::vector<uint8_t> want = imgtest::reference_sample(img, kW, kH, 0, 0, s.w, s.h, 1);
    EXPECT_EQ(imgtest::first_difference(out, want.data(), want.size()), -1);
    previous = out;
  }
}

TEST(SampleBuffer, RefusesBadArgumentsWithoutTouchingTheBuffer) {
  EXPECT_EQ(image_source_sample(nullptr, 10, 10, 1), nullptr);
  TempDir dir;
  ASSERT_TRUE(fixture::write_tiff(dir.file("t"), kW, kH, fixture::pattern_rows(kW)));
  Source src = imgtest::open_source(dir.file("t"));
  ASSERT_NE(src, nullptr);
  uint8_t *out = image_source_sample(src.get(), 6, 6, 2);
  ASSERT_NE(out, nullptr);
  struct Bad {
    const char *name;
    int w, h, x0, y0;
  };
  const Bad bads[] = {
      {"negative width", -1, 5, 0, 0},
      {"negative height", 5, -1, 0, 0},
      {"w * h * 3 beyond 32 bits", 70000, 70000, 0, 0},
      {"w * 3 beyond 32 bits", 0x7FFFFFFF, 0, 0, 0},
      {"negative position", 4, 4, -1, 0},
      {"negative row", 4, 4, 0, -3},
  };
  for (const Bad &b : bads) {
    SCOPED_TRACE(b.name);
    src->pos_x = b.x0;
    src->pos_y = b.y0;
    EXPECT_EQ(image_source_sample(src.get(), b.w, b.h, 1), nullptr);
    EXPECT_EQ(src->out_buffer, out);
    EXPECT_EQ(src->out_cap_width, 6);
    EXPECT_EQ(src->out_cap_height, 6);
  }
  EXPECT_EQ(imgtest::cached_rows(src.get()), 12);  // only the first call read rows
}

// A read-only pass (negative factor), another positive factor and factor 0.
TEST(SampleLoadOnly, LoadsTheWindowRowsAndWritesNothing) {
  TempDir dir;
  const int w = 7, h = 500;
  ASSERT_TRUE(fixture::write_jpeg(dir.file("j"), w, h, fixture::pattern_rows(w)));
  Source src = imgtest::open_source(dir.file("j"));
  ASSERT_NE(src, nullptr);

  // Factor 0 prepares the buffer and reads nothing.
  uint8_t *out = image_source_sample(src.get(), w, 300, 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(src->out_cap_height, 300);
  EXPECT_EQ(imgtest::cached_rows(src.get()), 0);
  std::memset(out, 0xAB, static_cast<size_t>(w) * 300 * 3);
  auto untouched = [&] {
    for (size_t i = 0; i < static_cast<size_t>(w) * 300 * 3; ++i)
      if (src->out_buffer[i] != 0xAB) return false;
    return true;
  };

  // f = -2 with H = 300: rows 10 .. 609, those that exist (10 .. 499), stay in the store.
  src->soft_limit = 0;  // a refill would now move rows into the pool; none may happen
  src->pos_y = 10;
  EXPECT_EQ(image_source_sample(src.get(), w, 300, -2), out);
  EXPECT_TRUE(untouched());
  EXPECT_EQ(src->rows[9].buffer, nullptr);
  EXPECT_NE(src->rows[10].buffer, nullptr);
  EXPECT_NE(src->rows[499].buffer, nullptr);
  EXPECT_EQ(imgtest::cached_rows(src.get()), 490);
  EXPECT_EQ(src->spare_count, 0);

  // f = 3: the window's rows are fetched, nothing is written, the pool is refilled from
  // the rows outside the window.
  src->pos_y = 0;
  EXPECT_EQ(image_source_sample(src.get(), w, 20, 3), out);
  EXPECT_TRUE(untouched());
  for (int y = 0; y < 60; ++y) EXPECT_NE(src->rows[y].buffer, nullptr) << y;
  EXPECT_GT(src->spare_count, 0);
  imgtest::expect_buffers_accounted(src.get());

  // The most negative factor: the window runs far past the image; only real rows load.
  src->pos_y = 480;
  EXPECT_EQ(image_source_sample(src.get(), w, 2, INT_MIN), out);
  EXPECT_TRUE(untouched());
  for (int y = 480; y < h; ++y) EXPECT_NE(src->rows[y].buffer, nullptr) << y;

  // A read-only pass larger than the buffer grows it.
  src->pos_y = 0;
  EXPECT_NE(image_source_sample(src.get(), w + 1, 301, -1), nullptr);
  EXPECT_EQ(src->out_cap_width, w + 1);
  EXPECT_EQ(src->out_cap_height, 301);
}
