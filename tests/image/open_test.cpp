// Opening and closing: format recognition, the fresh record, and every file refused.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <tiffio.h>

#include "image_test_util.h"
#include "jpeg_reader.h"

using imgtest::Source;
using imgtest::TempDir;

namespace {

const int kW = 37, kH = 23;

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets one tag of the first directory of a little-endian classic TIFF to a LONG value,
// as a damaged or hostile header would carry it.
bool patch_tiff_tag(const std::string &path, uint16_t tag, uint32_t value) {
  std::string b = read_all(path);
  if (b.size() < 8 || b[0] != 'I') return false;
  auto u16 = [&](size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); };
  auto put = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
  };
  size_t ifd = uint8_t(b[4]) | uint8_t(b[5]) << 8 | uint8_t(b[6]) << 16 | size_t(uint8_t(b[7])) << 24;
  uint16_t n = u16(ifd);
  for (uint16_t i = 0; i < n; ++i) {
    size_t e = ifd + 2 + size_t(i) * 12;
    if (u16(e) != tag) continue;
    put(e + 2, 4, 2);  // LONG
    put(e + 4, 1, 4);
    put(e + 8, value, 4);
    return fixture::write_bytes(path, b);
  }
  return false;
}

// A hand-made single-strip RGB TIFF header that claims any size, with 30 bytes of data.
// libtiff accepts such a header (it recomputes the strip size), so the size checks
// of the source are what must refuse it.
bool write_claimed_tiff(const std::string &path, uint32_t width, uint32_t height) {
  std::string b("II*\0", 4);
  auto u16 = [&](uint32_t v) { b += char(v & 0xFF); b += char(v >> 8 & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
  const uint32_t data_at = 8, data_len = 30, ifd_at = data_at + data_len;
  const uint16_t n = 10;
  const uint32_t bits_at = ifd_at + 2 + n * 12 + 4;
  u32(ifd_at);
  b.append(data_len, '\x10');
  u16(n);
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    u16(tag);
    u16(type);
    u32(count);
    if (type == 3 && count == 1) {
      u16(value);
      u16(0);
    } else {
      u32(value);
    }
  };
  entry(256, 4, 1, width);
  entry(257, 4, 1, height);
  entry(258, 3, 3, bits_at);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, 2);
  entry(273, 4, 1, data_at);
  entry(277, 3, 1, 3);
  entry(278, 4, 1, height);
  entry(279, 4, 1, data_len);
  entry(284, 3, 1, 1);
  u32(0);
  u16(8);
  u16(8);
  u16(8);
  return fixture::write_bytes(path, b);
}

// 32 x 32 in four 16 x 16 tiles.
bool write_tiled_tiff(const std::string &path) {
  fixture::TiffOptions opt;
  opt.tile = 16;
  return fixture::write_tiff(path, 32, 32, fixture::flat_rows(32, 99, 99, 99), opt);
}

fixture::TiffOptions tiff_opts(int bits, int spp, int photometric, int planar = 1) {
  fixture::TiffOptions o;
  o.bits_per_sample = bits;
  o.samples_per_pixel = spp;
  o.photometric = photometric;
  o.planar = planar;
  return o;
}

bool good_tiff(const std::string &p) {
  return fixture::write_tiff(p, kW, kH, fixture::pattern_rows(kW));
}
bool good_jpeg(const std::string &p) {
  return fixture::write_jpeg(p, kW, kH, fixture::pattern_rows(kW));
}

}  // namespace

struct GoodCase {
  const char *name;
  std::function<bool(const std::string &)> write;
  int kind;
};

TEST(ImageOpen, AcceptsColourTiffAndJpegWithAFreshRecord) {
  fixture::TiffOptions mm;
  mm.big_endian = true;
  fixture::TiffOptions deflate;
  deflate.compression = COMPRESSION_ADOBE_DEFLATE;
  deflate.rows_per_strip = 3;
  fixture::TiffOptions lzw;
  lzw.compression = COMPRESSION_LZW;
  fixture::JpegOptions restarts;
  restarts.restart_rows = 1;
  const GoodCase cases[] = {
      {"TIFF II", good_tiff, IMAGE_KIND_TIFF},
      {"TIFF MM", [&](const std::string &p) {
         return fixture::write_tiff(p, kW, kH, fixture::pattern_rows(kW), mm); },
       IMAGE_KIND_TIFF},
      {"TIFF deflate strips", [&](const std::string &p) {
         return fixture::write_tiff(p, kW, kH, fixture::pattern_rows(kW), deflate); },
       IMAGE_KIND_TIFF},
      {"TIFF LZW", [&](const std::string &p) {
         return fixture::write_tiff(p, kW, kH, fixture::pattern_rows(kW), lzw); },
       IMAGE_KIND_TIFF},
      {"JPEG", good_jpeg, IMAGE_KIND_JPEG},
      {"JPEG with restart markers", [&](const std::string &p) {
         return fixture::write_jpeg(p, kW, kH, fixture::pattern_rows(kW), restarts); },
       IMAGE_KIND_JPEG},
  };
  TempDir dir;
  for (const GoodCase &c : cases) {
    SCOPED_TRACE(c.name);
    // No extension: the format comes from the first two bytes only.
    const std::string path = dir.file(std::string("map-") + std::to_string(&c - cases));
    ASSERT_TRUE(c.write(path));
    Source src = imgtest::open_source(path);
    ASSERT_NE(src, nullptr);
    EXPECT_EQ(src->kind, c.kind);
    EXPECT_EQ(src->width, kW);
    EXPECT_EQ(src->height, kH);
    EXPECT_EQ(src->row_bytes, kW * 3);
    EXPECT_EQ(src->pos_x, 0);
    EXPECT_EQ(src->pos_y, 0);
    EXPECT_EQ(imgtest::cached_rows(src.get()), 0);
    EXPECT_EQ(src->parked_row, nullptr);
    EXPECT_EQ(src->spare_count, 0);
    ASSERT_NE(src->spare_rows, nullptr);
    for (int i = 0; i < IMAGE_SPARE_SLOTS; ++i) ASSERT_EQ(src->spare_rows[i], nullptr);
    EXPECT_EQ(src->allocated_bytes, 0u);
    EXPECT_EQ(src->out_buffer, nullptr);
    EXPECT_EQ(src->out_cap_width, 0);
    EXPECT_EQ(src->out_cap_height, 0);
    EXPECT_EQ(src->soft_limit, 0xC000000u);
    EXPECT_EQ(src->hard_limit, 0x10000000u);
    if (c.kind == IMAGE_KIND_TIFF) {
      EXPECT_NE(src->tiff, nullptr);
      EXPECT_EQ(src->jpeg, nullptr);
    } else {
      ASSERT_NE(src->jpeg, nullptr);
      EXPECT_EQ(src->tiff, nullptr);
      EXPECT_EQ(src->jpeg->cinfo.output_scanline, 0u);
      EXPECT_EQ(src->jpeg->last_row, 0);
      EXPECT_EQ(src->jpeg->restarts, 0u);
    }
  }
}

struct BadCase {
  const char *name;
  std::function<bool(const std::string &)> write;
  const char *message;  // what libjpeg says on stderr, or "" when not checked
};

// Each must give null and leave the process running; the libraries still say why on stderr.
TEST(ImageOpen, RefusesEveryBadFileAndKeepsRunning) {
  const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x02\0\0\0", 29);
  fixture::TiffOptions ycbcr = tiff_opts(8, 3, PHOTOMETRIC_YCBCR);
  fixture::TiffOptions palette1 = tiff_opts(8, 1, PHOTOMETRIC_PALETTE);
  palette1.colormap = true;
  fixture::TiffOptions palette3 = tiff_opts(8, 3, PHOTOMETRIC_PALETTE);
  palette3.colormap = true;
  fixture::JpegOptions grey, cmyk;
  grey.components = 1;
  cmyk.components = 4;
  auto tiff_with = [](fixture::TiffOptions o) {
    return [o](const std::string &p) {
      return fixture::write_tiff(p, kW, kH, fixture::pattern_rows(kW), o);
    };
  };
  auto jpeg_with = [](fixture::JpegOptions o) {
    return [o](const std::string &p) {
      return fixture::write_jpeg(p, kW, kH, fixture::pattern_rows(kW), o);
    };
  };
  auto bytes = [](std::string b) {
    return [b](const std::string &p) { return fixture::write_bytes(p, b); };
  };
  const BadCase cases[] = {
      {"missing file", [](const std::string &) { return true; }, ""},
      {"empty file", bytes(""), "Empty input file"},
      {"one byte", bytes("M"), ""},
      {"PNG bytes", bytes(png), "Not a JPEG file: starts with 0x89 0x50"},
      {"plain text", bytes("latitude,longitude\n10,20\n"), "Not a JPEG file: starts with 0x6c 0x61"},
      {"MM that libtiff refuses", bytes(std::string("MM\0\x2a\0\0\0\0junk", 12)),
       "Not a JPEG file: starts with 0x4d 0x4d"},
      {"II that libtiff refuses", bytes("II garbage, not a directory"),
       "Not a JPEG file: starts with 0x49 0x49"},
      {"MI is no byte-order mark", bytes(std::string("MI\0\x2a\0\0\0\x08", 8)),
       "Not a JPEG file: starts with 0x4d 0x49"},
      {"truncated JPEG header",
       [](const std::string &p) {
         if (!good_jpeg(p)) return false;
         return fixture::write_bytes(p, read_all(p).substr(0, 120));
       },
       ""},
      {"JPEG SOI only", bytes("\xFF\xD8"), ""},
      {"16-bit TIFF", tiff_with(tiff_opts(16, 3, PHOTOMETRIC_RGB)), ""},
      {"4-sample TIFF", tiff_with(tiff_opts(8, 4, PHOTOMETRIC_RGB)), ""},
      {"greyscale TIFF", tiff_with(tiff_opts(8, 1, PHOTOMETRIC_MINISBLACK)), ""},
      {"3-sample TIFF called greyscale", tiff_with(tiff_opts(8, 3, PHOTOMETRIC_MINISBLACK)), ""},
      {"separate-plane TIFF", tiff_with(tiff_opts(8, 3, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE)), ""},
      {"palette TIFF", tiff_with(palette1), ""},
      {"3-sample palette TIFF", tiff_with(palette3), ""},
      {"YCbCr TIFF", tiff_with(ycbcr), ""},
      {"tiled TIFF", write_tiled_tiff, ""},
      {"TIFF of width 0",
       [](const std::string &p) { return good_tiff(p) && patch_tiff_tag(p, TIFFTAG_IMAGEWIDTH, 0); },
       ""},
      {"TIFF whose width * 3 overflows",
       [](const std::string &p) {
         return good_tiff(p) && patch_tiff_tag(p, TIFFTAG_IMAGEWIDTH, 0x7FFFFFFFu);
       },
       ""},
      {"TIFF header claiming a width whose * 3 overflows",
       [](const std::string &p) { return write_claimed_tiff(p, 715827883u, 1); }, ""},
      {"TIFF header claiming 2^31 - 1 rows",
       [](const std::string &p) { return write_claimed_tiff(p, 10, 0x7FFFFFFFu); }, ""},
      {"TIFF of height 0",
       [](const std::string &p) { return good_tiff(p) && patch_tiff_tag(p, TIFFTAG_IMAGELENGTH, 0); },
       ""},
      {"greyscale JPEG", jpeg_with(grey), ""},
      {"CMYK JPEG", jpeg_with(cmyk), ""},
  };
  TempDir dir;
  for (const BadCase &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(std::string("bad-") + std::to_string(&c - cases));
    ASSERT_TRUE(c.write(path));
    testing::internal::CaptureStderr();
    ImageSource *src = image_source_open(path.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(src, nullptr);
    image_source_close(src);
    if (*c.message) {
      EXPECT_NE(err.find(c.message), std::string::npos) << "stderr: " << err;
    }
  }
  // Still alive, and a good file still opens.
  ASSERT_TRUE(good_jpeg(dir.file("good")));
  Source src = imgtest::open_source(dir.file("good"));
  ASSERT_NE(src, nullptr);
  EXPECT_NE(image_source_fetch_row(src.get(), kH - 1, 0, kH), nullptr);
}

TEST(ImageOpen, HandMadeHeaderOfASaneSizeOpens) {
  TempDir dir;
  ASSERT_TRUE(write_claimed_tiff(dir.file("small"), 5, 2));
  Source src = imgtest::open_source(dir.file("small"));
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(src->width, 5);
  EXPECT_EQ(src->height, 2);
  const uint8_t *row = image_source_fetch_row(src.get(), 1, 0, 2);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row[14], 0x10);
}

TEST(ImageClose, NullIsIgnored) { image_source_close(nullptr); }

TEST(ImageClose, LeavesTheSharedOutputBufferToTheOtherSource) {
  TempDir dir;
  ASSERT_TRUE(good_tiff(dir.file("a")));
  ASSERT_TRUE(good_jpeg(dir.file("b")));
  ImageSource *a = image_source_open(dir.file("a").c_str());
  Source b = imgtest::open_source(dir.file("b"));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  uint8_t *out = image_source_sample(a, 10, 8, 1);
  ASSERT_NE(out, nullptr);
  image_source_fetch_row(a, 3, 0, 8);  // something cached for close to release
  b->out_buffer = a->out_buffer;
  b->out_cap_width = a->out_cap_width;
  b->out_cap_height = a->out_cap_height;
  image_source_close(a);
  // Same size: the buffer is reused, so it must still be live (ASan would object).
  EXPECT_EQ(image_source_sample(b.get(), 10, 8, 1), out);
  int w = 0, h = 0;
  std::vector<uint8_t> ref = fixture::decode_jpeg(dir.file("b"), &w, &h);
  for (int y = 0; y < 8; ++y)
    EXPECT_EQ(std::memcmp(out + y * 30, &ref[static_cast<size_t>(y) * w * 3], 30), 0) << y;
}
