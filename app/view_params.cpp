// viewparam.dat: the view, the main window's geometry and the Goto dialog's position,
// remembered from one run to the next as one line of ten integers.
#include "view_params.h"

#include <cctype>
#include <climits>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>

#include "image_source.h"
#include "irgb_view.h"
#include "program.h"

enum { PATH_SIZE = RESOURCE_DIR_SIZE + 32 };

// Returns 0 and the file's path in out, or 1 if it does not fit.
static int view_params_path(char *out, size_t size, const char *suffix) {
  const int n = std::snprintf(out, size, "%sviewparam.dat%s", ResourceDir, suffix);
  return (n < 0 || static_cast<size_t>(n) >= size) ? 1 : 0;
}

int read_view_values(std::FILE *f, int *values, int max) {
  int count = 0;
  while (count < max) {
    int c;
    do c = std::getc(f); while (c != EOF && std::isspace(c));
    const bool negative = (c == '-');
    if (c == '-' || c == '+') c = std::getc(f);
    if (c == EOF || !std::isdigit(c)) break;
    // Accumulate with a bound, so that a long run of digits can neither overflow here
    // nor be taken modulo 2^32 as an undefined "%d" conversion might.
    long long v = 0;
    bool too_big = false;
    for (; c != EOF && std::isdigit(c); c = std::getc(f)) {
      if (!too_big) {
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) too_big = true;
      }
    }
    if (c != EOF) std::ungetc(c, f);
    if (negative) v = -v;
    if (too_big || v > INT_MAX || v < INT_MIN) break;
    values[count++] = static_cast<int>(v);
  }
  return count;
}

void apply_view_values(const int values[VIEW_PARAM_COUNT]) {
  const ImageSource *img = MapView ? MapView->image() : nullptr;
  if (!img) return;

  int col = values[0], row = values[1];
  const int level = values[2];
  if (level >= 1 && level <= 4) {
    if (col < 0) col = 0;
    if (row < 0) row = 0;
    // Keeps at least 200 pixels of map right of and below the view's corner.
    if (col > img->width - 200) col = img->width - 200;
    if (row > img->height - 200) row = img->height - 200;
    if (col >= 0 && col < img->width && row >= 0 && row < img->height) {
      MapView->set_position(col, row);
      MapView->zoom(level);
      CurrentZoomLevel = level;
      if (level == 4 && ZoomOutButton) ZoomOutButton->deactivate();
      if (level == 1 && ZoomInButton) ZoomInButton->deactivate();
    }
  }

  const int mx = values[3], my = values[4], mw = values[5], mh = values[6];
  if (MainWindow && mx >= 1 && mx <= 4095 && my >= 1 && my <= 4095 && mw >= 1 && mh >= 1)
    MainWindow->resize(mx, my, mw, mh);

  const int dx = values[7], dy = values[8];
  if (GotoDialog && dx >= 1 && dx <= 4095 && dy >= 1 && dy <= 4095)
    GotoDialog->resize(dx, dy, GotoDialog->w(), GotoDialog->h());
}

int load_view_params() {
  if (!MapView || !MapView->image()) return 1;
  char path[PATH_SIZE];
  if (view_params_path(path, sizeof path, "")) return 1;
  std::FILE *f = std::fopen(path, "r");
  if (!f) return 1;

  int values[VIEW_PARAM_COUNT] = {0, 0, 1, 0, 0, 0, 0, 0, 0};
  read_view_values(f, values, VIEW_PARAM_COUNT);
  // A file that opens but cannot be read (a folder of that name, an I/O error) counts
  // as unreadable, like one that does not open.
  const bool unreadable = std::ferror(f) != 0;
  std::fclose(f);
  if (unreadable) return 1;

  apply_view_values(values);
  return 0;
}

int save_view_params() {
  const ImageSource *img = MapView ? MapView->image() : nullptr;
  if (!img) return 1;
  char path[PATH_SIZE], temp[PATH_SIZE];
  if (view_params_path(path, sizeof path, "") || view_params_path(temp, sizeof temp, ".XXXXXX"))
    return 1;

  // The new content goes to a temporary file beside the old one and is renamed over
  // it, so a failed or interrupted write never leaves a torn or empty file behind.
  const int fd = mkstemp(temp);
  if (fd < 0) return 1;
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);  // as a file made by fopen "w" would be
  std::FILE *f = fdopen(fd, "w");
  if (!f) {
    close(fd);
    unlink(temp);
    return 1;
  }

  const int mx = MainWindow ? MainWindow->x() : 0, my = MainWindow ? MainWindow->y() : 0;
  const int mw = MainWindow ? MainWindow->w() : 0, mh = MainWindow ? MainWindow->h() : 0;
  const int dx = GotoDialog ? GotoDialog->x() : 0, dy = GotoDialog ? GotoDialog->y() : 0;
  const long stamp = static_cast<long>(std::time(nullptr));
  bool ok = std::fprintf(f, "%d %d %d %d %d %d %d %d %d %ld", img->pos_x, img->pos_y,
                         MapView->zoom(), mx, my, mw, mh, dx, dy, stamp) > 0;
  ok = std::fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(temp, path) != 0) {
    unlink(temp);
    return 1;
  }
  return 0;
}

void prefetch_view_rows() {
  if (!MapView || CurrentZoomLevel != 1) return;
  ImageSource *img = MapView->image();
  if (!img) return;
  int w = MapView->w(), h = MapView->h();
  if (w <= 0 || h <= 0) return;
  // Rows and columns beyond the image do not exist; capping the window at the image's
  // size loads the same rows and keeps a huge restored window out of the arithmetic.
  if (w > img->width) w = img->width;
  if (h > img->height) h = img->height;

  // Moved directly, not through set_position: no clamping and no resampling mark.
  const int kept = img->pos_y;
  img->pos_y = kept - 500 < 0 ? 0 : kept - 500;
  image_source_sample(img, w, h, -2);
  img->pos_y = kept;
}
