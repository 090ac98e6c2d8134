#include "prepare.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "graticule.h"
#include "image_source.h"
#include "jpeg_reader.h"
#include "resample.h"

static_assert(int(MAP_FORMAT_TIFF) == int(IMAGE_KIND_TIFF) && int(MAP_FORMAT_JPEG) == int(IMAGE_KIND_JPEG),
              "a format names the kind of file the image source opens");

void prepare_options_init(PrepareOptions *opt) {
  std::memset(opt, 0, sizeof *opt);
  opt->format = PREPARE_FORMAT_AUTO;
  opt->quality = MAP_DEFAULT_QUALITY;
  opt->compression = MAP_TIFF_DEFLATE;
  opt->full_width = PREPARE_FULL_WIDTH;
  opt->full_height = PREPARE_FULL_HEIGHT;
  opt->row_store_bytes = PREPARE_ROW_STORE_BYTES;
}

// mkdir -p for one path; every component that exists must be a folder.
static int make_dirs(const char *path, PrepareError *err) {
  char buf[PATH_MAX];
  if (std::snprintf(buf, sizeof buf, "%s", path) >= static_cast<int>(sizeof buf))
    return prepare_fail(err, "path too long: %s", path);
  for (char *p = buf + 1;; ++p) {
    const bool end = *p == '\0';
    if (*p == '/' || end) {
      *p = '\0';
      if (mkdir(buf, 0755) != 0 && errno != EEXIST)
        return prepare_fail(err, "cannot create folder %s: %s", buf, std::strerror(errno));
      struct stat st;
      if (stat(buf, &st) != 0)
        return prepare_fail(err, "cannot create folder %s: %s", buf, std::strerror(errno));
      if (!S_ISDIR(st.st_mode))
        return prepare_fail(err, "cannot create folder %s: %s", buf, std::strerror(ENOTDIR));
      if (end) break;
      *p = '/';
      while (p[1] == '/') ++p;
    }
  }
  return 0;
}

int prepare_resources_dir(const char *bundle, char *dir, size_t dir_size, PrepareError *err) {
  if (!bundle || !*bundle) return prepare_fail(err, "no bundle folder given");
  const size_t len = std::strlen(bundle);
  const char *sep = bundle[len - 1] == '/' ? "" : "/";
  if (std::snprintf(dir, dir_size, "%s%sContents/Resources", bundle, sep) >=
      static_cast<int>(dir_size) - 1)
    return prepare_fail(err, "path too long: %s", bundle);
  if (make_dirs(dir, err)) return 1;
  std::strcat(dir, "/");
  return 0;
}

int prepare_can_copy(const SourceInfo *info, const PrepareOptions *opt) {
  if (opt->graticule || opt->reencode) return 0;
  if (info->width != opt->full_width || info->height != opt->full_height) return 0;
  if (opt->format != PREPARE_FORMAT_AUTO && (opt->format != info->kind || opt->encoding_given))
    return 0;
  return source_layout_suits_viewer(info);
}

MapEncoding prepare_encoding(const SourceInfo *info, const PrepareOptions *opt) {
  MapEncoding enc;
  enc.format = opt->format != PREPARE_FORMAT_AUTO ? opt->format
               : info->kind == IMAGE_KIND_TIFF    ? MAP_FORMAT_TIFF
                                                  : MAP_FORMAT_JPEG;
  enc.quality = opt->quality;
  enc.compression = opt->compression;
  return enc;
}

// The image source reads a row it cannot decode as grey and goes on, as a viewer should;
// a map made of such rows would be wrong without a word. A pass over a source watches for
// it: a libtiff error (kept here instead of printed), or a libjpeg warning (truncated or
// corrupt data), fatal error or restart (the passes only read forwards).
class DamageWatch {
 public:
  explicit DamageWatch(ImageSource *src)
      : jpeg_(src->kind == IMAGE_KIND_JPEG ? src->jpeg : nullptr),
        warnings_(jpeg_ ? jpeg_->err.pub.num_warnings : 0),
        fatal_errors_(jpeg_ ? jpeg_->fatal_errors : 0),
        restarts_(jpeg_ ? jpeg_->restarts : 0) {}

  // Call right after reading, before any write: a TIFF writer's trap clears the message.
  // Returns 0, or 1 with err set.
  int check(const char *path, int row, PrepareError *err) {
    const char *tiff_error = TiffMessageTrap::message(nullptr);
    if (tiff_error)
      return prepare_fail(err, "cannot read %s: damaged image data near row %d (%s)", path, row,
                          tiff_error);
    if (jpeg_ && (jpeg_->broken || jpeg_->fatal_errors != fatal_errors_ ||
                  jpeg_->restarts != restarts_ || jpeg_->err.pub.num_warnings != warnings_)) {
      char text[JMSG_LENGTH_MAX] = "libjpeg failed";
      if (jpeg_->err.pub.msg_code != 0)
        (*jpeg_->err.pub.format_message)(reinterpret_cast<j_common_ptr>(&jpeg_->cinfo), text);
      return prepare_fail(err, "cannot read %s: damaged or truncated image data near row %d (%s)",
                          path, row, text);
    }
    return 0;
  }

 private:
  TiffMessageTrap trap_;
  JpegState *jpeg_;
  long warnings_;
  uint32_t fatal_errors_, restarts_;
};

static void limit_row_store(ImageSource *src, uint32_t bytes) {
  if (bytes == 0) return;
  src->soft_limit = bytes;
  src->hard_limit = bytes;
}

int prepare_full_map(ImageSource *src, const char *source_name, MapWriter *out, int graticule,
                     Progress *progress, PrepareError *err) {
  Resampler rs;
  if (resampler_init(&rs, src, out->width, out->height))
    return prepare_fail(err, "out of memory for a %d x %d map", out->width, out->height);
  std::vector<uint8_t> row;
  try {
    row.resize(static_cast<size_t>(out->width) * 3);
  } catch (const std::bad_alloc &) {
    return prepare_fail(err, "out of memory for a %d x %d map", out->width, out->height);
  }
  DamageWatch watch(src);
  for (int y = 0; y < out->height; ++y) {
    if (resampler_next_row(&rs, row.data()))
      return prepare_fail(err, "out of memory reading the source at row %d", y);
    if (watch.check(source_name, rs.yt.first[y] + rs.yt.count[y] - 1, err)) return 1;
    if (graticule) graticule_draw_row(row.data(), out->width, out->height, y);
    if (map_writer_write_row(out, row.data(), err)) return 1;
    if (progress) progress_update(progress, y + 1);
  }
  return 0;
}

int prepare_overview(const char *full_path, MapWriter *out, uint32_t row_store_bytes,
                     Progress *progress, PrepareError *err) {
  ImageSource *src = image_source_open(full_path);
  if (!src) return prepare_fail(err, "cannot read back %s", full_path);
  const int f = PREPARE_OVERVIEW_FACTOR;
  if (src->width != out->width * f || src->height != out->height * f) {
    const int w = src->width, h = src->height;
    image_source_close(src);
    return prepare_fail(err, "%s is %d x %d, not %d x %d", full_path, w, h, out->width * f,
                        out->height * f);
  }
  limit_row_store(src, row_store_bytes);
  // The output buffer is the caller's to release (closing a source leaves it), so it is
  // allocated here once at the band's size; every band fits and none reallocates it.
  const int band = PREPARE_OVERVIEW_BAND;
  uint8_t *buffer = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(out->width) * band * 3));
  if (!buffer) {
    image_source_close(src);
    return prepare_fail(err, "out of memory for the overview");
  }
  src->out_buffer = buffer;
  src->out_cap_width = out->width;
  src->out_cap_height = band;
  int status = 0;
  DamageWatch watch(src);
  for (int row = 0; row < out->height && status == 0; row += band) {
    const int h = out->height - row < band ? out->height - row : band;
    src->pos_x = 0;
    src->pos_y = row * f;
    const uint8_t *picture = image_source_sample(src, out->width, h, f);
    if (!picture) {
      status = prepare_fail(err, "out of memory sampling %s at row %d", full_path, row * f);
      break;
    }
    status = watch.check(full_path, row * f, err);
    for (int k = 0; k < h && status == 0; ++k)
      status = map_writer_write_row(out, picture + static_cast<size_t>(k) * out->width * 3, err);
    if (progress) progress_update(progress, row + h);
  }
  // Sampling may have replaced the buffer only if it had to grow, which no band needs;
  // whichever buffer the source holds now is the one to release.
  buffer = src->out_buffer;
  image_source_close(src);
  std::free(buffer);
  return status;
}

int prepare_copy_file(const char *source_path, TempFile *tf, Progress *progress,
                      PrepareError *err) {
  FILE *in = std::fopen(source_path, "rb");
  if (!in) return prepare_fail(err, "cannot read %s: %s", source_path, std::strerror(errno));
  enum { CHUNK = 1 << 20 };
  std::vector<char> buf;
  try {
    buf.resize(CHUNK);
  } catch (const std::bad_alloc &) {
    std::fclose(in);
    return prepare_fail(err, "out of memory");
  }
  int64_t copied = 0;
  int status = 0;
  for (;;) {
    const size_t n = std::fread(buf.data(), 1, buf.size(), in);
    if (n == 0) {
      if (std::ferror(in)) status = prepare_fail(err, "cannot read %s: %s", source_path, std::strerror(errno));
      break;
    }
    for (size_t off = 0; off < n;) {
      const ssize_t w = write(tf->fd, buf.data() + off, n - off);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        status = prepare_fail(err, "cannot write %s: %s", tf->final_path,
                              w < 0 ? std::strerror(errno) : "short write");
        break;
      }
      off += static_cast<size_t>(w);
    }
    if (status) break;
    copied += static_cast<int64_t>(n);
    if (progress) progress_update(progress, copied >> 20);
  }
  std::fclose(in);
  return status;
}

static int64_t file_size_mb(const char *path) {
  struct stat st;
  if (stat(path, &st) != 0) return 1;
  return static_cast<int64_t>(st.st_size) >> 20;
}

// Writes the full map into `full` (opened by this function): a copy or a resampling.
static int write_full_map(const char *source, const char *path, const PrepareOptions *opt,
                          PrepareReport *report, MapWriter *full, PrepareError *err) {
  Progress progress;
  if (report->copied) {
    full->jpeg = nullptr;
    full->tiff = nullptr;
    if (temp_file_create(&full->file, path, err)) return 1;
    progress_begin(&progress, opt->progress, opt->progress_terminal, "VisibleEarth.dat", "MB",
                   file_size_mb(source));
    const int status = prepare_copy_file(source, &full->file, &progress, err);
    progress_end(&progress, status == 0);
    if (status == 0 && temp_file_close(&full->file, err)) return 1;
    return status;
  }
  ImageSource *src = image_source_open(source);
  if (!src) return prepare_fail(err, "cannot read %s: the image source refused it", source);
  limit_row_store(src, opt->row_store_bytes);
  int status = map_writer_open(full, path, opt->full_width, opt->full_height, &report->full, err);
  if (status == 0) {
    progress_begin(&progress, opt->progress, opt->progress_terminal, "VisibleEarth.dat", "rows",
                   opt->full_height);
    status = prepare_full_map(src, source, full, opt->graticule, &progress, err);
    if (status == 0) status = map_writer_finish(full, err);
    progress_end(&progress, status == 0);
  }
  image_source_close(src);
  return status;
}

int prepare_bundle(const char *source, const char *bundle, const PrepareOptions *opt,
                   PrepareReport *report, PrepareError *err) {
  std::memset(report, 0, sizeof *report);
  const int f = PREPARE_OVERVIEW_FACTOR;
  if (opt->full_width < f || opt->full_height < f || opt->full_width % f || opt->full_height % f)
    return prepare_fail(err, "the full map's size must be a multiple of %d", f);
  struct stat st;
  if (stat(source, &st) == 0 && S_ISDIR(st.st_mode))
    return prepare_fail(err, "cannot read %s: it is a folder", source);
  if (source_probe(source, &report->source, err)) return 1;
  report->copied = prepare_can_copy(&report->source, opt);
  report->full = prepare_encoding(&report->source, opt);
  report->overview = report->full;

  char dir[PATH_MAX];
  if (prepare_resources_dir(bundle, dir, sizeof dir - 32, err)) return 1;
  char full_path[PATH_MAX + 32], overview_path[PATH_MAX + 32];
  std::snprintf(full_path, sizeof full_path, "%sVisibleEarth.dat", dir);
  std::snprintf(overview_path, sizeof overview_path, "%sVisibleEarth_25.dat", dir);

  MapWriter full, overview;
  std::memset(&full, 0, sizeof full);
  std::memset(&overview, 0, sizeof overview);
  full.file.fd = overview.file.fd = -1;
  full.file.slot = overview.file.slot = -1;

  int status = write_full_map(source, full_path, opt, report, &full, err);
  if (status == 0) {
    status = map_writer_open(&overview, overview_path, opt->full_width / f, opt->full_height / f,
                             &report->overview, err);
  }
  if (status == 0) {
    Progress progress;
    progress_begin(&progress, opt->progress, opt->progress_terminal, "VisibleEarth_25.dat", "rows",
                   opt->full_height / f);
    // A copy is the source byte for byte: read from there, damage is reported by its name.
    status = prepare_overview(report->copied ? source : full.file.temp_path, &overview,
                              opt->row_store_bytes, &progress, err);
    if (status == 0) status = map_writer_finish(&overview, err);
    progress_end(&progress, status == 0);
  }
  // Both files are complete before either replaces an earlier one.
  if (status == 0) status = temp_file_commit(&full.file, err);
  if (status == 0) status = temp_file_commit(&overview.file, err);
  map_writer_discard(&full);
  map_writer_discard(&overview);
  return status;
}
