// The shell's real windows for in-process tests: the main window, the Goto Position
// dialog and the Information window built by their builders once per test binary, with
// a generated map of the full 21600 x 10800 size as the view's primary image and
// ResourceDir pointing at a temporary folder.
#pragma once

#include <string>

namespace shell_test {

enum { MAP_W = 21600, MAP_H = 10800 };

// The generated full-size map (a flat-colour JPEG, so it is small and quick to write).
const std::string &map_path();
// A 150 x 100 JPEG, narrower than the 200 pixels the view parameter caps keep free.
const std::string &narrow_map_path();
// The temporary folder that ResourceDir names (without the trailing "/").
const std::string &resource_dir();

// Brings every window and the view to a known state: all windows hidden, the map freshly
// opened (empty row store), position (1234, 567) at level 2 with CurrentZoomLevel 2, both
// zoom buttons active, the main window at 0, 0 sized 629 x 574, the dialog at 0, 0, both
// fields empty, no viewparam.dat.
void reset();

// Runs the event loop until pred() holds or `seconds` pass; returns pred().
bool wait_until(bool (*pred)(), double seconds);

}  // namespace shell_test
