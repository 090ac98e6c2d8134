// Opening and closing an ImageSource: format recognition by the first two bytes,
// validation of the header, and the record with its empty row store.
#include "image_source.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <tiffio.h>

#include "jpeg_reader.h"

// Only interleaved 8-bit RGB is read row by row as the library delivers it; anything else
// would come out as the wrong colours or overrun a row buffer.
static bool tiff_is_plain_rgb(TIFF *tiff, uint32_t width) {
  uint16_t bits = 0, samples = 0, planar = 0, photometric = 0;
  if (TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits) != 1 || bits != 8) return false;
  if (TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) != 1 || samples != 3) return false;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  if (planar != PLANARCONFIG_CONTIG) return false;
  if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1 ||
      photometric != PHOTOMETRIC_RGB)
    return false;
  // Scanlines cannot be read from tiles.
  if (TIFFIsTiled(tiff)) return false;
  return TIFFScanlineSize64(tiff) == static_cast<uint64_t>(width) * 3;
}

// Builds the record with everything empty; null when a size does not fit or memory is short.
static ImageSource *image_source_new(int32_t kind, uint32_t width, uint32_t height) {
  if (width == 0 || height == 0) return nullptr;
  if (width > static_cast<uint32_t>(INT32_MAX / 3) || height > static_cast<uint32_t>(INT32_MAX))
    return nullptr;
  // The slot array's size in bytes must fit a 32-bit int too, as every other size does.
  if (height > static_cast<uint32_t>(INT32_MAX) / sizeof(RowSlot)) return nullptr;
  ImageSource *src = static_cast<ImageSource *>(std::calloc(1, sizeof(ImageSource)));
  if (!src) return nullptr;
  src->rows = static_cast<RowSlot *>(std::calloc(height, sizeof(RowSlot)));
  src->spare_rows = static_cast<uint8_t **>(std::calloc(IMAGE_SPARE_SLOTS, sizeof(uint8_t *)));
  if (!src->rows || !src->spare_rows) {
    std::free(src->rows);
    std::free(src->spare_rows);
    std::free(src);
    return nullptr;
  }
  src->kind = kind;
  src->width = static_cast<int32_t>(width);
  src->height = static_cast<int32_t>(height);
  src->row_bytes = static_cast<int32_t>(width * 3);
  src->soft_limit = IMAGE_SOFT_LIMIT;
  src->hard_limit = IMAGE_HARD_LIMIT;
  return src;
}

static ImageSource *image_source_open_tiff(TIFF *tiff) {
  uint32_t width = 0, height = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  ImageSource *src = tiff_is_plain_rgb(tiff, width)
                         ? image_source_new(IMAGE_KIND_TIFF, width, height)
                         : nullptr;
  if (!src) {
    TIFFClose(tiff);
    return nullptr;
  }
  src->tiff = tiff;
  uint16_t compression = COMPRESSION_NONE;
  uint32_t strip_rows = 0;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &strip_rows);
  if (compression != COMPRESSION_NONE) {
    const uint32_t h = static_cast<uint32_t>(src->height);
    src->tiff_strip_rows = static_cast<int32_t>(strip_rows == 0 || strip_rows > h ? h : strip_rows);
  }
  src->tiff_next_row = -1;
  return src;
}

static ImageSource *image_source_open_jpeg(const char *path) {
  JpegState *st = jpeg_reader_open(path);
  if (!st) return nullptr;
  ImageSource *src = image_source_new(IMAGE_KIND_JPEG, static_cast<uint32_t>(st->width),
                                      static_cast<uint32_t>(st->height));
  if (!src) {
    jpeg_reader_close(st);
    return nullptr;
  }
  src->jpeg = st;
  return src;
}

ImageSource *image_source_open(const char *path) {
  if (!path) return nullptr;
  FILE *f = std::fopen(path, "rb");
  if (!f) return nullptr;
  unsigned char mark[2] = {0, 0};
  size_t got = std::fread(mark, 1, 2, f);
  std::fclose(f);
  if (got == 2 && mark[0] == mark[1] && (mark[0] == 'M' || mark[0] == 'I')) {
    // "m": no memory mapping. A mapped 700 MB file would count every page it touched
    // in the process's resident memory, beside the row store's own bounded buffers.
    TIFF *tiff = TIFFOpen(path, "rm");
    if (tiff) return image_source_open_tiff(tiff);
  }
  // Everything else, including a TIFF mark that libtiff refused, is tried as JPEG; libjpeg
  // says on stderr what is wrong with it.
  return image_source_open_jpeg(path);
}

void image_source_close(ImageSource *src) {
  if (!src) return;
  for (int32_t y = 0; y < src->height; ++y) std::free(src->rows[y].buffer);
  std::free(src->rows);
  std::free(src->sums);
  if (src->tiff) TIFFClose(src->tiff);
  jpeg_reader_close(src->jpeg);
  std::free(src->parked_row);
  for (int i = 0; i < IMAGE_SPARE_SLOTS; ++i) std::free(src->spare_rows[i]);
  std::free(src->spare_rows);
  std::free(src);
}
