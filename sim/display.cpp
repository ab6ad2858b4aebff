#include "display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace sim {
namespace {

// Frequency axis: centre 1.5 GHz, span 200 MHz; level axis: reference 0 dBm, 10 dB/div.
constexpr double kCentreGHz = 1.5;
constexpr double kSpanGHz = 0.2;
constexpr double kDbPerDiv = 10.0;
constexpr int kDivX = 10;
constexpr int kDivY = 8;

struct Peak {
  double pos;    // 0..1 across the span
  double level;  // dBm
  double width;  // fraction of the span
};
constexpr Peak kPeaks[] = {{0.5, -12.0, 0.012}, {0.25, -45.0, 0.01}, {0.75, -51.0, 0.01}};
constexpr double kNoiseDbm = -72.0;

double Smooth(double pos) {
  double p = std::pow(10.0, kNoiseDbm / 10.0);
  for (const Peak& k : kPeaks) {
    double d = (pos - k.pos) / k.width;
    p += std::pow(10.0, k.level / 10.0) / ((1.0 + d * d) * (1.0 + d * d));
  }
  return 10.0 * std::log10(p);
}

// Deterministic noise: a fixed-seed linear congruential generator.
struct Noise {
  std::uint32_t state = 7613;
  double Next() {  // -1..1
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / static_cast<double>(1u << 23) - 1.0;
  }
};

double GHzAt(double pos) { return kCentreGHz + (pos - 0.5) * kSpanGHz; }

}  // namespace

const std::array<Rgb, kPaletteSize>& DisplayPalette() {
  static const std::array<Rgb, kPaletteSize> palette{{
      {0, 0, 0},        // background
      {56, 64, 72},     // grid
      {170, 170, 170},  // border
      {255, 220, 0},    // trace 1
      {0, 200, 255},    // trace 2
      {255, 64, 64},    // marker 1
      {64, 230, 64},    // marker 2
      {235, 235, 235},  // text
      {0, 0, 96},       // annotation bars
  }};
  return palette;
}

Canvas RenderDisplay(int width, int height, const std::string& model) {
  Canvas c(width, height, kBackground);
  const int s = std::max(1, height / 400);
  const int line = 10 * s;
  // Small displays have no room for text: grid and traces fill them.
  const bool annotate = width >= 240 && height >= 160;
  const int bar = annotate ? 2 * line + 4 * s : 0;
  const int margin = annotate ? 6 * s : 1;

  c.FillRect(0, 0, width, bar, kBarBackground);
  c.FillRect(0, height - bar, width, bar, kBarBackground);

  const int left = annotate ? 8 * s + TextWidth("-80", s) : margin;
  const int top = bar + margin;
  const int right = width - (annotate ? 8 * s : margin);
  const int bottom = height - bar - margin;
  const int gw = right - left;
  const int gh = bottom - top;
  if (gw < 2 * kDivX || gh < 2 * kDivY) return c;  // too small for more than the bars

  for (int i = 0; i <= kDivX; ++i) {
    int x = left + gw * i / kDivX;
    c.Line(x, top, x, bottom, kGrid, i == 0 || i == kDivX ? 0 : 2);
  }
  for (int i = 0; i <= kDivY; ++i) {
    int y = top + gh * i / kDivY;
    c.Line(left, y, right, y, kGrid, i == 0 || i == kDivY ? 0 : 2);
    char label[8];
    std::snprintf(label, sizeof label, "%d", -10 * i);
    if (annotate) DrawText(c, left - 2 * s - TextWidth(label, s), y - 3 * s, label, kText, s);
  }
  c.Line(left, top, right, top, kBorder);
  c.Line(left, bottom, right, bottom, kBorder);
  c.Line(left, top, left, bottom, kBorder);
  c.Line(right, top, right, bottom, kBorder);

  auto y_of = [&](double dbm) {
    double frac = std::clamp(-dbm / (kDbPerDiv * kDivY), 0.0, 1.0);
    return top + static_cast<int>(std::lround(frac * gh));
  };

  Noise noise;
  std::vector<int> live(gw + 1), hold(gw + 1);
  for (int i = 0; i <= gw; ++i) {
    double pos = static_cast<double>(i) / gw;
    double base = Smooth(pos);
    live[i] = y_of(base + 2.5 * noise.Next());
    hold[i] = y_of(base + 4.0);
  }
  for (int i = 1; i <= gw; ++i) {
    c.Line(left + i - 1, hold[i - 1], left + i, hold[i], kTrace2);
    c.Line(left + i - 1, live[i - 1], left + i, live[i], kTrace1);
  }

  struct Marker {
    double pos;
    double dbm;
    std::uint8_t colour;
    const char* name;
  };
  const Marker markers[] = {{kPeaks[0].pos, Smooth(kPeaks[0].pos), kMarker1, "1"},
                            {kPeaks[2].pos, Smooth(kPeaks[2].pos) + 4.0, kMarker2, "2"}};
  for (const Marker& m : markers) {
    int mx = left + static_cast<int>(std::lround(m.pos * gw));
    int my = y_of(m.dbm);
    int r = 4 * s;
    c.Line(mx - r, my, mx, my - r, m.colour);
    c.Line(mx, my - r, mx + r, my, m.colour);
    c.Line(mx + r, my, mx, my + r, m.colour);
    c.Line(mx, my + r, mx - r, my, m.colour);
    DrawText(c, mx + r + s, my - r - 8 * s, m.name, m.colour, s);
  }

  if (!annotate) return c;
  char text[96];
  const int pad = 4 * s;
  std::snprintf(text, sizeof text, "QUORELL %s  SPECTRUM ANALYZER", model.c_str());
  DrawText(c, pad, 2 * s, text, kText, s);
  DrawText(c, pad, 2 * s + line, "REF 0.0 DBM  10 DB/DIV  ATTEN 10 DB", kText, s);
  for (int i = 0; i < 2; ++i) {
    std::snprintf(text, sizeof text, "MKR%s %.3f GHZ %.1f DBM", markers[i].name,
                  GHzAt(markers[i].pos), markers[i].dbm);
    DrawText(c, width - pad - TextWidth(text, s), 2 * s + i * line, text, markers[i].colour, s);
  }
  std::snprintf(text, sizeof text, "CENTER %.3f GHZ  SPAN %.1f MHZ", kCentreGHz, kSpanGHz * 1000.0);
  DrawText(c, pad, height - bar + 2 * s, text, kText, s);
  DrawText(c, pad, height - bar + 2 * s + line, "RBW 1.0 MHZ  VBW 1.0 MHZ  SWP 50 MS", kText, s);
  return c;
}

}  // namespace sim
