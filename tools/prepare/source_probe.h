// Looks at a source file's header before it is opened as an ImageSource, to name a
// problem in one line (the image source only says "no") and to tell whether the file
// can serve the viewer unchanged.
#pragma once

#include "prepare_error.h"

struct SourceInfo {
  int kind;            // IMAGE_KIND_TIFF or IMAGE_KIND_JPEG
  int width;
  int height;
  int progressive;     // JPEG: progressive or multi-scan, decoded only with the whole image held
  int tiled;           // TIFF: tiles, which scanline reading cannot deliver
  int compression;     // TIFF: libtiff's compression tag value
  int rows_per_strip;  // TIFF
};

// Fills `info` from the header of the file at `path`. Returns 0 for a 24-bit RGB TIFF
// or JPEG whose rows can be read one by one; otherwise 1 with a one-line reason in err.
int source_probe(const char *path, SourceInfo *info, PrepareError *err);

// Whether the viewer reads the file as it is without undue cost: a baseline (single
// scan) JPEG, or a strip TIFF that is uncompressed or compressed in strips of at most
// 64 rows (a row is then found without decoding far).
int source_layout_suits_viewer(const SourceInfo *info);
