#include "skin/popup_text.h"

#include <algorithm>
#include <utility>

namespace vt {

gfx::Size TipSize(gfx::Size text, int h_margin, int v_margin, int height_before) {
  const int width = text.w + 2 * h_margin;
  const int height = v_margin != 0 ? text.h + 2 * v_margin : height_before;
  return {width, std::clamp(height, kTipMinHeight, kTipMaxHeight)};
}

void PaintTipFace(gfx::Surface& target, gfx::Rect area, const std::string& text,
                  const gfx::Font* font) {
  gfx::GradientH(target, area, kTipGradientLeft, kTipGradientRight);
  if (font) font->Draw(target, area, text, kTipTextColour, gfx::TextAlign::kCentre);
}

CPopupText::CPopupText()
    : win::Window({.title = "", .size = {0, 0}, .kind = win::WindowKind::kTip}),
      font_(gfx::Font::OpenSans(kTipFontPixels)) {}

CPopupText::~CPopupText() {
  StopHideTimer();
}

void CPopupText::Create(gfx::Point screen) {
  CreateNative();  // without a display the tip still sizes, paints and times out
  MoveTo(screen);
}

void CPopupText::SetMargins(int horizontal, int vertical) {
  h_margin_ = horizontal;
  v_margin_ = vertical;
}

void CPopupText::SetText(std::string text) {
  const gfx::Size measured = font_ ? font_->Measure(text) : gfx::Size{0, 0};
  SetClientSize(TipSize(measured, h_margin_, v_margin_, ClientSize().h));
  text_ = std::move(text);
  Invalidate();
}

void CPopupText::Show(int milliseconds) {
  if (milliseconds != 0) {
    StopHideTimer();
    hide_timer_ = StartTimer(milliseconds, [this] { Hide(); });
  } else {
    Hide();
  }
  win::Window::Show();
}

void CPopupText::Hide() {
  StopHideTimer();
  if (Shown()) win::Window::Hide();
}

void CPopupText::StopHideTimer() {
  if (hide_timer_) StopTimer(*hide_timer_);
  hide_timer_.reset();
}

void CPopupText::PaintBackground(gfx::Surface& target) {
  const gfx::Rect r = target.Bounds();
  gfx::FrameRect(target, r, kTipBorderColour);
  PaintTipFace(target, {r.x + 1, r.y + 1, r.w - 2, r.h - 2}, text_, font_.get());
}

}  // namespace vt
