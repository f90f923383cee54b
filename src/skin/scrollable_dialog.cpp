#include "skin/scrollable_dialog.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "skin/skin_archive.h"

namespace vt {
namespace {

// The bar in the skin's own colours: a dark trough like the panels, raised arrow boxes, an accent
// thumb. Disabled (nothing to scroll) it keeps its place, with grey arrows and no thumb.
constexpr gfx::Pixel kTrough = gfx::Rgb(0x0e, 0x0f, 0x11);
constexpr gfx::Pixel kEdge = gfx::Rgb(0x2a, 0x2d, 0x32);
constexpr gfx::Pixel kArrowFace = gfx::Rgb(0x2a, 0x2d, 0x32);
constexpr gfx::Pixel kArrowFacePressed = gfx::Rgb(0x3b, 0x3f, 0x46);
constexpr gfx::Pixel kDisabledMark = gfx::Rgb(0x56, 0x5a, 0x61);
constexpr gfx::Pixel kThumbPressed = gfx::Rgb(0xe9, 0xf6, 0x5c);

// A small triangle of `rows` rows pointing up or down, centred in `box`.
void Triangle(gfx::Surface& canvas, gfx::Rect box, bool up, gfx::Pixel colour) {
  constexpr int kRows = 4;
  const int centre = box.x + box.w / 2;
  const int top = box.y + (box.h - kRows) / 2;
  for (int r = 0; r < kRows; ++r) {
    const int half = up ? r : kRows - 1 - r;
    gfx::FillRect(canvas, {centre - half - 1, top + r, 2 * half + 2, 1}, colour);
  }
}

}  // namespace

int ListScroll::Distance(Request request) const {
  const int m = Max();
  const bool line = request == Request::kLineUp || request == Request::kLineDown;
  const int step = std::max(line ? m / 20 : m / 10, 5);
  if (request == Request::kLineUp || request == Request::kPageUp) {
    if (y <= 0) return 0;
    return step >= y ? -y : -step;
  }
  if (y >= m || y >= extent) return 0;
  return std::min(step, m - y);
}

int ListScroll::ThumbDistance(int position) const {
  if (y >= extent) return 0;
  return position - y;
}

CScrollableDialog::CScrollableDialog(int id) : win::Control(id) {}

CScrollableDialog::~CScrollableDialog() {
  StopRepeat();
}

void CScrollableDialog::LoadBackground(std::string_view image_name) {
  gfx::Surface image;
  if (LoadSkinBitmapInto(image_name, image)) SetBackgroundImage(std::move(image));
}

void CScrollableDialog::SetBackgroundImage(gfx::Surface image) {
  background_ = std::move(image);
  Invalidate();
}

void CScrollableDialog::Place(gfx::Rect bounds) {
  SetBounds(bounds);
  scroll_.page = bounds.h;
  MoveBy(-scroll_.y);
}

void CScrollableDialog::SetExtent(int height) {
  scroll_.extent = height;
  // A list that got shorter than where it was scrolled to shows its end at the panel's bottom.
  const int furthest = std::max(scroll_.Max(), 0);
  if (scroll_.y > furthest) MoveBy(furthest - scroll_.y);
  Invalidate();
}

void CScrollableDialog::RemoveRows() {
  rows_.clear();
  row_tops_.clear();
  checked_.reset();
  pressed_row_.reset();
  Invalidate();
}

CRadioButton& CScrollableDialog::AddRow(int index, std::string caption, gfx::Rect rect) {
  if (index >= static_cast<int>(rows_.size())) {
    rows_.resize(index + 1);
    row_tops_.resize(index + 1, 0);
  }
  rows_[index] = std::make_unique<CRadioButton>(index, std::move(caption));
  row_tops_[index] = rect.y;
  CRadioButton& row = *rows_[index];
  row.SetBounds({rect.x, rect.y - scroll_.y, rect.w, rect.h});
  // The row is see-through: the list's background, which stays put while the rows scroll, shows
  // under its box and its white text.
  row.SetTextColour(gfx::kWhite);
  row.SetOnChoose([this, index](CRadioButton&) {
    if (checked_ && *checked_ != index && Row(*checked_)) Row(*checked_)->SetUnchecked();
    checked_ = index;
  });
  Invalidate();
  return row;
}

CRadioButton* CScrollableDialog::Row(int index) const {
  if (index < 0 || index >= static_cast<int>(rows_.size())) return nullptr;
  return rows_[index].get();
}

void CScrollableDialog::CheckRow(int index) {
  CRadioButton* row = Row(index);
  if (!row) return;
  if (checked_ && *checked_ != index && Row(*checked_)) Row(*checked_)->SetUnchecked();
  row->SetChecked();
  checked_ = index;
  Invalidate();
}

void CScrollableDialog::SetOnCommand(std::function<bool(int index)> on_command) {
  on_command_ = std::move(on_command);
}

void CScrollableDialog::MoveBy(int distance) {
  if (distance == 0) return;
  scroll_.y += distance;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (!rows_[i]) continue;
    const gfx::Rect r = rows_[i]->Bounds();
    rows_[i]->SetBounds({r.x, row_tops_[i] - scroll_.y, r.w, r.h});
  }
  Invalidate();
}

void CScrollableDialog::ScrollBy(ListScroll::Request request) {
  MoveBy(scroll_.Distance(request));
}

void CScrollableDialog::ScrollThumbTo(int position) {
  MoveBy(scroll_.ThumbDistance(position));
}

void CScrollableDialog::ClickRow(int index) {
  CRadioButton* row = Row(index);
  if (!row) return;
  if (on_command_ && !on_command_(index)) return;
  row->Click();
  Invalidate();
}

// ---- the scroll bar ----

gfx::Rect CScrollableDialog::BarRect() const {
  const gfx::Rect r = Bounds();
  return {r.Right() - kBarWidth, r.y, kBarWidth, r.h};
}

int CScrollableDialog::TrackTop() const {
  return kArrowHeight;
}

int CScrollableDialog::TrackLength() const {
  return std::max(Bounds().h - 2 * kArrowHeight, 0);
}

int CScrollableDialog::ThumbLength() const {
  if (!scroll_.CanScroll() || scroll_.extent <= 0) return 0;
  const int length = TrackLength() * scroll_.page / scroll_.extent;
  return std::min(std::max(length, kMinThumb), TrackLength());
}

gfx::Rect CScrollableDialog::ThumbRect() const {
  const int length = ThumbLength();
  if (length == 0) return {};
  const int room = TrackLength() - length;
  const int y = std::clamp(scroll_.y, 0, scroll_.Max());
  const int top = TrackTop() + (scroll_.Max() > 0 ? room * y / scroll_.Max() : 0);
  const gfx::Rect bar = BarRect();
  return {bar.x + 3, bar.y + top, kBarWidth - 5, length};
}

void CScrollableDialog::StartRepeat(ListScroll::Request request) {
  held_ = request;
  ScrollBy(request);
  if (!Parent()) return;
  StopRepeat();
  // Held down, the request repeats after a pause.
  repeat_timer_ = Parent()->StartTimer(kRepeatDelayMs, [this, request] {
    StopRepeat();
    repeat_timer_ = Parent()->StartTimer(kRepeatPeriodMs, [this, request] {
      // Paging stops once the thumb has reached the pointer.
      const gfx::Rect thumb = ThumbRect();
      const gfx::Point p = Parent()->PointerPosition();
      if ((request == ListScroll::Request::kPageUp && p.y >= thumb.y) ||
          (request == ListScroll::Request::kPageDown && p.y < thumb.Bottom())) {
        return;
      }
      ScrollBy(request);
    });
  });
}

void CScrollableDialog::StopRepeat() {
  if (repeat_timer_ && Parent()) Parent()->StopTimer(*repeat_timer_);
  repeat_timer_.reset();
}

// ---- input ----

void CScrollableDialog::OnMouseDown(gfx::Point p) {
  const gfx::Rect bar = BarRect();
  if (bar.Contains(p)) {
    if (!scroll_.CanScroll()) return;
    const gfx::Rect thumb = ThumbRect();
    if (p.y < bar.y + kArrowHeight) {
      StartRepeat(ListScroll::Request::kLineUp);
    } else if (p.y >= bar.Bottom() - kArrowHeight) {
      StartRepeat(ListScroll::Request::kLineDown);
    } else if (p.y >= thumb.y && p.y < thumb.Bottom()) {
      dragging_thumb_ = true;
      drag_offset_ = p.y - thumb.y;
      Invalidate();
    } else {
      StartRepeat(p.y < thumb.y ? ListScroll::Request::kPageUp : ListScroll::Request::kPageDown);
    }
    return;
  }
  const gfx::Point local{p.x - Bounds().x, p.y - Bounds().y};
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i] && rows_[i]->Bounds().Contains(local)) {
      pressed_row_ = static_cast<int>(i);
      return;
    }
  }
}

void CScrollableDialog::OnMouseMove(gfx::Point p) {
  if (!dragging_thumb_) return;
  const int room = TrackLength() - ThumbLength();
  if (room <= 0) return;
  const int top = p.y - drag_offset_ - Bounds().y - TrackTop();
  const int position = std::clamp((top * scroll_.Max() + room / 2) / room, 0, scroll_.Max());
  ScrollThumbTo(position);
}

void CScrollableDialog::OnMouseUp(gfx::Point p) {
  StopRepeat();
  if (std::exchange(held_, std::nullopt)) Invalidate();
  if (dragging_thumb_) {
    dragging_thumb_ = false;
    Invalidate();
  }
  const std::optional<int> pressed = std::exchange(pressed_row_, std::nullopt);
  if (!pressed || !Bounds().Contains(p) || BarRect().Contains(p)) return;
  const gfx::Point local{p.x - Bounds().x, p.y - Bounds().y};
  if (Row(*pressed) && Row(*pressed)->Bounds().Contains(local)) ClickRow(*pressed);
}

void CScrollableDialog::OnMouseWheel(gfx::Point, int notches) {
  const auto request = notches > 0 ? ListScroll::Request::kLineUp : ListScroll::Request::kLineDown;
  for (int n = std::abs(notches); n > 0; --n) ScrollBy(request);
}

// ---- painting ----

void CScrollableDialog::Paint(gfx::Surface& target) {
  const gfx::Rect r = Bounds();
  if (r.Empty()) return;
  // Everything is drawn into a canvas of the list's size, so rows and bar end at its edges.
  gfx::Surface canvas(r.w, r.h);
  gfx::Copy(canvas, 0, 0, target, r);  // what lies under the see-through parts of the image
  if (!background_.Empty()) {
    gfx::CopyKeyed(canvas, canvas.Bounds(), background_, background_.Bounds(), gfx::kWindowKey);
  }
  for (const auto& row : rows_) {
    if (row && row->Visible() && !row->Bounds().Intersect(canvas.Bounds()).Empty())
      row->Paint(canvas);
  }
  PaintBar(canvas);
  gfx::Copy(target, r.x, r.y, canvas, canvas.Bounds());
}

void CScrollableDialog::PaintBar(gfx::Surface& canvas) const {
  const gfx::Rect r = Bounds();
  const gfx::Rect bar{r.w - kBarWidth, 0, kBarWidth, r.h};
  const bool enabled = scroll_.CanScroll();
  gfx::FillRect(canvas, bar, kTrough);
  gfx::FillRect(canvas, {bar.x, bar.y, 1, bar.h}, kEdge);
  const gfx::Rect up{bar.x + 1, bar.y, kBarWidth - 1, kArrowHeight};
  const gfx::Rect down{bar.x + 1, bar.Bottom() - kArrowHeight, kBarWidth - 1, kArrowHeight};
  gfx::FillRect(canvas, {up.x + 1, up.y + 1, up.w - 2, up.h - 2},
                held_ == ListScroll::Request::kLineUp ? kArrowFacePressed : kArrowFace);
  gfx::FillRect(canvas, {down.x + 1, down.y + 1, down.w - 2, down.h - 2},
                held_ == ListScroll::Request::kLineDown ? kArrowFacePressed : kArrowFace);
  const gfx::Pixel mark = enabled ? gfx::kAccent : kDisabledMark;
  Triangle(canvas, up, true, mark);
  Triangle(canvas, down, false, mark);
  if (!enabled) return;
  gfx::Rect thumb = ThumbRect();
  thumb.x -= r.x;
  thumb.y -= r.y;
  gfx::RoundRect(canvas, thumb, 4, 4, dragging_thumb_ ? kThumbPressed : gfx::kAccent,
                 dragging_thumb_ ? kThumbPressed : gfx::kAccent);
}

}  // namespace vt
