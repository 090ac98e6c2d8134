#pragma once

class Fl_Double_Window;

// Builds the Information window, hidden.
Fl_Double_Window *build_info_window();

// Moves InfoWindow over the centre of MainWindow, keeping its size.
void centre_info_window();

// Timer: hides InfoWindow.
void info_timeout_cb(void *);
