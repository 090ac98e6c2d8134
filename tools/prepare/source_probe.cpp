#include "source_probe.h"

#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <tiffio.h>

#include "image_source.h"

enum { STRIP_ROWS_FOR_VIEWER = 64 };

static int probe_tiff(const char *path, SourceInfo *info, PrepareError *err) {
  // libtiff's own messages become the one-line reason instead of being printed.
  TiffMessageTrap trap(true);
  TIFF *t = TIFFOpen(path, "r");
  int status = 0;
  if (!t) {
    status = prepare_fail(err, "cannot read %s: not a readable TIFF (%s)", path,
                          TiffMessageTrap::message("libtiff refused it"));
  } else {
    uint32_t w = 0, h = 0, rps = 0;
    uint16_t bits = 0, spp = 0, photometric = 0, planar = PLANARCONFIG_CONTIG, compression = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rps);
    info->width = static_cast<int>(w > INT32_MAX ? INT32_MAX : w);
    info->height = static_cast<int>(h > INT32_MAX ? INT32_MAX : h);
    info->tiled = TIFFIsTiled(t) ? 1 : 0;
    info->compression = compression;
    info->rows_per_strip = static_cast<int>(rps > INT32_MAX ? INT32_MAX : rps);
    if (w == 0 || h == 0)
      status = prepare_fail(err, "cannot read %s: the TIFF is %u x %u pixels", path, w, h);
    else if (bits != 8 || spp != 3 || photometric != PHOTOMETRIC_RGB || planar != PLANARCONFIG_CONTIG)
      status = prepare_fail(err,
                            "cannot read %s: a TIFF with %u bits x %u samples (photometric %u%s); "
                            "only 24-bit interleaved RGB is read",
                            path, bits, spp, photometric,
                            planar != PLANARCONFIG_CONTIG ? ", separate planes" : "");
    else if (info->tiled)
      status = prepare_fail(err, "cannot read %s: a tiled TIFF; only strip TIFFs are read", path);
    TIFFClose(t);
  }
  return status;
}

struct ProbeJpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

static void probe_jpeg_error_exit(j_common_ptr cinfo) {
  ProbeJpegError *e = reinterpret_cast<ProbeJpegError *>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->message);
  longjmp(e->jump, 1);
}

static void probe_jpeg_quiet(j_common_ptr, int) {}

// Reads the JPEG header only. No C++ object lives across the setjmp.
static int read_jpeg_header(FILE *f, jpeg_decompress_struct *cinfo, ProbeJpegError *e) {
  cinfo->err = jpeg_std_error(&e->mgr);
  e->mgr.error_exit = probe_jpeg_error_exit;
  e->mgr.emit_message = probe_jpeg_quiet;
  e->message[0] = '\0';
  if (setjmp(e->jump)) return 1;
  jpeg_create_decompress(cinfo);
  jpeg_stdio_src(cinfo, f);
  jpeg_read_header(cinfo, TRUE);
  jpeg_calc_output_dimensions(cinfo);
  return 0;
}

static int probe_jpeg(const char *path, FILE *f, SourceInfo *info, PrepareError *err) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  ProbeJpegError e;
  int status = 0;
  if (read_jpeg_header(f, &cinfo, &e)) {
    status = prepare_fail(err, "cannot read %s: not a readable JPEG (%s)", path, e.message);
  } else {
    info->width = static_cast<int>(cinfo.output_width);
    info->height = static_cast<int>(cinfo.output_height);
    info->progressive = jpeg_has_multiple_scans(&cinfo) ? 1 : 0;
    if (cinfo.output_components != 3)
      status = prepare_fail(err, "cannot read %s: a JPEG with %d colour components; only RGB is read",
                            path, cinfo.output_components);
    else if (info->width == 0 || info->height == 0)
      status = prepare_fail(err, "cannot read %s: the JPEG is %d x %d pixels", path, info->width,
                            info->height);
  }
  jpeg_destroy_decompress(&cinfo);
  return status;
}

int source_probe(const char *path, SourceInfo *info, PrepareError *err) {
  std::memset(info, 0, sizeof *info);
  FILE *f = std::fopen(path, "rb");
  if (!f) return prepare_fail(err, "cannot read %s: %s", path, std::strerror(errno));
  unsigned char magic[8] = {0};
  const size_t n = std::fread(magic, 1, sizeof magic, f);
  int status;
  if (n >= 2 && magic[0] == magic[1] && (magic[0] == 'I' || magic[0] == 'M')) {
    std::fclose(f);
    f = nullptr;
    info->kind = IMAGE_KIND_TIFF;
    status = probe_tiff(path, info, err);
  } else if (n >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) {
    std::rewind(f);
    info->kind = IMAGE_KIND_JPEG;
    status = probe_jpeg(path, f, info, err);
  } else if (n >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) {
    status = prepare_fail(err, "cannot read %s: a PNG file; convert it to TIFF or JPEG first", path);
  } else if (n == 0) {
    status = prepare_fail(err, "cannot read %s: the file is empty", path);
  } else {
    status = prepare_fail(err, "cannot read %s: not a TIFF or JPEG file", path);
  }
  if (f) std::fclose(f);
  return status;
}

int source_layout_suits_viewer(const SourceInfo *info) {
  if (info->kind == IMAGE_KIND_JPEG) return !info->progressive;
  if (info->kind != IMAGE_KIND_TIFF || info->tiled) return 0;
  return info->compression == COMPRESSION_NONE || info->rows_per_strip <= STRIP_ROWS_FOR_VIEWER;
}
