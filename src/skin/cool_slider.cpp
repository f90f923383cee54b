#include "skin/cool_slider.h"

#include <algorithm>
#include <utility>

namespace vt {
namespace {

// The sunken groove of the channel, top row to bottom row.
constexpr gfx::Pixel kGrooveShadow = gfx::Rgb(128, 128, 128);
constexpr gfx::Pixel kGrooveDark = gfx::Rgb(64, 64, 64);
constexpr gfx::Pixel kGrooveLight = gfx::Rgb(212, 208, 200);
constexpr gfx::Pixel kGrooveHighlight = gfx::Rgb(255, 255, 255);
constexpr int kGrooveHeight = 4;
constexpr int kChannelInset = 5;
constexpr int kTrackInset = CCoolSlider::kThumbWidth / 2 + 3;
constexpr int kTickLength = 3;

// a * b / c rounded to the nearest integer, for non-negative values.
int MulDivRound(long long a, long long b, long long c) {
  return static_cast<int>((2 * a * b + c) / (2 * c));
}

}  // namespace

CCoolSlider::CCoolSlider(int id) : win::Control(id) {}

CCoolSlider::~CCoolSlider() {
  StopRepeat();
}

void CCoolSlider::SetRange(int min, int max) {
  min_ = min;
  max_ = std::max(min, max);
  pos_.store(std::clamp(GetPos(), min_, max_), std::memory_order_relaxed);
  Invalidate();
}

void CCoolSlider::SetTickFrequency(int frequency) {
  tick_frequency_ = frequency;
  Invalidate();
}

void CCoolSlider::SetPageSize(int page) {
  page_size_ = std::max(page, 1);
}

int CCoolSlider::PageSize() const {
  return page_size_ ? *page_size_ : std::max((max_ - min_) / 5, 1);
}

void CCoolSlider::SetPos(int pos) {
  pos_.store(std::clamp(pos, min_, max_), std::memory_order_relaxed);
  Invalidate();
}

void CCoolSlider::SetOnChange(std::function<void(CCoolSlider&)> on_change) {
  on_change_ = std::move(on_change);
}

int CCoolSlider::TrackLeft() const {
  return Bounds().x + kTrackInset;
}

int CCoolSlider::TrackRight() const {
  return Bounds().Right() - 1 - kTrackInset;
}

int CCoolSlider::XForPos(int pos) const {
  const int span = TrackRight() - TrackLeft();
  const int range = max_ - min_;
  if (span <= 0 || range <= 0) return TrackLeft();
  return TrackLeft() + MulDivRound(std::clamp(pos, min_, max_) - min_, span, range);
}

int CCoolSlider::PosForX(int x) const {
  const int span = TrackRight() - TrackLeft();
  const int range = max_ - min_;
  if (span <= 0 || range <= 0) return min_;
  return min_ + MulDivRound(std::clamp(x, TrackLeft(), TrackRight()) - TrackLeft(), range, span);
}

gfx::Rect CCoolSlider::ThumbRect() const {
  const gfx::Rect r = Bounds();
  const int height = std::max(r.h - 9, 2 * kBandInset + 2);
  return {XForPos(GetPos()) - kThumbWidth / 2, r.y + kThumbTop, kThumbWidth, height};
}

gfx::Rect CCoolSlider::ChannelRect() const {
  const gfx::Rect r = Bounds();
  const gfx::Rect thumb = ThumbRect();
  const int centre = thumb.y + thumb.h / 2;
  return {r.x + kChannelInset, centre - kGrooveHeight / 2, r.w - 2 * kChannelInset, kGrooveHeight};
}

void CCoolSlider::UserSetPos(int pos) {
  pos = std::clamp(pos, min_, max_);
  if (pos == GetPos()) return;
  pos_.store(pos, std::memory_order_relaxed);
  Invalidate();
  if (on_change_) on_change_(*this);
}

void CCoolSlider::MoveBy(int delta) {
  UserSetPos(GetPos() + delta);
}

void CCoolSlider::OnKeyDown(win::Key key) {
  switch (key) {
    case win::Key::kLeft:
    case win::Key::kUp:
      MoveBy(-1);
      break;
    case win::Key::kRight:
    case win::Key::kDown:
      MoveBy(1);
      break;
    case win::Key::kPageUp:
      MoveBy(-PageSize());
      break;
    case win::Key::kPageDown:
      MoveBy(PageSize());
      break;
    case win::Key::kHome:
      UserSetPos(min_);
      break;
    case win::Key::kEnd:
      UserSetPos(max_);
      break;
    default:
      break;
  }
}

void CCoolSlider::OnMouseWheel(gfx::Point, int steps) {
  MoveBy(steps);
}

void CCoolSlider::OnMouseDown(gfx::Point p) {
  pressed_ = true;
  pointer_ = p;
  Invalidate();
  const gfx::Rect thumb = ThumbRect();
  if (thumb.Contains(p)) {
    dragging_ = true;
    drag_offset_ = p.x - XForPos(GetPos());
    return;
  }
  page_direction_ = p.x < thumb.x ? -1 : 1;
  PageTowardPointer();
  if (!Parent()) return;
  // Held down, the paging repeats after a pause until the thumb reaches the pointer.
  repeat_timer_ = Parent()->StartTimer(kRepeatDelayMs, [this] {
    StopRepeat();
    repeat_timer_ = Parent()->StartTimer(kRepeatPeriodMs, [this] { PageTowardPointer(); });
  });
}

void CCoolSlider::PageTowardPointer() {
  const gfx::Rect thumb = ThumbRect();
  const bool beyond = page_direction_ < 0 ? pointer_.x < thumb.x : pointer_.x >= thumb.Right();
  if (!beyond) {
    StopRepeat();
    return;
  }
  MoveBy(page_direction_ * PageSize());
}

void CCoolSlider::OnMouseMove(gfx::Point p) {
  pointer_ = p;
  if (dragging_) UserSetPos(PosForX(p.x - drag_offset_));
}

void CCoolSlider::OnMouseUp(gfx::Point p) {
  pointer_ = p;
  pressed_ = false;
  dragging_ = false;
  StopRepeat();
  Invalidate();
}

void CCoolSlider::StopRepeat() {
  if (repeat_timer_ && Parent()) Parent()->StopTimer(*repeat_timer_);
  repeat_timer_.reset();
}

void CCoolSlider::Paint(gfx::Surface& target) {
  PaintChannel(target);
  PaintTicks(target);
  PaintThumb(target);
}

void CCoolSlider::PaintChannel(gfx::Surface& target) const {
  const gfx::Rect r = Bounds();
  // Only a horizontal slider repaints its background; otherwise the window shows through.
  if (snapshot_.Filled() && r.w > r.h) {
    const gfx::Rect visible = r.Intersect(target.Bounds());
    for (int y = visible.y; y < visible.Bottom(); ++y)
      for (int x = visible.x; x < visible.Right(); ++x)
        target.Set(x, y, snapshot_.At(x - r.x, y - r.y));
  }
  const gfx::Rect c = ChannelRect();
  if (c.Empty()) return;
  gfx::FillRect(target, {c.x, c.y, c.w, 1}, kGrooveShadow);
  gfx::FillRect(target, {c.x, c.y + 1, c.w, 1}, kGrooveDark);
  gfx::FillRect(target, {c.x, c.y + 2, c.w, 1}, kGrooveLight);
  gfx::FillRect(target, {c.x, c.y + 3, c.w, 1}, kGrooveHighlight);
  gfx::FillRect(target, {c.x, c.y, 1, 3}, kGrooveShadow);
  gfx::FillRect(target, {c.Right() - 1, c.y, 1, c.h}, kGrooveHighlight);
}

void CCoolSlider::PaintTicks(gfx::Surface& target) const {
  const gfx::Rect thumb = ThumbRect();
  const int top = thumb.Bottom() + 1;
  auto tick = [&](int pos, int length) {
    gfx::FillRect(target, {XForPos(pos), top, 1, length}, kTickColour);
  };
  if (tick_frequency_ > 0) {
    for (long long v = min_ + tick_frequency_; v < max_; v += tick_frequency_)
      tick(static_cast<int>(v), kTickLength);
  }
  // The ends are marked a little longer.
  tick(min_, kTickLength + 1);
  tick(max_, kTickLength + 1);
}

void CCoolSlider::PaintThumb(gfx::Surface& target) const {
  const gfx::Rect thumb = ThumbRect();
  gfx::RoundRect(target, thumb, 3, 3, kThumbPen, kThumbColour);
  const gfx::Rect band{thumb.x, thumb.y + kBandInset, thumb.w, thumb.h - 2 * kBandInset};
  gfx::FillRect(target, band, ThumbActive() ? kActiveBandColour : kBandColour);
  gfx::FrameRect(target, band, kThumbPen);
}

}  // namespace vt
