// Opening and sampling arbitrary bytes: whatever the file holds, the source opens or gives
// null, samples within its buffers and closes cleanly. Built as a libFuzzer target with
// -DMUNDOSCOPE_FUZZ=ON (clang), and replayed by a CTest test in every build.
#include "fuzz_open_sample.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "image_source.h"

int fuzz_open_sample(const uint8_t *data, size_t size) {
  const char *base = std::getenv("TMPDIR");
  std::string path = std::string(base && *base ? base : "/tmp") + "/mundoscope-fuzz-XXXXXX";
  int fd = mkstemp(&path[0]);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  ImageSource *src = image_source_open(path.c_str());
  if (src) {
    // Sizes beyond what a small input can back are not worth sampling in a fuzz run.
    if (static_cast<int64_t>(src->width) * src->height <= (int64_t(1) << 22)) {
      src->soft_limit = static_cast<uint32_t>(src->row_bytes) * 4;
      src->hard_limit = static_cast<uint32_t>(src->row_bytes) * 8;
      const int factors[] = {1, 2, 4, 8, 3, -2, 0};
      int k = 0;
      for (int f : factors) {
        src->pos_x = (k * 7) % (src->width + 1);
        src->pos_y = (k * 5) % (src->height + 1);
        image_source_sample(src, 13 + k, 9 + k, f);
        ++k;
      }
      src->pos_x = 0;
      src->pos_y = 0;
      image_source_sample(src, 16, 16, 1);  // back up: a JPEG restart
    }
    uint8_t *out = src->out_buffer;
    image_source_close(src);
    std::free(out);
  }
  std::remove(path.c_str());
  return 0;
}

#ifdef MUNDOSCOPE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return fuzz_open_sample(data, size);
}
#endif
