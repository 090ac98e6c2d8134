// sample_bench DIR [jpeg|tiff|all]
//
// Times image_source_sample on the view's window (627 x 572) at factors 1 and 2 over a
// synthetic 21600 x 10800 map, as a JPEG and as a TIFF, first and repeated call at a few
// positions. The two maps are generated once into DIR and reused when present. Each
// format runs in a child process, so that its peak resident memory is its own.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fixtures.h"
#include "image_source.h"
#include "jpeg_reader.h"

namespace {

const int kWidth = 21600, kHeight = 10800;
const int kViewW = 627, kViewH = 572;

// A map-like picture: smooth continents and seas, with fine texture everywhere, so that
// the entropy coder and the IDCT have as much to do as on a real photograph of the Earth.
void map_row(int y, uint8_t *row, const std::vector<float> &wave) {
  for (int x = 0; x < kWidth; ++x) {
    float land = wave[x] + wave[(y * 7 + x / 3) % kWidth] * 0.7f +
                 std::sin(static_cast<float>(y) * 0.0021f + wave[(x * 3) % kWidth]);
    uint32_t h = static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 40503u;
    h ^= h >> 15;
    int noise = static_cast<int>(h & 31) - 16;
    int r, g, b;
    if (land > 0.3f) {
      r = 90 + static_cast<int>(land * 40) + noise;
      g = 110 + static_cast<int>(land * 25) + noise;
      b = 60 + noise / 2;
    } else {
      r = 10 + noise / 2;
      g = 40 + static_cast<int>(land * 20) + noise / 2;
      b = 110 + static_cast<int>(land * 30) + noise;
    }
    uint8_t *p = &row[static_cast<size_t>(x) * 3];
    p[0] = static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
    p[1] = static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g);
    p[2] = static_cast<uint8_t>(b < 0 ? 0 : b > 255 ? 255 : b);
  }
}

std::vector<float> make_wave() {
  std::vector<float> wave(kWidth);
  for (int x = 0; x < kWidth; ++x)
    wave[x] = std::sin(x * 0.0013f) * 0.8f + std::sin(x * 0.011f) * 0.3f;
  return wave;
}

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// The map rows for the fixture writers, which stream them to the file.
fixture::RowFn map_rows() {
  auto wave = std::make_shared<std::vector<float>>(make_wave());
  return [wave](int y, uint8_t *row) { map_row(y, row, *wave); };
}

// Written under a temporary name and renamed, so an interrupted run leaves no half map.
bool write_jpeg(const std::string &path) {
  const std::string tmp = path + ".part";
  fixture::JpegOptions opt;
  opt.quality = 90;
  return fixture::write_jpeg(tmp, kWidth, kHeight, map_rows(), opt) &&
         std::rename(tmp.c_str(), path.c_str()) == 0;
}

// Uncompressed, 8 rows a strip: libtiff seeks straight to any row.
bool write_tiff(const std::string &path) {
  const std::string tmp = path + ".part";
  fixture::TiffOptions opt;
  opt.rows_per_strip = 8;
  return fixture::write_tiff(tmp, kWidth, kHeight, map_rows(), opt) &&
         std::rename(tmp.c_str(), path.c_str()) == 0;
}

double now_ms() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

struct Position {
  const char *name;
  int x, y;
};

// The order matters for the JPEG: the decoder moves down, and a move up costs a restart.
const Position kPositions[] = {
    {"top-left", 0, 0},
    {"start view", 10300, 1358},
    {"middle", 10000, 5000},
    {"bottom-right edge", 21000, 10300},
    {"back up", 4000, 2500},
};

int run_format(const std::string &path, const char *label) {
  std::printf("\n%s: %s\n", label, path.c_str());
  std::printf("%-18s %6s %12s %12s %12s %10s %9s\n", "position", "factor", "first ms",
              "repeat ms", "rows cached", "row MiB", "restarts");
  for (int factor : {1, 2}) {
    // A fresh source per factor: the first position is a cold start as after opening.
    double t0 = now_ms();
    ImageSource *src = image_source_open(path.c_str());
    double open_ms = now_ms() - t0;
    if (!src) {
      std::fprintf(stderr, "cannot open %s\n", path.c_str());
      return 1;
    }
    std::printf("(open %.2f ms)\n", open_ms);
    for (const Position &p : kPositions) {
      src->pos_x = p.x;
      src->pos_y = p.y;
      t0 = now_ms();
      const uint8_t *out = image_source_sample(src, kViewW, kViewH, factor);
      double first = now_ms() - t0;
      t0 = now_ms();
      const uint8_t *again = image_source_sample(src, kViewW, kViewH, factor);
      double repeat = now_ms() - t0;
      if (!out || !again) {
        std::fprintf(stderr, "sampling failed at %s\n", p.name);
        return 1;
      }
      int cached = 0;
      for (int y = 0; y < src->height; ++y) cached += src->rows[y].buffer != nullptr;
      std::printf("%-18s %6d %12.2f %12.2f %12d %10.1f %9u\n", p.name, factor, first, repeat,
                  cached, src->allocated_bytes / 1048576.0,
                  src->jpeg ? src->jpeg->restarts : 0u);
    }
    uint8_t *out = src->out_buffer;
    image_source_close(src);
    std::free(out);
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [jpeg|tiff|all]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const std::string which = argc > 2 ? argv[2] : "all";
  mkdir(dir.c_str(), 0755);
  const std::string jpeg = dir + "/bench_21600x10800.jpg";
  const std::string tiff = dir + "/bench_21600x10800.tif";
  if (!exists(jpeg)) {
    std::printf("generating %s ...\n", jpeg.c_str());
    std::fflush(stdout);
    double t0 = now_ms();
    if (!write_jpeg(jpeg)) return 1;
    std::printf("  %.1f s\n", (now_ms() - t0) / 1000);
  }
  if (!exists(tiff)) {
    std::printf("generating %s ...\n", tiff.c_str());
    std::fflush(stdout);
    double t0 = now_ms();
    if (!write_tiff(tiff)) return 1;
    std::printf("  %.1f s\n", (now_ms() - t0) / 1000);
  }
  std::printf("window %d x %d; a fresh source for each factor; positions in map pixels\n",
              kViewW, kViewH);
  struct Run {
    const char *name;
    const std::string &path;
  };
  const Run runs[] = {{"jpeg", jpeg}, {"tiff", tiff}};
  int status = 0;
  for (const Run &r : runs) {
    if (which != "all" && which != r.name) continue;
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
      int rc = run_format(r.path, r.name);
      std::fflush(stdout);
      _exit(rc);
    }
    int st = 0;
    rusage use;
    if (pid < 0 || wait4(pid, &st, 0, &use) != pid) return 1;
    std::printf("%s: peak resident memory %.1f MiB\n", r.name, use.ru_maxrss / 1024.0);
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) status = 1;
  }
  return status;
}
