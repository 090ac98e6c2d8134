#pragma once

#include <cstdio>

// Restores the view, main-window geometry and dialog position from viewparam.dat.
// Returns 1 (nothing changed) without a view, a primary image or a readable file; else 0.
int load_view_params();

// Writes viewparam.dat through a temporary file renamed over it. Returns 1 without a
// view or primary image, 1 when the file cannot be written, else 0.
int save_view_params();

// Loads the rows around a full-resolution view into the row store before the first
// picture: from 500 rows above pos_y, twice the view's height deep. Does nothing unless
// CurrentZoomLevel is 1.
void prefetch_view_rows();

enum { VIEW_PARAM_COUNT = 9 };

// Reads up to `max` decimal integers separated by white space from f, as "%d" would, but
// stops at an integer that does not fit an int as at any other non-integer text.
// Returns how many were stored in values; the others are left as they were.
int read_view_values(std::FILE *f, int *values, int max);

// Applies the nine values (column, row, level, main window x, y, w, h, dialog x, y) to
// the view, the zoom buttons, MainWindow and GotoDialog; each of the three groups only
// when it passes its checks. Needs MapView with a primary image.
void apply_view_values(const int values[VIEW_PARAM_COUNT]);
