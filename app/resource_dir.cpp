// The resource directory. Linux has no bundle service, so the bundle is found from the
// executable's own path: Mundoscope.app/Contents/Linux/mundoscope, data in
// Mundoscope.app/Contents/Resources/.
#include "resource_dir.h"

#include <cstring>

#include <unistd.h>

#include "program.h"

namespace {

const char kSuffix[] = "/Contents/Resources/";

// Length of the folder part of path[0, len): up to, not including, the last '/'.
size_t parent_length(const char *path, size_t len) {
  while (len > 0 && path[len - 1] != '/') --len;
  return len > 0 ? len - 1 : 0;
}

}  // namespace

int bundle_path_for_executable(const char *exe_path, char *out, size_t out_size) {
  if (out_size > 0) out[0] = '\0';
  if (!exe_path || exe_path[0] != '/' || out_size == 0) return 1;
  const size_t exe_dir = parent_length(exe_path, std::strlen(exe_path));
  size_t bundle = exe_dir;
  if (exe_dir > 0) {
    // exe_path[name_at, above) is the last component of the folder above exe_dir.
    const size_t above = parent_length(exe_path, exe_dir);
    const size_t name_at = above > 0 ? parent_length(exe_path, above) + 1 : 0;
    const char name[] = "Contents";
    if (above > name_at && above - name_at == sizeof name - 1 &&
        std::memcmp(exe_path + name_at, name, sizeof name - 1) == 0)
      bundle = name_at - 1;
  }
  if (bundle >= out_size) return 1;
  std::memcpy(out, exe_path, bundle);
  out[bundle] = '\0';
  return 0;
}

void locate_resources() {
  ResourceDir[0] = '\0';
  char exe[RESOURCE_DIR_SIZE * 2];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  if (n > 0 && static_cast<size_t>(n) < sizeof exe) {
    exe[n] = '\0';
    char bundle[RESOURCE_DIR_SIZE];
    if (bundle_path_for_executable(exe, bundle, sizeof bundle) == 0 &&
        std::strlen(bundle) + sizeof kSuffix <= sizeof ResourceDir)
      std::strcpy(ResourceDir, bundle);
  }
  std::strcat(ResourceDir, kSuffix);
}
