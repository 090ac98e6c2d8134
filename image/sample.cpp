// Region sampling: a window of the source, reduced by 1, 2, 4 or 8, into out_buffer.
// Rows are fetched once each, top to bottom, and handed back before the next, so that a
// window larger than the row store's hard limit still streams through.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image_source.h"

namespace {

// How the output columns of one call fall on the image: `full` blocks lie wholly inside,
// then at most one block reaches past the right edge with `partial` columns inside, and
// the rest lie wholly right of the image.
struct Columns {
  int full;
  int partial;  // image columns inside the straddling block, 0 when there is none
  int rest;     // output columns wholly outside
};

Columns split_columns(const ImageSource *src, int w, int f) {
  Columns c = {0, 0, w};
  const int64_t inside = static_cast<int64_t>(src->width) - src->pos_x;
  if (inside <= 0 || w == 0) return c;
  int64_t full = inside / f;
  if (full >= w) {
    c.full = w;
    c.rest = 0;
    return c;
  }
  c.full = static_cast<int>(full);
  c.partial = static_cast<int>(inside - full * f);
  c.rest = w - c.full - (c.partial > 0 ? 1 : 0);
  return c;
}

struct Window {
  int64_t y0;
  int64_t yend;  // first row after the window, may lie below the image
  int top;       // window as the row store sees it
  int end;
};

// Factor 1: rows are copied, grey right of and below the image.
bool sample_copy(ImageSource *src, uint8_t *out, int w, const Window &win) {
  const size_t out_row = static_cast<size_t>(w) * 3;
  const int x0 = src->pos_x;
  const int64_t avail = static_cast<int64_t>(src->width) - x0;
  const size_t copy = avail <= 0 ? 0 : static_cast<size_t>(avail < w ? avail : w) * 3;
  for (int64_t y = win.y0; y < win.yend; ++y, out += out_row) {
    if (y >= src->height) {
      std::memset(out, IMAGE_GREY, out_row);
      continue;
    }
    const int row = static_cast<int>(y);
    const uint8_t *pixels = image_source_fetch_row(src, row, win.top, win.end);
    if (!pixels) return false;
    if (copy < out_row) std::memset(out, IMAGE_GREY, out_row);
    if (copy) std::memcpy(out, pixels + static_cast<size_t>(x0) * 3, copy);
    image_source_finish_row(src, row);
  }
  return true;
}

// Factors 2, 4 and 8: block sums per output column, divided by F * F with a shift.
// OUTSIDE is what a block row wholly right of the image adds, chosen so that the block
// averages to grey; a missing sample of a straddling block counts as grey itself.
template <int F, int SHIFT, int OUTSIDE>
bool sample_blocks(ImageSource *src, uint8_t *out, int w, const Window &win,
                   const Columns &cols) {
  const size_t out_row = static_cast<size_t>(w) * 3;
  int32_t *const sums = src->sums;
  const size_t sums_bytes = out_row * sizeof(int32_t);
  for (int64_t y = win.y0; y < win.yend; ++y) {
    const bool last = (y - win.y0) % F == F - 1;
    if (y >= src->height) {
      // A block that reaches below the image is grey, whatever it held above.
      if (last) {
        std::memset(out, IMAGE_GREY, out_row);
        std::memset(sums, 0, sums_bytes);
        out += out_row;
      }
      continue;
    }
    const int row = static_cast<int>(y);
    const uint8_t *p = image_source_fetch_row(src, row, win.top, win.end);
    if (!p) return false;
    if (cols.full > 0 || cols.partial > 0) p += static_cast<size_t>(src->pos_x) * 3;
    int32_t *s = sums;
    for (int j = 0; j < cols.full; ++j, s += 3, p += 3 * F) {
      int32_t r = 0, g = 0, b = 0;
      for (int k = 0; k < F; ++k) {
        r += p[3 * k];
        g += p[3 * k + 1];
        b += p[3 * k + 2];
      }
      s[0] += r;
      s[1] += g;
      s[2] += b;
    }
    if (cols.partial > 0) {
      const int32_t missing = (F - cols.partial) * IMAGE_GREY;
      int32_t r = missing, g = missing, b = missing;
      for (int k = 0; k < cols.partial; ++k) {
        r += p[3 * k];
        g += p[3 * k + 1];
        b += p[3 * k + 2];
      }
      s[0] += r;
      s[1] += g;
      s[2] += b;
      s += 3;
    }
    for (int j = 0; j < cols.rest; ++j, s += 3) {
      s[0] += OUTSIDE;
      s[1] += OUTSIDE;
      s[2] += OUTSIDE;
    }
    image_source_finish_row(src, row);
    if (last) {
      for (size_t i = 0; i < out_row; ++i) {
        out[i] = static_cast<uint8_t>(sums[i] >> SHIFT);
        sums[i] = 0;
      }
      out += out_row;
    }
  }
  return true;
}

// Any other factor, and the read-only pass: the rows inside the image are loaded only.
bool load_rows(ImageSource *src, const Window &win) {
  const int64_t stop = win.yend < src->height ? win.yend : src->height;
  for (int64_t y = win.y0; y < stop; ++y) {
    const int row = static_cast<int>(y);
    if (!image_source_fetch_row(src, row, win.top, win.end)) return false;
    image_source_finish_row(src, row);
  }
  return true;
}

}  // namespace

uint8_t *image_source_sample(ImageSource *src, int w, int h, int factor) {
  if (!src) return nullptr;
  if (w < 0 || h < 0 || src->pos_x < 0 || src->pos_y < 0) return nullptr;
  if (w > INT32_MAX / 3 || (w > 0 && h > INT32_MAX / 3 / w)) return nullptr;

  if (!src->out_buffer || w > src->out_cap_width || h > src->out_cap_height) {
    std::free(src->out_buffer);
    const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 3;
    src->out_buffer = static_cast<uint8_t *>(std::malloc(bytes ? bytes : 1));
    if (!src->out_buffer) {
      src->out_cap_width = 0;
      src->out_cap_height = 0;
      return nullptr;
    }
    src->out_cap_width = w;
    src->out_cap_height = h;
  }

  const int32_t need = 3 * w;
  if (!src->sums || src->sums_cap < need) {
    int32_t *sums = static_cast<int32_t *>(
        std::realloc(src->sums, static_cast<size_t>(need ? need : 1) * sizeof(int32_t)));
    if (!sums) return nullptr;
    src->sums = sums;
    src->sums_cap = need;
  }
  std::memset(src->sums, 0, static_cast<size_t>(src->sums_cap) * sizeof(int32_t));

  const int64_t g = factor < 0 ? -static_cast<int64_t>(factor) : factor;
  Window win;
  win.y0 = src->pos_y;
  win.yend = win.y0 + static_cast<int64_t>(h) * g;
  // With no output column the rows below the image have nothing to write.
  if (w == 0 && win.yend > src->height) win.yend = win.y0 > src->height ? win.y0 : src->height;
  win.top = src->pos_y;
  // Past the last row the store sees no difference, so the end need not exceed the image.
  win.end = static_cast<int>(win.yend < src->height ? win.yend : src->height);

  uint8_t *out = src->out_buffer;
  bool ok;
  switch (factor) {
    case 1: ok = sample_copy(src, out, w, win); break;
    case 2: ok = sample_blocks<2, 2, 255>(src, out, w, win, split_columns(src, w, 2)); break;
    case 4: ok = sample_blocks<4, 4, 511>(src, out, w, win, split_columns(src, w, 4)); break;
    case 8: ok = sample_blocks<8, 6, 1016>(src, out, w, win, split_columns(src, w, 8)); break;
    default: ok = load_rows(src, win); break;
  }
  if (!ok) return nullptr;
  if (factor > 0) image_source_refill_spares(src, win.top, win.end);
  return src->out_buffer;
}
