#include "map_writer.h"

#include <cerrno>
#include <cstdarg>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include <jpeglib.h>
#include <tiffio.h>

// libjpeg reports a fatal error (a failed write among them) through error_exit, which
// by default ends the process; this one keeps the message and jumps back instead.
struct JpegSink {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  FILE *out;
};

static void jpeg_sink_error_exit(j_common_ptr cinfo) {
  JpegSink *sink = reinterpret_cast<JpegSink *>(cinfo->client_data);
  (*cinfo->err->format_message)(cinfo, sink->message);
  longjmp(sink->jump, 1);
}

// The reason of a failed libtiff call: the system's, else libtiff's own message.
static const char *tiff_failure(int saved_errno) {
  if (saved_errno) return std::strerror(saved_errno);
  return TiffMessageTrap::message("libtiff write failed");
}

const char *map_compression_name(int compression) {
  switch (compression) {
    case MAP_TIFF_NONE: return "none";
    case MAP_TIFF_DEFLATE: return "deflate";
    case MAP_TIFF_LZW: return "lzw";
    default: return "unknown";
  }
}

// Each libjpeg call sits in its own small function with its own setjmp, and no C++
// object lives across it.
static int jpeg_sink_start(JpegSink *s, int width, int height, int quality) {
  s->cinfo.err = jpeg_std_error(&s->mgr);
  s->mgr.error_exit = jpeg_sink_error_exit;
  s->cinfo.client_data = s;
  if (setjmp(s->jump)) return 1;
  jpeg_create_compress(&s->cinfo);
  jpeg_stdio_dest(&s->cinfo, s->out);
  s->cinfo.image_width = static_cast<JDIMENSION>(width);
  s->cinfo.image_height = static_cast<JDIMENSION>(height);
  s->cinfo.input_components = 3;
  s->cinfo.in_color_space = JCS_RGB;
  // Defaults give a baseline, single-scan file with standard Huffman tables: optimised
  // tables or progressive scans would make libjpeg hold the whole image.
  jpeg_set_defaults(&s->cinfo);
  s->cinfo.optimize_coding = FALSE;
  jpeg_set_quality(&s->cinfo, quality, TRUE);
  jpeg_start_compress(&s->cinfo, TRUE);
  return 0;
}

static int jpeg_sink_row(JpegSink *s, const uint8_t *row) {
  if (setjmp(s->jump)) return 1;
  JSAMPROW p = const_cast<JSAMPROW>(row);
  jpeg_write_scanlines(&s->cinfo, &p, 1);
  return 0;
}

static int jpeg_sink_finish(JpegSink *s) {
  if (setjmp(s->jump)) return 1;
  jpeg_finish_compress(&s->cinfo);
  return 0;
}

static void jpeg_sink_free(JpegSink *s) {
  if (!s) return;
  jpeg_destroy_compress(&s->cinfo);
  if (s->out) std::fclose(s->out);
  std::free(s);
}

static int open_jpeg(MapWriter *mw, PrepareError *err) {
  JpegSink *s = static_cast<JpegSink *>(std::calloc(1, sizeof(JpegSink)));
  if (!s) return prepare_fail(err, "out of memory");
  const int fd = dup(mw->file.fd);
  s->out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!s->out) {
    if (fd >= 0) close(fd);
    std::free(s);
    return prepare_fail(err, "cannot write %s: %s", mw->file.final_path, std::strerror(errno));
  }
  mw->jpeg = s;
  if (jpeg_sink_start(s, mw->width, mw->height, mw->enc.quality))
    return prepare_fail(err, "cannot write %s: %s", mw->file.final_path, s->message);
  return 0;
}

static int open_tiff(MapWriter *mw, PrepareError *err) {
  uint16_t scheme = COMPRESSION_NONE;
  if (mw->enc.compression == MAP_TIFF_DEFLATE) scheme = COMPRESSION_ADOBE_DEFLATE;
  if (mw->enc.compression == MAP_TIFF_LZW) scheme = COMPRESSION_LZW;
  if (!TIFFIsCODECConfigured(scheme))
    return prepare_fail(err, "this libtiff cannot write %s compression",
                        map_compression_name(mw->enc.compression));
  // libtiff closes the descriptor it is given, so it gets a copy of its own.
  const int fd = dup(mw->file.fd);
  if (fd < 0) return prepare_fail(err, "cannot write %s: %s", mw->file.final_path, std::strerror(errno));
  // A classic TIFF addresses at most 4 GiB; an uncompressed 21600 x 10800 map is 700 MB.
  TiffMessageTrap trap;
  TIFF *t = TIFFFdOpen(fd, mw->file.temp_path, "w");
  if (!t) {
    close(fd);
    return prepare_fail(err, "cannot write %s: %s", mw->file.final_path, tiff_failure(0));
  }
  mw->tiff = t;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(mw->width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(mw->height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(8));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(3));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(PHOTOMETRIC_RGB));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_ORIENTATION, static_cast<uint16_t>(ORIENTATION_TOPLEFT));
  TIFFSetField(t, TIFFTAG_COMPRESSION, scheme);
  // Few rows per strip: reading one row decodes at most its own small strip.
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(MAP_TIFF_ROWS_PER_STRIP));
  if (scheme != COMPRESSION_NONE)
    TIFFSetField(t, TIFFTAG_PREDICTOR, static_cast<uint16_t>(PREDICTOR_HORIZONTAL));
  // Deflate at its fastest level: 4 times quicker than the default on a 700 MB map, for
  // files about a tenth larger.
  if (scheme == COMPRESSION_ADOBE_DEFLATE) TIFFSetField(t, TIFFTAG_ZIPQUALITY, 1);
  TIFFSetField(t, TIFFTAG_SOFTWARE, "mundoscope-prepare");
  return 0;
}

int map_writer_open(MapWriter *mw, const char *final_path, int width, int height,
                    const MapEncoding *enc, PrepareError *err) {
  mw->jpeg = nullptr;
  mw->tiff = nullptr;
  mw->width = width;
  mw->height = height;
  mw->rows_written = 0;
  mw->enc = *enc;
  mw->file.fd = -1;
  mw->file.slot = -1;
  mw->file.temp_path[0] = '\0';
  if (width < 1 || height < 1 || width > INT32_MAX / 3)
    return prepare_fail(err, "bad output size %d x %d", width, height);
  if (enc->format == MAP_FORMAT_JPEG && (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION))
    return prepare_fail(err, "a JPEG cannot be %d x %d pixels", width, height);
  if (enc->format == MAP_FORMAT_JPEG && (enc->quality < 1 || enc->quality > 100))
    return prepare_fail(err, "JPEG quality must be 1 to 100, not %d", enc->quality);
  if (enc->format != MAP_FORMAT_JPEG && enc->format != MAP_FORMAT_TIFF)
    return prepare_fail(err, "unknown output format");
  if (temp_file_create(&mw->file, final_path, err)) return 1;
  const int status = enc->format == MAP_FORMAT_JPEG ? open_jpeg(mw, err) : open_tiff(mw, err);
  if (status) map_writer_discard(mw);
  return status;
}

int map_writer_write_row(MapWriter *mw, const uint8_t *row, PrepareError *err) {
  if (mw->rows_written >= mw->height) return prepare_fail(err, "too many rows for %s", mw->file.final_path);
  if (mw->jpeg) {
    if (jpeg_sink_row(mw->jpeg, row))
      return prepare_fail(err, "cannot write %s: %s", mw->file.final_path, mw->jpeg->message);
  } else if (mw->tiff) {
    // TIFFWriteScanline wants a writable buffer but leaves it unchanged.
    TiffMessageTrap trap;
    errno = 0;
    if (TIFFWriteScanline(mw->tiff, const_cast<uint8_t *>(row),
                          static_cast<uint32_t>(mw->rows_written), 0) != 1)
      return prepare_fail(err, "cannot write %s: %s", mw->file.final_path, tiff_failure(errno));
  } else {
    return prepare_fail(err, "%s is not open", mw->file.final_path);
  }
  ++mw->rows_written;
  return 0;
}

int map_writer_finish(MapWriter *mw, PrepareError *err) {
  if (mw->rows_written != mw->height)
    return prepare_fail(err, "%s: only %d of %d rows written", mw->file.final_path,
                        mw->rows_written, mw->height);
  int status = 0;
  if (mw->jpeg) {
    JpegSink *s = mw->jpeg;
    if (jpeg_sink_finish(s))
      status = prepare_fail(err, "cannot write %s: %s", mw->file.final_path, s->message);
    if (std::fflush(s->out) != 0 || std::ferror(s->out))
      status = prepare_fail(err, "cannot write %s: %s", mw->file.final_path, std::strerror(errno));
    jpeg_sink_free(s);
    mw->jpeg = nullptr;
  } else if (mw->tiff) {
    TiffMessageTrap trap;
    errno = 0;
    if (TIFFFlush(mw->tiff) != 1)
      status = prepare_fail(err, "cannot write %s: %s", mw->file.final_path, tiff_failure(errno));
    TIFFClose(mw->tiff);
    mw->tiff = nullptr;
  }
  if (temp_file_close(&mw->file, err)) status = 1;
  return status;
}

void map_writer_discard(MapWriter *mw) {
  if (mw->jpeg) {
    // Abandon the compressor without finishing: nothing more reaches the file.
    jpeg_sink_free(mw->jpeg);
    mw->jpeg = nullptr;
  }
  if (mw->tiff) {
    // Closing flushes what is buffered; after a failed write that fails again, quietly.
    TiffMessageTrap trap;
    TIFFClose(mw->tiff);
    mw->tiff = nullptr;
  }
  temp_file_discard(&mw->file);
}
