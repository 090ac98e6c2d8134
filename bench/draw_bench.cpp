// draw_bench DIR [jpeg|tiff|all]
//
// Times the map view's draw in the real main window: the first draw at each zoom level on
// freshly opened sources (empty row stores), the draw after a pan of 100 screen pixels,
// and the first draw at level 1 arrived at with "Zoom In" from level 2 (which loads rows
// ahead). The maps are a generated 21600 x 10800 map and its 5400 x 2700 overview (4 x 4
// block averages), as JPEG and as TIFF, written into DIR once and reused. Needs an X
// display (run it under xvfb-run or tests/support/with-xvfb). Each format runs in a
// child process, so that the peak resident memory it prints is its own.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/x.H>
#include <jpeglib.h>
#include <tiffio.h>

#include "image_source.h"
#include "irgb_view.h"
#include "main_window.h"
#include "program.h"

namespace {

const int kW = 21600, kH = 10800, kOW = kW / 4, kOH = kH / 4;

// Map-like rows: large smooth shapes with fine texture, so that decoding does as much work
// as on a photograph. Integer hash noise, no floating point per pixel.
struct MapPainter {
  std::vector<int> wave_x, wave_y;
  MapPainter() : wave_x(kW), wave_y(kH) {
    for (int x = 0; x < kW; ++x) wave_x[x] = static_cast<int>((x * 37 % 1000) * ((x / 900) % 3));
    for (int y = 0; y < kH; ++y) wave_y[y] = static_cast<int>((y * 53 % 1000) * ((y / 700) % 2));
  }
  void row(int y, uint8_t *out) const {
    for (int x = 0; x < kW; ++x) {
      uint32_t h = static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 2246822519u;
      h ^= h >> 13;
      const int noise = static_cast<int>(h & 31) - 16;
      const bool land = (wave_x[x] + wave_y[y] + (x / 60 + y / 60) % 400) > 900;
      int r = land ? 110 + noise : 15 + noise / 2;
      int g = land ? 120 + noise : 50 + noise / 2;
      int b = land ? 60 + noise / 2 : 120 + noise;
      out[x * 3] = static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
      out[x * 3 + 1] = static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g);
      out[x * 3 + 2] = static_cast<uint8_t>(b < 0 ? 0 : b > 255 ? 255 : b);
    }
  }
};

// Writes rows one at a time; a JPEG or a TIFF (uncompressed, 16-row strips).
class RowWriter {
 public:
  RowWriter(const std::string &path, int w, int h, bool jpeg) : jpeg_(jpeg) {
    if (jpeg_) {
      file_ = std::fopen(path.c_str(), "wb");
      if (!file_) return;
      cinfo_.err = jpeg_std_error(&jerr_);
      jpeg_create_compress(&cinfo_);
      jpeg_stdio_dest(&cinfo_, file_);
      cinfo_.image_width = static_cast<JDIMENSION>(w);
      cinfo_.image_height = static_cast<JDIMENSION>(h);
      cinfo_.input_components = 3;
      cinfo_.in_color_space = JCS_RGB;
      jpeg_set_defaults(&cinfo_);
      jpeg_set_quality(&cinfo_, 90, TRUE);
      jpeg_start_compress(&cinfo_, TRUE);
      ok_ = true;
    } else {
      tiff_ = TIFFOpen(path.c_str(), "w");
      if (!tiff_) return;
      TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
      TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
      TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, 3);
      TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
      TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, 16);
      ok_ = true;
    }
  }
  void write(uint8_t *row) {
    if (!ok_) return;
    if (jpeg_) {
      JSAMPROW p = row;
      jpeg_write_scanlines(&cinfo_, &p, 1);
    } else {
      ok_ = TIFFWriteScanline(tiff_, row, y_, 0) == 1;
    }
    ++y_;
  }
  bool finish() {
    if (jpeg_ && file_) {
      jpeg_finish_compress(&cinfo_);
      jpeg_destroy_compress(&cinfo_);
      ok_ = std::fclose(file_) == 0 && ok_;
    } else if (tiff_) {
      TIFFClose(tiff_);
    }
    return ok_;
  }

 private:
  bool jpeg_;
  bool ok_ = false;
  FILE *file_ = nullptr;
  TIFF *tiff_ = nullptr;
  jpeg_compress_struct cinfo_;
  jpeg_error_mgr jerr_;
  uint32_t y_ = 0;
};

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// The map and its overview in one pass: every 4 map rows make one overview row.
bool write_maps(const std::string &full, const std::string &overview, bool jpeg) {
  const std::string full_tmp = full + ".part", ov_tmp = overview + ".part";
  RowWriter fw(full_tmp, kW, kH, jpeg), ow(ov_tmp, kOW, kOH, jpeg);
  const MapPainter painter;
  std::vector<uint8_t> row(static_cast<size_t>(kW) * 3), ov_row(static_cast<size_t>(kOW) * 3);
  std::vector<int> sums(static_cast<size_t>(kOW) * 3);
  for (int y = 0; y < kH; ++y) {
    painter.row(y, row.data());
    fw.write(row.data());
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c) sums[(x / 4) * 3 + c] += row[x * 3 + c];
    if (y % 4 == 3) {
      for (size_t i = 0; i < sums.size(); ++i) ov_row[i] = static_cast<uint8_t>(sums[i] >> 4);
      ow.write(ov_row.data());
      std::fill(sums.begin(), sums.end(), 0);
    }
  }
  return fw.finish() && ow.finish() && std::rename(full_tmp.c_str(), full.c_str()) == 0 &&
         std::rename(ov_tmp.c_str(), overview.c_str()) == 0;
}

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One repaint of the main window; returns its milliseconds and checks that the view sampled.
double timed_draw() {
  const unsigned before = MapView->sample_count_;
  const double t0 = now();
  MainWindow->redraw();
  Fl::flush();
  XSync(fl_display, False);
  const double ms = (now() - t0) * 1000.0;
  if (MapView->sample_count_ != before + 1) std::fprintf(stderr, "  (draw did not sample)\n");
  return ms;
}

// Position whose view centre is the map's centre, per level (view 627 x 572).
const int kCentre[5][2] = {{0, 0}, {10487, 5114}, {10173, 4828}, {9702, 4399}, {9075, 3827}};

void open_fresh(const std::string &full, const std::string &overview, int level) {
  MapView->load_image(full.c_str());
  MapView->load_overview(overview.c_str());
  MapView->zoom(level);
  CurrentZoomLevel = level;
  MapView->set_position(kCentre[level][0], kCentre[level][1]);
}

int run_format(const std::string &dir, const char *ext) {
  const std::string full = dir + "/bench_map." + ext, overview = dir + "/bench_map_25." + ext;
  const bool jpeg = std::strcmp(ext, "jpg") == 0;
  if (!exists(full) || !exists(overview)) {
    std::printf("writing %s and %s ...\n", full.c_str(), overview.c_str());
    std::fflush(stdout);
    const double t0 = now();
    if (!write_maps(full, overview, jpeg)) {
      std::fprintf(stderr, "could not write the maps\n");
      return 1;
    }
    std::printf("  written in %.1f s\n", now() - t0);
  }
  MainWindow = build_main_window();
  MainWindow->position(0, 0);
  MainWindow->show();
  while (!MainWindow->visible()) Fl::wait(0.05);
  for (int i = 0; i < 20; ++i) Fl::wait(0.01);
  Fl::flush();

  std::printf("%s (view 627 x 572, position centred on the map):\n", jpeg ? "JPEG" : "TIFF");
  std::printf("  level  first draw   draw after a 100-pixel pan\n");
  for (int level = 1; level <= 4; ++level) {
    open_fresh(full, overview, level);
    const double first = timed_draw();
    const ImageSource *img = MapView->image();
    MapView->set_position(img->pos_x - 100 * ZoomFactor[level], img->pos_y);
    const double pan = timed_draw();
    std::printf("  %d      %8.1f ms  %8.1f ms\n", level, first, pan);
  }
  // Zoom In from a drawn level 2: the first level-1 draw loads the rows around the view.
  open_fresh(full, overview, 2);
  timed_draw();
  zoom_in_cb(nullptr, nullptr);
  const double arrive = timed_draw();
  const ImageSource *img = MapView->image();
  MapView->set_position(img->pos_x, img->pos_y - 200);
  const double pan_up = timed_draw();
  std::printf("  level 1 after Zoom In from level 2: %.1f ms; then a pan of 200 rows up: %.1f ms\n",
              arrive, pan_up);
  // Straight from a drawn level 3 (the overview) to level 1: the rows ahead come from a
  // primary whose row store is still empty.
  open_fresh(full, overview, 3);
  timed_draw();
  MapView->zoom(1);
  CurrentZoomLevel = 1;
  MapView->set_position(kCentre[1][0], kCentre[1][1]);
  const double direct = timed_draw();
  MapView->set_position(kCentre[1][0], kCentre[1][1] - 200);
  const double direct_pan = timed_draw();
  std::printf("  level 1 straight from level 3: %.1f ms; then a pan of 200 rows up: %.1f ms\n",
              direct, direct_pan);
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  std::printf("  peak resident memory: %.0f MB\n", ru.ru_maxrss / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: draw_bench DIR [jpeg|tiff|all]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string which = argc > 2 ? argv[2] : "all";
  int status = 0;
  for (const char *ext : {"jpg", "tif"}) {
    if (which != "all" && which != (std::strcmp(ext, "jpg") == 0 ? "jpeg" : "tiff")) continue;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
      const int rc = run_format(dir, ext);
      std::fflush(stdout);
      _exit(rc);
    }
    int st = 0;
    if (pid < 0 || waitpid(pid, &st, 0) != pid || !WIFEXITED(st) || WEXITSTATUS(st) != 0)
      status = 1;
  }
  return status;
}
