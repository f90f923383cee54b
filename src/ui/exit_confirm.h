// The skinned question "Exit Voxtape?" over the recorder window, and the notice shown when a
// second copy of the program starts.
#pragma once

#include <span>
#include <string>

#include "platform/window/window.h"
#include "skin/skin_background.h"
#include "skin/skin_button.h"

namespace vt {

class CExitConfirm : public win::Window, public CSkinBackground {
 public:
  static constexpr int kOk = 1;
  static constexpr int kCancel = 2;

  CExitConfirm();
  ~CExitConfirm() override;

  void SetBackgroundName(std::string name) { background_name_ = std::move(name); }
  // The notice closes at a click anywhere, so it is not dragged.
  void SetNoticeMode() {
    notice_mode_ = true;
    SetDraggable(false);
  }
  // The recorder window's screen rectangle that the question covers (its source list frame).
  void SetOwnerArea(gfx::Rect screen_area) {
    owner_area_ = screen_area;
    has_owner_ = true;
  }

  // Sets the dialog up and runs it: kOk or kCancel.
  int DoModal();

  // Set up without running (tests look at the result).
  void InitDialog();
  CSkinButton& OkButton() { return *ok_; }
  CSkinButton& CancelButton() { return *cancel_; }
  bool Translucent() const { return translucent_; }

 protected:
  void PaintBackground(gfx::Surface& target) override { EraseBackground(*this, target); }
  void OnCommand(int id) override;
  void OnKeyDown(win::KeyStroke key) override;
  void OnCloseRequest() override { EndModal(kCancel); }
  void OnPointerOverControl(win::Control* control) override;
  void OnBackgroundMouseDown(gfx::Point) override;

 private:
  void OnOk() { EndModal(kOk); }
  void OnCancel() { EndModal(kCancel); }
  static const win::CommandEntry<CExitConfirm> kCommands[];

  CSkinButton* ok_;
  CSkinButton* cancel_;
  std::string background_name_;
  bool notice_mode_ = false;
  bool has_owner_ = false;
  gfx::Rect owner_area_;
  bool translucent_ = false;
};

}  // namespace vt
