// Progress of a long step on the standard error stream: a bar redrawn in place on a
// terminal, or a line at every tenth of the work when the stream is a file or a pipe.
#pragma once

#include <cstdint>
#include <cstdio>

struct Progress {
  FILE *out;            // null: report nothing
  int terminal;         // redraw one line in place
  char label[64];       // what is being made, e.g. "VisibleEarth.dat"
  char unit[16];        // "rows" or "MB"
  int64_t total;
  int64_t done;
  double start;         // seconds, monotonic clock
  double last_draw;
  int last_tenth;       // the last tenth reported on a non-terminal
  double (*clock)(void);// seconds; the monotonic clock unless a test sets one
};

// The monotonic clock in seconds.
double progress_clock(void);

// Starts reporting `total` units of `label` on `out` (nothing when out is null).
void progress_begin(Progress *p, FILE *out, int terminal, const char *label, const char *unit,
                    int64_t total);

// Records that `done` units are complete; draws at most ten times a second.
void progress_update(Progress *p, int64_t done);

// Closes the report: the final state and a line end, or a note that it failed.
void progress_end(Progress *p, int ok);
