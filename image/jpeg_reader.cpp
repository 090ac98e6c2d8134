// Forward JPEG decoding with restarts. The functions that call setjmp hold no C++ object
// with a destructor, and every value they read after a longjmp lives in the heap state.
#include "jpeg_reader.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "image_source.h"

// Prints the message as the standard manager would, then returns to the setjmp point.
static void jpeg_reader_error_exit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  JpegErrorManager *err = reinterpret_cast<JpegErrorManager *>(cinfo->err);
  longjmp(err->jump, 1);
}

// Creates and starts a decompression object on the stream at its current position.
// Must be called with st->err.jump set.
static void jpeg_reader_start(JpegState *st) {
  std::memset(&st->cinfo, 0, sizeof st->cinfo);
  st->cinfo.err = jpeg_std_error(&st->err.pub);
  st->err.pub.error_exit = jpeg_reader_error_exit;
  jpeg_create_decompress(&st->cinfo);
  st->live = true;
  jpeg_stdio_src(&st->cinfo, st->file);
  jpeg_read_header(&st->cinfo, TRUE);
  jpeg_start_decompress(&st->cinfo);
}

static void jpeg_reader_destroy(JpegState *st) {
  if (st->live) jpeg_destroy_decompress(&st->cinfo);
  st->live = false;
}

// Starts a decoder with the jump target set; 0 done, 1 when libjpeg failed (the object
// is then destroyed). Kept apart so that the setjmp frame holds nothing but `st`.
static int jpeg_reader_start_guarded(JpegState *st) {
  if (setjmp(st->err.jump)) {
    jpeg_reader_destroy(st);
    return 1;
  }
  jpeg_reader_start(st);
  return 0;
}

JpegState *jpeg_reader_open(const char *path) {
  JpegState *st = static_cast<JpegState *>(std::calloc(1, sizeof(JpegState)));
  if (!st) return nullptr;
  st->file = std::fopen(path, "rb");
  if (!st->file || jpeg_reader_start_guarded(st) != 0) {
    jpeg_reader_close(st);
    return nullptr;
  }
  const jpeg_decompress_struct &ci = st->cinfo;
  if (ci.output_width == 0 || ci.output_height == 0 || ci.out_color_components != 3 ||
      ci.output_width > static_cast<JDIMENSION>(INT32_MAX / 3) ||
      ci.output_height > static_cast<JDIMENSION>(INT32_MAX)) {
    jpeg_reader_close(st);
    return nullptr;
  }
  st->width = static_cast<int32_t>(ci.output_width);
  st->height = static_cast<int32_t>(ci.output_height);
  return st;
}

void jpeg_reader_close(JpegState *st) {
  if (!st) return;
  jpeg_reader_destroy(st);
  if (st->file) std::fclose(st->file);
  std::free(st);
}

// Restarts when needed and decodes forwards up to `row`; 0 done, 1 failed. A fatal
// libjpeg error lands here with the object destroyed.
static int jpeg_reader_decode_guarded(JpegState *st, uint8_t *buffer, int row) {
  if (setjmp(st->err.jump)) {
    jpeg_reader_destroy(st);
    st->fatal_errors++;
    return 1;
  }
  if (st->broken || !st->live || st->cinfo.output_scanline > static_cast<JDIMENSION>(row)) {
    // The decoder only moves forwards: a row it has passed needs a fresh start.
    jpeg_reader_destroy(st);
    std::clearerr(st->file);
    std::rewind(st->file);
    st->restarts++;
    jpeg_reader_start(st);
    // The file may have changed under us; rows of another size would overrun the buffers.
    if (st->cinfo.output_width != static_cast<JDIMENSION>(st->width) ||
        st->cinfo.output_height != static_cast<JDIMENSION>(st->height) ||
        st->cinfo.out_color_components != 3) {
      jpeg_reader_destroy(st);
      return 1;
    }
  }
  const JDIMENSION y = static_cast<JDIMENSION>(row);
  JSAMPROW skip[16];
  for (int i = 0; i < 16; ++i) skip[i] = buffer;
  // Rows on the way are decoded over each other into the caller's buffer, 16 per call.
  while (st->cinfo.output_scanline + 16 < y) {
    JDIMENSION got = jpeg_read_scanlines(&st->cinfo, skip, 16);
    st->skip_calls++;
    st->lines_decoded += got;
    if (got == 0) break;
  }
  while (st->cinfo.output_scanline <= y) {
    JSAMPROW one = buffer;
    JDIMENSION got = jpeg_read_scanlines(&st->cinfo, &one, 1);
    st->single_calls++;
    st->lines_decoded += got;
    if (got == 0) {
      // A stdio source never suspends, so the decoder is stuck.
      jpeg_reader_destroy(st);
      return 1;
    }
  }
  return 0;
}

int jpeg_reader_read_row(JpegState *st, uint8_t *buffer, int row) {
  if (row < 0 || row >= st->height || jpeg_reader_decode_guarded(st, buffer, row) != 0) {
    st->broken = true;
    std::memset(buffer, IMAGE_GREY, static_cast<size_t>(st->width) * 3);
    return 1;
  }
  st->broken = false;
  st->last_row = row;
  return 0;
}
