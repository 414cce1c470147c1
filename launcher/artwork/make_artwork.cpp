// Draws the launcher window's artwork: the background, the play button's and
// the two small buttons' state images, and the window icon.
//
//   make_artwork DIR          writes every image into DIR
//   make_artwork --check DIR  exit status 1 when a file in DIR differs
//
// The output must be the same bytes on every machine, so the drawing uses
// only exactly rounded arithmetic (+ - * / and sqrt; no sin, exp or pow)
// and a hash instead of a random generator for the dither.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Colour {
  float r, g, b;
};

constexpr Colour Rgb(int r, int g, int b) { return {float(r), float(g), float(b)}; }

Colour Mix(Colour a, Colour b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float Clamp01(float v) { return v < 0.f ? 0.f : (v > 1.f ? 1.f : v); }

float SmoothStep(float e0, float e1, float x) {
  float t = Clamp01((x - e0) / (e1 - e0));
  return t * t * (3.f - 2.f * t);
}

// Palette. One accent, the amber between the total bar's orange and green
// ends, on a dark blue-grey.
constexpr Colour kKey = Rgb(255, 0, 255);
constexpr Colour kAccent = Rgb(240, 160, 48);
constexpr Colour kAccentLight = Rgb(255, 206, 120);
constexpr Colour kAccentDeep = Rgb(196, 98, 16);
constexpr Colour kHeaderTop = Rgb(36, 40, 48);
constexpr Colour kHeaderBottom = Rgb(20, 23, 28);
constexpr Colour kGroove = Rgb(9, 10, 12);
constexpr Colour kFrame = Rgb(52, 57, 66);
constexpr Colour kPageCentre = Rgb(30, 35, 43);
constexpr Colour kPageEdge = Rgb(9, 10, 13);
constexpr Colour kGlyph = Rgb(176, 182, 192);

// Every image is drawn as floating-point RGB and written as 24-bit pixels.
class Canvas {
 public:
  Canvas(int w, int h, Colour fill) : w_(w), h_(h), px_(size_t(w) * h, fill) {}
  int Width() const { return w_; }
  int Height() const { return h_; }
  Colour& At(int x, int y) { return px_[size_t(y) * w_ + x]; }
  Colour At(int x, int y) const { return px_[size_t(y) * w_ + x]; }

  // Blends a colour into every pixel by the coverage that cov gives for the
  // pixel centre, only inside the box [x0, x1) x [y0, y1).
  void Paint(int x0, int y0, int x1, int y1, const std::function<float(float, float)>& cov, Colour c,
             float alpha = 1.f) {
    x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, w_), y1 = std::min(y1, h_);
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        float a = cov(x + 0.5f, y + 0.5f) * alpha;
        if (a > 0.f) At(x, y) = Mix(At(x, y), c, a);
      }
  }
  void PaintAll(const std::function<float(float, float)>& cov, Colour c, float alpha = 1.f) {
    Paint(0, 0, w_, h_, cov, c, alpha);
  }

 private:
  int w_, h_;
  std::vector<Colour> px_;
};

// Integer hash of a pixel position: a fixed dither pattern that keeps the
// dark gradients free of bands.
float Dither(int x, int y) {
  uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return float(h & 0xFFFF) / 65536.f - 0.5f;
}

uint8_t Quantise(float v, float dither) {
  float q = std::floor(v + 0.5f + dither);
  return uint8_t(q < 0.f ? 0.f : (q > 255.f ? 255.f : q));
}

// Rows of 24-bit BGR pixels, bottom row first; key-coloured pixels stay
// exactly the key colour.
std::vector<uint8_t> PixelRows24(const Canvas& c, bool dither) {
  int stride = (c.Width() * 3 + 3) & ~3;
  std::vector<uint8_t> rows(size_t(stride) * c.Height(), 0);
  for (int y = 0; y < c.Height(); ++y) {
    uint8_t* row = &rows[size_t(c.Height() - 1 - y) * stride];
    for (int x = 0; x < c.Width(); ++x) {
      Colour p = c.At(x, y);
      float d = dither ? Dither(x, y) : 0.f;
      bool key = p.r == kKey.r && p.g == kKey.g && p.b == kKey.b;
      if (key) d = 0.f;
      row[x * 3 + 0] = Quantise(p.b, d);
      row[x * 3 + 1] = Quantise(p.g, d);
      row[x * 3 + 2] = Quantise(p.r, d);
    }
  }
  return rows;
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutInfoHeader(std::vector<uint8_t>& out, int w, int h, int bits, uint32_t imageSize) {
  Put32(out, 40);
  Put32(out, uint32_t(w));
  Put32(out, uint32_t(h));
  Put16(out, 1);
  Put16(out, uint16_t(bits));
  Put32(out, 0);  // BI_RGB
  Put32(out, imageSize);
  Put32(out, 2835);  // 72 dpi
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
}

std::vector<uint8_t> Bmp(const Canvas& c, bool dither) {
  std::vector<uint8_t> rows = PixelRows24(c, dither);
  std::vector<uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, uint32_t(14 + 40 + rows.size()));
  Put32(out, 0);
  Put32(out, 14 + 40);
  PutInfoHeader(out, c.Width(), c.Height(), 24, uint32_t(rows.size()));
  out.insert(out.end(), rows.begin(), rows.end());
  return out;
}

// An icon image with an alpha channel: colour plus coverage per pixel.
struct IconImage {
  Canvas colour;
  std::vector<float> alpha;
};

std::vector<uint8_t> Ico(const std::vector<IconImage>& images) {
  std::vector<std::vector<uint8_t>> entries;
  for (const IconImage& img : images) {
    int w = img.colour.Width(), h = img.colour.Height();
    int maskStride = ((w + 31) / 32) * 4;
    std::vector<uint8_t> e;
    PutInfoHeader(e, w, h * 2, 32, uint32_t(w * h * 4 + maskStride * h));
    for (int y = h - 1; y >= 0; --y)
      for (int x = 0; x < w; ++x) {
        Colour p = img.colour.At(x, y);
        float a = img.alpha[size_t(y) * w + x];
        e.push_back(Quantise(p.b, 0.f));
        e.push_back(Quantise(p.g, 0.f));
        e.push_back(Quantise(p.r, 0.f));
        e.push_back(Quantise(a * 255.f, 0.f));
      }
    for (int y = h - 1; y >= 0; --y) {
      std::vector<uint8_t> mask(maskStride, 0);
      for (int x = 0; x < w; ++x)
        if (img.alpha[size_t(y) * w + x] <= 0.f) mask[x / 8] |= uint8_t(0x80 >> (x % 8));
      e.insert(e.end(), mask.begin(), mask.end());
    }
    entries.push_back(std::move(e));
  }
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, uint16_t(images.size()));
  uint32_t offset = uint32_t(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    int w = images[i].colour.Width();
    out.push_back(uint8_t(w >= 256 ? 0 : w));
    out.push_back(uint8_t(w >= 256 ? 0 : w));
    out.push_back(0);
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, uint32_t(entries[i].size()));
    Put32(out, offset);
    offset += uint32_t(entries[i].size());
  }
  for (const auto& e : entries) out.insert(out.end(), e.begin(), e.end());
  return out;
}

// ---- shapes as distance functions (negative inside) ----

float Length(float x, float y) { return std::sqrt(x * x + y * y); }

float SegmentDistance(float px, float py, float ax, float ay, float bx, float by) {
  float dx = bx - ax, dy = by - ay;
  float len2 = dx * dx + dy * dy;
  float t = len2 > 0.f ? Clamp01(((px - ax) * dx + (py - ay) * dy) / len2) : 0.f;
  return Length(px - ax - t * dx, py - ay - t * dy);
}

// Rounded rectangle [x0, x1] x [y0, y1] with corner radius r.
float RoundRectDistance(float px, float py, float x0, float y0, float x1, float y1, float r) {
  float cx = (x0 + x1) * 0.5f, cy = (y0 + y1) * 0.5f;
  float qx = std::fabs(px - cx) - ((x1 - x0) * 0.5f - r);
  float qy = std::fabs(py - cy) - ((y1 - y0) * 0.5f - r);
  float ox = std::max(qx, 0.f), oy = std::max(qy, 0.f);
  return Length(ox, oy) + std::min(std::max(qx, qy), 0.f) - r;
}

// Coverage of a pixel centre by a shape whose edge lies at distance 0.
float Fill(float d) { return Clamp01(0.5f - d); }
// Coverage of a line of the given width along the zero contour.
float Stroke(float d, float width) { return Clamp01(width * 0.5f + 0.5f - std::fabs(d)); }

// A stroke drawing: polylines in a unit box, scaled and placed.
struct Polyline {
  std::vector<std::pair<float, float>> points;
};

struct Drawing {
  std::vector<Polyline> lines;
  float width = 1.f;  // of the box, in box units
};

float DrawingDistance(const Drawing& dr, float px, float py) {
  float best = 1e9f;
  for (const Polyline& l : dr.lines)
    for (size_t i = 0; i + 1 < l.points.size(); ++i)
      best = std::min(best, SegmentDistance(px, py, l.points[i].first, l.points[i].second, l.points[i + 1].first,
                                            l.points[i + 1].second));
  return best;
}

// Geometric capitals, cap height 1, drawn as centre lines of round-capped
// strokes; a chamfer instead of a curve keeps them plain and sharp.
Drawing Letter(char ch) {
  const float w = 0.72f, c = 0.24f;
  Drawing d;
  auto line = [&](std::initializer_list<std::pair<float, float>> pts) { d.lines.push_back({pts}); };
  switch (ch) {
    case 'H':
      line({{0, 0}, {0, 1}});
      line({{w, 0}, {w, 1}});
      line({{0, 0.52f}, {w, 0.52f}});
      d.width = w;
      break;
    case 'A':
      line({{0, 1}, {0, c}, {c, 0}, {w - c, 0}, {w, c}, {w, 1}});
      line({{0, 0.56f}, {w, 0.56f}});
      d.width = w;
      break;
    case 'L':
      line({{0, 0}, {0, 1}, {w * 0.9f, 1}});
      d.width = w * 0.9f;
      break;
    case 'V':
      line({{0, 0}, {0, 1 - 2 * c}, {w * 0.5f, 1}, {w, 1 - 2 * c}, {w, 0}});
      d.width = w;
      break;
    case 'R':
      line({{0, 1}, {0, 0}, {w - c, 0}, {w, c}, {w, 0.52f - c * 0.5f}, {w - c * 0.5f, 0.52f}, {0, 0.52f}});
      line({{w - c * 0.5f, 0.52f}, {w, 0.52f + c * 0.5f}, {w, 1}});
      d.width = w;
      break;
    case 'E':
      line({{w * 0.9f, 0}, {0, 0}, {0, 1}, {w * 0.9f, 1}});
      line({{0, 0.52f}, {w * 0.7f, 0.52f}});
      d.width = w * 0.9f;
      break;
    case 'C':
      line({{w, 0}, {c, 0}, {0, c}, {0, 1 - c}, {c, 1}, {w, 1}});
      d.width = w;
      break;
    case 'T':
      line({{0, 0}, {w, 0}});
      line({{w * 0.5f, 0}, {w * 0.5f, 1}});
      d.width = w;
      break;
    case 'P':
      line({{0, 1}, {0, 0}, {w - c, 0}, {w, c}, {w, 0.52f - c * 0.5f}, {w - c * 0.5f, 0.52f}, {0, 0.52f}});
      d.width = w;
      break;
    case 'Y':
      line({{0, 0}, {0, 0.52f - c}, {c, 0.52f}, {w - c, 0.52f}, {w, 0.52f - c}, {w, 0}});
      line({{w * 0.5f, 0.52f}, {w * 0.5f, 1}});
      d.width = w;
      break;
    default:
      break;
  }
  return d;
}

// A word as one drawing: letters placed left to right with the given
// tracking (extra space, in cap heights).
Drawing Word(const char* text, float tracking) {
  Drawing word;
  float x = 0.f;
  for (const char* p = text; *p; ++p) {
    Drawing l = Letter(*p);
    for (Polyline pl : l.lines) {
      for (auto& pt : pl.points) pt.first += x;
      word.lines.push_back(pl);
    }
    x += l.width + tracking;
  }
  word.width = x - tracking;
  return word;
}

// Places a drawing: (ox, oy) is its top-left corner, scale its cap height in
// pixels. Returns the distance in pixels for a pixel position.
std::function<float(float, float)> Placed(const Drawing& d, float ox, float oy, float scale) {
  return [d, ox, oy, scale](float x, float y) { return DrawingDistance(d, (x - ox) / scale, (y - oy) / scale) * scale; };
}

// ---- the images ----

constexpr int kWidth = 1024, kHeight = 660;
constexpr int kHeaderBottomY = 53;  // the band above the total bar
constexpr int kPageTop = 61, kPageBottom = 658;
constexpr float kCornerRadius = 9.f;

// The emblem: two rings, a diamond and a monogram H, centred on (cx, cy)
// with outer radius r; coverage only, the caller tints it.
float EmblemCoverage(float x, float y, float cx, float cy, float r) {
  float dx = x - cx, dy = y - cy;
  float rad = Length(dx, dy);
  float cov = Stroke(rad - r, 2.f);
  cov = std::max(cov, Stroke(rad - r * 0.9f, 1.f));
  // Twelve short ticks between the rings.
  float ticks = 0.f;
  const float dirs[12][2] = {{1, 0},       {0.866f, 0.5f},   {0.5f, 0.866f},   {0, 1},
                             {-0.5f, 0.866f}, {-0.866f, 0.5f}, {-1, 0},          {-0.866f, -0.5f},
                             {-0.5f, -0.866f}, {0, -1},        {0.5f, -0.866f},  {0.866f, -0.5f}};
  for (const auto& dir : dirs)
    ticks = std::max(ticks, Stroke(SegmentDistance(dx, dy, dir[0] * r * 0.91f, dir[1] * r * 0.91f, dir[0] * r * 0.99f,
                                                   dir[1] * r * 0.99f),
                                   2.f));
  cov = std::max(cov, ticks);
  // Diamond: |dx| + |dy| = k, a stroke along its outline.
  float k = r * 0.74f;
  float diamond = (std::fabs(dx) + std::fabs(dy) - k) * 0.70710678f;
  cov = std::max(cov, Stroke(diamond, 2.f));
  cov = std::max(cov, Stroke(diamond + r * 0.06f, 1.f));
  // The monogram.
  Drawing h = Letter('H');
  float s = r * 0.62f;
  float d = DrawingDistance(h, (dx + h.width * s * 0.5f) / s, (dy + s * 0.5f) / s) * s;
  cov = std::max(cov, Fill(d - s * 0.07f));
  return cov;
}

// True where the window is cut away: outside the rounded outline.
bool Outside(int x, int y) {
  return RoundRectDistance(x + 0.5f, y + 0.5f, 0.f, 0.f, float(kWidth), float(kHeight), kCornerRadius) > 0.f;
}

Canvas Background() {
  Canvas c(kWidth, kHeight, kPageEdge);
  // The page area: a soft vignette around a lighter centre, a little above
  // the middle so the eye rests where the page's content would be.
  const float pcx = kWidth * 0.5f, pcy = kPageTop + (kPageBottom - kPageTop) * 0.46f;
  for (int y = kPageTop - 2; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      float nx = (x + 0.5f - pcx) / (kWidth * 0.62f), ny = (y + 0.5f - pcy) / ((kPageBottom - kPageTop) * 0.66f);
      float t = SmoothStep(0.f, 1.f, Clamp01(nx * nx + ny * ny));
      c.At(x, y) = Mix(kPageCentre, kPageEdge, t);
    }
  // A faint warm glow behind the emblem, then the emblem itself.
  const float er = 150.f;
  c.Paint(0, kPageTop, kWidth, kPageBottom, [&](float x, float y) {
    float r = Length(x - pcx, y - pcy) / (er * 2.2f);
    return 1.f - SmoothStep(0.f, 1.f, r);
  }, kAccent, 0.045f);
  c.Paint(int(pcx - er - 4), int(pcy - er - 4), int(pcx + er + 5), int(pcy + er + 5),
          [&](float x, float y) { return EmblemCoverage(x, y, pcx, pcy, er); }, kAccent, 0.085f);
  // Two hairlines that run out from the emblem towards the sides.
  for (int side = -1; side <= 1; side += 2)
    c.Paint(0, int(pcy) - 2, kWidth, int(pcy) + 3, [&](float x, float y) {
      float from = pcx + side * (er + 24.f);
      float along = (x - from) * side;
      if (along < 0.f) return 0.f;
      float fade = 1.f - SmoothStep(0.f, 300.f, along);
      return Stroke(y - pcy, 1.f) * fade;
    }, kAccent, 0.07f);

  // Header band with a fine top highlight.
  for (int y = 0; y <= kHeaderBottomY; ++y)
    for (int x = 0; x < kWidth; ++x) c.At(x, y) = Mix(kHeaderTop, kHeaderBottom, float(y) / kHeaderBottomY);
  for (int x = 0; x < kWidth; ++x) c.At(x, 1) = Mix(c.At(x, 1), Rgb(70, 76, 88), 0.6f);
  // The groove the total bar lies in, with a dim accent line under it.
  for (int y = kHeaderBottomY; y < kPageTop; ++y)
    for (int x = 0; x < kWidth; ++x) c.At(x, y) = kGroove;
  for (int x = 0; x < kWidth; ++x) {
    float fade = 1.f - SmoothStep(0.f, 1.f, std::fabs(x + 0.5f - kWidth * 0.5f) / (kWidth * 0.5f));
    c.At(x, 59) = Mix(kGroove, kAccentDeep, 0.25f + 0.35f * fade);
  }

  // The game's name on the left of the band, with a soft shadow and a
  // little mark before it.
  Drawing name = Word("HALVRECHT", 0.34f);
  const float capH = 20.f, nameX = 52.f, nameY = 17.f;
  auto nameDist = Placed(name, nameX, nameY, capH);
  const float stroke = capH * 0.15f;
  int nx1 = int(nameX + name.width * capH + 8);
  c.Paint(20, 4, nx1, 50, [&](float x, float y) { return 1.f - SmoothStep(0.f, 5.f, nameDist(x - 1.f, y - 2.f) - stroke * 0.5f); },
          Rgb(0, 0, 0), 0.5f);
  c.Paint(int(nameX) - 4, 8, nx1, 46, [&](float x, float y) { return Fill(nameDist(x, y) - stroke * 0.5f); }, kAccentLight);
  // Tint the letters from light at the top to the accent at the base.
  for (int y = int(nameY) - 3; y < int(nameY + capH) + 3; ++y)
    for (int x = int(nameX) - 3; x < nx1; ++x) {
      float cov = Fill(nameDist(x + 0.5f, y + 0.5f) - stroke * 0.5f);
      if (cov > 0.f) c.At(x, y) = Mix(c.At(x, y), Mix(kAccentLight, kAccent, Clamp01((y - nameY) / capH)), cov);
    }
  const float mx = 32.f, my = nameY + capH * 0.5f, mr = 9.f;
  c.Paint(int(mx - mr - 2), int(my - mr - 2), int(mx + mr + 3), int(my + mr + 3), [&](float x, float y) {
    float d = (std::fabs(x - mx) + std::fabs(y - my) - mr) * 0.70710678f;
    return std::max(Stroke(d, 2.f), Fill(d + mr * 0.45f));
  }, kAccent);

  // Frame: a dark outer line and a faint inner one, then the key colour
  // outside the rounded outline.
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      float d = RoundRectDistance(x + 0.5f, y + 0.5f, 0.f, 0.f, float(kWidth), float(kHeight), kCornerRadius);
      if (d > -1.f) c.At(x, y) = Rgb(6, 7, 9);
      else if (d > -2.f) c.At(x, y) = Mix(c.At(x, y), kFrame, 0.8f);
      if (Outside(x, y)) c.At(x, y) = kKey;
    }
  return c;
}

enum class State { kNormal, kHover, kDisabled };

// The play button: an amber plate with "PLAY" cut in dark letters.
Canvas PlayButton(State s) {
  const int w = 224, h = 46;
  Canvas c(w, h, kKey);
  Colour top = kAccentLight, bottom = kAccentDeep, text = Rgb(40, 24, 8);
  if (s == State::kHover) top = Rgb(255, 226, 160), bottom = Rgb(226, 124, 24), text = Rgb(28, 16, 4);
  if (s == State::kDisabled) top = Rgb(84, 88, 96), bottom = Rgb(50, 54, 61), text = Rgb(118, 124, 134);
  auto plate = [&](float x, float y) { return RoundRectDistance(x, y, 2.f, 3.f, w - 2.f, h - 3.f, 7.f); };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float d = plate(x + 0.5f, y + 0.5f);
      // The edge pixels are opaque and darker, so the key colour never
      // blends into the plate (the key is cut exactly).
      if (d > 0.5f) continue;
      Colour p = Mix(top, bottom, SmoothStep(0.f, 1.f, (y - 3.f) / (h - 6.f)));
      if (y == 4) p = Mix(p, Rgb(255, 255, 255), s == State::kDisabled ? 0.1f : 0.35f);
      if (d > -1.5f) p = Mix(p, Rgb(20, 14, 8), 0.55f);
      c.At(x, y) = p;
    }
  Drawing word = Word("PLAY", 0.42f);
  const float capH = 16.f;
  float ox = (w - word.width * capH) * 0.5f, oy = (h - capH) * 0.5f;
  auto dist = Placed(word, ox, oy, capH);
  c.Paint(0, 0, w, h, [&](float x, float y) { return Fill(dist(x, y) - capH * 0.09f); }, text);
  return c;
}

// A small window button: a glyph, on a soft plate when the mouse is over it.
Canvas SmallButton(bool close, State s) {
  const int w = 26, h = 22;
  Canvas c(w, h, kKey);
  Colour glyph = s == State::kDisabled ? Rgb(74, 79, 88) : (s == State::kHover ? Rgb(255, 255, 255) : kGlyph);
  if (s == State::kHover) {
    Colour plate = close ? Rgb(196, 64, 40) : Rgb(64, 70, 82);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (RoundRectDistance(x + 0.5f, y + 0.5f, 1.f, 1.f, w - 1.f, h - 1.f, 4.f) <= 0.5f) c.At(x, y) = plate;
  }
  // Glyphs are drawn over the key colour only where they are solid, with
  // the plate or a dark rim behind the anti-aliased edge, so no pink fringe
  // can appear on the window.
  Colour rim = s == State::kHover ? c.At(w / 2, h / 2) : kHeaderTop;
  auto glyphDist = [&](float x, float y) {
    float cx = w * 0.5f, cy = h * 0.5f;
    if (close) {
      float a = SegmentDistance(x, y, cx - 4.5f, cy - 4.5f, cx + 4.5f, cy + 4.5f);
      float b = SegmentDistance(x, y, cx - 4.5f, cy + 4.5f, cx + 4.5f, cy - 4.5f);
      return std::min(a, b) - 0.9f;
    }
    return SegmentDistance(x, y, cx - 5.f, cy + 3.5f, cx + 5.f, cy + 3.5f) - 0.9f;
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float cov = Fill(glyphDist(x + 0.5f, y + 0.5f));
      if (cov <= 0.f) continue;
      Colour& p = c.At(x, y);
      bool key = p.r == kKey.r && p.g == kKey.g && p.b == kKey.b;
      p = Mix(key ? rim : p, glyph, cov);
    }
  return c;
}

IconImage Icon(int size) {
  IconImage img{Canvas(size, size, kHeaderBottom), std::vector<float>(size_t(size) * size, 0.f)};
  float s = float(size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      float d = RoundRectDistance(x + 0.5f, y + 0.5f, 0.f, 0.f, s, s, s * 0.2f);
      img.alpha[size_t(y) * size + x] = Fill(d);
      img.colour.At(x, y) = Mix(kHeaderTop, kHeaderBottom, float(y) / s);
    }
  Drawing h = Letter('H');
  float capH = s * 0.56f;
  auto dist = Placed(h, (s - h.width * capH) * 0.5f, (s - capH) * 0.5f, capH);
  img.colour.PaintAll([&](float x, float y) { return Fill(dist(x, y) - capH * 0.11f); }, kAccent);
  img.colour.PaintAll([&](float x, float y) {
    float d = RoundRectDistance(x, y, 0.f, 0.f, s, s, s * 0.2f);
    return Stroke(d + 1.f, 1.f);
  }, kAccentDeep, 0.8f);
  return img;
}

struct Output {
  std::string name;
  std::vector<uint8_t> bytes;
};

std::vector<Output> AllImages() {
  std::vector<Output> out;
  out.push_back({"background.bmp", Bmp(Background(), true)});
  out.push_back({"play_normal.bmp", Bmp(PlayButton(State::kNormal), false)});
  out.push_back({"play_hover.bmp", Bmp(PlayButton(State::kHover), false)});
  out.push_back({"play_disabled.bmp", Bmp(PlayButton(State::kDisabled), false)});
  for (bool close : {false, true}) {
    std::string base = close ? "close_" : "minimise_";
    out.push_back({base + "normal.bmp", Bmp(SmallButton(close, State::kNormal), false)});
    out.push_back({base + "hover.bmp", Bmp(SmallButton(close, State::kHover), false)});
    out.push_back({base + "disabled.bmp", Bmp(SmallButton(close, State::kDisabled), false)});
  }
  out.push_back({"halvrecht.ico", Ico({Icon(16), Icon(32), Icon(48)})});
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: make_artwork DIR | make_artwork --check DIR\n");
    return 2;
  }
  std::string dir = argv[argc - 1];
  int differ = 0;
  for (const Output& o : AllImages()) {
    std::string path = dir + "/" + o.name;
    if (check) {
      std::ifstream in(path, std::ios::binary);
      std::vector<uint8_t> have((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (have != o.bytes) {
        std::fprintf(stderr, "%s differs from what make_artwork draws\n", path.c_str());
        ++differ;
      }
      continue;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(o.bytes.data()), std::streamsize(o.bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  if (check && differ == 0) std::printf("all %zu images match\n", AllImages().size());
  return differ == 0 ? 0 : 1;
}
