// The program-wide objects of the shell. Created during start-up, never destroyed.
#pragma once

class Fl_Double_Window;
class Fl_Button;
class Fl_Input;
class IRGBView;

extern Fl_Double_Window *MainWindow;
extern IRGBView *MapView;
extern Fl_Button *ZoomInButton;
extern Fl_Button *ZoomOutButton;
extern Fl_Double_Window *GotoDialog;
extern Fl_Double_Window *InfoWindow;
extern Fl_Input *LatitudeField;   // the Goto Position dialog's fields, which also
extern Fl_Input *LongitudeField;  // show the view centre after every pan

// The shell's copy of the view's zoom level, 1 (full resolution) to 4.
extern int CurrentZoomLevel;

enum { RESOURCE_DIR_SIZE = 2048, TITLE_TEXT_SIZE = 2048 };
// The bundle's resource directory, ending in "/Contents/Resources/" (or empty before lookup).
extern char ResourceDir[RESOURCE_DIR_SIZE];
// A composed main-window title; the toolkit keeps only a pointer to it.
extern char TitleText[TITLE_TEXT_SIZE];

// Brings the Goto Position dialog to the front if it is shown; does nothing otherwise.
void goto_dialog_keep_in_front();
