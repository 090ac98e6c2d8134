#include "prepare_test_util.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <sys/stat.h>

#include "image_source.h"

namespace prep {

std::vector<uint8_t> read_map(const std::string &path, int *width, int *height) {
  std::vector<uint8_t> img;
  ImageSource *src = image_source_open(path.c_str());
  if (!src) return img;
  *width = src->width;
  *height = src->height;
  const size_t row_bytes = static_cast<size_t>(src->width) * 3;
  img.resize(row_bytes * src->height);
  for (int y = 0; y < src->height; ++y) {
    const uint8_t *row = image_source_fetch_row(src, y, y, y + 1);
    if (!row) {
      img.clear();
      break;
    }
    std::memcpy(img.data() + row_bytes * y, row, row_bytes);
    image_source_finish_row(src, y);
  }
  image_source_close(src);
  return img;
}

std::set<std::string> list_dir(const std::string &path) {
  std::set<std::string> names;
  DIR *d = opendir(path.c_str());
  if (!d) return names;
  while (dirent *e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.insert(e->d_name);
  }
  closedir(d);
  return names;
}

std::string file_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<uint8_t> block_average4(const std::vector<uint8_t> &img, int width, int height) {
  const int ow = width / 4, oh = height / 4;
  std::vector<uint8_t> out(static_cast<size_t>(ow) * oh * 3);
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int dy = 0; dy < 4; ++dy)
          for (int dx = 0; dx < 4; ++dx)
            sum += img[(static_cast<size_t>(y * 4 + dy) * width + x * 4 + dx) * 3 + c];
        out[(static_cast<size_t>(y) * ow + x) * 3 + c] = static_cast<uint8_t>(sum >> 4);
      }
  return out;
}

}  // namespace prep
