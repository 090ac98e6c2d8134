#include "fixtures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <jpeglib.h>
#include <tiffio.h>

namespace fixture {

uint8_t pattern_sample(int x, int y, int channel) {
  switch (channel) {
    case 0: return static_cast<uint8_t>((x * 7 + y * 3) & 0xFF);
    case 1: return static_cast<uint8_t>((x * 3 + y * 11 + 40) & 0xFF);
    default: return static_cast<uint8_t>((x ^ (y * 5)) & 0xFF);
  }
}

RowFn pattern_rows(int width) {
  return [width](int y, uint8_t *row) {
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) row[x * 3 + c] = pattern_sample(x, y, c);
  };
}

std::vector<uint8_t> pattern_image(int width, int height) {
  std::vector<uint8_t> img(static_cast<size_t>(width) * height * 3);
  RowFn fn = pattern_rows(width);
  for (int y = 0; y < height; ++y) fn(y, img.data() + static_cast<size_t>(y) * width * 3);
  return img;
}

RowFn flat_rows(int width, uint8_t r, uint8_t g, uint8_t b) {
  return [=](int, uint8_t *row) {
    for (int x = 0; x < width; ++x) {
      row[x * 3] = r;
      row[x * 3 + 1] = g;
      row[x * 3 + 2] = b;
    }
  };
}

bool write_jpeg(const std::string &path, int width, int height, const RowFn &rows,
                const JpegOptions &opt) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = opt.components;
  cinfo.in_color_space = opt.components == 1 ? JCS_GRAYSCALE
                         : opt.components == 4 ? JCS_CMYK
                                               : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, opt.quality, TRUE);
  cinfo.restart_in_rows = opt.restart_rows;
  if (opt.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(width) * opt.components);
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    if (opt.components == 3) {
      rows(y, row.data());
    } else {
      rows(y, rgb.data());
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < opt.components; ++c)
          row[static_cast<size_t>(x) * opt.components + c] = rgb[x * 3 + (c % 3)];
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(f) == 0;
}

bool write_tiff(const std::string &path, int width, int height, const RowFn &rows,
                const TiffOptions &opt) {
  TIFF *t = TIFFOpen(path.c_str(), opt.big_endian ? "wb" : "wl");
  if (!t) return false;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(opt.bits_per_sample));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(opt.samples_per_pixel));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(opt.photometric));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(opt.planar));
  TIFFSetField(t, TIFFTAG_COMPRESSION, static_cast<uint16_t>(opt.compression));
  if (opt.tile > 0) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(opt.tile));
    TIFFSetField(t, TIFFTAG_TILELENGTH, static_cast<uint32_t>(opt.tile));
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(opt.rows_per_strip));
  }
  if (opt.samples_per_pixel == 4 && opt.photometric == PHOTOMETRIC_RGB) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  std::vector<uint16_t> ramp;
  if (opt.colormap && opt.photometric == PHOTOMETRIC_PALETTE) {
    ramp.resize(size_t(1) << opt.bits_per_sample);
    for (size_t i = 0; i < ramp.size(); ++i)
      ramp[i] = static_cast<uint16_t>(i * 65535 / (ramp.size() - 1));
    TIFFSetField(t, TIFFTAG_COLORMAP, ramp.data(), ramp.data(), ramp.data());
  }
  const int spp = opt.samples_per_pixel;
  const int bytes = opt.bits_per_sample / 8 > 0 ? opt.bits_per_sample / 8 : 1;
  const int planes = opt.planar == PLANARCONFIG_SEPARATE ? spp : 1;
  const int per_pixel = planes == 1 ? spp : 1;
  const size_t line_bytes = static_cast<size_t>(width) * per_pixel * bytes;
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3);
  // Row y of `plane` in the file's sample layout.
  auto make_line = [&](int plane, int y, uint8_t *line) {
    rows(y, rgb.data());
    std::memset(line, 0, line_bytes);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < per_pixel; ++c) {
        int ch = planes == 1 ? c : plane;
        uint8_t v = rgb[x * 3 + (ch % 3)];
        size_t at = (static_cast<size_t>(x) * per_pixel + c) * bytes;
        if (bytes == 2) {
          uint16_t w16 = static_cast<uint16_t>(v * 257);
          std::memcpy(&line[at], &w16, 2);
        } else {
          line[at] = v;
        }
      }
    }
  };
  bool ok = true;
  if (opt.tile > 0) {
    // One band of whole rows at a time, cut into tiles; the parts past the image stay zero.
    const int ts = opt.tile;
    const size_t tile_line = static_cast<size_t>(ts) * per_pixel * bytes;
    std::vector<uint8_t> band(line_bytes * ts);
    std::vector<uint8_t> tile(tile_line * ts);
    for (int plane = 0; plane < planes && ok; ++plane) {
      for (int y0 = 0; y0 < height && ok; y0 += ts) {
        std::fill(band.begin(), band.end(), 0);
        for (int y = y0; y < height && y < y0 + ts; ++y)
          make_line(plane, y, &band[line_bytes * (y - y0)]);
        for (int x0 = 0; x0 < width && ok; x0 += ts) {
          std::fill(tile.begin(), tile.end(), 0);
          const size_t from = static_cast<size_t>(x0) * per_pixel * bytes;
          const size_t n = std::min(tile_line, line_bytes - from);
          for (int r = 0; r < ts; ++r)
            std::memcpy(&tile[tile_line * r], &band[line_bytes * r + from], n);
          ok = TIFFWriteTile(t, tile.data(), static_cast<uint32_t>(x0), static_cast<uint32_t>(y0),
                             0, static_cast<uint16_t>(plane)) > 0;
        }
      }
    }
  } else {
    std::vector<uint8_t> line(line_bytes + 16);
    for (int plane = 0; plane < planes && ok; ++plane) {
      for (int y = 0; y < height && ok; ++y) {
        make_line(plane, y, line.data());
        ok = TIFFWriteScanline(t, line.data(), static_cast<uint32_t>(y),
                               static_cast<uint16_t>(plane)) == 1;
      }
    }
  }
  TIFFClose(t);
  return ok;
}

std::vector<uint8_t> decode_jpeg(const std::string &path, int *width, int *height) {
  std::vector<uint8_t> out;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  const size_t stride = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
  out.resize(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW p = out.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &p, 1);
  }
  *width = static_cast<int>(cinfo.output_width);
  *height = static_cast<int>(cinfo.output_height);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  return out;
}

bool write_bytes(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string make_temp_dir(const std::string &tag) {
  const char *base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/mundoscope-" + tag + "-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return std::string();
  return std::string(buf.data());
}

void remove_tree(const std::string &path) {
  if (path.empty() || path == "/") return;
  std::string cmd = "rm -rf '" + path + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path.c_str());
}

}  // namespace fixture
