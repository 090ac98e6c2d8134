// mundoscope-prepare: makes the viewer's data files from one world map image.
#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image_source.h"
#include "prepare.h"
#include "temp_file.h"

static const char *const Usage =
    "Usage: mundoscope-prepare [options] SOURCE BUNDLE\n"
    "\n"
    "Makes the data files of a Mundoscope bundle from SOURCE, a 24-bit RGB TIFF or JPEG\n"
    "world map (equirectangular, longitude -180 at the left edge) of any size:\n"
    "  BUNDLE/Contents/Resources/VisibleEarth.dat     21600 x 10800, the full map\n"
    "  BUNDLE/Contents/Resources/VisibleEarth_25.dat   5400 x 2700, its 4 x 4 averages\n"
    "A source of another size is resampled (bilinear when enlarging, averaged when\n"
    "reducing); a 21600 x 10800 source the viewer reads well is copied unchanged.\n"
    "\n"
    "Options:\n"
    "  -f, --format=jpeg|tiff   format of both files (default: that of SOURCE)\n"
    "  -q, --quality=N          JPEG quality, 1 to 100 (default 90; baseline JPEG)\n"
    "  -c, --compression=none|deflate|lzw\n"
    "                           TIFF strip compression (default deflate; implies tiff)\n"
    "  -g, --graticule          draw lines every 10 degrees of latitude and longitude\n"
    "      --reencode           write the full map anew even when it could be copied\n"
    "      --quiet              no progress and no summary\n"
    "  -h, --help               show this help\n";

static void fail_usage(const char *message) {
  std::fprintf(stderr, "mundoscope-prepare: %s\nTry 'mundoscope-prepare --help'.\n", message);
  std::exit(2);
}

static const char *format_name(const MapEncoding &enc) {
  static char text[64];
  if (enc.format == MAP_FORMAT_JPEG)
    std::snprintf(text, sizeof text, "JPEG quality %d", enc.quality);
  else
    std::snprintf(text, sizeof text, "TIFF, %s", map_compression_name(enc.compression));
  return text;
}

int main(int argc, char **argv) {
  PrepareOptions opt;
  prepare_options_init(&opt);
  int quiet = 0;
  enum { OPT_REENCODE = 256, OPT_QUIET };
  static const option longopts[] = {
      {"format", required_argument, nullptr, 'f'},
      {"quality", required_argument, nullptr, 'q'},
      {"compression", required_argument, nullptr, 'c'},
      {"graticule", no_argument, nullptr, 'g'},
      {"reencode", no_argument, nullptr, OPT_REENCODE},
      {"quiet", no_argument, nullptr, OPT_QUIET},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  int quality_given = 0, compression_given = 0;
  for (int c; (c = getopt_long(argc, argv, "f:q:c:gh", longopts, nullptr)) != -1;) {
    switch (c) {
      case 'f':
        if (std::strcmp(optarg, "jpeg") == 0 || std::strcmp(optarg, "jpg") == 0)
          opt.format = MAP_FORMAT_JPEG;
        else if (std::strcmp(optarg, "tiff") == 0 || std::strcmp(optarg, "tif") == 0)
          opt.format = MAP_FORMAT_TIFF;
        else
          fail_usage("--format must be jpeg or tiff");
        break;
      case 'q': {
        char *end = nullptr;
        const long q = std::strtol(optarg, &end, 10);
        if (!*optarg || *end || q < 1 || q > 100) fail_usage("--quality must be 1 to 100");
        opt.quality = static_cast<int>(q);
        quality_given = 1;
        break;
      }
      case 'c':
        if (std::strcmp(optarg, "none") == 0) opt.compression = MAP_TIFF_NONE;
        else if (std::strcmp(optarg, "deflate") == 0) opt.compression = MAP_TIFF_DEFLATE;
        else if (std::strcmp(optarg, "lzw") == 0) opt.compression = MAP_TIFF_LZW;
        else fail_usage("--compression must be none, deflate or lzw");
        compression_given = 1;
        break;
      case 'g': opt.graticule = 1; break;
      case OPT_REENCODE: opt.reencode = 1; break;
      case OPT_QUIET: quiet = 1; break;
      case 'h': std::fputs(Usage, stdout); return 0;
      default: fail_usage("unknown option");
    }
  }
  if (argc - optind != 2) fail_usage("expected SOURCE and BUNDLE");
  if (compression_given && opt.format == PREPARE_FORMAT_AUTO) opt.format = MAP_FORMAT_TIFF;
  if (quality_given && opt.format == PREPARE_FORMAT_AUTO) opt.format = MAP_FORMAT_JPEG;
  if (quality_given && opt.format != MAP_FORMAT_JPEG) fail_usage("--quality is for JPEG output");
  if (compression_given && opt.format != MAP_FORMAT_TIFF) fail_usage("--compression is for TIFF output");
  opt.encoding_given = quality_given || compression_given;
  if (!quiet) {
    opt.progress = stderr;
    opt.progress_terminal = isatty(STDERR_FILENO);
  }
  const char *source = argv[optind];
  const char *bundle = argv[optind + 1];

  temp_files_install_signal_cleanup();
  PrepareReport report;
  PrepareError err;
  prepare_error_clear(&err);
  if (prepare_bundle(source, bundle, &opt, &report, &err)) {
    std::fprintf(stderr, "mundoscope-prepare: %s\n", err.text);
    return 1;
  }
  if (!quiet) {
    const SourceInfo &s = report.source;
    const char *kind = s.kind == IMAGE_KIND_TIFF ? "TIFF" : "JPEG";
    if (report.copied)
      std::printf("VisibleEarth.dat: copied from %s (%d x %d %s)\n", source, s.width, s.height, kind);
    else
      std::printf("VisibleEarth.dat: %d x %d %s resampled to %d x %d, %s%s\n", s.width, s.height,
                  kind, opt.full_width, opt.full_height, format_name(report.full),
                  opt.graticule ? ", with graticule" : "");
    std::printf("VisibleEarth_25.dat: %d x %d, %s\n", opt.full_width / PREPARE_OVERVIEW_FACTOR,
                opt.full_height / PREPARE_OVERVIEW_FACTOR, format_name(report.overview));
  }
  return 0;
}
