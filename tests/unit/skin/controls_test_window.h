// A window without a native window for the control tests: it records the commands its controls
// send and hands pointer-over notices to the skin buttons like the real windows do.
#pragma once

#include <vector>

#include "platform/window/window.h"
#include "skin/skin_button.h"

namespace vt::test {

class ControlsTestWindow : public win::Window {
 public:
  explicit ControlsTestWindow(gfx::Size size = {200, 120})
      : win::Window({.title = "controls", .size = size}) {}

  std::vector<int> commands;

 protected:
  void OnCommand(int id) override { commands.push_back(id); }
  void OnPointerOverControl(win::Control* control) override { HandlePointerOverControl(control); }
};

}  // namespace vt::test
