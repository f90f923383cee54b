// The skinned horizontal slider: a standard slider (drag the thumb, page by clicking beside it,
// arrow keys, Page Up/Down, Home/End, tick marks under the channel) whose channel background is
// repainted from a copy of the window background, so it looks transparent over the skin, and
// whose thumb is a red rounded box with a grey middle band, orange while pressed or focused.
#pragma once

#include <atomic>
#include <functional>
#include <optional>

#include "platform/gfx/surface.h"
#include "platform/window/window.h"
#include "skin/background_snapshot.h"

namespace vt {

class CCoolSlider : public win::Control {
 public:
  static constexpr gfx::Pixel kThumbColour = gfx::Rgb(255, 0, 0);
  static constexpr gfx::Pixel kThumbPen = gfx::Rgb(0, 0, 0);
  static constexpr gfx::Pixel kBandColour = gfx::Rgb(100, 100, 100);
  static constexpr gfx::Pixel kActiveBandColour = gfx::Rgb(255, 125, 0);
  static constexpr gfx::Pixel kTickColour = gfx::Rgb(0, 0, 0);
  static constexpr int kThumbWidth = 11;
  static constexpr int kThumbTop = 2;
  static constexpr int kBandInset = 3;
  static constexpr int kRepeatDelayMs = 400;
  static constexpr int kRepeatPeriodMs = 100;

  explicit CCoolSlider(int id);
  ~CCoolSlider() override;

  // The page size follows the range (a fifth of it) unless it was set.
  void SetRange(int min, int max);
  int RangeMin() const { return min_; }
  int RangeMax() const { return max_; }
  void SetTickFrequency(int frequency);
  int TickFrequency() const { return tick_frequency_; }
  void SetPageSize(int page);
  int PageSize() const;
  // Sets the position, kept within the range; no change notice.
  void SetPos(int pos);
  // Safe from any thread.
  int GetPos() const { return pos_.load(std::memory_order_relaxed); }

  // Called after every change of the position made by the user (pointer or keys).
  void SetOnChange(std::function<void(CCoolSlider&)> on_change);

  // Filled by the window with the pixels behind the slider; painted under the channel once
  // filled.
  BackgroundSnapshot& Snapshot() { return snapshot_; }
  const BackgroundSnapshot& Snapshot() const { return snapshot_; }

  // Geometry in window coordinates.
  gfx::Rect ThumbRect() const;
  gfx::Rect ChannelRect() const;
  // Where the thumb's centre stands for `pos`, and the position nearest to the window column x.
  int XForPos(int pos) const;
  int PosForX(int x) const;
  // Orange while pressed, or while focused in a window that has the keyboard.
  bool ThumbActive() const { return pressed_ || (Focused() && Parent()->HasKeyboard()); }

  void Paint(gfx::Surface& target) override;
  void OnMouseDown(gfx::Point p) override;
  void OnMouseUp(gfx::Point p) override;
  void OnMouseMove(gfx::Point p) override;
  void OnKeyDown(win::Key key) override;
  // One arrow-key step a notch: up moves towards the right end.
  void OnMouseWheel(gfx::Point p, int steps) override;
  void OnFocusChanged(bool) override { Invalidate(); }
  bool TakesFocus() const override { return true; }
  bool WantsHandCursor() const override { return true; }

 private:
  int TrackLeft() const;
  int TrackRight() const;
  void MoveBy(int delta);
  void UserSetPos(int pos);
  void PageTowardPointer();
  void StopRepeat();
  void PaintChannel(gfx::Surface& target) const;
  void PaintTicks(gfx::Surface& target) const;
  void PaintThumb(gfx::Surface& target) const;

  int min_ = 0;
  int max_ = 200;
  int tick_frequency_ = 1;
  std::optional<int> page_size_;
  std::atomic<int> pos_{0};
  std::function<void(CCoolSlider&)> on_change_;
  BackgroundSnapshot snapshot_;

  bool pressed_ = false;
  bool dragging_ = false;
  int drag_offset_ = 0;
  int page_direction_ = 1;
  gfx::Point pointer_;
  std::optional<win::TimerId> repeat_timer_;
};

}  // namespace vt
