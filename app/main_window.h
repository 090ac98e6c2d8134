#pragma once

class Fl_Double_Window;

// Builds the main window with the map view and its three buttons, hidden.
// Sets MapView, ZoomInButton and ZoomOutButton. Ctrl+O in it runs display_file().
Fl_Double_Window *build_main_window();

// "Display file": asks for an image file and opens it as the view's primary image.
void display_file();
