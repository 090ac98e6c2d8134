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
