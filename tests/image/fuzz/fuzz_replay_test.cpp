// Replays the fuzz target over damaged copies of small good files (every truncation
// length class and byte flips across the headers and data) and over any past crashers
// kept in tests/image/fuzz/crashers/. Under ASan and UBSan a memory fault fails the run.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <tiffio.h>

#include "fixtures.h"
#include "fuzz_open_sample.h"

namespace {

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void run(const std::string &bytes) {
  fuzz_open_sample(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

// Truncations and single-byte flips of `good`, run quietly (libjpeg and libtiff complain).
void damage_and_run(const std::string &good) {
  testing::internal::CaptureStderr();
  for (size_t len = 0; len < good.size(); len += 1 + len / 4) run(good.substr(0, len));
  const size_t header = good.size() < 400 ? good.size() : 400;
  for (size_t i = 0; i < header; ++i) {
    std::string b = good;
    b[i] = static_cast<char>(b[i] ^ 0xFF);
    run(b);
  }
  for (size_t i = header; i < good.size(); i += 97) {
    std::string b = good;
    b[i] = static_cast<char>(b[i] ^ 0x55);
    run(b);
  }
  testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(FuzzReplay, DamagedJpegs) {
  const std::string dir = fixture::make_temp_dir("fuzz");
  fixture::JpegOptions markers;
  markers.restart_rows = 2;
  ASSERT_TRUE(fixture::write_jpeg(dir + "/a.jpg", 27, 19, fixture::pattern_rows(27)));
  ASSERT_TRUE(fixture::write_jpeg(dir + "/b.jpg", 40, 33, fixture::pattern_rows(40), markers));
  damage_and_run(read_all(dir + "/a.jpg"));
  damage_and_run(read_all(dir + "/b.jpg"));
  fixture::remove_tree(dir);
}

TEST(FuzzReplay, DamagedTiffs) {
  const std::string dir = fixture::make_temp_dir("fuzz");
  fixture::TiffOptions deflate;
  deflate.compression = COMPRESSION_ADOBE_DEFLATE;
  deflate.rows_per_strip = 4;
  fixture::TiffOptions mm;
  mm.big_endian = true;
  mm.rows_per_strip = 3;
  ASSERT_TRUE(fixture::write_tiff(dir + "/a.tif", 11, 9, fixture::pattern_rows(11), mm));
  ASSERT_TRUE(fixture::write_tiff(dir + "/b.tif", 23, 17, fixture::pattern_rows(23), deflate));
  damage_and_run(read_all(dir + "/a.tif"));
  damage_and_run(read_all(dir + "/b.tif"));
  fixture::remove_tree(dir);
}

TEST(FuzzReplay, PastCrashers) {
  const std::string dir = MUNDOSCOPE_FUZZ_CRASHERS;
  DIR *d = opendir(dir.c_str());
  if (!d) GTEST_SKIP() << "no crashers kept in " << dir;
  std::vector<std::string> files;
  while (dirent *e = readdir(d))
    if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
  closedir(d);
  testing::internal::CaptureStderr();
  for (const std::string &f : files) run(read_all(f));
  testing::internal::GetCapturedStderr();
}
