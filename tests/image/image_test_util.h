// Helpers shared by the image source tests: a temporary folder, an owning handle for a
// source, the row store's buffer bookkeeping, and the slow reference for sampling.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fixtures.h"
#include "image_source.h"

namespace imgtest {

// A fresh folder removed at the end of the test.
struct TempDir {
  std::string path = fixture::make_temp_dir("image");
  ~TempDir() { fixture::remove_tree(path); }
  std::string file(const std::string &name) const { return path + "/" + name; }
};

// Closes the source and frees its output buffer, which close leaves alone.
struct SourceCloser {
  void operator()(ImageSource *src) const {
    if (!src) return;
    uint8_t *out = src->out_buffer;
    image_source_close(src);
    std::free(out);
  }
};
using Source = std::unique_ptr<ImageSource, SourceCloser>;

inline Source open_source(const std::string &path) {
  return Source(image_source_open(path.c_str()));
}

inline int cached_rows(const ImageSource *src) {
  int n = 0;
  for (int y = 0; y < src->height; ++y) n += src->rows[y].buffer != nullptr;
  return n;
}

// Every buffer the store allocated sits in exactly one place (a slot, the parked slot or
// the pool), and spare_count matches the pool.
inline void expect_buffers_accounted(const ImageSource *src) {
  std::set<const uint8_t *> seen;
  size_t places = 0;
  for (int y = 0; y < src->height; ++y) {
    if (src->rows[y].buffer) {
      seen.insert(src->rows[y].buffer);
      ++places;
    }
  }
  if (src->parked_row) {
    seen.insert(src->parked_row);
    ++places;
  }
  int spares = 0;
  for (int i = 0; i < IMAGE_SPARE_SLOTS; ++i) {
    if (src->spare_rows[i]) {
      seen.insert(src->spare_rows[i]);
      ++places;
      ++spares;
    }
  }
  EXPECT_EQ(spares, src->spare_count);
  EXPECT_EQ(seen.size(), places) << "a buffer is held in two places";
  EXPECT_EQ(static_cast<uint64_t>(places) * src->row_bytes, src->allocated_bytes)
      << "a buffer was lost or freed";
}

// The picture sampling should give, computed the slow and obvious way: each output pixel
// is the truncated mean of its factor x factor block, image samples where they exist and
// grey for the columns right of the image; a block that reaches below the image is grey.
inline std::vector<uint8_t> reference_sample(const std::vector<uint8_t> &img, int width,
                                             int height, int x0, int y0, int w, int h,
                                             int f) {
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      for (int c = 0; c < 3; ++c) {
        int value;
        if (y0 + i * f + f - 1 >= height) {
          value = IMAGE_GREY;
        } else {
          int sum = 0;
          for (int dy = 0; dy < f; ++dy) {
            for (int dx = 0; dx < f; ++dx) {
              int x = x0 + j * f + dx, y = y0 + i * f + dy;
              sum += x < width ? int(img[(static_cast<size_t>(y) * width + x) * 3 + c]) : int(IMAGE_GREY);
            }
          }
          value = sum / (f * f);
        }
        out[(static_cast<size_t>(i) * w + j) * 3 + c] = static_cast<uint8_t>(value);
      }
    }
  }
  return out;
}

// Index of the first differing byte, or -1.
inline long first_difference(const uint8_t *a, const uint8_t *b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return static_cast<long>(i);
  return -1;
}

}  // namespace imgtest
