#include "progress.h"

#include <cstring>
#include <ctime>

double progress_clock(void) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void progress_begin(Progress *p, FILE *out, int terminal, const char *label, const char *unit,
                    int64_t total) {
  std::memset(p, 0, sizeof *p);
  p->out = out;
  p->terminal = terminal;
  std::snprintf(p->label, sizeof p->label, "%s", label);
  std::snprintf(p->unit, sizeof p->unit, "%s", unit);
  p->total = total > 0 ? total : 1;
  p->clock = progress_clock;
  p->start = p->last_draw = p->clock();
  p->last_tenth = 0;
}

static double rate_of(const Progress *p, double now) {
  const double elapsed = now - p->start;
  return elapsed > 0 ? static_cast<double>(p->done) / elapsed : 0.0;
}

static void draw_bar(const Progress *p, double now) {
  enum { BAR = 30 };
  const int percent = static_cast<int>(p->done * 100 / p->total);
  const int filled = static_cast<int>(p->done * BAR / p->total);
  char bar[BAR + 1];
  for (int i = 0; i < BAR; ++i) bar[i] = i < filled ? '#' : '.';
  bar[BAR] = '\0';
  std::fprintf(p->out, "\r%-20s [%s] %lld/%lld %s %3d%% %.0f %s/s\033[K", p->label, bar,
               static_cast<long long>(p->done), static_cast<long long>(p->total), p->unit,
               percent, rate_of(p, now), p->unit);
  std::fflush(p->out);
}

static void draw_line(const Progress *p, double now) {
  std::fprintf(p->out, "%s: %lld/%lld %s (%d%%), %.0f %s/s\n", p->label,
               static_cast<long long>(p->done), static_cast<long long>(p->total), p->unit,
               static_cast<int>(p->done * 100 / p->total), rate_of(p, now), p->unit);
  std::fflush(p->out);
}

void progress_update(Progress *p, int64_t done) {
  if (!p->out) return;
  p->done = done < p->total ? done : p->total;
  const double now = p->clock();
  if (p->terminal) {
    if (now - p->last_draw >= 0.1 || p->done == p->total) {
      p->last_draw = now;
      draw_bar(p, now);
    }
    return;
  }
  const int tenth = static_cast<int>(p->done * 10 / p->total);
  if (tenth > p->last_tenth && tenth < 10) {
    p->last_tenth = tenth;
    draw_line(p, now);
  }
}

void progress_end(Progress *p, int ok) {
  if (!p->out) return;
  const double now = p->clock();
  if (p->terminal) {
    if (ok) {
      p->done = p->total;
      draw_bar(p, now);
    }
    std::fprintf(p->out, ok ? "\n" : " failed\n");
  } else if (ok) {
    p->done = p->total;
    std::fprintf(p->out, "%s: done, %lld %s in %.1f s\n", p->label,
                 static_cast<long long>(p->total), p->unit, now - p->start);
  } else {
    std::fprintf(p->out, "%s: failed after %lld/%lld %s\n", p->label,
                 static_cast<long long>(p->done), static_cast<long long>(p->total), p->unit);
  }
  std::fflush(p->out);
}
