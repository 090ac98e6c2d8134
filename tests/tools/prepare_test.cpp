// mundoscope-prepare's library on small generated maps: resampling against a slow
// reference, the overview against 4 x 4 block averages, copying, refused sources,
// unwritable folders, failed writes and interrupts that leave no partial file.
#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "fixtures.h"
#include "graticule.h"
#include "image_source.h"
#include "map_writer.h"
#include "prepare.h"
#include "prepare_test_util.h"
#include "progress.h"
#include "temp_file.h"

namespace {

class PrepareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fixture::make_temp_dir("prepare");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { fixture::remove_tree(dir_); }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// Weight of source index k in output index i along an axis of s -> d pixels, from the
// definitions: a tent of half-width one pixel around the output pixel's centre when
// enlarging (clamped to the edge pixels), the covered fraction when reducing.
double ref_weight(int i, int k, int s, int d) {
  if (s == d) return i == k ? 1.0 : 0.0;
  const double scale = static_cast<double>(s) / d;
  if (d > s) {
    const double u = std::clamp((i + 0.5) * scale - 0.5, 0.0, s - 1.0);
    return std::max(0.0, 1.0 - std::fabs(u - k));
  }
  const double lo = std::max(i * scale, static_cast<double>(k));
  const double hi = std::min((i + 1) * scale, k + 1.0);
  return hi > lo ? (hi - lo) / scale : 0.0;
}

// The slow, obvious 2-D resampling: every output pixel sums every source pixel.
std::vector<uint8_t> reference_resample(const std::vector<uint8_t> &src, int sw, int sh, int dw,
                                        int dh) {
  std::vector<uint8_t> out(static_cast<size_t>(dw) * dh * 3);
  for (int i = 0; i < dh; ++i)
    for (int j = 0; j < dw; ++j)
      for (int c = 0; c < 3; ++c) {
        double v = 0;
        for (int k = 0; k < sh; ++k) {
          const double wy = ref_weight(i, k, sh, dh);
          if (wy == 0) continue;
          for (int l = 0; l < sw; ++l)
            v += wy * ref_weight(j, l, sw, dw) * src[(static_cast<size_t>(k) * sw + l) * 3 + c];
        }
        out[(static_cast<size_t>(i) * dw + j) * 3 + c] =
            static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
      }
  return out;
}

// Largest difference of two images of equal size, 999 when the sizes differ.
int max_diff(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  if (a.size() != b.size()) return 999;
  int m = 0;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
  return m;
}

// Mean difference per sample, 999 when the sizes differ.
double mean_diff(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  if (a.size() != b.size() || a.empty()) return 999;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
  return sum / a.size();
}

MapEncoding tiff_encoding(int compression = MAP_TIFF_NONE) {
  MapEncoding e;
  e.format = MAP_FORMAT_TIFF;
  e.quality = MAP_DEFAULT_QUALITY;
  e.compression = compression;
  return e;
}

// Resamples the source file to dw x dh through prepare_full_map into a lossless TIFF
// and reads the result back. row_limit, if not 0, starves the source's row store.
std::vector<uint8_t> resample_file(const std::string &source, const std::string &out_path, int dw,
                                   int dh, uint32_t row_limit, uint32_t *allocated_after) {
  std::vector<uint8_t> result;
  ImageSource *src = image_source_open(source.c_str());
  if (!src) return result;
  if (row_limit) src->soft_limit = src->hard_limit = row_limit;
  MapWriter mw;
  MapEncoding enc = tiff_encoding();
  PrepareError err;
  prepare_error_clear(&err);
  if (map_writer_open(&mw, out_path.c_str(), dw, dh, &enc, &err) == 0) {
    if (prepare_full_map(src, source.c_str(), &mw, 0, nullptr, &err) == 0 && map_writer_finish(&mw, &err) == 0) {
      int w = 0, h = 0;
      result = prep::read_map(mw.file.temp_path, &w, &h);
      if (w != dw || h != dh) result.clear();
    }
    map_writer_discard(&mw);
  }
  if (allocated_after) *allocated_after = src->allocated_bytes;
  image_source_close(src);
  return result;
}

struct ResampleCase {
  const char *name;
  bool jpeg;
  int sw, sh, dw, dh;
  int tolerance;  // float against double rounding; 0 where every weight is exact
};

TEST_F(PrepareTest, ResamplingMatchesSlowReference) {
  const std::array<ResampleCase, 10> cases = {{
      {"enlarge both", false, 5, 3, 12, 8, 1},
      {"reduce both", false, 13, 11, 4, 4, 1},
      {"enlarge x, reduce y", false, 7, 9, 16, 4, 1},
      {"reduce x, enlarge y", false, 40, 20, 12, 36, 1},
      {"identity", false, 6, 5, 6, 5, 0},
      {"halve", false, 16, 8, 8, 4, 0},
      {"one pixel", false, 1, 1, 4, 4, 0},
      {"one row", false, 3, 1, 9, 2, 1},
      {"reduce by 3.5", false, 35, 14, 10, 4, 1},
      {"JPEG source", true, 33, 17, 48, 40, 1},
  }};
  for (const ResampleCase &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string src_path = path(c.jpeg ? "src.jpg" : "src.tif");
    std::vector<uint8_t> src;
    if (c.jpeg) {
      ASSERT_TRUE(fixture::write_jpeg(src_path, c.sw, c.sh, fixture::pattern_rows(c.sw)));
      int w = 0, h = 0;
      src = fixture::decode_jpeg(src_path, &w, &h);
    } else {
      ASSERT_TRUE(fixture::write_tiff(src_path, c.sw, c.sh, fixture::pattern_rows(c.sw)));
      src = fixture::pattern_image(c.sw, c.sh);
    }
    const std::vector<uint8_t> got =
        resample_file(src_path, path("out.dat"), c.dw, c.dh, 0, nullptr);
    const std::vector<uint8_t> want = reference_resample(src, c.sw, c.sh, c.dw, c.dh);
    EXPECT_LE(max_diff(got, want), c.tolerance);
  }
}

TEST_F(PrepareTest, ResamplingStreamsThroughAStarvedRowStore) {
  // With the row store's limits at one byte every row must give its buffer back at
  // once; the picture is the same and the store never holds more than two rows.
  const std::string src_path = path("src.jpg");
  ASSERT_TRUE(fixture::write_jpeg(src_path, 40, 60, fixture::pattern_rows(40)));
  uint32_t allocated = 0;
  const std::vector<uint8_t> roomy = resample_file(src_path, path("a.dat"), 30, 90, 0, nullptr);
  const std::vector<uint8_t> starved = resample_file(src_path, path("b.dat"), 30, 90, 1, &allocated);
  ASSERT_FALSE(roomy.empty());
  EXPECT_EQ(roomy, starved);
  EXPECT_LE(allocated, 2u * 40 * 3);
}

TEST_F(PrepareTest, OverviewIsTheImageSourcesFourByFourAverage) {
  // 280 rows of full map make 70 overview rows: bands of 32, 32 and 6.
  struct Case {
    const char *name;
    bool jpeg;
  };
  for (const Case &c : {Case{"TIFF full map", false}, Case{"JPEG full map", true}}) {
    SCOPED_TRACE(c.name);
    const int w = 64, h = 280;
    const std::string full = path(c.jpeg ? "full.jpg" : "full.tif");
    std::vector<uint8_t> img;
    if (c.jpeg) {
      ASSERT_TRUE(fixture::write_jpeg(full, w, h, fixture::pattern_rows(w)));
      int dw = 0, dh = 0;
      img = fixture::decode_jpeg(full, &dw, &dh);
    } else {
      ASSERT_TRUE(fixture::write_tiff(full, w, h, fixture::pattern_rows(w)));
      img = fixture::pattern_image(w, h);
    }
    MapWriter mw;
    MapEncoding enc = tiff_encoding(MAP_TIFF_LZW);
    PrepareError err;
    prepare_error_clear(&err);
    ASSERT_EQ(map_writer_open(&mw, path("ov.dat").c_str(), w / 4, h / 4, &enc, &err), 0) << err.text;
    ASSERT_EQ(prepare_overview(full.c_str(), &mw, 1, nullptr, &err), 0) << err.text;
    ASSERT_EQ(map_writer_finish(&mw, &err), 0) << err.text;
    int ow = 0, oh = 0;
    const std::vector<uint8_t> got = prep::read_map(mw.file.temp_path, &ow, &oh);
    map_writer_discard(&mw);
    EXPECT_EQ(ow, w / 4);
    EXPECT_EQ(oh, h / 4);
    EXPECT_EQ(got, prep::block_average4(img, w, h));
  }
}

TEST_F(PrepareTest, OverviewRefusesAFullMapOfTheWrongSize) {
  const std::string full = path("full.tif");
  ASSERT_TRUE(fixture::write_tiff(full, 64, 40, fixture::pattern_rows(64)));
  MapWriter mw;
  MapEncoding enc = tiff_encoding();
  PrepareError err;
  prepare_error_clear(&err);
  ASSERT_EQ(map_writer_open(&mw, path("ov.dat").c_str(), 16, 8, &enc, &err), 0);
  EXPECT_EQ(prepare_overview(full.c_str(), &mw, 0, nullptr, &err), 1);
  EXPECT_NE(std::strstr(err.text, "64 x 40"), nullptr) << err.text;
  map_writer_discard(&mw);
  EXPECT_EQ(prep::list_dir(dir_), (std::set<std::string>{"full.tif"}));
}

// A smooth picture, so JPEG round trips stay close to it.
fixture::RowFn gradient_rows(int width, int height) {
  return [=](int y, uint8_t *row) {
    for (int x = 0; x < width; ++x) {
      row[x * 3] = static_cast<uint8_t>(x * 255 / (width - 1));
      row[x * 3 + 1] = static_cast<uint8_t>(y * 255 / (height - 1));
      row[x * 3 + 2] = 128;
    }
  };
}

std::vector<uint8_t> gradient_image(int width, int height) {
  std::vector<uint8_t> img(static_cast<size_t>(width) * height * 3);
  const fixture::RowFn rows = gradient_rows(width, height);
  for (int y = 0; y < height; ++y) rows(y, img.data() + static_cast<size_t>(y) * width * 3);
  return img;
}

enum SourceKind { JPEG_BASELINE, JPEG_PROGRESSIVE, TIFF_SMALL_STRIPS, TIFF_DEFLATE_16, TIFF_DEFLATE_ONE_STRIP };

struct BundleCase {
  const char *name;
  SourceKind kind;
  int width, height;  // of the source; the bundle's full map is 128 x 80
  int format;         // PrepareOptions
  int encoding_given;
  int graticule;
  int reencode;
  bool copied;
  int full_format;    // expected kinds of the written files
};

class PrepareBundleTest : public PrepareTest {
 protected:
  std::string write_source(SourceKind kind, int w, int h) {
    fixture::RowFn rows = gradient_rows(w, h);
    if (kind == JPEG_BASELINE || kind == JPEG_PROGRESSIVE) {
      fixture::JpegOptions o;
      o.progressive = kind == JPEG_PROGRESSIVE;
      const std::string p = path("source.jpg");
      return fixture::write_jpeg(p, w, h, rows, o) ? p : "";
    }
    fixture::TiffOptions o;
    if (kind == TIFF_DEFLATE_16 || kind == TIFF_DEFLATE_ONE_STRIP) o.compression = COMPRESSION_ADOBE_DEFLATE;
    o.rows_per_strip = kind == TIFF_DEFLATE_ONE_STRIP ? h : 16;
    const std::string p = path("source.tif");
    return fixture::write_tiff(p, w, h, rows, o) ? p : "";
  }
  std::string resources() const { return path("Test.app/Contents/Resources/"); }
};

TEST_F(PrepareBundleTest, WritesBothFilesCopyingWhatTheViewerReadsAsItIs) {
  const std::array<BundleCase, 11> cases = {{
      {"baseline JPEG of the full size", JPEG_BASELINE, 128, 80, PREPARE_FORMAT_AUTO, 0, 0, 0, true, MAP_FORMAT_JPEG},
      {"strip TIFF", TIFF_SMALL_STRIPS, 128, 80, PREPARE_FORMAT_AUTO, 0, 0, 0, true, MAP_FORMAT_TIFF},
      {"Deflate TIFF, 16-row strips", TIFF_DEFLATE_16, 128, 80, PREPARE_FORMAT_AUTO, 0, 0, 0, true, MAP_FORMAT_TIFF},
      {"JPEG asked as JPEG", JPEG_BASELINE, 128, 80, MAP_FORMAT_JPEG, 0, 0, 0, true, MAP_FORMAT_JPEG},
      {"Deflate TIFF in one strip", TIFF_DEFLATE_ONE_STRIP, 128, 80, PREPARE_FORMAT_AUTO, 0, 0, 0, false, MAP_FORMAT_TIFF},
      {"progressive JPEG", JPEG_PROGRESSIVE, 128, 80, PREPARE_FORMAT_AUTO, 0, 0, 0, false, MAP_FORMAT_JPEG},
      {"with graticule, as TIFF", JPEG_BASELINE, 128, 80, MAP_FORMAT_TIFF, 0, 1, 0, false, MAP_FORMAT_TIFF},
      {"re-encode asked", JPEG_BASELINE, 128, 80, PREPARE_FORMAT_AUTO, 0, 0, 1, false, MAP_FORMAT_JPEG},
      {"TIFF to JPEG", TIFF_SMALL_STRIPS, 128, 80, MAP_FORMAT_JPEG, 0, 0, 0, false, MAP_FORMAT_JPEG},
      {"JPEG with a quality", JPEG_BASELINE, 128, 80, MAP_FORMAT_JPEG, 1, 0, 0, false, MAP_FORMAT_JPEG},
      {"another size", TIFF_SMALL_STRIPS, 50, 30, PREPARE_FORMAT_AUTO, 0, 0, 0, false, MAP_FORMAT_TIFF},
  }};
  for (const BundleCase &c : cases) {
    SCOPED_TRACE(c.name);
    fixture::remove_tree(path("Test.app"));
    const std::string source = write_source(c.kind, c.width, c.height);
    ASSERT_FALSE(source.empty());
    PrepareOptions opt;
    prepare_options_init(&opt);
    opt.full_width = 128;
    opt.full_height = 80;
    opt.format = c.format;
    opt.encoding_given = c.encoding_given;
    opt.graticule = c.graticule;
    opt.reencode = c.reencode;
    PrepareReport report;
    PrepareError err;
    prepare_error_clear(&err);
    ASSERT_EQ(prepare_bundle(source.c_str(), path("Test.app").c_str(), &opt, &report, &err), 0) << err.text;
    EXPECT_EQ(report.copied, c.copied ? 1 : 0);
    // Nothing but the two data files: no temporary file is left.
    EXPECT_EQ(prep::list_dir(resources()),
              (std::set<std::string>{"VisibleEarth.dat", "VisibleEarth_25.dat"}));
    const std::string full_path = resources() + "VisibleEarth.dat";
    const std::string overview_path = resources() + "VisibleEarth_25.dat";
    EXPECT_EQ(prep::file_bytes(full_path) == prep::file_bytes(source), c.copied);

    ImageSource *full_src = image_source_open(full_path.c_str());
    ImageSource *ov_src = image_source_open(overview_path.c_str());
    ASSERT_NE(full_src, nullptr);
    ASSERT_NE(ov_src, nullptr);
    EXPECT_EQ(full_src->kind, c.full_format);
    EXPECT_EQ(ov_src->kind, c.full_format);
    image_source_close(full_src);
    image_source_close(ov_src);

    int fw = 0, fh = 0, ow = 0, oh = 0;
    const std::vector<uint8_t> full = prep::read_map(full_path, &fw, &fh);
    const std::vector<uint8_t> overview = prep::read_map(overview_path, &ow, &oh);
    ASSERT_EQ(fw, 128);
    ASSERT_EQ(fh, 80);
    ASSERT_EQ(ow, 32);
    ASSERT_EQ(oh, 20);
    // A lossless overview is exactly the full map's 4 x 4 averages; a JPEG one is close.
    const std::vector<uint8_t> averages = prep::block_average4(full, fw, fh);
    if (c.full_format == MAP_FORMAT_TIFF) EXPECT_EQ(overview, averages);
    else EXPECT_LE(mean_diff(overview, averages), 3.0);
    if (!c.graticule) {
      // The pixels are the source's, resampled: a smooth ramp stays within JPEG error.
      const std::vector<uint8_t> want =
          reference_resample(gradient_image(c.width, c.height), c.width, c.height, 128, 80);
      const bool lossless = c.full_format == MAP_FORMAT_TIFF &&
                            (c.kind == TIFF_SMALL_STRIPS || c.kind == TIFF_DEFLATE_16 ||
                             c.kind == TIFF_DEFLATE_ONE_STRIP);
      if (lossless) EXPECT_LE(max_diff(full, want), 1);
      else EXPECT_LE(mean_diff(full, want), 3.0);
    }
  }
}

TEST_F(PrepareBundleTest, ReplacesEarlierFilesWhole) {
  const std::string source = write_source(TIFF_SMALL_STRIPS, 128, 80);
  PrepareOptions opt;
  prepare_options_init(&opt);
  opt.full_width = 128;
  opt.full_height = 80;
  PrepareReport report;
  PrepareError err;
  prepare_error_clear(&err);
  char dir[PATH_MAX];
  ASSERT_EQ(prepare_resources_dir(path("Test.app").c_str(), dir, sizeof dir, &err), 0);
  EXPECT_EQ(std::string(dir), resources());
  ASSERT_TRUE(fixture::write_bytes(resources() + "VisibleEarth.dat", std::string(200000, 'x')));
  ASSERT_TRUE(fixture::write_bytes(resources() + "viewparam.dat", "1 2 3 4 5 6 7 8 9 10"));
  prepare_error_clear(&err);
  ASSERT_EQ(prepare_bundle(source.c_str(), path("Test.app/").c_str(), &opt, &report, &err), 0) << err.text;
  EXPECT_TRUE(prep::file_bytes(resources() + "VisibleEarth.dat") == prep::file_bytes(source));
  EXPECT_EQ(prep::file_bytes(resources() + "viewparam.dat"), "1 2 3 4 5 6 7 8 9 10");
  EXPECT_EQ(prep::list_dir(resources()).size(), 3u);
}

// Runs fn with the standard error stream caught in a file; returns what was written.
template <typename Fn>
std::string capture_stderr(const std::string &file, Fn fn) {
  std::fflush(stderr);
  const int saved = dup(2);
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, 2);
  close(fd);
  fn();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  return prep::file_bytes(file);
}

// Prepares `bundle` from `source`, which must be refused: status 1 and a one-line reason
// that names the source and contains `reason`. Returns what was printed on stderr meanwhile.
std::string expect_refused(const std::string &source, const std::string &bundle,
                           const PrepareOptions &opt, const char *reason,
                           const std::string &stderr_file) {
  PrepareReport report;
  PrepareError err;
  prepare_error_clear(&err);
  int status = -1;
  const std::string printed = capture_stderr(stderr_file, [&] {
    status = prepare_bundle(source.c_str(), bundle.c_str(), &opt, &report, &err);
  });
  EXPECT_EQ(status, 1);
  EXPECT_NE(std::strstr(err.text, reason), nullptr) << err.text;
  EXPECT_NE(std::strstr(err.text, source.c_str()), nullptr) << err.text;
  EXPECT_EQ(std::strchr(err.text, '\n'), nullptr) << err.text;
  return printed;
}

// 32 x 32 in four 16 x 16 tiles.
bool write_tiled_tiff(const std::string &p) {
  fixture::TiffOptions opt;
  opt.tile = 16;
  return fixture::write_tiff(p, 32, 32, fixture::flat_rows(32, 90, 90, 90), opt);
}

TEST_F(PrepareBundleTest, RefusesUnreadableSourcesInOneLineAndWritesNothing) {
  struct Case {
    const char *name;
    std::function<bool(const std::string &)> make;  // writes the source; false to leave it absent
    const char *reason;
  };
  const auto bytes = [](const std::string &content) {
    return [content](const std::string &p) { return fixture::write_bytes(p, content); };
  };
  const auto tiff = [](int bits, int spp, int photometric, int planar) {
    return [=](const std::string &p) {
      fixture::TiffOptions o;
      o.bits_per_sample = bits;
      o.samples_per_pixel = spp;
      o.photometric = photometric;
      o.planar = planar;
      return fixture::write_tiff(p, 16, 8, fixture::pattern_rows(16), o);
    };
  };
  const auto jpeg = [](int components) {
    return [=](const std::string &p) {
      fixture::JpegOptions o;
      o.components = components;
      return fixture::write_jpeg(p, 16, 8, fixture::pattern_rows(16), o);
    };
  };
  const std::vector<Case> cases = {
      {"missing", [](const std::string &) { return false; }, "No such file or directory"},
      {"a folder", [](const std::string &p) { return mkdir(p.c_str(), 0755) == 0; }, "it is a folder"},
      {"empty", bytes(""), "the file is empty"},
      {"text", bytes("hello, world\n"), "not a TIFF or JPEG file"},
      {"PNG", bytes(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)), "a PNG file"},
      {"TIFF mark, no TIFF", bytes("II*\0garbage, not a directory"), "not a readable TIFF"},
      {"JPEG mark, no JPEG", bytes("\xFF\xD8\xFF\xE0 garbage"), "not a readable JPEG"},
      {"16-bit TIFF", tiff(16, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG), "16 bits x 3 samples"},
      {"RGBA TIFF", tiff(8, 4, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG), "8 bits x 4 samples"},
      {"grey TIFF", tiff(8, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG), "only 24-bit"},
      {"planar TIFF", tiff(8, 3, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE), "separate planes"},
      {"tiled TIFF", write_tiled_tiff, "a tiled TIFF"},
      {"grey JPEG", jpeg(1), "1 colour components"},
      {"CMYK JPEG", jpeg(4), "4 colour components"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = path(std::string("source-") + c.name);
    c.make(source);
    PrepareOptions opt;
    prepare_options_init(&opt);
    const std::string printed =
        expect_refused(source, path("Test.app"), opt, c.reason, path("stderr.txt"));
    EXPECT_EQ(printed, "") << "the libraries' own messages are folded into the one line";
    EXPECT_FALSE(prep::exists(path("Test.app")));
  }
}

// The source with the bytes of its second TIFF strip overwritten, which no decoder accepts.
bool damage_second_strip(const std::string &p) {
  TIFF *t = TIFFOpen(p.c_str(), "r");
  if (!t) return false;
  uint64_t *offsets = nullptr, *sizes = nullptr;
  const bool found = TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets) == 1 &&
                     TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &sizes) == 1 && TIFFNumberOfStrips(t) > 2;
  const uint64_t offset = found ? offsets[1] : 0, size = found ? sizes[1] : 0;
  TIFFClose(t);
  std::string bytes = prep::file_bytes(p);
  if (!found || offset + size > bytes.size()) return false;
  std::fill(bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(offset + size), '\xFF');
  return fixture::write_bytes(p, bytes);
}

// The image source reads what it cannot decode as grey, so that the viewer goes on; the
// tool must not turn that into a map and report success.
TEST_F(PrepareBundleTest, RefusesDamagedImageDataAndWritesNothing) {
  struct Case {
    const char *name;
    SourceKind kind;
    int width, height;  // 128 x 80 is copied, and damage shows when the overview reads it
  };
  const std::array<Case, 4> cases = {{
      {"truncated JPEG, resampled", JPEG_BASELINE, 96, 60},
      {"truncated JPEG, copied", JPEG_BASELINE, 128, 80},
      {"Deflate TIFF with a broken strip, resampled", TIFF_DEFLATE_16, 96, 60},
      {"Deflate TIFF with a broken strip, copied", TIFF_DEFLATE_16, 128, 80},
  }};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fixture::remove_tree(path("Test.app"));
    const std::string source = write_source(c.kind, c.width, c.height);
    ASSERT_FALSE(source.empty());
    if (c.kind == JPEG_BASELINE) {
      const std::string bytes = prep::file_bytes(source);
      ASSERT_TRUE(fixture::write_bytes(source, bytes.substr(0, bytes.size() * 6 / 10)));
    } else {
      ASSERT_TRUE(damage_second_strip(source));
    }
    PrepareOptions opt;
    prepare_options_init(&opt);
    opt.full_width = 128;
    opt.full_height = 80;
    const std::string printed =
        expect_refused(source, path("Test.app"), opt, "damaged", path("stderr.txt"));
    if (c.kind != JPEG_BASELINE) {
      EXPECT_EQ(printed, "") << "libtiff's message is in the one line";
    }
    EXPECT_EQ(prep::list_dir(resources()), std::set<std::string>{});
  }
}

TEST_F(PrepareBundleTest, ReportsAFolderItCannotCreate) {
  const std::string source = write_source(TIFF_SMALL_STRIPS, 96, 48);
  ASSERT_TRUE(fixture::write_bytes(path("plain-file"), "x"));
  struct Case {
    const char *name;
    std::string bundle;
    const char *reason;
  };
  const std::array<Case, 3> cases = {{
      {"below a file", path("plain-file/Test.app"), "Not a directory"},
      {"the bundle is a file", path("plain-file"), "Not a directory"},
      {"below /proc", "/proc/no-such/Test.app", "cannot create folder"},
  }};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PrepareOptions opt;
    prepare_options_init(&opt);
    opt.full_width = 96;
    opt.full_height = 48;
    PrepareReport report;
    PrepareError err;
    prepare_error_clear(&err);
    EXPECT_EQ(prepare_bundle(source.c_str(), c.bundle.c_str(), &opt, &report, &err), 1);
    EXPECT_NE(std::strstr(err.text, c.reason), nullptr) << err.text;
  }
}

TEST_F(PrepareBundleTest, AFailedWriteLeavesTheEarlierFilesAndNoTemporaryFile) {
  // The file size limit makes the write fail half-way, as a full disk would.
  struct Case {
    const char *name;
    int format;
    rlim_t limit;  // bytes; the full map needs far more
  };
  const std::array<Case, 2> cases = {{
      {"uncompressed TIFF", MAP_FORMAT_TIFF, 40000},  // 98 KB of rows
      {"JPEG", MAP_FORMAT_JPEG, 2000},
  }};
  const std::string source = write_source(TIFF_SMALL_STRIPS, 64, 32);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PrepareError err;
    prepare_error_clear(&err);
    char dir[PATH_MAX];
    ASSERT_EQ(prepare_resources_dir(path("Test.app").c_str(), dir, sizeof dir, &err), 0);
    ASSERT_TRUE(fixture::write_bytes(resources() + "VisibleEarth.dat", "old map"));
    ASSERT_TRUE(fixture::write_bytes(resources() + "VisibleEarth_25.dat", "old overview"));
    PrepareOptions opt;
    prepare_options_init(&opt);
    opt.full_width = 256;
    opt.full_height = 128;
    opt.format = c.format;
    opt.compression = MAP_TIFF_NONE;
    PrepareReport report;
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = c.limit;
    void (*old_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const int status = prepare_bundle(source.c_str(), path("Test.app").c_str(), &opt, &report, &err);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(status, 1);
    EXPECT_NE(std::strstr(err.text, "cannot write"), nullptr) << err.text;
    EXPECT_NE(std::strstr(err.text, "VisibleEarth.dat"), nullptr) << err.text;
    EXPECT_EQ(prep::list_dir(resources()),
              (std::set<std::string>{"VisibleEarth.dat", "VisibleEarth_25.dat"}));
    EXPECT_EQ(prep::file_bytes(resources() + "VisibleEarth.dat"), "old map");
    EXPECT_EQ(prep::file_bytes(resources() + "VisibleEarth_25.dat"), "old overview");
  }
}

TEST_F(PrepareTest, AnInterruptRemovesTheTemporaryFile) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    temp_files_install_signal_cleanup();
    TempFile tf;
    PrepareError err;
    prepare_error_clear(&err);
    if (temp_file_create(&tf, path("VisibleEarth.dat").c_str(), &err)) _exit(3);
    if (write(tf.fd, "partial", 7) != 7) _exit(4);
    if (prep::list_dir(dir_).size() != 1) _exit(5);
    raise(SIGTERM);
    _exit(6);
  }
  int wstatus = 0;
  ASSERT_EQ(waitpid(child, &wstatus, 0), child);
  ASSERT_TRUE(WIFSIGNALED(wstatus)) << "exit status " << WEXITSTATUS(wstatus);
  EXPECT_EQ(WTERMSIG(wstatus), SIGTERM);
  EXPECT_TRUE(prep::list_dir(dir_).empty());
}

TEST(Graticule, LinesLieOnTheMapsGeographicConvention) {
  const int W = PREPARE_FULL_WIDTH, H = PREPARE_FULL_HEIGHT;
  const auto column = [&](double lon) { return static_cast<int>(lon / 180 * (W / 2) + W / 2); };
  const auto row_of = [&](double lat) { return static_cast<int>(lat / 90 * (H / 2) + H / 2); };
  std::vector<uint8_t> row(static_cast<size_t>(W) * 3);
  const auto colour_at = [&](int y, int x) {
    std::fill(row.begin(), row.end(), 0);
    graticule_draw_row(row.data(), W, H, y);
    return std::vector<uint8_t>(row.begin() + x * 3, row.begin() + x * 3 + 3);
  };
  const std::vector<uint8_t> none = {0, 0, 0};
  const std::vector<uint8_t> line(GraticuleColour, GraticuleColour + 3);
  const std::vector<uint8_t> main(GraticuleMainColour, GraticuleMainColour + 3);
  struct Case {
    const char *name;
    int y, x;
    std::vector<uint8_t> want;
  };
  const int mid = row_of(5);  // between two parallels
  const std::vector<Case> cases = {
      {"prime meridian, west half", mid, column(0) - 2, main},
      {"prime meridian, east half", mid, column(0) + 1, main},
      {"beside the prime meridian", mid, column(0) + 2, none},
      {"beside the prime meridian, west", mid, column(0) - 3, none},
      {"10 E", mid, column(10), line},
      {"10 E, last pixel", mid, column(10) + 1, line},
      {"between meridians", mid, column(15), none},
      {"170 W", mid, column(-170) - 2, line},
      {"180 W at the left edge", mid, 0, line},
      {"180 E at the right edge", mid, W - 1, line},
      {"equator", row_of(0), column(15), main},
      {"equator, upper half", row_of(0) - 2, column(15), main},
      {"above the equator", row_of(0) - 3, column(15), none},
      {"latitude 50: below the equator", row_of(50), 7, line},
      {"latitude -50: above it", row_of(-50) + 1, 7, line},
      {"90 at the bottom edge", H - 1, 1234, line},
      {"-90 at the top edge", 0, 1234, line},
  };
  EXPECT_EQ(row_of(50), 8400);
  EXPECT_EQ(column(10), 11400);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(colour_at(c.y, c.x), c.want) << "row " << c.y << " column " << c.x;
  }
}

TEST(Progress, SparseLinesOffATerminalAndABarOnOne) {
  for (int terminal = 0; terminal < 2; ++terminal) {
    SCOPED_TRACE(terminal ? "terminal" : "file");
    FILE *out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    static double fake_now;
    fake_now = 100.0;
    Progress p;
    progress_begin(&p, out, terminal, "VisibleEarth.dat", "rows", 1000);
    p.clock = [] { return fake_now; };
    p.start = p.last_draw = fake_now;
    for (int done = 1; done <= 1000; ++done) {
      fake_now += 0.002;  // 500 rows a second
      progress_update(&p, done);
    }
    progress_end(&p, 1);
    std::rewind(out);
    std::string text;
    for (int ch; (ch = std::fgetc(out)) != EOF;) text += static_cast<char>(ch);
    std::fclose(out);
    const long lines = std::count(text.begin(), text.end(), '\n');
    if (terminal) {
      EXPECT_EQ(lines, 1) << text;
      EXPECT_GE(std::count(text.begin(), text.end(), '\r'), 15) << "redrawn about ten times a second";
      EXPECT_NE(text.find("1000/1000 rows 100% 500 rows/s"), std::string::npos) << text;
    } else {
      EXPECT_EQ(text.find('\r'), std::string::npos);
      EXPECT_EQ(lines, 10) << text;  // 10% to 90%, then the closing line
      EXPECT_NE(text.find("VisibleEarth.dat: 500/1000 rows (50%), 500 rows/s\n"), std::string::npos) << text;
      EXPECT_NE(text.find("VisibleEarth.dat: done, 1000 rows in 2.0 s\n"), std::string::npos) << text;
    }
  }
}

}  // namespace
