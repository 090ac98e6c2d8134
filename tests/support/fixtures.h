// Small image files written by the tests themselves, with libtiff and libjpeg.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fixture {

// Fills one row of `width` pixels (3 bytes each for colour, 1 for grey, 4 for CMYK).
using RowFn = std::function<void(int y, uint8_t *row)>;

// A deterministic, position-dependent RGB pattern: every pixel differs from its neighbours,
// so a wrong row or column shows.
uint8_t pattern_sample(int x, int y, int channel);
RowFn pattern_rows(int width);
std::vector<uint8_t> pattern_image(int width, int height);
RowFn flat_rows(int width, uint8_t r, uint8_t g, uint8_t b);

struct JpegOptions {
  int quality = 95;
  int components = 3;        // 1 greyscale, 3 RGB, 4 CMYK
  int restart_rows = 0;      // restart marker every N MCU rows, 0 for none
  bool progressive = false;  // progressive scans instead of one baseline scan
};
// Streams the rows through libjpeg, so large images never sit in memory. Returns false on failure.
bool write_jpeg(const std::string &path, int width, int height, const RowFn &rows,
                const JpegOptions &opt = JpegOptions());

struct TiffOptions {
  int bits_per_sample = 8;
  int samples_per_pixel = 3;
  int photometric = 2;       // PHOTOMETRIC_RGB
  int planar = 1;            // PLANARCONFIG_CONTIG
  int compression = 1;       // COMPRESSION_NONE
  int rows_per_strip = 16;
  bool big_endian = false;   // "MM" instead of "II"
  bool colormap = false;     // with PHOTOMETRIC_PALETTE: write a grey-ramp ColorMap
  int tile = 0;              // square tiles of this many pixels (a multiple of 16) instead of strips
};
// Writes 8-bit samples from `rows` (16-bit files get each sample scaled up).
bool write_tiff(const std::string &path, int width, int height, const RowFn &rows,
                const TiffOptions &opt = TiffOptions());

// Decodes a whole JPEG with libjpeg in one plain pass: the reference for row-store tests.
std::vector<uint8_t> decode_jpeg(const std::string &path, int *width, int *height);

bool write_bytes(const std::string &path, const std::string &bytes);

// A fresh directory under TMPDIR (or /tmp), removed by the caller if it wants.
std::string make_temp_dir(const std::string &tag);
void remove_tree(const std::string &path);

}  // namespace fixture
