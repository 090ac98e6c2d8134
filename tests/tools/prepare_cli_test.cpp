// The mundoscope-prepare program itself on a real-size map: a flat-colour 21600 x 10800
// JPEG (cheap to make and to decode), copied and re-encoded with a graticule; its exit
// statuses, messages and progress lines.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "graticule.h"
#include "image_source.h"
#include "prepare_test_util.h"

namespace {

const uint8_t Flat[3] = {30, 90, 160};

struct ToolRun {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs mundoscope-prepare with the arguments, standard output and error caught in files.
ToolRun run_tool(const std::string &dir, const std::vector<std::string> &args) {
  std::vector<std::string> argv_s = {PREPARE_TOOL};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &s : argv_s) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  const std::string out = dir + "/stdout.txt", err = dir + "/stderr.txt";
  ToolRun r;
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr)) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int ws = 0;
  if (pid > 0 && waitpid(pid, &ws, 0) == pid && WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
  r.out = prep::file_bytes(out);
  r.err = prep::file_bytes(err);
  return r;
}

long count_lines(const std::string &s) { return std::count(s.begin(), s.end(), '\n'); }

class PrepareCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fixture::make_temp_dir("prepare-cli");
    source_ = dir_ + "/flat.jpg";
    ok_ = !dir_.empty() &&
          fixture::write_jpeg(source_, 21600, 10800, fixture::flat_rows(21600, Flat[0], Flat[1], Flat[2]));
  }
  static void TearDownTestSuite() { fixture::remove_tree(dir_); }
  void SetUp() override { ASSERT_TRUE(ok_); }
  static std::string dir_, source_;
  static bool ok_;
};
std::string PrepareCli::dir_, PrepareCli::source_;
bool PrepareCli::ok_ = false;

TEST_F(PrepareCli, CopiesAFullSizeJpegAndAveragesItsOverview) {
  const std::string bundle = dir_ + "/Copy.app";
  const ToolRun r = run_tool(dir_, {source_, bundle});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("VisibleEarth.dat: copied from"), std::string::npos) << r.out;
  // Off a terminal, progress comes as a few lines, never as a redrawn bar.
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_LE(count_lines(r.err), 22) << r.err;
  EXPECT_NE(r.err.find("VisibleEarth_25.dat: done, 2700 rows"), std::string::npos) << r.err;

  const std::string res = bundle + "/Contents/Resources/";
  EXPECT_EQ(prep::list_dir(res), (std::set<std::string>{"VisibleEarth.dat", "VisibleEarth_25.dat"}));
  EXPECT_TRUE(prep::file_bytes(res + "VisibleEarth.dat") == prep::file_bytes(source_));
  int w = 0, h = 0;
  const std::vector<uint8_t> ov = prep::read_map(res + "VisibleEarth_25.dat", &w, &h);
  ASSERT_EQ(w, 5400);
  ASSERT_EQ(h, 2700);
  int worst = 0;
  for (size_t i = 0; i < ov.size(); ++i) worst = std::max(worst, std::abs(ov[i] - Flat[i % 3]));
  EXPECT_LE(worst, 2);
}

TEST_F(PrepareCli, ReencodesWithAGraticuleAtTheMapsPositions) {
  const std::string bundle = dir_ + "/Grid.app";
  const ToolRun r = run_tool(dir_, {"--graticule", "--compression=deflate", source_, bundle});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("resampled to 21600 x 10800, TIFF, deflate, with graticule"), std::string::npos)
      << r.out;
  const std::string res = bundle + "/Contents/Resources/";
  ImageSource *full = image_source_open((res + "VisibleEarth.dat").c_str());
  ImageSource *ov = image_source_open((res + "VisibleEarth_25.dat").c_str());
  ASSERT_NE(full, nullptr);
  ASSERT_NE(ov, nullptr);
  EXPECT_EQ(full->kind, IMAGE_KIND_TIFF);
  EXPECT_EQ(full->width, 21600);
  EXPECT_EQ(full->height, 10800);
  EXPECT_EQ(ov->width, 5400);
  EXPECT_EQ(ov->height, 2700);

  // Lines every 600 pixels: longitude 30 E is column 30 / 180 * 10800 + 10800 = 12600,
  // latitude 30 (south, in this map's sense) row 30 / 90 * 5400 + 5400 = 7200.
  const auto pixel = [&](int y, int x) {
    const uint8_t *row = image_source_fetch_row(full, y, y, y + 1);
    std::vector<uint8_t> p(row + x * 3, row + x * 3 + 3);
    image_source_finish_row(full, y);
    return p;
  };
  const std::vector<uint8_t> flat(Flat, Flat + 3);
  const std::vector<uint8_t> line(GraticuleColour, GraticuleColour + 3);
  const std::vector<uint8_t> main(GraticuleMainColour, GraticuleMainColour + 3);
  EXPECT_EQ(pixel(300, 12598), line);
  EXPECT_EQ(pixel(300, 12601), line);
  EXPECT_EQ(pixel(300, 12602), flat);
  EXPECT_EQ(pixel(300, 12597), flat);
  EXPECT_EQ(pixel(300, 10800), main);
  EXPECT_EQ(pixel(7199, 5), line);
  EXPECT_EQ(pixel(7202, 5), flat);
  EXPECT_EQ(pixel(5400, 300), main);

  // The lossless overview is the 4 x 4 block average of the full map, band by band,
  // here across the equator's rows.
  const int y0 = 5392;
  std::vector<uint8_t> band(static_cast<size_t>(21600) * 16 * 3);
  for (int y = 0; y < 16; ++y) {
    const uint8_t *row = image_source_fetch_row(full, y0 + y, y0 + y, y0 + y + 1);
    ASSERT_NE(row, nullptr);
    std::memcpy(band.data() + static_cast<size_t>(y) * 21600 * 3, row, 21600 * 3);
    image_source_finish_row(full, y0 + y);
  }
  const std::vector<uint8_t> want = prep::block_average4(band, 21600, 16);
  std::vector<uint8_t> got;
  for (int y = y0 / 4; y < y0 / 4 + 4; ++y) {
    const uint8_t *row = image_source_fetch_row(ov, y, y, y + 1);
    ASSERT_NE(row, nullptr);
    got.insert(got.end(), row, row + 5400 * 3);
    image_source_finish_row(ov, y);
  }
  EXPECT_TRUE(got == want);
  image_source_close(full);
  image_source_close(ov);
}

TEST_F(PrepareCli, ExitStatusesAndOneLineErrors) {
  const std::string file = dir_ + "/plain-file";
  ASSERT_TRUE(fixture::write_bytes(file, "x"));
  struct Case {
    const char *name;
    std::vector<std::string> args;
    int status;
    const char *err_start;  // the whole of stderr begins with this and is one line
  };
  const std::vector<Case> cases = {
      {"missing source", {dir_ + "/none.jpg", dir_ + "/A.app"}, 1, "mundoscope-prepare: cannot read "},
      {"text source", {file, dir_ + "/A.app"}, 1, "mundoscope-prepare: cannot read "},
      {"bundle below a file", {source_, file + "/A.app"}, 1, "mundoscope-prepare: cannot create folder "},
      {"one argument", {source_}, 2, "mundoscope-prepare: expected SOURCE and BUNDLE"},
      {"unknown format", {"--format=png", source_, dir_ + "/A.app"}, 2, "mundoscope-prepare: --format"},
      {"quality out of range", {"-q", "0", source_, dir_ + "/A.app"}, 2, "mundoscope-prepare: --quality"},
      {"quality for TIFF", {"-f", "tiff", "-q", "80", source_, dir_ + "/A.app"}, 2, "mundoscope-prepare: --quality"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const ToolRun r = run_tool(dir_, c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.rfind(c.err_start, 0), 0u) << r.err;
    EXPECT_EQ(count_lines(r.err), c.status == 2 ? 2 : 1) << r.err;  // usage errors add a hint
    EXPECT_FALSE(prep::exists(dir_ + "/A.app"));
  }
  const ToolRun help = run_tool(dir_, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: mundoscope-prepare [options] SOURCE BUNDLE\n", 0), 0u);
  EXPECT_NE(help.out.find("--graticule"), std::string::npos);
}

}  // namespace
