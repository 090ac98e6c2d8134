// Writes a map file row by row, as baseline JPEG or as TIFF in strips of a few rows,
// the two layouts the viewer's row store reads without holding the image whole.
#pragma once

#include <cstdint>

#include "prepare_error.h"
#include "temp_file.h"

// The same numbers as the image source's kinds (IMAGE_KIND_TIFF, IMAGE_KIND_JPEG).
enum MapFormat { MAP_FORMAT_TIFF = 1, MAP_FORMAT_JPEG = 2 };
enum MapCompression { MAP_TIFF_NONE = 0, MAP_TIFF_DEFLATE = 1, MAP_TIFF_LZW = 2 };
enum { MAP_TIFF_ROWS_PER_STRIP = 16, MAP_DEFAULT_QUALITY = 90 };

struct MapEncoding {
  int format;       // MapFormat
  int quality;      // JPEG: 1 to 100
  int compression;  // TIFF: MapCompression
};

struct JpegSink;              // libjpeg compressor with its error trap
typedef struct tiff TIFF;     // libtiff's handle

struct MapWriter {
  TempFile file;      // the file is written under a temporary name until committed
  MapEncoding enc;
  int width;
  int height;
  int rows_written;
  JpegSink *jpeg;     // MAP_FORMAT_JPEG
  TIFF *tiff;         // MAP_FORMAT_TIFF
};

// Starts a width x height RGB file that will become final_path. Returns 0, or 1 with
// err set (nothing is left on disk then).
int map_writer_open(MapWriter *mw, const char *final_path, int width, int height,
                    const MapEncoding *enc, PrepareError *err);

// Appends the next row (width * 3 bytes). Returns 0, or 1 with err set.
int map_writer_write_row(MapWriter *mw, const uint8_t *row, PrepareError *err);

// Completes the file after the last row and flushes it to disk; it keeps its temporary
// name (mw->file.temp_path), so it can still be read back or discarded. Returns 0, or 1
// with err set.
int map_writer_finish(MapWriter *mw, PrepareError *err);

// Releases the encoder and removes the temporary file unless it was committed.
void map_writer_discard(MapWriter *mw);

// The name of a compression for messages: "none", "deflate" or "lzw".
const char *map_compression_name(int compression);
