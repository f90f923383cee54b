#include "platform/gfx/text.h"

#include <SDL.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <mutex>

namespace vt::gfx {
namespace {

constexpr const char* kFallbackFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

bool EnsureTtf() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = TTF_Init() == 0; });
  return ready;
}

std::uint8_t Mix(std::uint8_t under, std::uint8_t over, unsigned alpha) {
  return static_cast<std::uint8_t>((over * alpha + under * (255 - alpha) + 127) / 255);
}

class TtfFont final : public Font {
 public:
  explicit TtfFont(TTF_Font* font) : font_(font) {}
  ~TtfFont() override { TTF_CloseFont(font_); }

  Size Measure(const std::string& text) const override {
    int w = 0;
    int h = 0;
    if (text.empty() || TTF_SizeUTF8(font_, text.c_str(), &w, &h) != 0) return {0, LineHeight()};
    return {w, h};
  }

  int LineHeight() const override { return TTF_FontHeight(font_); }

  void Draw(Surface& dst, Rect box, const std::string& text, Pixel colour,
            TextAlign align) const override {
    if (text.empty() || box.Empty()) return;
    const SDL_Color fg{Red(colour), Green(colour), Blue(colour), 255};
    SDL_Surface* rendered = TTF_RenderUTF8_Blended(font_, text.c_str(), fg);
    if (!rendered) return;
    SDL_Surface* argb = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(rendered);
    if (!argb) return;
    int x = box.x;
    int y = box.y;
    if (align == TextAlign::kCentre) x = box.x + (box.w - argb->w) / 2;
    if (align != TextAlign::kLeftTop) y = box.y + (box.h - argb->h) / 2;
    const Rect clip = box.Intersect(dst.Bounds());
    for (int row = 0; row < argb->h; ++row) {
      const int ty = y + row;
      if (ty < clip.y || ty >= clip.Bottom()) continue;
      const auto* in = reinterpret_cast<const Uint32*>(static_cast<const Uint8*>(argb->pixels) +
                                                       row * argb->pitch);
      Pixel* out = dst.Row(ty);
      for (int col = 0; col < argb->w; ++col) {
        const int tx = x + col;
        if (tx < clip.x || tx >= clip.Right()) continue;
        const unsigned alpha = in[col] >> 24;
        if (alpha == 0) continue;
        const Pixel under = out[tx];
        out[tx] = Rgb(Mix(Red(under), Red(colour), alpha), Mix(Green(under), Green(colour), alpha),
                      Mix(Blue(under), Blue(colour), alpha));
      }
    }
    SDL_FreeSurface(argb);
  }

 private:
  TTF_Font* font_;
};

}  // namespace

std::string FindSansFontFile() {
  std::string found;
  if (FcInit()) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcChar8* file = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
      found = reinterpret_cast<const char*>(file);
    }
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
  }
  // Only TrueType/OpenType files can be opened here.
  const bool usable = found.ends_with(".ttf") || found.ends_with(".otf") ||
                      found.ends_with(".TTF") || found.ends_with(".OTF");
  if (!usable) found = kFallbackFont;
  return found;
}

std::unique_ptr<Font> Font::OpenSans(int pixel_size) {
  if (!EnsureTtf()) return nullptr;
  TTF_Font* font = TTF_OpenFont(FindSansFontFile().c_str(), pixel_size);
  if (!font) font = TTF_OpenFont(kFallbackFont, pixel_size);
  if (!font) return nullptr;
  return std::make_unique<TtfFont>(font);
}

}  // namespace vt::gfx
