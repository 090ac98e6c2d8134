#pragma once

class Fl_Double_Window;
class Fl_Widget;

// Builds the Goto Position dialog, hidden; sets LatitudeField and LongitudeField.
Fl_Double_Window *build_goto_dialog();

// "Goto Pos" button: shows the dialog or brings it to the front.
void goto_open_cb(Fl_Widget *, void *);

// "Ok": moves the view centre to the typed latitude and longitude, hides the dialog.
void goto_ok_cb(Fl_Widget *, void *);

// Timer: hides the dialog once the main window is gone; re-arms itself every 0.7 s.
void goto_watchdog_cb(void *);

// The view position that puts the typed latitude and longitude at the centre of a
// view_w x view_h view at zoom level `level` (1..4; others count as 1). A text without
// a leading number, or "nan", leaves that coordinate at cur_x / cur_y; infinite and
// huge values are clamped into int. The result is not clamped to the image.
void goto_target_position(const char *lat_text, const char *lon_text, int view_w, int view_h,
                          int level, int cur_x, int cur_y, int *col, int *row);
