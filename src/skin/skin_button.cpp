#include "skin/skin_button.h"

#include <algorithm>
#include <utility>

#include "skin/skin_archive.h"

namespace vt {

std::optional<int> ChooseFace(bool four_face, std::optional<bool> alternate_pair, bool hover) {
  const int pointer_face = hover ? 0 : 1;
  if (!four_face) return pointer_face;
  if (!alternate_pair) return std::nullopt;
  return (*alternate_pair ? 2 : 0) + pointer_face;
}

TipOwnerState& CurrentTipOwner() {
  static TipOwnerState state;
  return state;
}

void ResetCurrentTipOwner() {
  CurrentTipOwner() = {};
}

void HandlePointerOverControl(win::Control* control) {
  auto* button = dynamic_cast<CSkinButton*>(control);
  if (!button) return;
  CSkinButton* previous = CurrentTipOwner().owner;
  if (previous && previous != button) previous->HideTip();
  button->ShowTip();
}

CSkinButton::CSkinButton(int id) : win::Control(id) {}

CSkinButton::~CSkinButton() {
  if (CurrentTipOwner().owner == this) CurrentTipOwner().owner = nullptr;
  if (hover_timer_ && Parent()) Parent()->StopTimer(*hover_timer_);
}

bool CSkinButton::LoadImages(std::string_view face1, std::string_view face2) {
  return LoadFaces({face1, face2});
}

bool CSkinButton::LoadImages(std::string_view face1, std::string_view face2, std::string_view face3,
                             std::string_view face4) {
  return LoadFaces({face1, face2, face3, face4});
}

bool CSkinButton::LoadFaces(const std::vector<std::string_view>& names) {
  std::vector<gfx::Surface> faces(names.size());
  bool all = true;
  for (std::size_t i = 0; i < names.size(); ++i) all &= LoadSkinBitmapInto(names[i], faces[i]);
  SetFaces(std::move(faces));
  return all;
}

void CSkinButton::SetFaces(std::vector<gfx::Surface> faces) {
  const std::size_t count = std::min(faces.size(), faces_.size());
  four_face_ = count == faces_.size();
  for (std::size_t i = 0; i < faces_.size(); ++i)
    faces_[i] = i < count ? std::move(faces[i]) : gfx::Surface();
  // Every face is copied with the size of the last one.
  size_ = count == 0 ? gfx::Size{} : faces_[count - 1].GetSize();
  SetBounds({0, 0, size_.w, size_.h});
}

void CSkinButton::SetAlternateFaces(std::function<bool()> active) {
  alternate_active_ = std::move(active);
  Invalidate();
}

void CSkinButton::SetPosition(int x, int y) {
  SetBounds({x, y, size_.w, size_.h});
}

void CSkinButton::SetTipText(std::string text) {
  tip_text_ = std::move(text);
}

void CSkinButton::ShowTip() {
  if (tip_text_.empty() || (tip_ && tip_->IsShown())) return;
  CurrentTipOwner().owner = this;
  if (!tip_) {
    tip_ = std::make_unique<CPopupText>();
    tip_->Create({0, 0});
  }
  tip_->SetMargins(4, 0);
  const gfx::Rect r = Bounds();
  const gfx::Point origin = Parent() ? Parent()->ScreenPosition() : gfx::Point{};
  tip_->MoveTo({origin.x + r.x + kTipOffsetX, origin.y + r.Bottom()});
  // The tip starts with the button's size; the text then fixes its width and keeps the height.
  tip_->SetClientSize({r.w, r.h});
  tip_->SetText(tip_text_);
  tip_->Show(kTipDurationMs);
}

void CSkinButton::HideTip() {
  if (tip_) tip_->Hide();
}

std::optional<int> CSkinButton::CurrentFace() const {
  std::optional<bool> alternate;
  if (alternate_active_) alternate = alternate_active_();
  return ChooseFace(four_face_, alternate, hover_);
}

void CSkinButton::Paint(gfx::Surface& target) {
  const std::optional<int> face = CurrentFace();
  if (!face) return;
  const gfx::Rect r = Bounds();
  gfx::CopyKeyed(target, r, faces_[*face], {0, 0, r.w, r.h}, kTransparencyKey);
}

void CSkinButton::OnMouseDown(gfx::Point) {
  pressed_ = true;
}

void CSkinButton::OnMouseUp(gfx::Point p) {
  const bool click = pressed_ && Enabled() && Bounds().Contains(p);
  pressed_ = false;
  // The command may end the window; nothing of this button is touched after it.
  if (click && Parent()) Parent()->Command(Id());
}

void CSkinButton::OnMouseMove(gfx::Point p) {
  if (hover_ || !Bounds().Contains(p) || !Parent()) return;
  hover_ = true;
  Invalidate();
  hover_timer_ = Parent()->StartTimer(kHoverCheckMs, [this] { CheckPointer(); });
}

void CSkinButton::OnMouseLeave() {
  EndHover();
}

void CSkinButton::CheckPointer() {
  if (!Parent() || !Bounds().Contains(Parent()->PointerPosition())) EndHover();
}

void CSkinButton::EndHover() {
  if (hover_timer_ && Parent()) Parent()->StopTimer(*hover_timer_);
  hover_timer_.reset();
  if (!hover_) return;
  hover_ = false;
  Invalidate();
}

}  // namespace vt
