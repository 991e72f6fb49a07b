#include "cCanvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <unordered_map>

// Private to this file: the plugin may share a process with other copies.
#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb_truetype.h>

namespace nimbo::editor {

// The fonts' bytes, generated at build time.
extern const unsigned char kFontRegular[];
extern const std::size_t kFontRegularSize;
extern const unsigned char kFontBold[];
extern const std::size_t kFontBoldSize;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kTwoPi = 2.0f * kPi;
// Largest distance between a flattened arc and the true one, in pixels.
constexpr float kArcTolerance = 0.05f;
// Horizontal glyph positions per pixel that get a bitmap of their own.
constexpr int kSubpixelSteps = 4;

sRect Intersect(sRect a, sRect b) {
  const int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const int x1 = std::min(a.x + a.w, b.x + b.w), y1 = std::min(a.y + a.h, b.y + b.h);
  return {x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

// dst + (src - dst) * a / 255 per channel; the result is opaque.
inline uint32_t Mix(uint32_t dst, uint32_t src, uint32_t a) {
  const uint32_t inv = 255 - a;
  const uint32_t r = (((src >> 16) & 0xFF) * a + ((dst >> 16) & 0xFF) * inv + 127) / 255;
  const uint32_t g = (((src >> 8) & 0xFF) * a + ((dst >> 8) & 0xFF) * inv + 127) / 255;
  const uint32_t b = ((src & 0xFF) * a + (dst & 0xFF) * inv + 127) / 255;
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

int ArcSegments(float radius, float span) {
  if (!(radius > kArcTolerance) || !(span > 0.0f)) return 1;
  const float step = 2.0f * std::acos(1.0f - kArcTolerance / radius);
  return std::clamp(static_cast<int>(std::ceil(span / step)), 1, 1024);
}

// Contours as one list of points and where each ends.
struct sPath {
  std::vector<sPoint> points;
  std::vector<size_t> ends;

  void Clear() {
    points.clear();
    ends.clear();
  }
  void Add(float x, float y) { points.push_back({x, y}); }
  size_t Start() const { return ends.empty() ? 0 : ends.back(); }
  // Ends the contour; orientation +1 or -1 turns it that way (the sign of
  // its area, y down), 0 keeps it as given.
  void Close(int orientation = 0) {
    const size_t start = Start();
    if (points.size() - start < 3) {
      points.resize(start);
      return;
    }
    if (orientation != 0) {
      float area = 0.0f;
      for (size_t i = start, j = points.size() - 1; i < points.size(); j = i++)
        area += points[j].x * points[i].y - points[i].x * points[j].y;
      if ((area < 0.0f) != (orientation < 0)) std::reverse(points.begin() + static_cast<std::ptrdiff_t>(start), points.end());
    }
    ends.push_back(points.size());
  }
  // Angles clockwise from 12 o'clock. With keepArea the vertices sit a little
  // outside the circle so the polygon's area is the circle's.
  void Arc(float cx, float cy, float r, float a0, float a1, bool withEnd, bool keepArea) {
    const int n = ArcSegments(r, std::fabs(a1 - a0));
    const float step = (a1 - a0) / static_cast<float>(n);
    float rr = r;
    if (keepArea && std::fabs(step) > 1e-4f) rr = r * std::sqrt(std::fabs(step) / std::sin(std::fabs(step)));
    for (int i = 0; i < n + (withEnd ? 1 : 0); ++i) {
      const float a = a0 + step * static_cast<float>(i);
      Add(cx + rr * std::sin(a), cy - rr * std::cos(a));
    }
  }
  void Circle(float cx, float cy, float r, int orientation) {
    Arc(cx, cy, r, 0.0f, kTwoPi, false, true);
    Close(orientation);
  }
  void RoundedRect(float x, float y, float w, float h, float r, int orientation) {
    r = std::clamp(r, 0.0f, std::min(w, h) * 0.5f);
    if (r < 0.01f) {
      Add(x, y);
      Add(x + w, y);
      Add(x + w, y + h);
      Add(x, y + h);
    } else {
      Arc(x + w - r, y + r, r, 0.0f, 0.5f * kPi, true, false);
      Arc(x + w - r, y + h - r, r, 0.5f * kPi, kPi, true, false);
      Arc(x + r, y + h - r, r, kPi, 1.5f * kPi, true, false);
      Arc(x + r, y + r, r, 1.5f * kPi, kTwoPi, true, false);
    }
    Close(orientation);
  }
};

uint32_t DecodeUtf8(std::string_view s, size_t& i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    ++i;
    return c;
  }
  int n = 0;
  uint32_t cp = 0, least = 0;
  if ((c & 0xE0) == 0xC0) {
    n = 1, cp = c & 0x1Fu, least = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 2, cp = c & 0x0Fu, least = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 3, cp = c & 0x07u, least = 0x10000;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (s.size() - i <= static_cast<size_t>(n)) {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k <= n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3Fu);
  }
  // Overlong forms, surrogates and what lies beyond Unicode: every byte a
  // replacement of its own, as for any other bad byte.
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += static_cast<size_t>(n) + 1;
  return cp;
}

struct sFace {
  stbtt_fontinfo info{};
  bool valid = false;
  int ascent = 0, descent = 0;  // font units, descent negative
  int fallback = 0;             // glyph for code points the font lacks

  void Init(const unsigned char* data) {
    const int offset = stbtt_GetFontOffsetForIndex(data, 0);
    valid = offset >= 0 && stbtt_InitFont(&info, data, offset) != 0;
    if (!valid) return;
    int gap = 0;
    stbtt_GetFontVMetrics(&info, &ascent, &descent, &gap);
    fallback = stbtt_FindGlyphIndex(&info, 0xFFFD);
    if (fallback == 0) fallback = stbtt_FindGlyphIndex(&info, '?');
  }
  float Scale(float size) const { return stbtt_ScaleForPixelHeight(&info, size); }
  int Glyph(uint32_t cp) const {
    const int g = stbtt_FindGlyphIndex(&info, static_cast<int>(cp));
    return g != 0 ? g : fallback;
  }
  // Calls each(glyph, pen) for every glyph, pen in pixels from the start;
  // returns the advance of the whole text.
  template <class F>
  float Layout(std::string_view text, float scale, F&& each) const {
    float pen = 0.0f;
    int previous = -1;
    for (size_t i = 0; i < text.size();) {
      const size_t at = i;
      const int g = Glyph(DecodeUtf8(text, i));
      if (previous >= 0) pen += scale * static_cast<float>(stbtt_GetGlyphKernAdvance(&info, previous, g));
      each(g, pen, at);
      int advance = 0, bearing = 0;
      stbtt_GetGlyphHMetrics(&info, g, &advance, &bearing);
      pen += scale * static_cast<float>(advance);
      previous = g;
    }
    return pen;
  }
};

struct sGlyph {
  int x0 = 0, y0 = 0, w = 0, h = 0;  // from the pen on the baseline
  size_t offset = 0;                 // into the bitmap pool
};

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";

}  // namespace

struct cCanvas::sFonts {
  sFace faces[2];
  std::unordered_map<uint64_t, sGlyph> glyphs;
  std::vector<uint8_t> bitmaps;
  // Reused by every shape and text cut.
  sPath path;
  std::vector<stbtt_vertex> vertices;
  std::vector<uint8_t> coverage;
  std::string cut;

  const sFace& Face(eFont font) const { return faces[font == eFont::kBold ? 1 : 0]; }

  const sGlyph& Glyph(eFont font, float size, float scale, int glyph, int step) {
    const auto sizeKey = static_cast<uint64_t>(std::lround(size * 64.0f)) & 0xFFFFFFu;
    const uint64_t key = (static_cast<uint64_t>(font == eFont::kBold) << 63) | (sizeKey << 32) |
                         (static_cast<uint64_t>(glyph) << 8) | static_cast<uint64_t>(step);
    auto found = glyphs.find(key);
    if (found != glyphs.end()) return found->second;
    const stbtt_fontinfo& info = Face(font).info;
    const float shift = static_cast<float>(step) / kSubpixelSteps;
    sGlyph g;
    int x1 = 0, y1 = 0;
    stbtt_GetGlyphBitmapBoxSubpixel(&info, glyph, scale, scale, shift, 0.0f, &g.x0, &g.y0, &x1, &y1);
    g.w = std::max(0, x1 - g.x0);
    g.h = std::max(0, y1 - g.y0);
    g.offset = bitmaps.size();
    if (g.w > 0 && g.h > 0) {
      bitmaps.resize(g.offset + static_cast<size_t>(g.w) * static_cast<size_t>(g.h));
      stbtt_MakeGlyphBitmapSubpixel(&info, bitmaps.data() + g.offset, g.w, g.h, g.w, scale, scale, shift, 0.0f, glyph);
    }
    return glyphs.emplace(key, g).first->second;
  }
};

cCanvas::cCanvas() : m_Fonts(std::make_unique<sFonts>()) {
  m_Fonts->faces[0].Init(kFontRegular);
  m_Fonts->faces[1].Init(kFontBold);
}

cCanvas::~cCanvas() = default;

void cCanvas::Resize(int width, int height) {
  m_Width = std::max(0, width);
  m_Height = std::max(0, height);
  m_Pixels.assign(static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height), 0xFF000000u);
  ResetClip();
}

void cCanvas::SetClip(sRect clip) { m_Clip = Intersect(clip, {0, 0, m_Width, m_Height}); }

void cCanvas::ResetClip() { m_Clip = {0, 0, m_Width, m_Height}; }

void cCanvas::Blend(int x, int y, tColor colour, float coverage) {
  if (x < m_Clip.x || y < m_Clip.y || x >= m_Clip.x + m_Clip.w || y >= m_Clip.y + m_Clip.h) return;
  const float a = std::clamp(coverage, 0.0f, 1.0f) * static_cast<float>(colour >> 24);
  uint32_t& p = m_Pixels[static_cast<size_t>(y) * static_cast<size_t>(m_Width) + static_cast<size_t>(x)];
  p = Mix(p, colour, static_cast<uint32_t>(a + 0.5f));
}

void cCanvas::BlendCoverage(int x, int y, int w, int h, const uint8_t* coverage, int stride, tColor colour) {
  const uint32_t alpha = colour >> 24;
  const uint32_t opaque = colour | 0xFF000000u;
  for (int j = 0; j < h; ++j) {
    uint32_t* dst = m_Pixels.data() + static_cast<size_t>(y + j) * static_cast<size_t>(m_Width) + x;
    const uint8_t* cov = coverage + static_cast<size_t>(j) * static_cast<size_t>(stride);
    for (int i = 0; i < w; ++i) {
      const uint32_t c = cov[i];
      if (c == 0) continue;
      const uint32_t a = (c * alpha + 127) / 255;
      dst[i] = a >= 255 ? opaque : Mix(dst[i], colour, a);
    }
  }
}

void cCanvas::FillRect(sRect r, tColor colour) {
  const sRect c = Intersect(r, m_Clip);
  const uint32_t alpha = colour >> 24;
  if (c.Empty() || alpha == 0) return;
  for (int y = c.y; y < c.y + c.h; ++y) {
    uint32_t* row = m_Pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(m_Width) + c.x;
    if (alpha == 255)
      std::fill(row, row + c.w, colour);
    else
      for (int i = 0; i < c.w; ++i) row[i] = Mix(row[i], colour, alpha);
  }
}

void cCanvas::FillPath(tColor colour) {
  sPath& path = m_Fonts->path;
  if (path.ends.empty() || (colour >> 24) == 0) return;
  float minX = path.points[0].x, maxX = minX, minY = path.points[0].y, maxY = minY;
  for (const sPoint& p : path.points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  if (maxX < -1e6f || maxY < -1e6f || minX > 1e6f || minY > 1e6f) return;
  const float left = std::max(minX, -1e6f), top = std::max(minY, -1e6f);
  const float right = std::min(maxX, 1e6f), bottom = std::min(maxY, 1e6f);
  const sRect box = Intersect({static_cast<int>(std::floor(left)), static_cast<int>(std::floor(top)),
                               static_cast<int>(std::ceil(right) - std::floor(left)),
                               static_cast<int>(std::ceil(bottom) - std::floor(top))},
                              m_Clip);
  if (box.Empty()) return;

  // stb_truetype takes shorts: coordinates from the box's corner at the finest
  // fraction of a pixel that keeps the shape in range.
  const float extent = std::max({std::fabs(minX - static_cast<float>(box.x)), std::fabs(maxX - static_cast<float>(box.x)),
                                 std::fabs(minY - static_cast<float>(box.y)), std::fabs(maxY - static_cast<float>(box.y)), 1.0f});
  const float units = std::min(64.0f, 32000.0f / extent);
  auto& vertices = m_Fonts->vertices;
  vertices.clear();
  bool first = true;
  auto add = [&](float x, float y) {
    stbtt_vertex v{};
    v.type = first ? STBTT_vmove : STBTT_vline;
    v.x = static_cast<stbtt_vertex_type>(std::lround((x - static_cast<float>(box.x)) * units));
    v.y = static_cast<stbtt_vertex_type>(std::lround((y - static_cast<float>(box.y)) * units));
    vertices.push_back(v);
    first = false;
  };
  // The rasterizer expects no edge wholly above its bitmap (it asserts on
  // one): contours are cut at the box's top. Below, left and right are fine.
  const float cut = static_cast<float>(box.y);
  size_t start = 0;
  for (size_t end : path.ends) {
    first = true;
    for (size_t i = start, j = end - 1; i < end; j = i++) {
      const sPoint a = path.points[j], b = path.points[i];
      if ((a.y >= cut) != (b.y >= cut)) {
        const float t = (cut - a.y) / (b.y - a.y);
        add(a.x + t * (b.x - a.x), cut);
      }
      if (b.y >= cut) add(b.x, b.y);
    }
    start = end;
  }
  if (vertices.empty()) return;

  auto& coverage = m_Fonts->coverage;
  const size_t needed = static_cast<size_t>(box.w) * static_cast<size_t>(box.h);
  if (coverage.size() < needed) coverage.resize(needed);
  stbtt__bitmap bitmap{box.w, box.h, box.w, coverage.data()};
  stbtt_Rasterize(&bitmap, 0.25f, vertices.data(), static_cast<int>(vertices.size()), 1.0f / units, 1.0f / units, 0.0f,
                  0.0f, 0, 0, 0, nullptr);
  BlendCoverage(box.x, box.y, box.w, box.h, coverage.data(), box.w, colour);
}

void cCanvas::FillRoundedRect(float x, float y, float w, float h, float radius, tColor colour) {
  if (!(w > 0.0f) || !(h > 0.0f)) return;
  m_Fonts->path.Clear();
  m_Fonts->path.RoundedRect(x, y, w, h, radius, 1);
  FillPath(colour);
}

void cCanvas::StrokeRoundedRect(float x, float y, float w, float h, float radius, float width, tColor colour) {
  if (!(w > 0.0f) || !(h > 0.0f) || !(width > 0.0f)) return;
  const float hw = 0.5f * width;
  sPath& path = m_Fonts->path;
  path.Clear();
  // Centred on the outline; square corners stay square outside.
  path.RoundedRect(x - hw, y - hw, w + width, h + width, radius > 0.0f ? radius + hw : 0.0f, 1);
  if (w > width && h > width) path.RoundedRect(x + hw, y + hw, w - width, h - width, std::max(0.0f, radius - hw), -1);
  FillPath(colour);
}

void cCanvas::FillCircle(float cx, float cy, float radius, tColor colour) {
  if (!(radius > 0.0f)) return;
  m_Fonts->path.Clear();
  m_Fonts->path.Circle(cx, cy, radius, 1);
  FillPath(colour);
}

void cCanvas::StrokeArc(float cx, float cy, float radius, float a0, float a1, float width, tColor colour) {
  if (!(a1 > a0) || !(width > 0.0f) || !(radius > 0.0f)) return;
  const float hw = 0.5f * width;
  const float inner = std::max(0.0f, radius - hw);
  sPath& path = m_Fonts->path;
  path.Clear();
  if (a1 - a0 >= kTwoPi) {
    path.Circle(cx, cy, radius + hw, 1);
    if (inner > 0.0f) path.Circle(cx, cy, inner, -1);
  } else {
    path.Arc(cx, cy, radius + hw, a0, a1, true, true);
    if (inner > 0.0f)
      path.Arc(cx, cy, inner, a1, a0, true, true);
    else
      path.Add(cx, cy);
    path.Close(1);
  }
  FillPath(colour);
}

void cCanvas::FillPolygon(std::span<const sPoint> points, tColor colour) {
  sPath& path = m_Fonts->path;
  path.Clear();
  path.points.assign(points.begin(), points.end());
  path.Close();
  FillPath(colour);
}

void cCanvas::StrokePolyline(std::span<const sPoint> points, float width, tColor colour) {
  if (points.size() < 2 || !(width > 0.0f)) return;
  const float hw = 0.5f * width;
  sPath& path = m_Fonts->path;
  path.Clear();
  // Every piece turns the same way, so overlaps cover once.
  for (size_t i = 0; i + 1 < points.size(); ++i) {
    const sPoint p = points[i], q = points[i + 1];
    const float dx = q.x - p.x, dy = q.y - p.y;
    const float length = std::hypot(dx, dy);
    if (!(length > 1e-6f)) continue;
    const float nx = -dy / length * hw, ny = dx / length * hw;
    path.Add(p.x + nx, p.y + ny);
    path.Add(q.x + nx, q.y + ny);
    path.Add(q.x - nx, q.y - ny);
    path.Add(p.x - nx, p.y - ny);
    path.Close(1);
  }
  for (size_t i = 1; i + 1 < points.size(); ++i) path.Circle(points[i].x, points[i].y, hw, 1);
  FillPath(colour);
}

void cCanvas::FillContours(std::span<const std::vector<sPoint>> contours, tColor colour) {
  sPath& path = m_Fonts->path;
  path.Clear();
  for (const auto& contour : contours) {
    path.points.insert(path.points.end(), contour.begin(), contour.end());
    path.Close();
  }
  FillPath(colour);
}

float cCanvas::TextWidth(std::string_view utf8, float size, eFont font) const {
  const sFace& face = m_Fonts->Face(font);
  if (!face.valid || !(size > 0.0f)) return 0.0f;
  return face.Layout(utf8, face.Scale(size), [](int, float, size_t) {});
}

float cCanvas::Ascent(float size, eFont font) const {
  const sFace& face = m_Fonts->Face(font);
  return face.valid ? face.Scale(size) * static_cast<float>(face.ascent) : 0.0f;
}

float cCanvas::Descent(float size, eFont font) const {
  const sFace& face = m_Fonts->Face(font);
  return face.valid ? -face.Scale(size) * static_cast<float>(face.descent) : 0.0f;
}

void cCanvas::Text(float x, float baseline, std::string_view utf8, float size, tColor colour, eFont font,
                   eAlign align) {
  const sFace& face = m_Fonts->Face(font);
  if (!face.valid || !(size > 0.0f) || m_Clip.Empty() || (colour >> 24) == 0) return;
  const float scale = face.Scale(size);
  if (align != eAlign::kLeft) {
    const float width = face.Layout(utf8, scale, [](int, float, size_t) {});
    x -= align == eAlign::kCentre ? 0.5f * width : width;
  }
  if (!std::isfinite(x) || !std::isfinite(baseline) || std::fabs(x) > 1e6f || std::fabs(baseline) > 1e6f) return;
  const int line = static_cast<int>(std::lround(baseline));
  face.Layout(utf8, scale, [&](int glyph, float pen, size_t) {
    const float at = x + pen;
    const float whole = std::floor(at);
    const int step = std::min(kSubpixelSteps - 1, static_cast<int>((at - whole) * kSubpixelSteps));
    const sGlyph& g = m_Fonts->Glyph(font, size, scale, glyph, step);
    const sRect r = Intersect({static_cast<int>(whole) + g.x0, line + g.y0, g.w, g.h}, m_Clip);
    if (r.Empty()) return;
    const int gx = r.x - (static_cast<int>(whole) + g.x0), gy = r.y - (line + g.y0);
    const uint8_t* bitmap = m_Fonts->bitmaps.data() + g.offset + static_cast<size_t>(gy) * static_cast<size_t>(g.w) + gx;
    BlendCoverage(r.x, r.y, r.w, r.h, bitmap, g.w, colour);
  });
}

void cCanvas::TextIn(sRect box, std::string_view utf8, float size, tColor colour, eFont font, eAlign align) {
  const sFace& face = m_Fonts->Face(font);
  if (!face.valid || !(size > 0.0f) || box.Empty()) return;
  const float room = static_cast<float>(box.w);
  std::string_view shown = utf8;
  float width = TextWidth(utf8, size, font);
  if (width > room) {
    // The longest start that fits with the ellipsis after it, spaces dropped.
    std::string& cut = m_Fonts->cut;
    const float scale = face.Scale(size);
    const float ellipsis = TextWidth(kEllipsis, size, font);
    size_t keep = 0;
    face.Layout(utf8, scale, [&](int, float pen, size_t at) {
      if (pen + ellipsis <= room) keep = at;
    });
    for (;;) {
      std::string_view start = utf8.substr(0, keep);
      while (!start.empty() && start.back() == ' ') start.remove_suffix(1);
      cut.assign(start);
      cut.append(kEllipsis);
      width = TextWidth(cut, size, font);
      if (width <= room || keep == 0) break;
      // Kerning against the ellipsis can tip it over: one code point less.
      do --keep;
      while (keep > 0 && (static_cast<unsigned char>(utf8[keep]) & 0xC0) == 0x80);
    }
    if (width > room) return;
    shown = cut;
  }
  float x = static_cast<float>(box.x);
  if (align == eAlign::kCentre) x += 0.5f * (room - width);
  if (align == eAlign::kRight) x += room - width;
  const float ascent = Ascent(size, font), descent = Descent(size, font);
  const float baseline = static_cast<float>(box.y) + 0.5f * (static_cast<float>(box.h) - ascent - descent) + ascent;
  const sRect saved = m_Clip;
  m_Clip = Intersect(m_Clip, box);
  Text(x, baseline, shown, size, colour, font, eAlign::kLeft);
  m_Clip = saved;
}

}  // namespace nimbo::editor
