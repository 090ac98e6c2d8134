// The row store: rows read on demand and kept in their RowSlots, with the memory spent on
// row buffers bounded by the source's soft and hard limits. Buffers are recycled between
// rows, the parked slot and the spare pool, and freed only when the source is closed.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <tiffio.h>

#include "image_source.h"
#include "jpeg_reader.h"

uint8_t *image_source_evict_row(ImageSource *src, int window_top, int window_end) {
  if (src->allocated_bytes <= src->soft_limit) return nullptr;
  const int height = src->height;
  int upper = -1, lower = -1;
  const int top = window_top < height ? window_top : height;
  for (int y = 0; y < top; ++y) {
    if (src->rows[y].buffer) {
      upper = y;
      break;
    }
  }
  // Row window_end, the first one after the window, is the next the caller will want.
  const int bottom = window_end < 0 ? 0 : window_end;
  for (int y = height - 1; y > bottom; --y) {
    if (src->rows[y].buffer) {
      lower = y;
      break;
    }
  }
  int taken;
  if (upper < 0 && lower < 0) return nullptr;
  if (upper < 0) {
    taken = lower;
  } else if (lower < 0) {
    taken = upper;
  } else {
    const int up_dist = window_top - upper;
    const int low_dist = lower - window_end;
    bool take_lower = up_dist <= low_dist;
    // Reading a JPEG row above the decoder again costs a restart, so once the decoder has
    // gone at least that far down, the row above the window is kept and the lower one goes.
    if (src->kind == IMAGE_KIND_JPEG && src->jpeg->last_row >= up_dist) take_lower = true;
    taken = take_lower ? lower : upper;
  }
  uint8_t *buffer = src->rows[taken].buffer;
  src->rows[taken].buffer = nullptr;
  return buffer;
}

// Reads one TIFF scanline. Inside a compressed strip libtiff decodes forwards only and
// refuses to skip, so the rows of the strip before the wanted one are decoded first (into
// the same buffer), from the strip's start or from where its decoder stands.
static void tiff_read_row(ImageSource *src, uint8_t *buffer, int row) {
  int from = row;
  if (src->tiff_strip_rows > 0) {
    const int strip_start = row - row % src->tiff_strip_rows;
    from = src->tiff_next_row > strip_start && src->tiff_next_row <= row ? src->tiff_next_row
                                                                          : strip_start;
  }
  for (int y = from; y <= row; ++y) {
    if (TIFFReadScanline(src->tiff, buffer, static_cast<uint32_t>(y), 0) < 0) {
      // A recycled buffer would still show another row's pixels: a failed read is grey.
      std::memset(buffer, IMAGE_GREY, static_cast<size_t>(src->row_bytes));
      src->tiff_next_row = -1;
      return;
    }
  }
  src->tiff_next_row = row + 1;
}

void image_source_read_row(ImageSource *src, uint8_t *buffer, int row) {
  if (!src || !buffer || row < 0 || row >= src->height) return;
  if (src->kind == IMAGE_KIND_TIFF) {
    tiff_read_row(src, buffer, row);
  } else {
    jpeg_reader_read_row(src->jpeg, buffer, row);
  }
}

uint8_t *image_source_fetch_row(ImageSource *src, int row, int window_top, int window_end) {
  if (!src || row < 0 || row >= src->height) return nullptr;
  if (src->rows[row].buffer) return src->rows[row].buffer;
  uint8_t *buffer = image_source_evict_row(src, window_top, window_end);
  if (!buffer && src->parked_row) {
    buffer = src->parked_row;
    src->parked_row = nullptr;
  }
  if (!buffer && src->spare_count > 0) {
    for (int i = 0; i < IMAGE_SPARE_SLOTS; ++i) {
      if (src->spare_rows[i]) {
        buffer = src->spare_rows[i];
        src->spare_rows[i] = nullptr;
        src->spare_count--;
        break;
      }
    }
  }
  if (!buffer) {
    buffer = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(src->row_bytes)));
    if (!buffer) return nullptr;
    // Saturate rather than wrap: a wrapped count would fall back below the limits.
    const uint32_t add = static_cast<uint32_t>(src->row_bytes);
    src->allocated_bytes =
        src->allocated_bytes > UINT32_MAX - add ? UINT32_MAX : src->allocated_bytes + add;
  }
  image_source_read_row(src, buffer, row);
  src->rows[row].buffer = buffer;
  return buffer;
}

void image_source_finish_row(ImageSource *src, int row) {
  if (!src || row < 0 || row >= src->height) return;
  if (src->spare_count != 0 || src->allocated_bytes <= src->hard_limit) return;
  uint8_t *buffer = src->rows[row].buffer;
  if (!buffer) return;
  // The pool is empty here, so an earlier parked buffer goes there rather than being lost.
  if (src->parked_row) {
    src->spare_rows[0] = src->parked_row;
    src->spare_count = 1;
  }
  src->parked_row = buffer;
  src->rows[row].buffer = nullptr;
}

void image_source_refill_spares(ImageSource *src, int window_top, int window_end) {
  if (!src) return;
  int slot = 0;
  while (src->spare_count < IMAGE_SPARE_SLOTS) {
    while (slot < IMAGE_SPARE_SLOTS && src->spare_rows[slot]) ++slot;
    if (slot == IMAGE_SPARE_SLOTS) return;
    uint8_t *buffer = image_source_evict_row(src, window_top, window_end);
    if (!buffer) return;
    src->spare_rows[slot] = buffer;
    src->spare_count++;
  }
}
