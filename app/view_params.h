#pragma once

// Restores the view, main-window geometry and dialog position from viewparam.dat.
// Returns 1 (nothing changed) without a view, a primary image or a readable file; else 0.
int load_view_params();

// Writes viewparam.dat through a temporary file renamed over it. Returns 1 without a
// view or primary image, 1 when the file cannot be written, else 0.
int save_view_params();

// Loads the rows around a full-resolution view into the row store before the first
// picture: from 500 rows above pos_y, twice the view's height deep.
void prefetch_view_rows();
