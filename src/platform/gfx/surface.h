// 32-bit drawing surfaces and the few drawing operations the skinned windows need.
#pragma once

#include <cstdint>
#include <vector>

namespace vt::gfx {

// A colour as 0x00RRGGBB; the top byte is always 0 in a Surface.
using Pixel = std::uint32_t;

constexpr Pixel Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return (Pixel{r} << 16) | (Pixel{g} << 8) | Pixel{b};
}
constexpr std::uint8_t Red(Pixel p) {
  return static_cast<std::uint8_t>(p >> 16);
}
constexpr std::uint8_t Green(Pixel p) {
  return static_cast<std::uint8_t>(p >> 8);
}
constexpr std::uint8_t Blue(Pixel p) {
  return static_cast<std::uint8_t>(p);
}

// Key colour of window backgrounds and skin button faces: never painted.
inline constexpr Pixel kWindowKey = Rgb(2, 1, 255);
// Key colour of the display panel's glyphs and symbols.
inline constexpr Pixel kPanelKey = Rgb(5, 5, 5);
inline constexpr Pixel kAccent = Rgb(207, 221, 39);
inline constexpr Pixel kWhite = Rgb(255, 255, 255);

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int w = 0;
  int h = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;

  int Right() const { return x + w; }
  int Bottom() const { return y + h; }
  bool Empty() const { return w <= 0 || h <= 0; }
  bool Contains(Point p) const { return p.x >= x && p.y >= y && p.x < x + w && p.y < y + h; }
  Rect Intersect(const Rect& o) const;
  friend bool operator==(const Rect&, const Rect&) = default;
};

class Surface {
 public:
  Surface() = default;
  Surface(int width, int height, Pixel fill = 0);

  int Width() const { return width_; }
  int Height() const { return height_; }
  Size GetSize() const { return {width_, height_}; }
  Rect Bounds() const { return {0, 0, width_, height_}; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  Pixel At(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
  void Set(int x, int y, Pixel p) { pixels_[static_cast<std::size_t>(y) * width_ + x] = p; }
  Pixel* Row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
  const Pixel* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
  const std::vector<Pixel>& Pixels() const { return pixels_; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<Pixel> pixels_;
};

// Copies src_rect of src to (dst_x, dst_y) of dst, clipped to both surfaces.
void Copy(Surface& dst, int dst_x, int dst_y, const Surface& src, Rect src_rect);

// Copies src_rect of src onto dst_rect of dst, scaled by nearest neighbour when the sizes differ,
// leaving out every source pixel of the key colour.
void CopyKeyed(Surface& dst, Rect dst_rect, const Surface& src, Rect src_rect, Pixel key);

void FillRect(Surface& dst, Rect r, Pixel colour);
// A one-pixel frame just inside r.
void FrameRect(Surface& dst, Rect r, Pixel colour);
// A rectangle with rounded corners (corner ellipse ellipse_w x ellipse_h): outline in pen,
// inside in fill.
void RoundRect(Surface& dst, Rect r, int ellipse_w, int ellipse_h, Pixel pen, Pixel fill);
// Columns from left to right, column r (1-based) moved from `left` toward `right` by
// r * |difference| / width, so the last column is exactly `right`.
void GradientH(Surface& dst, Rect r, Pixel left, Pixel right);

}  // namespace vt::gfx
