#include "shell_windows.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <gtest/gtest.h>

#include "fixtures.h"
#include "goto_dialog.h"
#include "image_source.h"
#include "info_window.h"
#include "irgb_view.h"
#include "main_window.h"
#include "program.h"

namespace shell_test {

static std::string g_dir, g_map, g_narrow;

const std::string &map_path() { return g_map; }
const std::string &narrow_map_path() { return g_narrow; }
const std::string &resource_dir() { return g_dir; }

class ShellEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_dir = fixture::make_temp_dir("shell");
    ASSERT_FALSE(g_dir.empty());
    g_map = g_dir + "/map.jpg";
    g_narrow = g_dir + "/narrow.jpg";
    ASSERT_TRUE(fixture::write_jpeg(g_map, MAP_W, MAP_H, fixture::flat_rows(MAP_W, 20, 90, 160)));
    ASSERT_TRUE(fixture::write_jpeg(g_narrow, 150, 100, fixture::flat_rows(150, 200, 10, 10)));
    const std::string res = g_dir + "/";
    ASSERT_LT(res.size(), sizeof ResourceDir);
    std::snprintf(ResourceDir, sizeof ResourceDir, "%s", res.c_str());

    MainWindow = build_main_window();
    GotoDialog = build_goto_dialog();
    InfoWindow = build_info_window();
    ASSERT_NE(MainWindow, nullptr);
    ASSERT_NE(MapView, nullptr);
    ASSERT_NE(GotoDialog, nullptr);
    ASSERT_NE(InfoWindow, nullptr);
  }
  void TearDown() override { fixture::remove_tree(g_dir); }
};

[[maybe_unused]] static ::testing::Environment *const g_env =
    ::testing::AddGlobalTestEnvironment(new ShellEnvironment);

void reset() {
  for (Fl_Window *w : {static_cast<Fl_Window *>(GotoDialog), static_cast<Fl_Window *>(InfoWindow),
                       static_cast<Fl_Window *>(MainWindow)})
    if (w->shown()) w->hide();
  Fl::remove_timeout(goto_watchdog_cb);
  Fl::remove_timeout(info_timeout_cb);
  std::remove((g_dir + "/viewparam.dat").c_str());
  ASSERT_NE(MapView->load_image(g_map.c_str()), nullptr);
  MainWindow->resize(0, 0, 629, 574);
  GotoDialog->resize(0, 0, 216, 75);
  MapView->zoom(2);
  MapView->set_position(1234, 567);
  CurrentZoomLevel = 2;
  ZoomInButton->activate();
  ZoomOutButton->activate();
  LatitudeField->value("");
  LongitudeField->value("");
}

bool wait_until(bool (*pred)(), double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!pred() && std::chrono::steady_clock::now() < end) Fl::wait(0.05);
  return pred();
}

}  // namespace shell_test
