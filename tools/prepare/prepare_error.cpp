#include "prepare_error.h"

#include <cstdarg>
#include <cstdio>

#include <tiffio.h>

int prepare_fail(PrepareError *err, const char *format, ...) {
  if (err && err->text[0] == '\0') {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(err->text, sizeof err->text, format, ap);
    va_end(ap);
  }
  return 1;
}

void prepare_error_clear(PrepareError *err) {
  if (err) err->text[0] = '\0';
}

static char tiff_message[512];

static void keep_tiff_message(const char *module, const char *fmt, va_list ap) {
  char text[400];
  std::vsnprintf(text, sizeof text, fmt, ap);
  std::snprintf(tiff_message, sizeof tiff_message, "%s%s%s", module ? module : "",
                module ? ": " : "", text);
}

static void drop_tiff_warning(const char *, const char *, va_list) {}

TiffMessageTrap::TiffMessageTrap(bool drop_warnings)
    : old_error_(TIFFSetErrorHandler(keep_tiff_message)),
      old_warning_(drop_warnings ? TIFFSetWarningHandler(drop_tiff_warning) : nullptr),
      drop_warnings_(drop_warnings) {
  tiff_message[0] = '\0';
}

TiffMessageTrap::~TiffMessageTrap() {
  TIFFSetErrorHandler(old_error_);
  if (drop_warnings_) TIFFSetWarningHandler(old_warning_);
}

const char *TiffMessageTrap::message(const char *fallback) {
  return tiff_message[0] ? tiff_message : fallback;
}
