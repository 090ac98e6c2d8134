#pragma once

class Fl_Double_Window;

// Builds the main window with the map view and its three buttons, hidden.
// Sets MapView, ZoomInButton and ZoomOutButton. Ctrl+O in it runs display_file().
Fl_Double_Window *build_main_window();

// "Display file": asks for an image file and opens it with display_file_path();
// does nothing when the user cancels.
void display_file();

// Opens path as the view's primary image (overview, level and buttons stay as they are),
// titles the main window "Mundoscope - <base name> - W x H pixel - M MByte" (0 x 0 when
// the file did not open) and redraws it.
void display_file_path(const char *path);

// The text after the last '/' or '\' of path, or the whole path when it has neither.
const char *display_base_name(const char *path);
