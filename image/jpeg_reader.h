// Forward-only JPEG row decoding for ImageSource (kind 2): the decoder can only move
// down the image, so a row above its position costs a restart from the start of the file.
// libjpeg's fatal errors are caught here and never end the process.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

// libjpeg's standard error manager with a way back out of a fatal error: error_exit
// prints the library's message as usual, then jumps to `jump` instead of exiting.
struct JpegErrorManager {
  jpeg_error_mgr pub;  // first, so that cinfo.err points at the whole struct
  jmp_buf jump;
};

struct JpegState {
  FILE *file;                    // stays open for the life of the source; restarts rewind it
  int32_t last_row;              // row most recently decoded into a caller's buffer
  jpeg_decompress_struct cinfo;  // started and ready to deliver row output_scanline
  JpegErrorManager err;          // reused each time cinfo is recreated
  int32_t width;                 // output size fixed at open; a restart must give the same
  int32_t height;
  bool live;                     // cinfo is created (and started, when not broken)
  bool broken;                   // a fatal error hit cinfo: the next read restarts
  // Counters, for the row store's tests and benchmarks; never reset while open.
  uint32_t restarts;             // decoder restarts from the start of the file
  uint32_t skip_calls;           // jpeg_read_scanlines calls of up to 16 discarded rows
  uint32_t single_calls;         // jpeg_read_scanlines calls of one row
  uint32_t lines_decoded;        // rows delivered by jpeg_read_scanlines in all
  uint32_t fatal_errors;         // fatal libjpeg errors caught while reading rows
};

// Opens `path` and starts a decoder at row 0. Returns null (the library's message on
// stderr) when the file cannot be opened or decoded, is empty in either dimension, or
// does not decode to 3 components.
JpegState *jpeg_reader_open(const char *path);

// Destroys the decoder, closes the file and frees the state. Null is ignored.
void jpeg_reader_close(JpegState *st);

// Decodes `row` into `buffer` (width * 3 bytes), restarting the decoder when the row has
// gone by. Returns 0, or 1 when the row could not be decoded: the buffer is then grey and
// the next read restarts the decoder.
int jpeg_reader_read_row(JpegState *st, uint8_t *buffer, int row);
