// The one-line message that a failed preparation step leaves for the user.
#pragma once

struct PrepareError {
  char text[1024];
};

// Formats the message (printf style) into `err`, if not null; the first failure wins,
// so a cleanup step after it cannot hide the cause. Always returns 1, the failure status.
int prepare_fail(PrepareError *err, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Clears the message.
void prepare_error_clear(PrepareError *err);
