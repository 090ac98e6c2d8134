// The row store: rows against a plain decode, the JPEG decoder's restarts and skips,
// failed reads, the eviction choice, the three memory regimes and the buffer bookkeeping.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <tiffio.h>

#include "image_test_util.h"
#include "jpeg_reader.h"

using imgtest::expect_buffers_accounted;
using imgtest::Source;
using imgtest::TempDir;

namespace {

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool all_grey(const uint8_t *p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != IMAGE_GREY) return false;
  return true;
}

// A JPEG of odd size with its plain full decode alongside.
struct JpegFile {
  std::string path;
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
  const uint8_t *row(int y) const { return &pixels[static_cast<size_t>(y) * width * 3]; }
};

JpegFile make_jpeg(const TempDir &dir, const std::string &name, int w, int h,
                   const fixture::JpegOptions &opt = fixture::JpegOptions()) {
  JpegFile f;
  f.path = dir.file(name);
  EXPECT_TRUE(fixture::write_jpeg(f.path, w, h, fixture::pattern_rows(w), opt));
  f.pixels = fixture::decode_jpeg(f.path, &f.width, &f.height);
  EXPECT_EQ(f.width, w);
  EXPECT_EQ(f.height, h);
  return f;
}

}  // namespace

// ---- JPEG forward decoding ----

struct ReadOrder {
  const char *name;
  std::vector<int> rows;
  uint32_t restarts;
  uint32_t lines;  // rows the library delivered in all
};

TEST(JpegRows, MatchAPlainDecodeInAnyOrderWithRestartsOnlyWhenARowHasGoneBy) {
  const ReadOrder orders[] = {
      {"row 0 of a fresh decoder", {0}, 0, 1},
      {"100 then 50", {100, 50}, 1, 101 + 51},
      {"100 then 101", {100, 101}, 0, 102},
      {"40", {40}, 0, 41},
      {"the same row twice", {5, 5}, 1, 6 + 6},
      {"17, 18, 16", {17, 18, 16}, 1, 18 + 1 + 17},
      {"last, first, last", {202, 0, 202}, 1, 203 + 1 + 202},
      {"downwards with gaps", {3, 20, 21, 64, 150, 202}, 0, 203},
  };
  TempDir dir;
  fixture::JpegOptions markers;
  markers.restart_rows = 1;
  const JpegFile files[] = {make_jpeg(dir, "plain.jpg", 41, 203),
                            make_jpeg(dir, "markers.jpg", 41, 203, markers)};
  for (const JpegFile &file : files) {
    for (const ReadOrder &order : orders) {
      SCOPED_TRACE(file.path + ": " + order.name);
      Source src = imgtest::open_source(file.path);
      ASSERT_NE(src, nullptr);
      std::vector<uint8_t> buf(static_cast<size_t>(src->row_bytes));
      for (int y : order.rows) {
        image_source_read_row(src.get(), buf.data(), y);
        EXPECT_EQ(std::memcmp(buf.data(), file.row(y), buf.size()), 0) << "row " << y;
        EXPECT_EQ(src->jpeg->last_row, y);
        EXPECT_EQ(src->jpeg->cinfo.output_scanline, static_cast<JDIMENSION>(y + 1));
      }
      EXPECT_EQ(src->jpeg->restarts, order.restarts);
      EXPECT_EQ(src->jpeg->lines_decoded, order.lines);
      EXPECT_EQ(src->jpeg->fatal_errors, 0u);
    }
  }
}

TEST(JpegRows, SkipInCallsOfUpTo16RowsThenReadOneAtATime) {
  TempDir dir;
  JpegFile file = make_jpeg(dir, "skip.jpg", 33, 120);
  Source src = imgtest::open_source(file.path);
  ASSERT_NE(src, nullptr);
  std::vector<uint8_t> buf(static_cast<size_t>(src->row_bytes));

  image_source_read_row(src.get(), buf.data(), 0);
  EXPECT_EQ(src->jpeg->skip_calls, 0u);
  EXPECT_EQ(src->jpeg->single_calls, 1u);
  EXPECT_EQ(src->jpeg->lines_decoded, 1u);

  // From scanline 1 to row 40: 16-row calls while scanline + 16 < 40, so they stop at a
  // scanline between 24 and 39, then single rows up to 40.
  image_source_read_row(src.get(), buf.data(), 40);
  EXPECT_EQ(std::memcmp(buf.data(), file.row(40), buf.size()), 0);
  const uint32_t skips = src->jpeg->skip_calls, singles = src->jpeg->single_calls - 1;
  const uint32_t skipped = 40 - singles;  // rows delivered by the 16-row calls (from row 1)
  EXPECT_EQ(src->jpeg->lines_decoded, 41u);
  EXPECT_GE(skips, 2u);  // at least 23 rows at no more than 16 a call
  EXPECT_LE(skipped, skips * 16);
  EXPECT_GE(1 + skipped, 24u);
  EXPECT_LE(1 + skipped, 40u);
  EXPECT_EQ(singles, 40 - skipped);

  // A row right below the decoder is one single-row call.
  image_source_read_row(src.get(), buf.data(), 41);
  EXPECT_EQ(src->jpeg->skip_calls, skips);
  EXPECT_EQ(src->jpeg->single_calls, singles + 2);
  EXPECT_EQ(src->jpeg->lines_decoded, 42u);
  EXPECT_EQ(src->jpeg->restarts, 0u);
}

TEST(JpegRows, TruncatedDataGivesWhatTheLibrarySuppliesAndGoesOn) {
  TempDir dir;
  JpegFile whole = make_jpeg(dir, "whole.jpg", 64, 96);
  const std::string cut = dir.file("cut.jpg");
  const std::string bytes = read_all(whole.path);
  ASSERT_TRUE(fixture::write_bytes(cut, bytes.substr(0, bytes.size() / 2)));
  int w = 0, h = 0;
  testing::internal::CaptureStderr();
  std::vector<uint8_t> plain = fixture::decode_jpeg(cut, &w, &h);
  Source src = imgtest::open_source(cut);
  ASSERT_NE(src, nullptr);
  std::vector<uint8_t> buf(static_cast<size_t>(src->row_bytes));
  for (int y : {10, 95, 50, 80}) {
    image_source_read_row(src.get(), buf.data(), y);
    EXPECT_EQ(std::memcmp(buf.data(), &plain[static_cast<size_t>(y) * w * 3], buf.size()), 0)
        << y;
  }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Premature end of JPEG file"), std::string::npos) << err;
  EXPECT_EQ(src->jpeg->fatal_errors, 0u);
}

struct Damage {
  const char *name;
  size_t keep;          // bytes of the file left in place, or
  bool other_size;      // the file replaced by a JPEG of another size
  const char *message;  // libjpeg's message for the failed restart, or ""
};

// A file damaged under an open source makes the restart fail fatally: the row is grey,
// the process goes on, and once the file is whole again the source reads it again.
TEST(JpegRows, AFatalErrorDuringARestartGivesAGreyRowAndTheSourceRecovers) {
  const Damage damages[] = {
      {"emptied", 0, false, "Empty input file"},
      {"cut inside the header", 100, false, ""},
      {"replaced by a larger image", 0, true, ""},
  };
  TempDir dir;
  for (const Damage &d : damages) {
    SCOPED_TRACE(d.name);
    JpegFile file = make_jpeg(dir, "map.jpg", 48, 120);
    const std::string good = read_all(file.path);
    Source src = imgtest::open_source(file.path);
    ASSERT_NE(src, nullptr);
    uint8_t *row100 = image_source_fetch_row(src.get(), 100, 100, 101);
    ASSERT_NE(row100, nullptr);
    EXPECT_EQ(std::memcmp(row100, file.row(100), 48 * 3), 0);

    if (d.other_size) {
      ASSERT_TRUE(fixture::write_jpeg(file.path, 400, 300, fixture::pattern_rows(400)));
    } else {
      ASSERT_EQ(truncate(file.path.c_str(), static_cast<off_t>(d.keep)), 0);
    }
    testing::internal::CaptureStderr();
    const uint8_t *row50 = image_source_fetch_row(src.get(), 50, 50, 51);
    const uint8_t *row60 = image_source_fetch_row(src.get(), 60, 60, 61);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_NE(row50, nullptr);
    ASSERT_NE(row60, nullptr);
    EXPECT_TRUE(all_grey(row50, 48 * 3));
    EXPECT_TRUE(all_grey(row60, 48 * 3));
    if (*d.message) {
      EXPECT_NE(err.find(d.message), std::string::npos) << err;
    }
    if (!d.other_size) {
      EXPECT_EQ(src->jpeg->fatal_errors, 2u);
    }

    // Rewritten in place (same file, so the source's stream sees it): rows read again.
    {
      std::ofstream out(file.path, std::ios::binary | std::ios::trunc);
      out.write(good.data(), static_cast<std::streamsize>(good.size()));
    }
    const uint8_t *row70 = image_source_fetch_row(src.get(), 70, 70, 71);
    ASSERT_NE(row70, nullptr);
    EXPECT_EQ(std::memcmp(row70, file.row(70), 48 * 3), 0);
    EXPECT_EQ(std::memcmp(image_source_fetch_row(src.get(), 100, 100, 101), file.row(100), 48 * 3), 0);
    src.reset();
    std::remove(file.path.c_str());
  }
}

// ---- TIFF scanlines ----

struct TiffCase {
  const char *name;
  bool big_endian;
  int compression;
  int rows_per_strip;
};

TEST(TiffRows, MatchTheWrittenPixelsInAnyOrder) {
  const TiffCase cases[] = {
      {"II uncompressed", false, COMPRESSION_NONE, 16},
      {"MM uncompressed", true, COMPRESSION_NONE, 1},
      {"deflate, 3 rows a strip", false, COMPRESSION_ADOBE_DEFLATE, 3},
      {"LZW, one strip", true, COMPRESSION_LZW, 61},
      {"LZW, 7 rows a strip", false, COMPRESSION_LZW, 7},
      {"PackBits, 5 rows a strip", false, COMPRESSION_PACKBITS, 5},
  };
  const int w = 29, h = 61;
  const std::vector<uint8_t> img = fixture::pattern_image(w, h);
  TempDir dir;
  for (const TiffCase &c : cases) {
    SCOPED_TRACE(c.name);
    fixture::TiffOptions o;
    o.big_endian = c.big_endian;
    o.compression = c.compression;
    o.rows_per_strip = c.rows_per_strip;
    const std::string path = dir.file("t.tif");
    ASSERT_TRUE(fixture::write_tiff(path, w, h, fixture::pattern_rows(w), o));
    Source src = imgtest::open_source(path);
    ASSERT_NE(src, nullptr);
    std::vector<uint8_t> buf(static_cast<size_t>(src->row_bytes));
    testing::internal::CaptureStderr();
    for (int y : {60, 0, 31, 30, 2, 59, 17, 18, 20, 19, 40, 41}) {
      image_source_read_row(src.get(), buf.data(), y);
      EXPECT_EQ(std::memcmp(buf.data(), &img[static_cast<size_t>(y) * w * 3], buf.size()), 0)
          << "row " << y;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // libtiff had nothing to say
  }
}

TEST(TiffRows, ARowLibtiffCannotReadIsGreyEvenInARecycledBuffer) {
  const int w = 20, h = 24;
  TempDir dir;
  const std::string path = dir.file("damaged.tif");
  fixture::TiffOptions o;
  o.compression = COMPRESSION_ADOBE_DEFLATE;
  o.rows_per_strip = 4;
  ASSERT_TRUE(fixture::write_tiff(path, w, h, fixture::pattern_rows(w), o));
  // Spoil the zlib header of strip 2 (rows 8 to 11).
  uint64_t offset = 0;
  {
    TIFF *t = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    uint64_t *offsets = nullptr;
    ASSERT_EQ(TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets), 1);
    offset = offsets[2];
    TIFFClose(t);
  }
  std::string bytes = read_all(path);
  bytes[offset] = '\xFF';
  bytes[offset + 1] = '\xFF';
  ASSERT_TRUE(fixture::write_bytes(path, bytes));

  Source src = imgtest::open_source(path);
  ASSERT_NE(src, nullptr);
  const std::vector<uint8_t> img = fixture::pattern_image(w, h);
  uint8_t *row0 = image_source_fetch_row(src.get(), 0, 0, 1);
  ASSERT_NE(row0, nullptr);
  EXPECT_EQ(std::memcmp(row0, img.data(), w * 3), 0);
  src->soft_limit = 0;  // the next miss recycles row 0's buffer
  testing::internal::CaptureStderr();
  uint8_t *row9 = image_source_fetch_row(src.get(), 9, 9, 10);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(row9, row0);
  EXPECT_EQ(src->rows[0].buffer, nullptr);
  EXPECT_TRUE(all_grey(row9, w * 3));
  EXPECT_FALSE(err.empty());  // libtiff said why
  uint8_t *row12 = image_source_fetch_row(src.get(), 12, 12, 13);
  EXPECT_EQ(std::memcmp(row12, &img[12 * w * 3], w * 3), 0);
}

// ---- Eviction ----

struct EvictCase {
  const char *name;
  int kind;
  std::vector<int> cached;
  int last_row;  // JPEG decoder's last row at the moment of the choice
  int evicted;   // -1: nothing
};

// Window rows 100 to 199 (window_end 200) on a 400-row image.
TEST(RowStoreEvict, TakesTheFarthestRowWithTheTiffAndJpegTieRules) {
  const EvictCase cases[] = {
      {"TIFF 10 / 300: 90 vs 100", IMAGE_KIND_TIFF, {10, 300}, 0, 300},
      {"TIFF 10 / 290: a tie takes the lower", IMAGE_KIND_TIFF, {10, 290}, 0, 290},
      {"TIFF 99 / 201: a tie at 1", IMAGE_KIND_TIFF, {99, 201}, 0, 201},
      {"TIFF 5 / 250: 95 vs 50", IMAGE_KIND_TIFF, {5, 250}, 0, 5},
      {"TIFF farthest of several", IMAGE_KIND_TIFF, {0, 10, 150, 350, 399}, 0, 399},
      {"TIFF only above", IMAGE_KIND_TIFF, {50, 60}, 0, 50},
      {"TIFF only below", IMAGE_KIND_TIFF, {250, 260}, 0, 260},
      {"TIFF window_end is never taken", IMAGE_KIND_TIFF, {200}, 0, -1},
      {"TIFF rows inside the window stay", IMAGE_KIND_TIFF, {100, 150, 199}, 0, -1},
      {"TIFF nothing cached", IMAGE_KIND_TIFF, {}, 0, -1},
      {"JPEG 10 / 300", IMAGE_KIND_JPEG, {10, 300}, 0, 300},
      {"JPEG 10 / 290", IMAGE_KIND_JPEG, {10, 290}, 0, 290},
      {"JPEG 5 / 250, last row 94 < 95", IMAGE_KIND_JPEG, {5, 250}, 94, 5},
      {"JPEG 5 / 250, last row 95", IMAGE_KIND_JPEG, {5, 250}, 95, 250},
      {"JPEG 5 / 250, last row 399", IMAGE_KIND_JPEG, {5, 250}, 399, 250},
      {"JPEG only above", IMAGE_KIND_JPEG, {50}, 399, 50},
      {"JPEG window_end is never taken", IMAGE_KIND_JPEG, {200}, 0, -1},
  };
  TempDir dir;
  const int w = 16, h = 400;
  ASSERT_TRUE(fixture::write_tiff(dir.file("t"), w, h, fixture::pattern_rows(w)));
  ASSERT_TRUE(fixture::write_jpeg(dir.file("j"), w, h, fixture::pattern_rows(w)));
  for (const EvictCase &c : cases) {
    SCOPED_TRACE(c.name);
    Source src = imgtest::open_source(dir.file(c.kind == IMAGE_KIND_TIFF ? "t" : "j"));
    ASSERT_NE(src, nullptr);
    for (int y : c.cached) ASSERT_NE(image_source_fetch_row(src.get(), y, y, y + 1), nullptr);
    std::vector<uint8_t *> before(h);
    for (int y = 0; y < h; ++y) before[y] = src->rows[y].buffer;
    // Below the soft limit nothing goes, however the rows lie.
    EXPECT_EQ(image_source_evict_row(src.get(), 100, 200), nullptr);
    src->soft_limit = 0;
    if (c.kind == IMAGE_KIND_JPEG) src->jpeg->last_row = c.last_row;
    uint8_t *got = image_source_evict_row(src.get(), 100, 200);
    if (c.evicted < 0) {
      EXPECT_EQ(got, nullptr);
    } else {
      EXPECT_EQ(got, before[c.evicted]);
      EXPECT_EQ(src->rows[c.evicted].buffer, nullptr);
    }
    for (int y : c.cached) {
      if (y != c.evicted) {
        EXPECT_EQ(src->rows[y].buffer, before[y]) << "row " << y;
      }
    }
    std::free(got);  // detached: the test owns it now
  }
}

TEST(RowStoreEvict, BelowTheSoftLimitEveryRowStaysCached) {
  TempDir dir;
  const int w = 16, h = 300;
  ASSERT_TRUE(fixture::write_jpeg(dir.file("j"), w, h, fixture::pattern_rows(w)));
  Source src = imgtest::open_source(dir.file("j"));
  ASSERT_NE(src, nullptr);
  src->soft_limit = static_cast<uint32_t>(h * src->row_bytes);  // exactly all rows
  for (int top : {0, 100, 200, 250, 10, 50, 150, 120}) {
    src->pos_y = top;
    ASSERT_NE(image_source_sample(src.get(), w, 50, 1), nullptr);
  }
  EXPECT_EQ(imgtest::cached_rows(src.get()), h);
  EXPECT_EQ(src->allocated_bytes, src->soft_limit);
  EXPECT_EQ(src->spare_count, 0);
  EXPECT_EQ(image_source_evict_row(src.get(), 0, 1), nullptr);
  expect_buffers_accounted(src.get());
}

// ---- Regimes, pool and parked row ----

class RowStoreRegimes : public testing::TestWithParam<int> {};

// 16 pixels a row (48 bytes), soft limit 50 rows, hard limit 80 rows.
TEST_P(RowStoreRegimes, FillRecycleStream) {
  const int w = 16, h = 400;
  TempDir dir;
  const std::string path = dir.file("map");
  if (GetParam() == IMAGE_KIND_TIFF) {
    ASSERT_TRUE(fixture::write_tiff(path, w, h, fixture::pattern_rows(w)));
  } else {
    ASSERT_TRUE(fixture::write_jpeg(path, w, h, fixture::pattern_rows(w)));
  }
  int rw = w, rh = h;
  const std::vector<uint8_t> img = GetParam() == IMAGE_KIND_TIFF
                                       ? fixture::pattern_image(w, h)
                                       : fixture::decode_jpeg(path, &rw, &rh);
  Source src = imgtest::open_source(path);
  ASSERT_NE(src, nullptr);
  const uint32_t rb = static_cast<uint32_t>(src->row_bytes);
  src->soft_limit = 50 * rb;
  src->hard_limit = 80 * rb;
  auto sample = [&](int y0, int rows) {
    src->pos_y = y0;
    const uint8_t *out = image_source_sample(src.get(), w, rows, 1);
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> want = imgtest::reference_sample(img, w, h, 0, y0, w, rows, 1);
    EXPECT_EQ(imgtest::first_difference(out, want.data(), want.size()), -1);
  };
  auto cached = [&](int from, int to) {
    for (int y = from; y < to; ++y)
      if (!src->rows[y].buffer) return false;
    return true;
  };

  // Filling: every row read stays, every miss allocates.
  sample(0, 40);
  EXPECT_EQ(src->allocated_bytes, 40 * rb);
  EXPECT_EQ(imgtest::cached_rows(src.get()), 40);
  EXPECT_EQ(src->spare_count, 0);

  // Rows 40..69: ten more reach the soft limit, one more passes it, then rows 0..18 give
  // their buffers (farthest first); the refill pools rows 19..39.
  sample(40, 30);
  EXPECT_EQ(src->allocated_bytes, 51 * rb);
  EXPECT_TRUE(cached(40, 70));
  EXPECT_EQ(imgtest::cached_rows(src.get()), 30);
  EXPECT_EQ(src->spare_count, 21);
  expect_buffers_accounted(src.get());

  // Rows 100..199, more than the hard limit holds: rows 40..69 give their buffers, then
  // the pool, then new buffers up to 81 rows; from row 180 each row is parked once used.
  sample(100, 100);
  EXPECT_EQ(src->allocated_bytes, 81 * rb);
  EXPECT_TRUE(cached(100, 180));
  EXPECT_EQ(imgtest::cached_rows(src.get()), 80);
  EXPECT_NE(src->parked_row, nullptr);
  EXPECT_EQ(src->spare_count, 0);
  expect_buffers_accounted(src.get());

  // Streaming on: the first row used is parked (the earlier parked buffer goes to the
  // pool), the pool is then not empty, so later rows stay; nothing new is allocated.
  sample(300, 50);
  EXPECT_EQ(src->allocated_bytes, 81 * rb);
  EXPECT_EQ(src->rows[300].buffer, nullptr);
  EXPECT_TRUE(cached(301, 350));
  expect_buffers_accounted(src.get());
  sample(0, 400);
  EXPECT_EQ(src->allocated_bytes, 81 * rb);
  expect_buffers_accounted(src.get());
}

INSTANTIATE_TEST_SUITE_P(BothKinds, RowStoreRegimes,
                         testing::Values(int(IMAGE_KIND_TIFF), int(IMAGE_KIND_JPEG)),
                         [](const testing::TestParamInfo<int> &i) {
                           return i.param == IMAGE_KIND_TIFF ? std::string("Tiff")
                                                             : std::string("Jpeg");
                         });

TEST(RowStorePool, NeverHoldsMoreThan1024Buffers) {
  const int w = 8, h = 3000;
  TempDir dir;
  fixture::TiffOptions o;
  o.rows_per_strip = 64;
  ASSERT_TRUE(fixture::write_tiff(dir.file("t"), w, h, fixture::pattern_rows(w), o));
  Source src = imgtest::open_source(dir.file("t"));
  ASSERT_NE(src, nullptr);
  src->pos_y = 0;
  ASSERT_NE(image_source_sample(src.get(), w, h, -1), nullptr);  // read-only: no refill
  EXPECT_EQ(imgtest::cached_rows(src.get()), h);
  EXPECT_EQ(src->spare_count, 0);
  src->soft_limit = 0;
  ASSERT_NE(image_source_sample(src.get(), w, h, 0), nullptr);  // prepares only: no refill
  EXPECT_EQ(src->spare_count, 0);
  src->pos_y = 1500;
  ASSERT_NE(image_source_sample(src.get(), w, 10, 1), nullptr);
  EXPECT_EQ(src->spare_count, IMAGE_SPARE_SLOTS);
  EXPECT_EQ(imgtest::cached_rows(src.get()), h - IMAGE_SPARE_SLOTS);
  // The farthest rows went first: rows 0.. above (distance 1500 and down) and 2999.. below.
  EXPECT_EQ(src->rows[0].buffer, nullptr);
  EXPECT_EQ(src->rows[h - 1].buffer, nullptr);
  EXPECT_NE(src->rows[1499].buffer, nullptr);
  EXPECT_NE(src->rows[1510].buffer, nullptr);
  src->pos_y = 100;
  ASSERT_NE(image_source_sample(src.get(), w, 10, 2), nullptr);
  EXPECT_EQ(src->spare_count, IMAGE_SPARE_SLOTS);
  expect_buffers_accounted(src.get());
}

TEST(RowStoreParked, AnEarlierParkedBufferIsNeverLost) {
  TempDir dir;
  const int w = 10, h = 20;
  ASSERT_TRUE(fixture::write_tiff(dir.file("t"), w, h, fixture::pattern_rows(w)));
  Source src = imgtest::open_source(dir.file("t"));
  ASSERT_NE(src, nullptr);
  uint8_t *b1 = image_source_fetch_row(src.get(), 1, 0, 20);
  uint8_t *b2 = image_source_fetch_row(src.get(), 2, 0, 20);
  ASSERT_TRUE(b1 && b2);
  image_source_finish_row(src.get(), 1);  // not past the hard limit: stays cached
  EXPECT_EQ(src->rows[1].buffer, b1);
  src->soft_limit = 0;
  src->hard_limit = 0;
  image_source_finish_row(src.get(), 1);
  EXPECT_EQ(src->parked_row, b1);
  EXPECT_EQ(src->rows[1].buffer, nullptr);
  // Row 2 was cached already, so the parked slot is still full when it is finished.
  image_source_finish_row(src.get(), 2);
  EXPECT_EQ(src->parked_row, b2);
  EXPECT_EQ(src->spare_count, 1);
  EXPECT_EQ(src->spare_rows[0], b1);
  expect_buffers_accounted(src.get());
  // With the pool not empty nothing is parked; the next miss takes the parked buffer.
  uint8_t *b3 = image_source_fetch_row(src.get(), 3, 3, 4);
  EXPECT_EQ(b3, b2);
  image_source_finish_row(src.get(), 3);
  EXPECT_EQ(src->rows[3].buffer, b3);
  expect_buffers_accounted(src.get());
}

TEST(RowStoreStreaming, ARowUsedPastTheHardLimitWithAnEmptyPoolIsNotKept) {
  TempDir dir;
  const int w = 10, h = 20;
  ASSERT_TRUE(fixture::write_jpeg(dir.file("j"), w, h, fixture::pattern_rows(w)));
  Source src = imgtest::open_source(dir.file("j"));
  ASSERT_NE(src, nullptr);
  src->soft_limit = 0;
  src->hard_limit = 0;
  uint8_t *b = image_source_fetch_row(src.get(), 4, 4, 8);
  ASSERT_NE(b, nullptr);
  image_source_finish_row(src.get(), 4);
  EXPECT_EQ(src->rows[4].buffer, nullptr);
  EXPECT_EQ(src->parked_row, b);
  // The next row cycles through the same buffer.
  EXPECT_EQ(image_source_fetch_row(src.get(), 5, 4, 8), b);
  EXPECT_EQ(src->parked_row, nullptr);
  EXPECT_EQ(src->allocated_bytes, static_cast<uint32_t>(src->row_bytes));
}

TEST(RowStoreFetch, RefusesRowsOutsideTheImage) {
  TempDir dir;
  ASSERT_TRUE(fixture::write_tiff(dir.file("t"), 5, 5, fixture::pattern_rows(5)));
  Source src = imgtest::open_source(dir.file("t"));
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(image_source_fetch_row(src.get(), -1, 0, 5), nullptr);
  EXPECT_EQ(image_source_fetch_row(src.get(), 5, 0, 5), nullptr);
  EXPECT_EQ(image_source_fetch_row(nullptr, 0, 0, 5), nullptr);
  EXPECT_EQ(src->allocated_bytes, 0u);
}
