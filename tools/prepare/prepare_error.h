// The one-line message that a failed preparation step leaves for the user.
#pragma once

#include <cstdarg>

struct PrepareError {
  char text[1024];
};

// Formats the message (printf style) into `err`, if not null; the first failure wins,
// so a cleanup step after it cannot hide the cause. Always returns 1, the failure status.
int prepare_fail(PrepareError *err, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Clears the message.
void prepare_error_clear(PrepareError *err);

// While one lives, libtiff's error messages are kept for the one-line reason instead of
// being printed (and its warnings dropped, if asked); the old handlers come back at its end.
class TiffMessageTrap {
 public:
  explicit TiffMessageTrap(bool drop_warnings = false);
  ~TiffMessageTrap();
  TiffMessageTrap(const TiffMessageTrap &) = delete;
  TiffMessageTrap &operator=(const TiffMessageTrap &) = delete;

  // The last message libtiff reported while a trap was set, or `fallback` if none.
  static const char *message(const char *fallback);

 private:
  void (*old_error_)(const char *, const char *, va_list);
  void (*old_warning_)(const char *, const char *, va_list);
  bool drop_warnings_;
};
