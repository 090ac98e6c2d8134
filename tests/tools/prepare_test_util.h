// Helpers shared by the mundoscope-prepare tests: reading a written map back, the
// files of a folder, a file's bytes.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace prep {

// Decodes a whole (small) map through the image source, as the viewer reads it.
// Empty when it does not open.
std::vector<uint8_t> read_map(const std::string &path, int *width, int *height);

// Names of the entries of a folder (without "." and ".."); empty if it does not exist.
std::set<std::string> list_dir(const std::string &path);

// The whole content of a file; empty if it cannot be read.
std::string file_bytes(const std::string &path);

bool exists(const std::string &path);

// 4 x 4 block averages (sum >> 4) of a width x height RGB image.
std::vector<uint8_t> block_average4(const std::vector<uint8_t> &img, int width, int height);

}  // namespace prep
