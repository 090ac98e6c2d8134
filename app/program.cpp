#include "program.h"

#include <FL/Fl_Double_Window.H>

Fl_Double_Window *MainWindow = nullptr;
IRGBView *MapView = nullptr;
Fl_Button *ZoomInButton = nullptr;
Fl_Button *ZoomOutButton = nullptr;
Fl_Double_Window *GotoDialog = nullptr;
Fl_Double_Window *InfoWindow = nullptr;
Fl_Input *LatitudeField = nullptr;
Fl_Input *LongitudeField = nullptr;
int CurrentZoomLevel = 1;
char ResourceDir[RESOURCE_DIR_SIZE] = "";
char TitleText[TITLE_TEXT_SIZE] = "";

void goto_dialog_keep_in_front() {
  if (GotoDialog && GotoDialog->shown()) GotoDialog->show();
}
