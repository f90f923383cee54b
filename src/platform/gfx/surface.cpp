#include "platform/gfx/surface.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vt::gfx {

Rect Rect::Intersect(const Rect& o) const {
  const int left = std::max(x, o.x);
  const int top = std::max(y, o.y);
  const int right = std::min(Right(), o.Right());
  const int bottom = std::min(Bottom(), o.Bottom());
  if (right <= left || bottom <= top) return {left, top, 0, 0};
  return {left, top, right - left, bottom - top};
}

Surface::Surface(int width, int height, Pixel fill)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * height_, fill) {}

void Copy(Surface& dst, int dst_x, int dst_y, const Surface& src, Rect src_rect) {
  src_rect = src_rect.Intersect(src.Bounds());
  // Clip the destination, then shift the source by what was cut off.
  Rect target = Rect{dst_x, dst_y, src_rect.w, src_rect.h}.Intersect(dst.Bounds());
  if (target.Empty()) return;
  const int sx = src_rect.x + (target.x - dst_x);
  const int sy = src_rect.y + (target.y - dst_y);
  for (int row = 0; row < target.h; ++row) {
    std::copy_n(src.Row(sy + row) + sx, target.w, dst.Row(target.y + row) + target.x);
  }
}

void CopyKeyed(Surface& dst, Rect dst_rect, const Surface& src, Rect src_rect, Pixel key) {
  if (dst_rect.Empty() || src_rect.Empty()) return;
  const Rect visible = dst_rect.Intersect(dst.Bounds());
  for (int y = visible.y; y < visible.Bottom(); ++y) {
    const long sy = src_rect.y + static_cast<long>(y - dst_rect.y) * src_rect.h / dst_rect.h;
    if (sy < 0 || sy >= src.Height()) continue;
    Pixel* out = dst.Row(y);
    const Pixel* in = src.Row(static_cast<int>(sy));
    for (int x = visible.x; x < visible.Right(); ++x) {
      const long sx = src_rect.x + static_cast<long>(x - dst_rect.x) * src_rect.w / dst_rect.w;
      if (sx < 0 || sx >= src.Width()) continue;
      const Pixel p = in[sx];
      if (p != key) out[x] = p;
    }
  }
}

void FillRect(Surface& dst, Rect r, Pixel colour) {
  r = r.Intersect(dst.Bounds());
  for (int y = r.y; y < r.Bottom(); ++y) std::fill_n(dst.Row(y) + r.x, r.w, colour);
}

void FrameRect(Surface& dst, Rect r, Pixel colour) {
  if (r.Empty()) return;
  FillRect(dst, {r.x, r.y, r.w, 1}, colour);
  FillRect(dst, {r.x, r.Bottom() - 1, r.w, 1}, colour);
  FillRect(dst, {r.x, r.y, 1, r.h}, colour);
  FillRect(dst, {r.Right() - 1, r.y, 1, r.h}, colour);
}

namespace {

// How far row `y` of a rounded rectangle is indented at its left and right ends.
int CornerInset(int y, int h, int rx, int ry) {
  if (rx <= 0 || ry <= 0) return 0;
  const int dy_top = ry - 1 - y;
  const int dy_bottom = y - (h - ry);
  const int dy = std::max(dy_top, dy_bottom);
  if (dy < 0) return 0;
  // Point on the ellipse of radii rx, ry at vertical distance dy (+0.5 for pixel centres).
  const double fy = (dy + 0.5) / ry;
  const double fx = fy >= 1.0 ? 0.0 : std::sqrt(1.0 - fy * fy);
  return std::clamp(static_cast<int>(std::ceil(rx - fx * rx - 1e-9)), 0, rx);
}

}  // namespace

void RoundRect(Surface& dst, Rect r, int ellipse_w, int ellipse_h, Pixel pen, Pixel fill) {
  if (r.Empty()) return;
  const int rx = std::min(ellipse_w / 2, r.w / 2);
  const int ry = std::min(ellipse_h / 2, r.h / 2);
  for (int y = 0; y < r.h; ++y) {
    const int inset = CornerInset(y, r.h, rx, ry);
    const int left = r.x + inset;
    const int width = r.w - 2 * inset;
    if (width <= 0) continue;
    const bool edge_row = y == 0 || y == r.h - 1;
    if (edge_row) {
      FillRect(dst, {left, r.y + y, width, 1}, pen);
      continue;
    }
    // The outline also covers the steps between corner rows.
    const int above = CornerInset(y - 1, r.h, rx, ry);
    const int below = CornerInset(y + 1, r.h, rx, ry);
    const int step = std::max({1, inset - above, inset - below});
    FillRect(dst, {left, r.y + y, width, 1}, fill);
    FillRect(dst, {left, r.y + y, std::min(step, width), 1}, pen);
    FillRect(dst, {r.Right() - inset - std::min(step, width), r.y + y, std::min(step, width), 1},
             pen);
  }
}

void GradientH(Surface& dst, Rect r, Pixel left, Pixel right) {
  if (r.Empty()) return;
  auto channel = [&](int from, int to, int column) {
    const int moved = column * std::abs(to - from) / r.w;
    return static_cast<std::uint8_t>(to >= from ? from + moved : from - moved);
  };
  for (int c = 1; c <= r.w; ++c) {
    const Pixel colour =
        Rgb(channel(Red(left), Red(right), c), channel(Green(left), Green(right), c),
            channel(Blue(left), Blue(right), c));
    FillRect(dst, {r.x + c - 1, r.y, 1, r.h}, colour);
  }
}

}  // namespace vt::gfx
