// The skinned radio button: a small square box in the accent colour, filled when checked, with
// its text beside it. It keeps its own checked state; checking it unchecks the other radios of
// its group in the same window.
#pragma once

#include <functional>
#include <string>

#include "platform/gfx/surface.h"
#include "platform/window/window.h"
#include "skin/background_snapshot.h"

namespace vt {

class CRadioButton : public win::Control {
 public:
  static constexpr gfx::Rect kBox{0, 0, 14, 15};
  static constexpr gfx::Rect kMark{3, 3, 8, 9};
  static constexpr int kTextGap = 5;
  static constexpr int kFontPixels = 13;

  explicit CRadioButton(int id, std::string text = {});

  void SetText(std::string text);
  const std::string& Text() const { return text_; }
  // The colour of the text when the radio has no background of its own.
  void SetTextColour(gfx::Pixel colour);

  // Radios of one window with the same group exclude one another.
  void SetGroup(int group) { group_ = group; }
  int Group() const { return group_; }

  // Checks this radio and unchecks the others of its group in its window (a radio that belongs to
  // a list rather than a window is unchecked by its list).
  void SetChecked();
  void SetUnchecked();
  bool Checked() const { return checked_; }

  // Called with the radio when a click chooses it, before it becomes checked.
  void SetOnChoose(std::function<void(CRadioButton&)> on_choose);
  // A click: nothing when disabled or already checked; otherwise the choice, then SetChecked.
  void Click();

  // The pixels behind the radio, repainted under it; from the top-left area of `source` with
  // the radio's size.
  void CaptureBackground(const gfx::Surface* source);
  const BackgroundSnapshot& Snapshot() const { return snapshot_; }

  void Paint(gfx::Surface& target) override;
  void OnMouseDown(gfx::Point p) override;
  void OnMouseUp(gfx::Point p) override;
  bool WantsHandCursor() const override { return true; }

 private:
  std::string text_;
  gfx::Pixel text_colour_ = gfx::Rgb(0, 0, 0);
  int group_ = 0;
  bool checked_ = false;
  bool pressed_ = false;
  std::function<void(CRadioButton&)> on_choose_;
  BackgroundSnapshot snapshot_;
};

}  // namespace vt
