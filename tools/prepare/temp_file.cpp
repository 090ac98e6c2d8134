#include "temp_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Paths of temporary files not yet committed, read by the signal handler: fixed
// storage and a flag per entry, no allocation.
enum { TEMP_SLOTS = 8 };
static char slot_path[TEMP_SLOTS][PATH_MAX];
static volatile sig_atomic_t slot_used[TEMP_SLOTS];

static int claim_slot(const char *path) {
  for (int i = 0; i < TEMP_SLOTS; ++i) {
    if (!slot_used[i]) {
      std::snprintf(slot_path[i], sizeof slot_path[i], "%s", path);
      slot_used[i] = 1;
      return i;
    }
  }
  return -1;
}

static void release_slot(int slot) {
  if (slot >= 0 && slot < TEMP_SLOTS) slot_used[slot] = 0;
}

int temp_file_create(TempFile *tf, const char *final_path, PrepareError *err) {
  tf->fd = -1;
  tf->slot = -1;
  tf->temp_path[0] = '\0';
  if (std::snprintf(tf->final_path, sizeof tf->final_path, "%s", final_path) >=
          static_cast<int>(sizeof tf->final_path) ||
      std::snprintf(tf->temp_path, sizeof tf->temp_path, "%s.tmp-XXXXXX", final_path) >=
          static_cast<int>(sizeof tf->temp_path)) {
    tf->temp_path[0] = '\0';
    return prepare_fail(err, "path too long: %s", final_path);
  }
  tf->fd = mkstemp(tf->temp_path);
  if (tf->fd < 0) {
    const int e = errno;
    tf->temp_path[0] = '\0';
    return prepare_fail(err, "cannot write %s: %s", final_path, std::strerror(e));
  }
  tf->slot = claim_slot(tf->temp_path);
  // mkstemp makes the file private; a data file is as readable as any other.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(tf->fd, 0644 & ~mask);
  return 0;
}

int temp_file_close(TempFile *tf, PrepareError *err) {
  if (tf->fd < 0) return 0;
  int status = 0;
  if (fsync(tf->fd) != 0 && errno != EINVAL)
    status = prepare_fail(err, "cannot write %s: %s", tf->final_path, std::strerror(errno));
  if (close(tf->fd) != 0 && status == 0)
    status = prepare_fail(err, "cannot write %s: %s", tf->final_path, std::strerror(errno));
  tf->fd = -1;
  return status;
}

int temp_file_commit(TempFile *tf, PrepareError *err) {
  if (tf->temp_path[0] == '\0') return prepare_fail(err, "nothing to rename to %s", tf->final_path);
  if (temp_file_close(tf, err)) {
    temp_file_discard(tf);
    return 1;
  }
  if (std::rename(tf->temp_path, tf->final_path) != 0) {
    const int e = errno;
    temp_file_discard(tf);
    return prepare_fail(err, "cannot write %s: %s", tf->final_path, std::strerror(e));
  }
  release_slot(tf->slot);
  tf->slot = -1;
  tf->temp_path[0] = '\0';
  return 0;
}

void temp_file_discard(TempFile *tf) {
  if (tf->fd >= 0) close(tf->fd);
  tf->fd = -1;
  if (tf->temp_path[0] != '\0') unlink(tf->temp_path);
  tf->temp_path[0] = '\0';
  release_slot(tf->slot);
  tf->slot = -1;
}

void temp_files_remove_all(void) {
  for (int i = 0; i < TEMP_SLOTS; ++i)
    if (slot_used[i]) unlink(slot_path[i]);
}

static void cleanup_and_die(int sig) {
  temp_files_remove_all();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void temp_files_install_signal_cleanup(void) {
  std::signal(SIGINT, cleanup_and_die);
  std::signal(SIGTERM, cleanup_and_die);
  std::signal(SIGHUP, cleanup_and_die);
}
