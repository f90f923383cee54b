#include "art.h"

#include <cairo.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include "picture.h"

namespace vt::skingen {

namespace {

using SurfacePtr = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using ContextPtr = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

constexpr double kPi = 3.14159265358979323846;

// The words of one drawing statement, read by position. The first bad word is remembered and
// reported once the statement has run; drawing with the zero it yields meanwhile is harmless.
class Args {
 public:
  Args(const Statement& s, const Description& d) : s_(s), d_(d) {}

  bool Need(size_t count) {
    if (s_.words.size() != count + 1) Fail("expects " + std::to_string(count) + " values");
    return error_.empty();
  }
  double Num(size_t i) {
    double v = 0;
    const std::string& w = Word(i);
    auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
    if (ec != std::errc() || end != w.data() + w.size()) Fail("'" + w + "' is not a number");
    return v;
  }
  Rgb Colour(size_t i) {
    Rgb c;
    if (!ParseColour(d_, Word(i), c)) Fail("'" + Word(i) + "' is not a colour");
    return c;
  }
  bool IsNone(size_t i) { return Word(i) == "none"; }
  const std::string& Word(size_t i) const {
    static const std::string kEmpty;
    return i < s_.words.size() ? s_.words[i] : kEmpty;
  }
  void Fail(const std::string& why) {
    if (error_.empty())
      error_ = "line " + std::to_string(s_.line) + ": " + s_.words[0] + ": " + why;
  }
  const std::string& error() const { return error_; }

 private:
  const Statement& s_;
  const Description& d_;
  std::string error_;
};

struct Canvas {
  cairo_t* cr;
  int width;
  int height;
  double text_end = 0;  // where the last text ended, for text that continues it
};

void Source(cairo_t* cr, Rgb c, double alpha = 1.0) {
  cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, alpha);
}

void RoundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  r = std::max(r, 0.0);
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 1.5 * kPi);
  cairo_close_path(cr);
}

void VerticalGradient(cairo_t* cr, double y0, double y1, Rgb top, Rgb bottom) {
  cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
  cairo_pattern_add_color_stop_rgb(p, 0, top.r / 255.0, top.g / 255.0, top.b / 255.0);
  cairo_pattern_add_color_stop_rgb(p, 1, bottom.r / 255.0, bottom.g / 255.0, bottom.b / 255.0);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
}

// An inner edge that reads as recessed (dark above, faint light below) or raised (the reverse).
void Bevel(cairo_t* cr, double x, double y, double w, double h, double r, bool recessed,
           double strength) {
  cairo_pattern_t* p = cairo_pattern_create_linear(0, y, 0, y + h);
  double dark = 0.55 * strength, light = 0.14 * strength;
  cairo_pattern_add_color_stop_rgba(p, 0, recessed ? 0 : 1, recessed ? 0 : 1, recessed ? 0 : 1,
                                    recessed ? dark : light);
  cairo_pattern_add_color_stop_rgba(p, 0.5, 0.5, 0.5, 0.5, 0);
  cairo_pattern_add_color_stop_rgba(p, 1, recessed ? 1 : 0, recessed ? 1 : 0, recessed ? 1 : 0,
                                    recessed ? light : dark);
  cairo_set_source(cr, p);
  cairo_set_line_width(cr, 1);
  RoundRect(cr, x + 0.5, y + 0.5, w - 1, h - 1, r > 0.5 ? r - 0.5 : 0);
  cairo_stroke(cr);
  cairo_pattern_destroy(p);
}

void SelectFont(cairo_t* cr, const std::string& weight, double size) {
  const char* family = weight == "condensed" ? "DejaVu Sans Condensed" : "DejaVu Sans";
  cairo_select_font_face(cr, family, CAIRO_FONT_SLANT_NORMAL,
                         weight == "regular" ? CAIRO_FONT_WEIGHT_NORMAL : CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, size);
}

// Text with its baseline at y; x is its left end, centre or right end by `align`.
double DrawText(cairo_t* cr, double x, double y, const std::string& align, const std::string& text,
                Rgb colour, double shadow) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  if (align == "centre") x -= e.x_advance / 2;
  if (align == "right") x -= e.x_advance;
  x = std::round(x);
  if (shadow > 0) {
    cairo_set_source_rgba(cr, 0, 0, 0, shadow);
    cairo_move_to(cr, x, y + 1);
    cairo_show_text(cr, text.c_str());
  }
  Source(cr, colour);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text.c_str());
  return x + e.x_advance;
}

// Dark metal with horizontal brush streaks: each row is a blurred random walk, so the grain runs
// left to right like a brushed faceplate. The seed is fixed so every build draws the same plate.
SurfacePtr BrushedMetal(int w, int h, Rgb top, Rgb bottom, double depth) {
  SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h), cairo_surface_destroy);
  cairo_surface_flush(s.get());
  unsigned char* data = cairo_image_surface_get_data(s.get());
  int stride = cairo_image_surface_get_stride(s.get());
  std::mt19937 rng(20240607u);
  auto rnd = [&] { return static_cast<double>(rng() % 2001) / 1000.0 - 1.0; };
  const int blur = 18;
  std::vector<double> raw(w + 2 * blur), streak(w);
  for (int y = 0; y < h; ++y) {
    for (auto& v : raw) v = rnd();
    double sum = 0;
    for (int i = 0; i < 2 * blur; ++i) sum += raw[i];
    for (int x = 0; x < w; ++x) {
      sum += raw[x + 2 * blur] - (x > 0 ? raw[x - 1] : 0);
      streak[x] = sum / (2 * blur + 1);
    }
    double row = rnd() * 0.6;
    double t = h > 1 ? static_cast<double>(y) / (h - 1) : 0;
    auto* px = reinterpret_cast<std::uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < w; ++x) {
      double n = depth * (streak[x] * 4.0 + row + rnd() * 0.35);
      auto ch = [&](int a, int b) {
        double v = a + (b - a) * t + n;
        return static_cast<std::uint32_t>(std::clamp(std::lround(v), 0L, 255L));
      };
      px[x] =
          0xFF000000u | ch(top.r, bottom.r) << 16 | ch(top.g, bottom.g) << 8 | ch(top.b, bottom.b);
    }
  }
  cairo_surface_mark_dirty(s.get());
  return s;
}

// --- Seven-segment digits of the display -------------------------------------------------------

// Segment centre lines inside a 13 x 17 cell, and the slant of the whole digit.
constexpr double kSegL = 2.0, kSegR = 10.0, kSegT = 1.0, kSegM = 8.0, kSegB = 15.0;
constexpr double kSegHalf = 1.0, kSegGap = 0.4, kSlant = 0.0;

void SegmentPath(cairo_t* cr, double ox, double oy, int seg) {
  // a b c d e f g: top, upper right, lower right, bottom, lower left, upper left, middle
  static constexpr double kEnds[7][4] = {{kSegL, kSegT, kSegR, kSegT}, {kSegR, kSegT, kSegR, kSegM},
                                         {kSegR, kSegM, kSegR, kSegB}, {kSegL, kSegB, kSegR, kSegB},
                                         {kSegL, kSegM, kSegL, kSegB}, {kSegL, kSegT, kSegL, kSegM},
                                         {kSegL, kSegM, kSegR, kSegM}};
  const auto& e = kEnds[seg];
  double len = std::hypot(e[2] - e[0], e[3] - e[1]);
  double ux = (e[2] - e[0]) / len, uy = (e[3] - e[1]) / len;
  double x0 = e[0] + ux * kSegGap, y0 = e[1] + uy * kSegGap;
  double x1 = e[2] - ux * kSegGap, y1 = e[3] - uy * kSegGap;
  double h = kSegHalf;
  const double pts[6][2] = {{x0, y0},
                            {x0 + (ux - uy) * h, y0 + (uy + ux) * h},
                            {x1 + (-ux - uy) * h, y1 + (-uy + ux) * h},
                            {x1, y1},
                            {x1 + (-ux + uy) * h, y1 + (-uy - ux) * h},
                            {x0 + (ux + uy) * h, y0 + (uy - ux) * h}};
  for (int i = 0; i < 6; ++i) {
    double x = ox + pts[i][0] + (17.0 - pts[i][1]) * kSlant, y = oy + pts[i][1];
    i == 0 ? cairo_move_to(cr, x, y) : cairo_line_to(cr, x, y);
  }
  cairo_close_path(cr);
}

// Which segments each digit lights, as bits a..g.
constexpr std::uint8_t kDigitSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                             0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// Every cell covers the same pixels whatever its digit (unlit segments are drawn dim), so a digit
// laid over the previous one at the same place replaces it completely.
void DrawDigit(cairo_t* cr, double x, double y, int digit, Rgb lit, Rgb unlit) {
  for (int seg = 0; seg < 7; ++seg) {
    bool on = digit >= 0 && (kDigitSegments[digit] >> seg & 1);
    Source(cr, on ? lit : unlit);
    SegmentPath(cr, x, y, seg);
    cairo_fill(cr);
  }
}

void Dot(cairo_t* cr, double x, double y, Rgb c) {
  Source(cr, c);
  cairo_arc(cr, x + (17.0 - y) * kSlant, y, 1.15, 0, 2 * kPi);
  cairo_fill(cr);
}

// --- Symbols -------------------------------------------------------------------------------------

// The microphone: its outline is the same in every state, only its colours change, so the lit
// and the dim picture cover exactly the same pixels.
void DrawMicrophone(cairo_t* cr, double x, double y, Rgb ring, Rgb body, Rgb grille) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  Source(cr, ring);
  cairo_set_line_width(cr, 1.6);
  cairo_arc(cr, 26, 26, 24.2, 0, 2 * kPi);
  cairo_stroke(cr);
  Source(cr, body);
  RoundRect(cr, 20, 8, 12, 23, 6);
  cairo_fill(cr);
  cairo_set_line_width(cr, 2.2);
  cairo_arc(cr, 26, 22.5, 10.5, 0, kPi);
  cairo_stroke(cr);
  cairo_move_to(cr, 26, 33);
  cairo_line_to(cr, 26, 40.5);
  cairo_stroke(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_move_to(cr, 19.5, 41.5);
  cairo_line_to(cr, 32.5, 41.5);
  cairo_stroke(cr);
  Source(cr, grille);
  cairo_set_line_width(cr, 1.2);
  for (double gy : {14.5, 18.5, 22.5}) {
    cairo_move_to(cr, 22, gy);
    cairo_line_to(cr, 30, gy);
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

void DrawPauseSymbol(cairo_t* cr, double x, double y, Rgb c) {
  Source(cr, c);
  RoundRect(cr, x + 6, y + 2, 7, 20, 1.5);
  RoundRect(cr, x + 17, y + 2, 7, 20, 1.5);
  cairo_fill(cr);
}

void DrawIcon(cairo_t* cr, const std::string& icon, double cx, double cy, double s, Rgb c) {
  Source(cr, c);
  if (icon == "record") {
    cairo_arc(cr, cx, cy, 6.5 * s, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
    cairo_arc(cr, cx - 2 * s, cy - 2 * s, 2 * s, 0, 2 * kPi);
    cairo_fill(cr);
  } else if (icon == "stop") {
    RoundRect(cr, cx - 5.5 * s, cy - 5.5 * s, 11 * s, 11 * s, 1.5 * s);
    cairo_fill(cr);
  } else if (icon == "play") {
    cairo_move_to(cr, cx - 4.5 * s, cy - 7 * s);
    cairo_line_to(cr, cx + 7 * s, cy);
    cairo_line_to(cr, cx - 4.5 * s, cy + 7 * s);
    cairo_close_path(cr);
    cairo_fill(cr);
  } else if (icon == "pause") {
    RoundRect(cr, cx - 5.5 * s, cy - 6.5 * s, 4 * s, 13 * s, 1);
    RoundRect(cr, cx + 1.5 * s, cy - 6.5 * s, 4 * s, 13 * s, 1);
    cairo_fill(cr);
  } else if (icon == "save") {
    cairo_set_line_width(cr, 2.2 * s);
    cairo_move_to(cr, cx, cy - 8 * s);
    cairo_line_to(cr, cx, cy + 1 * s);
    cairo_stroke(cr);
    cairo_move_to(cr, cx - 5 * s, cy - 1.5 * s);
    cairo_line_to(cr, cx + 5 * s, cy - 1.5 * s);
    cairo_line_to(cr, cx, cy + 4 * s);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, cx - 7.5 * s, cy + 2 * s);
    cairo_line_to(cr, cx - 7.5 * s, cy + 7 * s);
    cairo_line_to(cr, cx + 7.5 * s, cy + 7 * s);
    cairo_line_to(cr, cx + 7.5 * s, cy + 2 * s);
    cairo_stroke(cr);
  }
}

// A small cassette: shell, label window with two reel hubs, and the tape guide at the bottom.
void DrawCassette(cairo_t* cr, double x, double y, double s, Rgb c) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, s, s);
  Source(cr, c);
  cairo_set_line_width(cr, 1.6);
  RoundRect(cr, 0.8, 0.8, 28.4, 18.4, 2.5);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 1.2);
  RoundRect(cr, 5.5, 4.5, 19, 8, 3);
  cairo_stroke(cr);
  cairo_arc(cr, 10, 8.5, 2.3, 0, 2 * kPi);
  cairo_fill(cr);
  cairo_arc(cr, 20, 8.5, 2.3, 0, 2 * kPi);
  cairo_fill(cr);
  cairo_move_to(cr, 7, 19.2);
  cairo_line_to(cr, 9, 15.5);
  cairo_line_to(cr, 21, 15.5);
  cairo_line_to(cr, 23, 19.2);
  cairo_stroke(cr);
  cairo_restore(cr);
}

// A tape reel seen from the front: rim, three windows between the spokes, and the hub.
void DrawReel(cairo_t* cr, double cx, double cy, double r, Rgb c, double alpha) {
  cairo_save(cr);
  Source(cr, c, alpha);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
  cairo_new_sub_path(cr);
  for (int i = 0; i < 3; ++i) {
    double a0 = i * 2 * kPi / 3 + 0.28, a1 = a0 + 2 * kPi / 3 - 0.56;
    cairo_new_sub_path(cr);
    cairo_arc(cr, cx, cy, r * 0.82, a0, a1);
    cairo_arc_negative(cr, cx, cy, r * 0.36, a1 - 0.12, a0 + 0.12);
    cairo_close_path(cr);
  }
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, r * 0.14, 0, 2 * kPi);
  cairo_fill(cr);
  cairo_restore(cr);
}

// --- Drawing statements --------------------------------------------------------------------------

using Op = std::function<void(Canvas&, Args&)>;

const std::map<std::string, Op>& Ops() {
  static const std::map<std::string, Op> ops = {
      // fill COLOUR: the whole image, flat.
      {"fill",
       [](Canvas& c, Args& a) {
         if (!a.Need(1)) return;
         Source(c.cr, a.Colour(1));
         cairo_paint(c.cr);
       }},
      // body RADIUS TOP BOTTOM: the brushed faceplate over the whole image, with rounded corners.
      {"body",
       [](Canvas& c, Args& a) {
         if (!a.Need(3)) return;
         double r = a.Num(1);
         auto metal = BrushedMetal(c.width, c.height, a.Colour(2), a.Colour(3), 1.0);
         cairo_set_source_surface(c.cr, metal.get(), 0, 0);
         RoundRect(c.cr, 0, 0, c.width, c.height, r);
         cairo_fill(c.cr);
         Bevel(c.cr, 0, 0, c.width, c.height, r, false, 1.6);
         cairo_set_source_rgba(c.cr, 0, 0, 0, 0.55);
         cairo_set_line_width(c.cr, 1);
         RoundRect(c.cr, 0.5, 0.5, c.width - 1, c.height - 1, r - 0.5);
         cairo_stroke(c.cr);
         Bevel(c.cr, 1, 1, c.width - 2, c.height - 2, r - 1, false, 1.2);
       }},
      // band X Y W H TOP BOTTOM ALPHA: a translucent vertical gradient laid over the plate.
      {"band",
       [](Canvas& c, Args& a) {
         if (!a.Need(7)) return;
         double y = a.Num(2), h = a.Num(4);
         Rgb t = a.Colour(5), b = a.Colour(6);
         double alpha = a.Num(7);
         // Only over what is already drawn, so a band never widens the window's outline.
         cairo_set_operator(c.cr, CAIRO_OPERATOR_ATOP);
         cairo_pattern_t* p = cairo_pattern_create_linear(0, y, 0, y + h);
         cairo_pattern_add_color_stop_rgba(p, 0, t.r / 255.0, t.g / 255.0, t.b / 255.0, alpha);
         cairo_pattern_add_color_stop_rgba(p, 1, b.r / 255.0, b.g / 255.0, b.b / 255.0, alpha);
         cairo_set_source(c.cr, p);
         cairo_rectangle(c.cr, a.Num(1), y, a.Num(3), h);
         cairo_fill(c.cr);
         cairo_pattern_destroy(p);
       }},
      // panel X Y W H RADIUS FILL: a recessed area with a flat floor.
      {"panel",
       [](Canvas& c, Args& a) {
         if (!a.Need(6)) return;
         double x = a.Num(1), y = a.Num(2), w = a.Num(3), h = a.Num(4), r = a.Num(5);
         Source(c.cr, a.Colour(6));
         RoundRect(c.cr, x, y, w, h, r);
         cairo_fill(c.cr);
         Bevel(c.cr, x, y, w, h, r, true, 1.0);
       }},
      // rule X0 Y X1: an engraved line (a dark groove with a faint light edge below it).
      {"rule",
       [](Canvas& c, Args& a) {
         if (!a.Need(3)) return;
         double x0 = a.Num(1), y = a.Num(2), x1 = a.Num(3);
         cairo_set_line_width(c.cr, 1);
         cairo_set_source_rgba(c.cr, 0, 0, 0, 0.55);
         cairo_move_to(c.cr, x0, y + 0.5);
         cairo_line_to(c.cr, x1, y + 0.5);
         cairo_stroke(c.cr);
         cairo_set_source_rgba(c.cr, 1, 1, 1, 0.08);
         cairo_move_to(c.cr, x0, y + 1.5);
         cairo_line_to(c.cr, x1, y + 1.5);
         cairo_stroke(c.cr);
       }},
      // line X0 Y0 X1 Y1 WIDTH COLOUR: a plain straight line.
      {"line",
       [](Canvas& c, Args& a) {
         if (!a.Need(6)) return;
         Source(c.cr, a.Colour(6));
         cairo_set_line_width(c.cr, a.Num(5));
         cairo_move_to(c.cr, a.Num(1), a.Num(2));
         cairo_line_to(c.cr, a.Num(3), a.Num(4));
         cairo_stroke(c.cr);
       }},
      // text X Y SIZE WEIGHT COLOUR ALIGN "TEXT" SHADOW: one line of words, baseline at Y.
      // WEIGHT: regular, bold or condensed. ALIGN: left, centre, right, or "after" to continue
      // the previous text. SHADOW: opacity of the dark copy one pixel below (0 for none).
      {"text",
       [](Canvas& c, Args& a) {
         if (!a.Need(8)) return;
         SelectFont(c.cr, a.Word(4), a.Num(3));
         bool after = a.Word(6) == "after";
         c.text_end = DrawText(c.cr, after ? c.text_end : a.Num(1), a.Num(2),
                               after ? "left" : a.Word(6), a.Word(7), a.Colour(5), a.Num(8));
       }},
      // cassette X Y SCALE COLOUR
      {"cassette",
       [](Canvas& c, Args& a) {
         if (a.Need(4)) DrawCassette(c.cr, a.Num(1), a.Num(2), a.Num(3), a.Colour(4));
       }},
      // symbol ICON CX CY SCALE COLOUR: a button symbol (record, stop, play, pause, save) alone.
      {"symbol",
       [](Canvas& c, Args& a) {
         if (a.Need(5)) DrawIcon(c.cr, a.Word(1), a.Num(2), a.Num(3), a.Num(4), a.Colour(5));
       }},
      // reel CX CY RADIUS COLOUR ALPHA
      {"reel",
       [](Canvas& c, Args& a) {
         if (a.Need(5)) DrawReel(c.cr, a.Num(1), a.Num(2), a.Num(3), a.Colour(4), a.Num(5));
       }},
      // screw CX CY: a small slotted screw head.
      {"screw",
       [](Canvas& c, Args& a) {
         if (!a.Need(2)) return;
         double x = a.Num(1), y = a.Num(2);
         cairo_pattern_t* p = cairo_pattern_create_radial(x - 1.2, y - 1.2, 0.3, x, y, 3.6);
         cairo_pattern_add_color_stop_rgb(p, 0, 0.62, 0.64, 0.67);
         cairo_pattern_add_color_stop_rgb(p, 1, 0.20, 0.21, 0.23);
         cairo_set_source(c.cr, p);
         cairo_arc(c.cr, x, y, 3.5, 0, 2 * kPi);
         cairo_fill_preserve(c.cr);
         cairo_pattern_destroy(p);
         cairo_set_source_rgba(c.cr, 0, 0, 0, 0.7);
         cairo_set_line_width(c.cr, 0.8);
         cairo_stroke(c.cr);
         cairo_set_line_width(c.cr, 1.1);
         cairo_move_to(c.cr, x - 2.2, y + 2.2);
         cairo_line_to(c.cr, x + 2.2, y - 2.2);
         cairo_stroke(c.cr);
       }},
      // lcd X Y W H RADIUS RIM FLOOR: the display glass in its rim; the floor is flat so that
      // glyph edges laid on it meet it without a seam.
      {"lcd",
       [](Canvas& c, Args& a) {
         if (!a.Need(7)) return;
         double x = a.Num(1), y = a.Num(2), w = a.Num(3), h = a.Num(4), r = a.Num(5);
         Source(c.cr, a.Colour(6));
         RoundRect(c.cr, x, y, w, h, r);
         cairo_fill(c.cr);
         Bevel(c.cr, x, y, w, h, r, true, 1.3);
         Source(c.cr, a.Colour(7));
         cairo_rectangle(c.cr, x + 2, y + 2, w - 4, h - 4);
         cairo_fill(c.cr);
       }},
      // digit X Y N LIT UNLIT: one display digit (N = -1 for all segments unlit).
      {"digit",
       [](Canvas& c, Args& a) {
         if (!a.Need(5)) return;
         int n = static_cast<int>(a.Num(3));
         if (n < -1 || n > 9) a.Fail("digit must be -1 to 9");
         DrawDigit(c.cr, a.Num(1), a.Num(2), n, a.Colour(4), a.Colour(5));
       }},
      // digitstrip LIT UNLIT: the ten digits side by side in 13-pixel cells.
      {"digitstrip",
       [](Canvas& c, Args& a) {
         if (!a.Need(2)) return;
         for (int d = 0; d < 10; ++d) DrawDigit(c.cr, 13.0 * d, 0, d, a.Colour(1), a.Colour(2));
       }},
      // colon X TOP COLOUR / point X TOP COLOUR / dash X TOP COLOUR: separators beside digit
      // cells whose top is TOP; X is the centre of the gap.
      {"colon",
       [](Canvas& c, Args& a) {
         if (!a.Need(3)) return;
         Dot(c.cr, a.Num(1), a.Num(2) + 5, a.Colour(3));
         Dot(c.cr, a.Num(1), a.Num(2) + 12, a.Colour(3));
       }},
      {"point",
       [](Canvas& c, Args& a) {
         if (a.Need(3)) Dot(c.cr, a.Num(1), a.Num(2) + 15.2, a.Colour(3));
       }},
      {"dash",
       [](Canvas& c, Args& a) {
         if (!a.Need(3)) return;
         Source(c.cr, a.Colour(3));
         cairo_rectangle(c.cr, a.Num(1) - 3, a.Num(2) + 7.5, 6, 2);
         cairo_fill(c.cr);
       }},
      // bars X0 X1 STEP TOP BOTTOM COLOUR: one-pixel columns every STEP pixels.
      {"bars",
       [](Canvas& c, Args& a) {
         if (!a.Need(6)) return;
         double step = a.Num(3);
         if (step < 1) return a.Fail("step must be at least 1");
         Source(c.cr, a.Colour(6));
         for (double x = a.Num(1); x <= a.Num(2); x += step) {
           cairo_rectangle(c.cr, x, a.Num(4), 1, a.Num(5) - a.Num(4));
         }
         cairo_fill(c.cr);
       }},
      // pausesymbol X Y COLOUR (30 x 24)
      {"pausesymbol",
       [](Canvas& c, Args& a) {
         if (a.Need(3)) DrawPauseSymbol(c.cr, a.Num(1), a.Num(2), a.Colour(3));
       }},
      // microphone X Y RING BODY GRILLE (52 x 52)
      {"microphone",
       [](Canvas& c, Args& a) {
         if (a.Need(5)) {
           DrawMicrophone(c.cr, a.Num(1), a.Num(2), a.Colour(3), a.Colour(4), a.Colour(5));
         }
       }},
      // button SHAPE TOP BOTTOM RING ICON ICONCOLOUR LABELCOLOUR "LABEL": a face filling the
      // image. SHAPE: round, or tab (square top, hanging from the window's top edge). RING: an
      // inner highlight outline, or none.
      {"button",
       [](Canvas& c, Args& a) {
         if (!a.Need(8)) return;
         cairo_t* cr = c.cr;
         double w = c.width, h = c.height;
         bool tab = a.Word(1) == "tab";
         if (!tab && a.Word(1) != "round") return a.Fail("shape must be round or tab");
         double r = tab ? 5 : 7;
         double top = tab ? -r : 0;
         VerticalGradient(cr, 0, h, a.Colour(2), a.Colour(3));
         RoundRect(cr, 0, top, w, h - top, r);
         cairo_fill(cr);
         Bevel(cr, 1, top + 1, w - 2, h - top - 2, r - 1, false, 1.5);
         if (!a.IsNone(4)) {
           Source(cr, a.Colour(4), 0.9);
           cairo_set_line_width(cr, 1.2);
           RoundRect(cr, 1.6, top + 1.6, w - 3.2, h - top - 3.2, r - 1.5);
           cairo_stroke(cr);
         }
         cairo_set_source_rgba(cr, 0.02, 0.02, 0.03, 0.95);
         cairo_set_line_width(cr, 1);
         RoundRect(cr, 0.5, top + 0.5, w - 1, h - top - 1, r - 0.5);
         cairo_stroke(cr);
         double s = h / 38.0;
         double label_left = 6, label_right = w - 6;
         if (!a.IsNone(5)) {
           double cx = std::round(h * 0.58);
           DrawIcon(cr, a.Word(5), cx, h / 2, s, a.Colour(6));
           label_left = cx + 10 * s;
         }
         // The label is as large as the face allows, centred in the room beside the icon.
         double size = std::round(13.5 * std::min(1.0, s * 1.25));
         cairo_text_extents_t e;
         do {
           SelectFont(cr, "bold", size);
           cairo_text_extents(cr, a.Word(8).c_str(), &e);
         } while (e.x_advance > label_right - label_left && --size > 7);
         double base = std::round(h / 2 + size * 0.36) + (tab ? -0.5 : 0);
         DrawText(cr, (label_left + label_right) / 2, base, "centre", a.Word(8), a.Colour(7), 0.6);
       }},
  };
  return ops;
}

bool MakeMatte(const ImagePlan& img, const Description& d,
               const std::map<std::string, Picture>& made, Picture& out, std::string& error) {
  out = {img.width, img.height, std::vector<Rgb>(static_cast<size_t>(img.width) * img.height)};
  Rgb flat;
  if (ParseColour(d, img.matte, flat)) {
    std::fill(out.pixels.begin(), out.pixels.end(), flat);
    return true;
  }
  // crop:<image>:<x>:<y>, the image's own area of a picture made earlier.
  std::vector<std::string> part;
  for (size_t at = 0, next; at <= img.matte.size(); at = next + 1) {
    next = img.matte.find(':', at);
    if (next == std::string::npos) next = img.matte.size();
    part.push_back(img.matte.substr(at, next - at));
  }
  int x = 0, y = 0;
  auto it = part.size() == 4 && part[0] == "crop" ? made.find(part[1]) : made.end();
  if (it == made.end() ||
      std::from_chars(part[2].data(), part[2].data() + part[2].size(), x).ec != std::errc() ||
      std::from_chars(part[3].data(), part[3].data() + part[3].size(), y).ec != std::errc() ||
      x < 0 || y < 0 || x + img.width > it->second.width || y + img.height > it->second.height) {
    error = "line " + std::to_string(img.line) + ": matte '" + img.matte +
            "' is neither a colour nor crop:<earlier image>:<x>:<y> inside it";
    return false;
  }
  for (int row = 0; row < img.height; ++row) {
    for (int col = 0; col < img.width; ++col) {
      out.pixels[static_cast<size_t>(row) * img.width + col] = it->second.At(x + col, y + row);
    }
  }
  return true;
}

// Runs the drawing statements of `img` on `cr`, whose user space is the image's own pixels.
bool DrawImage(const ImagePlan& img, const Description& d, cairo_t* cr, std::string& error) {
  // Fixed font rendering so that the images come out the same on every machine.
  cairo_font_options_t* fo = cairo_font_options_create();
  cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(cr, fo);
  cairo_font_options_destroy(fo);

  Canvas canvas{cr, img.width, img.height};
  for (const Statement& s : img.ops) {
    auto op = Ops().find(s.words[0]);
    if (op == Ops().end()) {
      error = "line " + std::to_string(s.line) + ": unknown drawing '" + s.words[0] + "'";
      return false;
    }
    Args args(s, d);
    cairo_save(cr);
    op->second(canvas, args);
    cairo_restore(cr);
    if (!args.error().empty()) {
      error = args.error();
      return false;
    }
  }
  if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
    error = img.name + ": " + cairo_status_to_string(cairo_status(cr));
    return false;
  }
  return true;
}

}  // namespace

bool MakeSkin(const Description& d, const std::string& out_dir, std::string& error) {
  std::map<std::string, Picture> made;
  for (const ImagePlan& img : d.images) {
    Picture matte;
    if (!MakeMatte(img, d, made, matte, error)) return false;
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, img.width, img.height),
                       cairo_surface_destroy);
    ContextPtr cr(cairo_create(surface.get()), cairo_destroy);
    if (!DrawImage(img, d, cr.get(), error)) return false;
    cairo_surface_flush(surface.get());
    const Rgb* key = img.key == KeyKind::kWindow    ? &kWindowKey
                     : img.key == KeyKind::kDisplay ? &kDisplayKey
                                                    : nullptr;
    Picture pic =
        Flatten(cairo_image_surface_get_data(surface.get()),
                cairo_image_surface_get_stride(surface.get()), img.width, img.height, matte, key);
    if (!WriteBmp(pic, out_dir + "/" + img.name, error)) return false;
    made[img.name] = std::move(pic);
  }
  return true;
}

bool MakeIcon(const Description& d, const std::string& image, int size, const std::string& png,
              std::string& error) {
  auto img = std::find_if(d.images.begin(), d.images.end(),
                          [&](const ImagePlan& i) { return i.name == image; });
  if (img == d.images.end()) {
    error = "no image " + image + " in the description";
    return false;
  }
  if (img->width != img->height || size <= 0) {
    error = image + ": an icon is drawn from a square image into a square of at least one pixel";
    return false;
  }
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size),
                     cairo_surface_destroy);
  ContextPtr cr(cairo_create(surface.get()), cairo_destroy);
  cairo_scale(cr.get(), static_cast<double>(size) / img->width,
              static_cast<double>(size) / img->height);
  if (!DrawImage(*img, d, cr.get(), error)) return false;
  const cairo_status_t written = cairo_surface_write_to_png(surface.get(), png.c_str());
  if (written != CAIRO_STATUS_SUCCESS) {
    error = png + ": " + cairo_status_to_string(written);
    return false;
  }
  return true;
}

}  // namespace vt::skingen
