// A control that only shows a skin image: the source list's frame and the display pane until
// they come alive.
#pragma once

#include <string_view>

#include "platform/window/window.h"

namespace vt {

class CSkinPicture : public win::Control {
 public:
  CSkinPicture(int id, bool lets_mouse_through) : Control(id), through_(lets_mouse_through) {}
  void LoadImage(std::string_view name);
  void Paint(gfx::Surface& target) override;
  bool LetsMouseThrough() const override { return through_; }

 private:
  gfx::Surface image_;
  bool through_;
};

}  // namespace vt
