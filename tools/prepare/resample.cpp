#include "resample.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "image_source.h"

static void add_tap(AxisTaps *t, int index, double weight) {
  t->weights.push_back(static_cast<float>(weight));
  if (t->count.back() == 0) t->first.back() = index;
  ++t->count.back();
}

int axis_taps_build(AxisTaps *taps, int src_len, int dst_len) {
  if (src_len < 1 || dst_len < 1) return 1;
  try {
    taps->first.clear();
    taps->count.clear();
    taps->offset.clear();
    taps->weights.clear();
    taps->first.reserve(dst_len);
    taps->count.reserve(dst_len);
    taps->offset.reserve(dst_len);
    const double scale = static_cast<double>(src_len) / dst_len;
    for (int i = 0; i < dst_len; ++i) {
      taps->offset.push_back(static_cast<int32_t>(taps->weights.size()));
      taps->first.push_back(0);
      taps->count.push_back(0);
      if (src_len == dst_len) {
        add_tap(taps, i, 1.0);
      } else if (dst_len > src_len) {
        // Bilinear: the centre of output pixel i sits at source coordinate u.
        double u = (i + 0.5) * scale - 0.5;
        if (u < 0) u = 0;
        if (u > src_len - 1) u = src_len - 1;
        const int i0 = static_cast<int>(std::floor(u));
        const double t = u - i0;
        if (t > 0 && i0 + 1 < src_len) {
          add_tap(taps, i0, 1.0 - t);
          add_tap(taps, i0 + 1, t);
        } else {
          add_tap(taps, i0, 1.0);
        }
      } else {
        // Area average: output pixel i covers source interval [a, b), partial pixels
        // at both ends weighted by the part they cover.
        const double a = i * scale;
        const double b = (i + 1) * scale;
        const int k0 = static_cast<int>(std::floor(a));
        int k1 = static_cast<int>(std::ceil(b)) - 1;
        if (k1 > src_len - 1) k1 = src_len - 1;
        for (int k = k0; k <= k1; ++k) {
          const double cover = std::min(b, k + 1.0) - std::max(a, static_cast<double>(k));
          if (cover > 0) add_tap(taps, k, cover / scale);
        }
      }
    }
  } catch (const std::bad_alloc &) {
    return 1;
  }
  return 0;
}

int resampler_init(Resampler *rs, ImageSource *src, int dst_w, int dst_h) {
  if (!src || dst_w < 1 || dst_h < 1 || dst_w > INT32_MAX / 3) return 1;
  rs->src = src;
  rs->dst_w = dst_w;
  rs->dst_h = dst_h;
  rs->next_row = 0;
  rs->cached_row[0] = rs->cached_row[1] = -1;
  if (axis_taps_build(&rs->xt, src->width, dst_w) || axis_taps_build(&rs->yt, src->height, dst_h))
    return 1;
  try {
    const size_t n = static_cast<size_t>(dst_w) * 3;
    rs->cached[0].assign(n, 0.0f);
    rs->cached[1].assign(n, 0.0f);
    rs->acc.assign(n, 0.0f);
  } catch (const std::bad_alloc &) {
    return 1;
  }
  return 0;
}

// Resamples source row y horizontally into `out`. The row is fetched alone as its
// window, used at once and handed back, so the row store can recycle its buffer.
static int horizontal_pass(Resampler *rs, int y, float *out) {
  const uint8_t *row = image_source_fetch_row(rs->src, y, y, y + 1);
  if (!row) return 1;
  const AxisTaps &t = rs->xt;
  for (int j = 0; j < rs->dst_w; ++j) {
    const float *w = &t.weights[t.offset[j]];
    const uint8_t *p = row + static_cast<size_t>(t.first[j]) * 3;
    float r = 0, g = 0, b = 0;
    for (int k = 0; k < t.count[j]; ++k, p += 3) {
      r += w[k] * p[0];
      g += w[k] * p[1];
      b += w[k] * p[2];
    }
    out[j * 3] = r;
    out[j * 3 + 1] = g;
    out[j * 3 + 2] = b;
  }
  image_source_finish_row(rs->src, y);
  return 0;
}

// The horizontally resampled source row y. Consecutive output rows share at most two
// source rows, so two cached rows mean every source row is read exactly once.
static const float *source_row(Resampler *rs, int y) {
  for (int s = 0; s < 2; ++s)
    if (rs->cached_row[s] == y) return rs->cached[s].data();
  const int s = rs->cached_row[0] <= rs->cached_row[1] ? 0 : 1;
  rs->cached_row[s] = -1;
  if (horizontal_pass(rs, y, rs->cached[s].data())) return nullptr;
  rs->cached_row[s] = y;
  return rs->cached[s].data();
}

int resampler_next_row(Resampler *rs, uint8_t *out) {
  if (rs->next_row >= rs->dst_h) return 1;
  const int i = rs->next_row;
  const AxisTaps &t = rs->yt;
  const size_t n = static_cast<size_t>(rs->dst_w) * 3;
  float *acc = rs->acc.data();
  std::fill(acc, acc + n, 0.0f);
  for (int k = 0; k < t.count[i]; ++k) {
    const float *row = source_row(rs, t.first[i] + k);
    if (!row) return 1;
    const float w = t.weights[t.offset[i] + k];
    for (size_t c = 0; c < n; ++c) acc[c] += w * row[c];
  }
  for (size_t c = 0; c < n; ++c) {
    const float v = acc[c] + 0.5f;
    out[c] = v <= 0.0f ? 0 : v >= 255.0f ? 255 : static_cast<uint8_t>(v);
  }
  ++rs->next_row;
  return 0;
}
