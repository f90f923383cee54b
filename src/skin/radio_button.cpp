#include "skin/radio_button.h"

#include <memory>
#include <utility>

#include "platform/gfx/text.h"

namespace vt {
namespace {

// One font for every radio's text, opened when the first text is drawn.
const gfx::Font* RadioFont() {
  static const std::unique_ptr<gfx::Font> font = gfx::Font::OpenSans(CRadioButton::kFontPixels);
  return font.get();
}

}  // namespace

CRadioButton::CRadioButton(int id, std::string text) : win::Control(id), text_(std::move(text)) {}

void CRadioButton::SetText(std::string text) {
  text_ = std::move(text);
  Invalidate();
}

void CRadioButton::SetTextColour(gfx::Pixel colour) {
  text_colour_ = colour;
  Invalidate();
}

void CRadioButton::SetChecked() {
  checked_ = true;
  if (Parent()) {
    for (const auto& control : Parent()->Controls()) {
      auto* other = dynamic_cast<CRadioButton*>(control.get());
      if (other && other != this && other->group_ == group_) other->SetUnchecked();
    }
  }
  Invalidate();
}

void CRadioButton::SetUnchecked() {
  if (!checked_) return;
  checked_ = false;
  Invalidate();
}

void CRadioButton::SetOnChoose(std::function<void(CRadioButton&)> on_choose) {
  on_choose_ = std::move(on_choose);
}

void CRadioButton::Click() {
  if (!Enabled() || checked_) return;
  if (on_choose_) on_choose_(*this);
  SetChecked();
}

void CRadioButton::CaptureBackground(const gfx::Surface* source) {
  snapshot_.Fill(source, {0, 0, Bounds().w, Bounds().h});
  Invalidate();
}

void CRadioButton::Paint(gfx::Surface& target) {
  const gfx::Rect r = Bounds();
  if (snapshot_.HasPixels()) {
    const gfx::Rect visible = r.Intersect(target.Bounds());
    for (int y = visible.y; y < visible.Bottom(); ++y)
      for (int x = visible.x; x < visible.Right(); ++x)
        target.Set(x, y, snapshot_.At(x - r.x, y - r.y));
  }
  const gfx::Pixel text_colour = snapshot_.HasPixels() ? gfx::kWhite : text_colour_;
  gfx::FrameRect(target, {r.x + kBox.x, r.y + kBox.y, kBox.w, kBox.h}, gfx::kAccent);
  if (!text_.empty()) {
    if (const gfx::Font* font = RadioFont()) {
      const int left = r.x + kBox.Right() + kTextGap;
      const gfx::Rect text_box = gfx::Rect{left, r.y, r.Right() - left, r.h}.Intersect(r);
      font->Draw(target, text_box, text_, text_colour, gfx::TextAlign::kLeftTop);
    }
  }
  gfx::FillRect(target, {r.x + kMark.x, r.y + kMark.y, kMark.w, kMark.h},
                checked_ ? gfx::kAccent : gfx::kWhite);
}

void CRadioButton::OnMouseDown(gfx::Point) {
  pressed_ = true;
}

void CRadioButton::OnMouseUp(gfx::Point p) {
  const bool click = pressed_ && Bounds().Contains(p);
  pressed_ = false;
  if (click) Click();
}

}  // namespace vt
