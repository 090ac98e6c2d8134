// mundoscope-prepare's work: turn one RGB TIFF or JPEG of any size into the viewer's two
// data files, Contents/Resources/VisibleEarth.dat (the full map) and VisibleEarth_25.dat
// (a quarter of its size each way), reading the source through the image source so that
// memory stays bounded by the row store however large the source is.
#pragma once

#include <cstdint>
#include <cstdio>

#include "map_writer.h"
#include "prepare_error.h"
#include "progress.h"
#include "source_probe.h"

struct ImageSource;

enum {
  PREPARE_FULL_WIDTH = 21600,   // the viewer's full-resolution map
  PREPARE_FULL_HEIGHT = 10800,
  PREPARE_OVERVIEW_FACTOR = 4,  // the overview is 5400 x 2700, each pixel a 4 x 4 average
  PREPARE_FORMAT_AUTO = 0,      // copy a source of the full size, else keep its format
  PREPARE_OVERVIEW_BAND = 32,   // overview rows sampled per call
};

// The tool's image sources read every row once, top to bottom: a row cache would only
// cost memory, so their row store runs with a small limit and recycles at once.
enum : uint32_t { PREPARE_ROW_STORE_BYTES = 32u << 20 };

struct PrepareOptions {
  int format;               // PREPARE_FORMAT_AUTO, MAP_FORMAT_JPEG or MAP_FORMAT_TIFF
  int quality;              // JPEG quality, 1 to 100
  int compression;          // TIFF strips: MapCompression
  int encoding_given;       // quality or compression named, so a plain copy would ignore them
  int graticule;            // draw lines every 10 degrees
  int reencode;             // never copy the source as it is
  int full_width;           // 21600 x 10800 for the viewer; tests use small maps
  int full_height;          //   (both multiples of PREPARE_OVERVIEW_FACTOR)
  uint32_t row_store_bytes; // soft and hard limit of the tool's image sources; 0: the defaults
  FILE *progress;           // where progress goes; null for none
  int progress_terminal;    // draw a bar in place rather than a line per tenth
};

// What a run did, for its summary.
struct PrepareReport {
  SourceInfo source;
  int copied;               // the full map is the source file, byte for byte
  MapEncoding full;         // encoding of the full map (the source's own when copied)
  MapEncoding overview;
};

// Default options: automatic format, JPEG quality 90, Deflate TIFF strips, the viewer's
// sizes, the tool's small row store, no progress.
void prepare_options_init(PrepareOptions *opt);

// Makes BUNDLE/Contents/Resources/ (and its parents) and writes its path, ending in "/",
// into dir. Returns 0, or 1 with err set.
int prepare_resources_dir(const char *bundle, char *dir, size_t dir_size, PrepareError *err);

// Whether the source can become the full map unchanged under these options.
int prepare_can_copy(const SourceInfo *info, const PrepareOptions *opt);

// The encoding of the files written for this source under these options.
MapEncoding prepare_encoding(const SourceInfo *info, const PrepareOptions *opt);

// Writes every row of `out` from `src`, resampled to out's size (bilinear when
// enlarging, area average when reducing), with the graticule if asked. A source row the
// image source could not decode (damaged or truncated data) fails the pass, with
// source_name in the message. Returns 0, or 1 with err set; `out` is left for the caller
// to finish or discard.
int prepare_full_map(ImageSource *src, const char *source_name, MapWriter *out, int graticule,
                     Progress *progress, PrepareError *err);

// Writes the overview into `out` (a quarter of the full map's size each way) by opening
// the full map at full_path and sampling it with factor 4, a band of rows per call. A
// damaged full map fails as in prepare_full_map. Returns 0, or 1 with err set.
int prepare_overview(const char *full_path, MapWriter *out, uint32_t row_store_bytes,
                     Progress *progress, PrepareError *err);

// Copies the file at source_path byte for byte into the open temporary file. Returns
// 0, or 1 with err set.
int prepare_copy_file(const char *source_path, TempFile *tf, Progress *progress,
                      PrepareError *err);

// The whole run: probes the source, makes the resources folder, writes both files under
// temporary names and renames them into place only when both are complete, so a failure
// leaves any earlier files as they were and no partial file behind. Returns 0, or 1
// with err set.
int prepare_bundle(const char *source, const char *bundle, const PrepareOptions *opt,
                   PrepareReport *report, PrepareError *err);
