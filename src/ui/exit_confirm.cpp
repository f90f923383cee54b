#include "ui/exit_confirm.h"

#include <memory>

#include "skin/skin_archive.h"
#include "ui/session_state.h"

namespace vt {

const win::CommandEntry<CExitConfirm> CExitConfirm::kCommands[] = {
    {kOk, &CExitConfirm::OnOk},
    {kCancel, &CExitConfirm::OnCancel},
};

CExitConfirm::CExitConfirm() : win::Window({"Exit Voxtape", {351, 141}, win::WindowKind::kDialog}) {
  ok_ = Add(std::make_unique<CSkinButton>(kOk));
  cancel_ = Add(std::make_unique<CSkinButton>(kCancel));
  SetDraggable(true);
}

CExitConfirm::~CExitConfirm() = default;

void CExitConfirm::InitDialog() {
  if (notice_mode_) SetTitle("Voxtape is already running");
  if (!background_name_.empty()) LoadBackground(*this, background_name_);
  // The program's own picture in the taskbar and the window switcher, as on the recorder.
  if (gfx::Surface icon; LoadSkinBitmapInto("appicon.bmp", icon)) SetIcon(icon, gfx::kWindowKey);
  if (notice_mode_) {
    ok_->SetVisible(false);
    cancel_->SetVisible(false);
  }
  ok_->LoadImages("okmessage.bmp", "okmessage.bmp");
  cancel_->LoadImages("cancelmessage.bmp", "cancelmessage.bmp");
  ok_->SetPosition(191, 62);
  cancel_->SetPosition(62, 62);
  ok_->SetTipText("Exit Voxtape");
  cancel_->SetTipText("Cancel");

  // The notice at start-up has no window to sit on: it stays centred and opaque.
  if (!has_owner_) return;
  if (Abilities().layered_windows_available && SetOpacity(240.0f / 255.0f)) {
    translucent_ = true;
    // Tips would show through the translucent dialog badly; it goes without them.
    ok_->SetTipText("");
    cancel_->SetTipText("");
  }
  SetClientSize({owner_area_.w, owner_area_.h});
  MoveTo({owner_area_.x, owner_area_.y});
}

int CExitConfirm::DoModal() {
  CreateNative();
  InitDialog();
  if (!has_owner_) CentreOnScreen();
  return RunModal();
}

void CExitConfirm::OnCommand(int id) {
  win::DispatchCommand<CExitConfirm>(kCommands, this, id);
}

void CExitConfirm::OnKeyDown(win::KeyStroke key) {
  if (key.key == win::Key::kReturn) {
    EndModal(kOk);
  } else if (key.key == win::Key::kEscape) {
    EndModal(kCancel);
  } else {
    win::Window::OnKeyDown(key);
  }
}

void CExitConfirm::OnPointerOverControl(win::Control* control) {
  HandlePointerOverControl(control);
}

void CExitConfirm::OnBackgroundMouseDown(gfx::Point) {
  // A click anywhere closes the notice; the question is only dragged.
  if (notice_mode_) EndModal(kOk);
}

}  // namespace vt
