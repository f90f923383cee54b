#include "platform/gfx/text.h"

#include <SDL.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

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

// The code points of a UTF-8 text; a malformed byte stands for itself.
std::vector<std::uint32_t> CodePoints(const std::string& text) {
  std::vector<std::uint32_t> points;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    std::uint32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
    std::size_t n = 1;
    for (; n <= static_cast<std::size_t>(extra) && i + n < text.size(); ++n) {
      const auto next = static_cast<unsigned char>(text[i + n]);
      if ((next & 0xC0) != 0x80) break;
      point = (point << 6) | (next & 0x3F);
    }
    if (n != static_cast<std::size_t>(extra) + 1) {
      point = lead;
      n = 1;
    }
    points.push_back(point);
    i += n;
  }
  return points;
}

// The file of the desktop's sans font that fontconfig prefers for these characters.
std::string FindSansFontFileFor(const std::vector<std::uint32_t>& points) {
  std::string found;
  if (!FcInit()) return found;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
  FcCharSet* wanted = FcCharSetCreate();
  for (std::uint32_t point : points) FcCharSetAddChar(wanted, point);
  FcPatternAddCharSet(pattern, FC_CHARSET, wanted);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcChar8* file = nullptr;
  if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
    found = reinterpret_cast<const char*>(file);
  }
  if (match) FcPatternDestroy(match);
  FcCharSetDestroy(wanted);
  FcPatternDestroy(pattern);
  return found;
}

class TtfFont final : public Font {
 public:
  TtfFont(TTF_Font* font, int pixel_size) : font_(font), pixel_size_(pixel_size) {}
  ~TtfFont() override {
    for (auto& [file, fallback] : fallbacks_)
      if (fallback) TTF_CloseFont(fallback);
    TTF_CloseFont(font_);
  }

  Size Measure(const std::string& text) const override {
    int w = 0;
    int h = 0;
    if (text.empty() || TTF_SizeUTF8(FontFor(text), text.c_str(), &w, &h) != 0)
      return {0, LineHeight()};
    return {w, h};
  }

  int LineHeight() const override { return TTF_FontHeight(font_); }

  void Draw(Surface& dst, Rect box, const std::string& text, Pixel colour,
            TextAlign align) const override {
    if (text.empty() || box.Empty()) return;
    const SDL_Color fg{Red(colour), Green(colour), Blue(colour), 255};
    SDL_Surface* rendered = TTF_RenderUTF8_Blended(FontFor(text), text.c_str(), fg);
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
  // This font when it has every character of the text; otherwise the desktop's font for the
  // characters it lacks (a name in another script), at the same size.
  TTF_Font* FontFor(const std::string& text) const {
    if (auto known = font_for_text_.find(text); known != font_for_text_.end()) return known->second;
    TTF_Font* font = FindFontFor(text);
    font_for_text_.emplace(text, font);
    return font;
  }

  TTF_Font* FindFontFor(const std::string& text) const {
    std::vector<std::uint32_t> missing;
    for (std::uint32_t point : CodePoints(text))
      if (point >= 0x20 && !TTF_GlyphIsProvided32(font_, point)) missing.push_back(point);
    if (missing.empty()) return font_;
    const std::string file = FindSansFontFileFor(missing);
    if (file.empty()) return font_;
    auto [it, added] = fallbacks_.try_emplace(file, nullptr);
    if (added) it->second = TTF_OpenFont(file.c_str(), pixel_size_);
    return it->second ? it->second : font_;
  }

  TTF_Font* font_;
  int pixel_size_;
  mutable std::map<std::string, TTF_Font*> fallbacks_;      // by file
  mutable std::map<std::string, TTF_Font*> font_for_text_;  // texts drawn so far
};

std::string LookUpSansFontFile() {
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

}  // namespace

// The desktop's sans-serif face does not change while the program runs: asked for once.
std::string FindSansFontFile() {
  static const std::string file = LookUpSansFontFile();
  return file;
}

std::unique_ptr<Font> Font::OpenSans(int pixel_size) {
  if (!EnsureTtf()) return nullptr;
  TTF_Font* font = TTF_OpenFont(FindSansFontFile().c_str(), pixel_size);
  if (!font) font = TTF_OpenFont(kFallbackFont, pixel_size);
  if (!font) return nullptr;
  return std::make_unique<TtfFont>(font, pixel_size);
}

}  // namespace vt::gfx
