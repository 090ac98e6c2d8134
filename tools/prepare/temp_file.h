// Data files are written under a temporary name in their own folder and renamed over
// the final name only when complete, so a failure or an interruption never leaves a
// half-written map where the viewer looks for one.
#pragma once

#include <climits>

#include "prepare_error.h"

struct TempFile {
  char final_path[PATH_MAX];
  char temp_path[PATH_MAX];  // empty once committed or discarded
  int fd;                    // open descriptor of the temporary file, -1 once closed
  int slot;                  // entry in the table that an interrupt handler cleans up
};

// Creates a new empty temporary file beside final_path (same folder, so the rename
// is atomic). Returns 0, or 1 with err set when the folder cannot be written.
int temp_file_create(TempFile *tf, const char *final_path, PrepareError *err);

// Flushes the file to disk and closes its descriptor if still open. Returns 0, or 1
// with err set.
int temp_file_close(TempFile *tf, PrepareError *err);

// Closes and renames the temporary file over final_path. Returns 0, or 1 with err set
// (the temporary file is then removed).
int temp_file_commit(TempFile *tf, PrepareError *err);

// Closes and removes the temporary file unless it was committed. Safe to call twice.
void temp_file_discard(TempFile *tf);

// Removes every temporary file not yet committed; async-signal-safe, for an
// interrupt handler that then ends the process.
void temp_files_remove_all(void);

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove the temporary files and
// then end the process by the same signal.
void temp_files_install_signal_cleanup(void);
