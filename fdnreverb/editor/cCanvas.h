// Software drawing into a 0xAARRGGBB pixel buffer: antialiased shapes and
// text, the same pixels on every machine. Shapes are filled through
// stb_truetype's rasterizer; text uses a font embedded at build time.
//
// Coordinates are pixels of the buffer (the view multiplies by its scale);
// pixel (x, y) covers [x, x+1) x [y, y+1). Colours blend by their alpha.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "cEditorView.h"

namespace nimbo::editor {

using tColor = uint32_t;  // 0xAARRGGBB

constexpr tColor Rgb(uint32_t rgb, uint32_t alpha = 255) { return (alpha << 24) | (rgb & 0xFFFFFFu); }

struct sPoint {
  float x = 0.0f, y = 0.0f;
};

enum class eFont { kRegular, kBold };
enum class eAlign { kLeft, kCentre, kRight };

class cCanvas {
 public:
  cCanvas();
  ~cCanvas();
  cCanvas(const cCanvas&) = delete;
  cCanvas& operator=(const cCanvas&) = delete;

  // Drops the content; the new buffer is opaque black.
  void Resize(int width, int height);
  int Width() const { return m_Width; }
  int Height() const { return m_Height; }
  const uint32_t* Pixels() const { return m_Pixels.data(); }
  uint32_t Pixel(int x, int y) const { return m_Pixels[static_cast<size_t>(y) * m_Width + x]; }

  // Drawing outside the clip (and the buffer) leaves pixels unchanged.
  void SetClip(sRect clip);
  void ResetClip();
  sRect Clip() const { return m_Clip; }

  // Whole pixels, no antialiasing: backgrounds and panels.
  void FillRect(sRect r, tColor colour);
  // Antialiased shapes at fractional coordinates.
  void FillRoundedRect(float x, float y, float w, float h, float radius, tColor colour);
  void StrokeRoundedRect(float x, float y, float w, float h, float radius, float width, tColor colour);
  void FillCircle(float cx, float cy, float radius, tColor colour);
  // An arc of the given width, angles in radians clockwise from 12 o'clock, a0 < a1.
  void StrokeArc(float cx, float cy, float radius, float a0, float a1, float width, tColor colour);
  // A closed polygon (nonzero winding).
  void FillPolygon(std::span<const sPoint> points, tColor colour);
  // An open polyline of the given width (butt ends, joined segments).
  void StrokePolyline(std::span<const sPoint> points, float width, tColor colour);
  // One or more closed contours filled together (nonzero winding): holes
  // are contours of the opposite orientation.
  void FillContours(std::span<const std::vector<sPoint>> contours, tColor colour);

  // Text in UTF-8; size is the font's pixel height (ascent to descent).
  float TextWidth(std::string_view utf8, float size, eFont font = eFont::kRegular) const;
  float Ascent(float size, eFont font = eFont::kRegular) const;
  float Descent(float size, eFont font = eFont::kRegular) const;  // positive, below the baseline
  // x is where the pen starts (left) or the anchor for centre/right.
  void Text(float x, float baseline, std::string_view utf8, float size, tColor colour,
            eFont font = eFont::kRegular, eAlign align = eAlign::kLeft);
  // Text fitted into a box: vertically centred, cut with "…" when too wide.
  void TextIn(sRect box, std::string_view utf8, float size, tColor colour, eFont font = eFont::kRegular,
              eAlign align = eAlign::kLeft);

 private:
  struct sFonts;
  void Blend(int x, int y, tColor colour, float coverage);
  // Fills the path gathered in m_Fonts (nonzero winding) within the clip.
  void FillPath(tColor colour);
  // Blends a w x h coverage map whose top left is at (x, y), already clipped.
  void BlendCoverage(int x, int y, int w, int h, const uint8_t* coverage, int stride, tColor colour);

  int m_Width = 0, m_Height = 0;
  std::vector<uint32_t> m_Pixels;
  sRect m_Clip;
  std::unique_ptr<sFonts> m_Fonts;  // glyph caches per font and size
};

}  // namespace nimbo::editor
