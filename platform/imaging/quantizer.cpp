#include "imaging/quantizer.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace imaging {
namespace {

struct Box {
  uint32_t begin, end;  // range of the order array
  double sse;           // weighted squared error around the mean
  int axis;             // axis of largest spread
};

struct Sums {
  double w = 0, r = 0, g = 0, b = 0, sq = 0;
  void Add(const WeightedColour& p) {
    w += p.weight;
    r += p.weight * p.r;
    g += p.weight * p.g;
    b += p.weight * p.b;
    sq += p.weight * (p.r * p.r + p.g * p.g + p.b * p.b);
  }
  double Sse() const { return w > 0 ? sq - (r * r + g * g + b * b) / w : 0; }
};

float Coord(const WeightedColour& p, int axis) { return axis == 0 ? p.r : axis == 1 ? p.g : p.b; }

Box MakeBox(const std::vector<WeightedColour>& pts, const std::vector<uint32_t>& order,
            uint32_t begin, uint32_t end) {
  Sums s;
  double var[3] = {0, 0, 0}, mean[3] = {0, 0, 0};
  for (uint32_t i = begin; i < end; ++i) s.Add(pts[order[i]]);
  if (s.w > 0) {
    mean[0] = s.r / s.w, mean[1] = s.g / s.w, mean[2] = s.b / s.w;
    for (uint32_t i = begin; i < end; ++i) {
      const auto& p = pts[order[i]];
      for (int a = 0; a < 3; ++a) {
        const double d = Coord(p, a) - mean[a];
        var[a] += p.weight * d * d;
      }
    }
  }
  const int axis = static_cast<int>(std::max_element(var, var + 3) - var);
  return Box{begin, end, end - begin > 1 ? s.Sse() : 0, axis};
}

// Splits a box along its axis at the point that leaves the least total error.
uint32_t BestSplit(const std::vector<WeightedColour>& pts, std::vector<uint32_t>& order,
                   const Box& box) {
  const int axis = box.axis;
  // Counting sort on the whole-number part of the coordinate: linear, and fine enough.
  uint32_t start[257] = {};
  for (uint32_t i = box.begin; i < box.end; ++i)
    ++start[1 + std::min(255, static_cast<int>(Coord(pts[order[i]], axis)))];
  for (int v = 0; v < 256; ++v) start[v + 1] += start[v];
  std::vector<uint32_t> sorted(box.end - box.begin);
  for (uint32_t i = box.begin; i < box.end; ++i)
    sorted[start[std::min(255, static_cast<int>(Coord(pts[order[i]], axis)))]++] = order[i];
  std::copy(sorted.begin(), sorted.end(), order.begin() + box.begin);
  Sums total;
  for (uint32_t i = box.begin; i < box.end; ++i) total.Add(pts[order[i]]);
  Sums left;
  double best = -1;
  uint32_t split = box.begin + 1;
  for (uint32_t i = box.begin; i + 1 < box.end; ++i) {
    left.Add(pts[order[i]]);
    const double rw = total.w - left.w;
    if (left.w <= 0 || rw <= 0) continue;
    const double rr = total.r - left.r, rg = total.g - left.g, rb = total.b - left.b;
    // Minimising the two errors is maximising this (the squared sums are fixed).
    const double score = (left.r * left.r + left.g * left.g + left.b * left.b) / left.w +
                         (rr * rr + rg * rg + rb * rb) / rw;
    if (score > best) best = score, split = i + 1;
  }
  return split;
}

// Nearest-centre search over centres sorted by green: a search walks outwards from the
// point's green value and stops once the green distance alone exceeds the best match.
class CentreIndex {
 public:
  void Build(const float* r, const float* g, const float* b, unsigned n) {
    n_ = n;
    unsigned order[256];
    std::iota(order, order + n, 0u);
    std::sort(order, order + n, [&](unsigned a, unsigned c) { return g[a] < g[c]; });
    for (unsigned i = 0; i < n; ++i) {
      r_[i] = r[order[i]], g_[i] = g[order[i]], b_[i] = b[order[i]];
      id_[i] = static_cast<uint8_t>(order[i]);
      pos_[order[i]] = static_cast<uint8_t>(i);
    }
  }
  // hint: a centre likely to be close (the previous assignment), which tightens the bound.
  unsigned Nearest(float r, float g, float b, unsigned hint) const {
    const unsigned start = static_cast<unsigned>(std::lower_bound(g_, g_ + n_, g) - g_);
    unsigned bestI = pos_[hint];
    float best;
    {
      const float dr = r_[bestI] - r, dg = g_[bestI] - g, db = b_[bestI] - b;
      best = dr * dr + dg * dg + db * db;
    }
    for (unsigned i = start; i < n_; ++i) {
      const float dg = g_[i] - g;
      if (dg * dg >= best) break;
      const float dr = r_[i] - r, db = b_[i] - b;
      const float d = dr * dr + dg * dg + db * db;
      if (d < best) best = d, bestI = i;
    }
    for (unsigned i = start; i-- > 0;) {
      const float dg = g_[i] - g;
      if (dg * dg >= best) break;
      const float dr = r_[i] - r, db = b_[i] - b;
      const float d = dr * dr + dg * dg + db * db;
      if (d < best) best = d, bestI = i;
    }
    return id_[bestI];
  }

 private:
  unsigned n_ = 0;
  float r_[256], g_[256], b_[256];
  uint8_t id_[256];
  uint8_t pos_[256] = {};
};

uint8_t Clamp8(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0l, 255l)); }

}  // namespace

void ChoosePalette(const std::vector<WeightedColour>& points, unsigned maxColours,
                   std::vector<ImgRgbQuad>& palette, std::vector<uint8_t>& assignment) {
  const uint32_t n = static_cast<uint32_t>(points.size());
  palette.clear();
  assignment.assign(n, 0);
  if (n == 0) return;
  maxColours = std::clamp(maxColours, 1u, 256u);

  // Median cut: split the box with the largest error until there are enough.
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  std::vector<Box> boxes{MakeBox(points, order, 0, n)};
  while (boxes.size() < maxColours) {
    auto worst = std::max_element(boxes.begin(), boxes.end(),
                                  [](const Box& a, const Box& b) { return a.sse < b.sse; });
    if (worst->sse <= 0) break;
    const Box box = *worst;
    const uint32_t split = BestSplit(points, order, box);
    *worst = MakeBox(points, order, box.begin, split);
    boxes.push_back(MakeBox(points, order, split, box.end));
  }

  const unsigned k = static_cast<unsigned>(boxes.size());
  float cr[256], cg[256], cb[256];
  CentreIndex index;
  for (unsigned c = 0; c < k; ++c) {
    Sums s;
    for (uint32_t i = boxes[c].begin; i < boxes[c].end; ++i) {
      s.Add(points[order[i]]);
      assignment[order[i]] = static_cast<uint8_t>(c);
    }
    cr[c] = static_cast<float>(s.r / s.w);
    cg[c] = static_cast<float>(s.g / s.w);
    cb[c] = static_cast<float>(s.b / s.w);
  }

  // Weighted k-means rounds from the median-cut centres.
  constexpr int kRounds = 4;
  std::vector<Sums> sums(k);
  for (int round = 0; round <= kRounds; ++round) {
    if (round > 0) {
      for (unsigned c = 0; c < k; ++c) {
        if (sums[c].w <= 0) continue;  // an emptied centre keeps its place
        cr[c] = static_cast<float>(sums[c].r / sums[c].w);
        cg[c] = static_cast<float>(sums[c].g / sums[c].w);
        cb[c] = static_cast<float>(sums[c].b / sums[c].w);
      }
    }
    if (round == kRounds) break;
    std::fill(sums.begin(), sums.end(), Sums{});
    index.Build(cr, cg, cb, k);
    for (uint32_t i = 0; i < n; ++i) {
      const auto& p = points[i];
      const unsigned c = index.Nearest(p.r, p.g, p.b, assignment[i]);
      assignment[i] = static_cast<uint8_t>(c);
      Sums& s = sums[c];
      s.w += p.weight;
      s.r += p.weight * p.r;
      s.g += p.weight * p.g;
      s.b += p.weight * p.b;
    }
  }

  // The palette is the rounded centres; assign against exactly those.
  palette.resize(k);
  for (unsigned c = 0; c < k; ++c) {
    palette[c] = ImgRgbQuad{Clamp8(cb[c]), Clamp8(cg[c]), Clamp8(cr[c]), 0};
    cr[c] = palette[c].Red, cg[c] = palette[c].Green, cb[c] = palette[c].Blue;
  }
  index.Build(cr, cg, cb, k);
  for (uint32_t i = 0; i < n; ++i)
    assignment[i] =
        static_cast<uint8_t>(index.Nearest(points[i].r, points[i].g, points[i].b, assignment[i]));
}

void QuantizeImage(const ImgBitmap& image, unsigned maxColours, std::vector<ImgRgbQuad>& palette,
                   std::vector<uint8_t>& cellIndex) {
  struct Cell {
    uint64_t count, r, g, b;
  };
  std::vector<Cell> cells(kCellCount, Cell{0, 0, 0, 0});
  const bool bgr = image.ColorOrder != IMG_ORDER_RGB;
  const int ri = bgr ? 2 : 0, bi = bgr ? 0 : 2;
  for (int32_t y = 0; y < image.Height; ++y) {
    const uint8_t* p = image.Bits + static_cast<size_t>(y) * image.Stride;
    for (int32_t x = 0; x < image.Width; ++x, p += 3) {
      const unsigned r = p[ri], g = p[1], b = p[bi];
      Cell& c = cells[CellOf(r, g, b)];
      ++c.count;
      c.r += r;
      c.g += g;
      c.b += b;
    }
  }
  std::vector<WeightedColour> points;
  std::vector<uint32_t> cellOfPoint;
  for (unsigned i = 0; i < kCellCount; ++i) {
    const Cell& c = cells[i];
    if (c.count == 0) continue;
    const double n = static_cast<double>(c.count);
    points.push_back(WeightedColour{static_cast<float>(c.r / n), static_cast<float>(c.g / n),
                                    static_cast<float>(c.b / n), static_cast<float>(n)});
    cellOfPoint.push_back(i);
  }
  std::vector<uint8_t> assignment;
  ChoosePalette(points, maxColours, palette, assignment);
  cellIndex.assign(kCellCount, 0);
  for (size_t i = 0; i < points.size(); ++i) cellIndex[cellOfPoint[i]] = assignment[i];
}

}  // namespace imaging
