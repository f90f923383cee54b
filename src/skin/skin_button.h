// The push button of every skinned window: its face is a skin image copied over the window
// background with the key colour left out, and changes while the pointer is over it. Buttons that
// toggle with the session (Record/Stop, Play/Stop, Pause/Resume) carry a second pair of faces.
// Each button owns a tip that shows its tip text below it while the pointer moves over it.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/surface.h"
#include "platform/window/window.h"
#include "skin/popup_text.h"

namespace vt {

// Which face (0 ... 3) a button shows. The first face of a pair is shown while the pointer is
// over the button, the second at all other times; a four-face button shows its second pair while
// `alternate_pair` is true. A four-face button that does not know which pair applies
// (`alternate_pair` empty) shows nothing.
std::optional<int> ChooseFace(bool four_face, std::optional<bool> alternate_pair, bool hover);

class CSkinButton : public win::Control {
 public:
  static constexpr gfx::Pixel kTransparencyKey = gfx::kWindowKey;
  static constexpr int kHoverCheckMs = 100;
  static constexpr int kTipDurationMs = 500;
  static constexpr int kTipOffsetX = 24;

  explicit CSkinButton(int id);
  ~CSkinButton() override;

  // Loads the faces from the skin and moves the button to (0, 0) with the size of the last face.
  // False when a face is missing (it then draws nothing). Two names make a two-face button, four
  // a four-face one.
  bool LoadImages(std::string_view face1, std::string_view face2);
  bool LoadImages(std::string_view face1, std::string_view face2, std::string_view face3,
                  std::string_view face4);
  // The same with faces given directly: two, or four for a four-face button.
  void SetFaces(std::vector<gfx::Surface> faces);
  bool FourFace() const { return four_face_; }

  // Which pair a four-face button shows: the second while `active` returns true.
  void SetAlternateFaces(std::function<bool()> active);

  void SetPosition(int x, int y);

  void SetTipText(std::string text);
  const std::string& TipText() const { return tip_text_; }
  // Shows the tip below the button unless it is shown already or the tip text is empty.
  void ShowTip();
  void HideTip();
  // The tip window, once it has been made.
  const CPopupText* Tip() const { return tip_.get(); }

  bool Hover() const { return hover_; }
  // The face drawn now (index into the faces), none when nothing is drawn.
  std::optional<int> CurrentFace() const;

  void Paint(gfx::Surface& target) override;
  void OnMouseDown(gfx::Point p) override;
  void OnMouseUp(gfx::Point p) override;
  void OnMouseMove(gfx::Point p) override;
  void OnMouseLeave() override;
  bool WantsHandCursor() const override { return true; }

 private:
  bool LoadFaces(const std::vector<std::string_view>& names);
  void CheckPointer();
  void EndHover();

  std::array<gfx::Surface, 4> faces_;
  bool four_face_ = false;
  gfx::Size size_;
  std::function<bool()> alternate_active_;
  bool hover_ = false;
  std::optional<win::TimerId> hover_timer_;
  bool pressed_ = false;
  std::string tip_text_;
  std::unique_ptr<CPopupText> tip_;
};

// The skin button whose tip was shown last; one per process.
struct TipOwnerState {
  CSkinButton* owner = nullptr;
};
TipOwnerState& CurrentTipOwner();
// Forgets the owner (tests).
void ResetCurrentTipOwner();

// For a window's pointer-over-control hook: over a skin button, hides the tip of the previous
// owner when that is another button and shows this button's tip.
void HandlePointerOverControl(win::Control* control);

}  // namespace vt
