// ImageSource: one TIFF or JPEG file of any size, read row by row, with a bounded
// store of its rows and sampling of a window reduced by an integer factor.
// Knows nothing of the toolkit; single-threaded.
#pragma once

#include <cstdint>

typedef struct tiff TIFF;  // libtiff's handle
struct JpegState;          // forward JPEG decoder, see jpeg_reader.h

// One image row's entry in the row store: its pixels when the row is cached, else null.
struct RowSlot {
  uint8_t *buffer;
};

enum { IMAGE_KIND_TIFF = 1, IMAGE_KIND_JPEG = 2 };
enum { IMAGE_SPARE_SLOTS = 1024 };
enum { IMAGE_GREY = 127 };

// Rows are RGB, 8 bits per sample, interleaved, no padding; row 0 is the top.
struct ImageSource {
  int32_t kind;            // IMAGE_KIND_TIFF or IMAGE_KIND_JPEG
  int32_t width;           // pixels
  int32_t height;          // rows
  int32_t pos_x;           // left column of the next window to sample; written by the view
  int32_t pos_y;           // top row of the next window to sample; written by the view
  RowSlot *rows;           // one slot per row
  TIFF *tiff;              // kind 1 only
  JpegState *jpeg;         // kind 2 only
  int32_t row_bytes;       // width * 3
  uint8_t *parked_row;     // one buffer set aside for the next row to be read
  uint8_t **spare_rows;    // IMAGE_SPARE_SLOTS entries, null where empty
  int32_t spare_count;     // filled entries of spare_rows
  uint8_t *out_buffer;     // sampling output (malloc'd); close leaves it: the view shares it
  int32_t out_cap_width;   // columns out_buffer was allocated for
  int32_t out_cap_height;  // rows out_buffer was allocated for
  uint32_t soft_limit;     // row-buffer bytes above which rows outside the window are recycled
  uint32_t hard_limit;     // row-buffer bytes above which used rows are not kept
  uint32_t allocated_bytes;// row-buffer bytes allocated since open; never decreases
  int32_t *sums;           // per output column red, green, blue block sums
  int32_t sums_cap;        // entries allocated in sums
  int32_t tiff_strip_rows; // compressed TIFF strips: rows per strip (libtiff cannot skip
                           // forwards inside them); 0 when libtiff seeks by itself
  int32_t tiff_next_row;   // the row libtiff's strip decoder delivers next, or -1
};

enum : uint32_t {
  IMAGE_SOFT_LIMIT = 0xC000000u,   // 192 MiB
  IMAGE_HARD_LIMIT = 0x10000000u,  // 256 MiB
};

// Opens a TIFF (by its byte-order mark "II" or "MM") or else a JPEG; reads only the header.
// Accepts interleaved 8-bit RGB TIFF strips and 3-component JPEG. Returns null on any
// failure, including files libjpeg cannot decode (its message on stderr); never exits.
ImageSource *image_source_open(const char *path);

// Releases the source and everything it owns except out_buffer. Null is ignored.
void image_source_close(ImageSource *src);

// Row store. The window is rows [window_top, window_end); no row inside it is evicted.

// Returns the buffer of `row` (0 <= row < height), read from the file if not cached;
// null when no buffer could be had. Valid until finish_row or the next fetch.
uint8_t *image_source_fetch_row(ImageSource *src, int row, int window_top, int window_end);

// Hands a used row back. Past the hard limit with an empty pool its buffer is parked for
// the next row to be read (an earlier parked buffer moves into the pool), so it is no
// longer cached.
void image_source_finish_row(ImageSource *src, int row);

// Moves buffers of cached rows outside the window into the spare pool (past the soft limit).
void image_source_refill_spares(ImageSource *src, int window_top, int window_end);

// Detaches the buffer of the cached row farthest from the window; null below the soft
// limit or when no cached row lies outside the window.
uint8_t *image_source_evict_row(ImageSource *src, int window_top, int window_end);

// Reads `row` into `buffer` (row_bytes bytes): a TIFF scanline, or JPEG decoding forwards
// with a restart when the row lies above the decoder. A row that cannot be read is grey.
void image_source_read_row(ImageSource *src, uint8_t *buffer, int row);

// Samples a w x h picture from (pos_x, pos_y), each pixel the average of factor x factor
// image pixels (factor 1, 2, 4 or 8), grey outside the image. The buffer is reallocated
// only when w or h exceeds its capacity. A negative factor -g only loads the rows of the
// factor-g window into the row store; any other factor loads them and writes nothing;
// 0 only prepares the buffer. Returns out_buffer; null for a null source, a negative
// size or position, w * h * 3 beyond INT32_MAX, no memory, or a row that could not be had.
uint8_t *image_source_sample(ImageSource *src, int w, int h, int factor);
