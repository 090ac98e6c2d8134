// Streaming resampler: turns an ImageSource of any size into rows of another size,
// reading each source row once, top to bottom, through the row store.
#pragma once

#include <cstdint>
#include <vector>

struct ImageSource;

// The source indices and weights that make each output index along one axis.
// Output index i is the sum over k < count[i] of weights[offset[i] + k] times source
// index first[i] + k. first[] never decreases, so rows can be read in increasing order.
struct AxisTaps {
  std::vector<int32_t> first;
  std::vector<int32_t> count;
  std::vector<int32_t> offset;
  std::vector<float> weights;
};

// Fills `taps` for src_len -> dst_len: identity when equal, bilinear (pixel centres
// aligned, edges repeated) when enlarging, area average when reducing. Returns 0, or 1
// for a length below 1 or when out of memory.
int axis_taps_build(AxisTaps *taps, int src_len, int dst_len);

// One pass over a source, producing dst_w x dst_h RGB rows in order.
struct Resampler {
  ImageSource *src;
  int dst_w;
  int dst_h;
  int next_row;                    // the output row that resampler_next_row makes next
  AxisTaps xt;                     // columns
  AxisTaps yt;                     // rows
  std::vector<float> cached[2];    // source rows already resampled horizontally
  int cached_row[2];               // their source row numbers, -1 when empty
  std::vector<float> acc;          // the output row under construction
};

// Prepares a pass over `src` (left open, owned by the caller). Returns 0, or 1 for a
// bad size or when out of memory.
int resampler_init(Resampler *rs, ImageSource *src, int dst_w, int dst_h);

// Writes output row `next_row` (dst_w * 3 bytes) into `out` and advances. Returns 0,
// or 1 when the row store could not supply a row or all rows are done.
int resampler_next_row(Resampler *rs, uint8_t *out);
