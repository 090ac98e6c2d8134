#include "prepare_error.h"

#include <cstdarg>
#include <cstdio>

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
