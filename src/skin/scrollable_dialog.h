// The scrolling list of recording sources: a panel over the skin image "recorderoptions.bmp"
// (which stays where it is while the rows scroll), one source radio per row, and a vertical scroll
// bar of its own drawn in the skin's colours. A click on a row first goes to the list's command
// handler (which applies the source), then to the row, which becomes the only checked one.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/surface.h"
#include "platform/window/window.h"
#include "skin/radio_button.h"

namespace vt {

// The list's vertical scrolling: position y, page (the visible height) and extent (the height of
// the whole list), in pixels. Each request returns the distance to move by; Apply moves.
struct ListScroll {
  enum class Request { kLineUp, kLineDown, kPageUp, kPageDown };

  int y = 0;
  int page = 0;
  int extent = 0;

  int Max() const { return extent - page; }
  bool CanScroll() const { return extent > page; }
  int Distance(Request request) const;
  // Dragging the thumb to `position`.
  int ThumbDistance(int position) const;
};

class CScrollableDialog : public win::Control {
 public:
  static constexpr int kBarWidth = 14;
  static constexpr int kArrowHeight = 14;
  static constexpr int kMinThumb = 12;
  static constexpr int kRepeatDelayMs = 400;
  static constexpr int kRepeatPeriodMs = 80;

  explicit CScrollableDialog(int id);
  ~CScrollableDialog() override;

  // The background image, painted under the rows.
  void LoadBackground(std::string_view image_name);
  void SetBackgroundImage(gfx::Surface image);
  const gfx::Surface& BackgroundSurface() const { return background_; }

  // Puts the list in its place: the page becomes its height and the list scrolls back to the top.
  void Place(gfx::Rect bounds);
  // The scroll position stays where it can: a list now too short to be scrolled that far is
  // scrolled back to show its end.
  void SetExtent(int height);
  const ListScroll& Scroll() const { return scroll_; }

  // A row for item `index`, at `rect` in the list's own coordinates (unscrolled).
  CRadioButton& AddRow(int index, std::string caption, gfx::Rect rect);
  // Takes every row away (none is checked then); the scroll position stays.
  void RemoveRows();
  // Null for an item that has no row.
  CRadioButton* Row(int index) const;
  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Checks row `index` and unchecks the row checked before; nothing for a missing row.
  void CheckRow(int index);
  std::optional<int> CheckedRow() const { return checked_; }

  // Runs for a click on row `index` before the row takes it; false leaves the row as it is.
  void SetOnCommand(std::function<bool(int index)> on_command);

  // The scroll requests of the bar and the wheel.
  void ScrollBy(ListScroll::Request request);
  void ScrollThumbTo(int position);

  // Geometry in window coordinates.
  gfx::Rect BarRect() const;
  gfx::Rect ThumbRect() const;  // empty when nothing can scroll

  void Paint(gfx::Surface& target) override;
  void OnMouseDown(gfx::Point p) override;
  void OnMouseUp(gfx::Point p) override;
  void OnMouseMove(gfx::Point p) override;
  void OnMouseWheel(gfx::Point p, int notches) override;
  bool WantsHandCursor() const override { return true; }

 private:
  void MoveBy(int distance);
  void ClickRow(int index);
  int TrackTop() const;
  int TrackLength() const;
  int ThumbLength() const;
  void StartRepeat(ListScroll::Request request);
  void StopRepeat();
  void PaintBar(gfx::Surface& canvas) const;

  gfx::Surface background_;
  ListScroll scroll_;
  std::vector<std::unique_ptr<CRadioButton>> rows_;  // by item index; null: no row
  std::vector<int> row_tops_;                        // unscrolled, in list coordinates
  std::optional<int> checked_;
  std::function<bool(int)> on_command_;

  std::optional<int> pressed_row_;
  bool dragging_thumb_ = false;
  int drag_offset_ = 0;
  std::optional<win::TimerId> repeat_timer_;
  std::optional<ListScroll::Request> held_;  // the arrow or track part held down
};

}  // namespace vt
