// The small tip window a skin button shows below itself: a topmost popup that never takes the
// focus, a horizontal colour gradient behind one centred line of white text, sized to its text
// and hidden again by its own timer.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/gfx/surface.h"
#include "platform/gfx/text.h"
#include "platform/window/window.h"

namespace vt {

inline constexpr int kTipFontPixels = 13;  // the desktop's menu text size
inline constexpr int kTipMinHeight = 15;
inline constexpr int kTipMaxHeight = 25;
inline constexpr gfx::Pixel kTipGradientLeft = gfx::Rgb(44, 44, 52);
inline constexpr gfx::Pixel kTipGradientRight = gfx::Rgb(206, 222, 38);
inline constexpr gfx::Pixel kTipTextColour = gfx::kWhite;
// The thin frame around the tip, inside its size.
inline constexpr gfx::Pixel kTipBorderColour = gfx::Rgb(100, 100, 100);

// The size a tip takes for a line of text measured as `text`: the text plus the horizontal margin
// on both sides; the text plus the vertical margin above and below, or, with no vertical margin,
// the tip's height before the change; the height kept within 15 ... 25.
gfx::Size TipSize(gfx::Size text, int h_margin, int v_margin, int height_before);

// The tip's face inside its frame: the gradient over `area`, then `text` centred in white.
void PaintTipFace(gfx::Surface& target, gfx::Rect area, const std::string& text,
                  const gfx::Font* font);

class CPopupText : public win::Window {
 public:
  CPopupText();
  ~CPopupText() override;

  // Makes the native window (when there is a display) with an empty size at (x, y) on the screen.
  void Create(gfx::Point screen);

  void SetMargins(int horizontal, int vertical);
  int HorizontalMargin() const { return h_margin_; }
  int VerticalMargin() const { return v_margin_; }

  // Resizes the tip to fit `text` (TipSize) without moving it, then keeps the text.
  void SetText(std::string text);
  const std::string& Text() const { return text_; }

  // Shows the tip without taking the focus. A period other than 0 (re)starts the hide timer; 0
  // shows it until Hide.
  void Show(int milliseconds);
  // Hides a shown tip; does nothing otherwise.
  void Hide();
  bool IsShown() const { return Shown(); }

 protected:
  void PaintBackground(gfx::Surface& target) override;

 private:
  void StopHideTimer();

  int h_margin_ = 4;
  int v_margin_ = 4;
  std::unique_ptr<gfx::Font> font_;
  std::string text_;
  std::optional<win::TimerId> hide_timer_;
};

}  // namespace vt
