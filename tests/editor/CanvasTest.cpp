#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "cCanvas.h"

namespace nimbo::editor {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// Covered pixels of white drawn on black, in pixels, within r.
double Ink(const cCanvas& c, sRect r) {
  double sum = 0.0;
  for (int y = r.y; y < r.y + r.h; ++y)
    for (int x = r.x; x < r.x + r.w; ++x) sum += (c.Pixel(x, y) & 0xFF) / 255.0;
  return sum;
}
double Ink(const cCanvas& c) { return Ink(c, {0, 0, c.Width(), c.Height()}); }

TEST(Canvas, ShapesCoverTheirArea) {
  const tColor white = Rgb(0xFFFFFF);
  cCanvas c;
  c.Resize(200, 200);
  c.FillCircle(100.3f, 99.6f, 60.0f, white);
  EXPECT_NEAR(Ink(c), kPi * 60 * 60, kPi * 60 * 60 * 0.01);
  c.Resize(200, 200);
  c.FillRoundedRect(10.5f, 20.25f, 150.0f, 90.0f, 12.0f, white);
  EXPECT_NEAR(Ink(c), 150 * 90 - (4 - kPi) * 144, 150 * 90 * 0.01);
  c.Resize(200, 200);
  c.StrokeArc(100, 100, 50, -0.75f * kPi, 0.75f * kPi, 8, white);
  EXPECT_NEAR(Ink(c), 0.75f * kPi * (54 * 54 - 46 * 46), 0.75f * kPi * (54 * 54 - 46 * 46) * 0.01);
  // A polyline doubling back on itself covers once; a join fills its corner.
  c.Resize(200, 200);
  const sPoint line[] = {{20, 50}, {180, 50}, {20, 50.5f}};
  c.StrokePolyline(line, 4, white);
  EXPECT_EQ(c.Pixel(100, 50), 0xFFFFFFFFu);
  EXPECT_NEAR(Ink(c), 160 * 4.25, 160 * 4.25 * 0.03);
  const sPoint corner[] = {{20, 120}, {100, 120}, {100, 190}};
  c.StrokePolyline(corner, 4, white);
  EXPECT_EQ(c.Pixel(99, 119), 0xFFFFFFFFu);
  EXPECT_EQ(c.Pixel(100, 119), 0xFFFFFFFFu);
  // Nonzero winding: a reversed inner contour is a hole, a same-way one is not.
  const std::vector<std::vector<sPoint>> holed = {{{10, 10}, {90, 10}, {90, 90}, {10, 90}},
                                                  {{30, 30}, {30, 70}, {70, 70}, {70, 30}}};
  const std::vector<std::vector<sPoint>> doubled = {holed[0], {{30, 30}, {70, 30}, {70, 70}, {30, 70}}};
  c.Resize(200, 200);
  c.FillContours(holed, white);
  EXPECT_EQ(c.Pixel(50, 50), 0xFF000000u);
  EXPECT_NEAR(Ink(c), 80 * 80 - 40 * 40, 1.0);
  c.Resize(200, 200);
  c.FillContours(doubled, white);
  EXPECT_EQ(c.Pixel(50, 50), 0xFFFFFFFFu);
  EXPECT_NEAR(Ink(c), 80 * 80, 1.0);
}

TEST(Canvas, ClipAndBlend) {
  cCanvas c;
  c.Resize(120, 100);
  c.FillRect({0, 0, 120, 100}, Rgb(0xFF0000));
  c.FillRect({10, 10, 20, 20}, Rgb(0x0000FF, 128));
  EXPECT_EQ(c.Pixel(15, 15), 0xFF7F0080u);
  EXPECT_EQ(c.Pixel(30, 15), 0xFFFF0000u);

  // Drawn through a clip, the same pixels inside it and none outside.
  auto draw = [](cCanvas& canvas) {
    canvas.FillCircle(50, 50, 45, Rgb(0xFFFFFF, 200));
    canvas.StrokePolyline(std::vector<sPoint>{{0, 0}, {120, 100}}, 5, Rgb(0x00FF00));
    canvas.StrokeArc(50, 50, 30, 0, 4, 6, Rgb(0xFF00FF));
    canvas.Text(0, 45, "Clipped text", 30, Rgb(0x0000FF));
    canvas.FillRect({0, 0, 120, 100}, Rgb(0xFFFFFF, 10));
  };
  cCanvas whole;
  whole.Resize(120, 100);
  draw(whole);
  c.Resize(120, 100);
  const sRect clip{40, 30, 25, 20};
  c.SetClip(clip);
  draw(c);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 120; ++x) {
      const bool inside = x >= clip.x && x < clip.x + clip.w && y >= clip.y && y < clip.y + clip.h;
      const uint32_t got = c.Pixel(x, y), want = inside ? whole.Pixel(x, y) : 0xFF000000u;
      for (int shift = 0; shift < 32; shift += 8)  // shapes quantize apart by a rounding step
        ASSERT_NEAR(int(got >> shift & 0xFF), int(want >> shift & 0xFF), inside ? 2 : 0) << x << "," << y;
    }
}

TEST(Canvas, Text) {
  cCanvas c;
  const float hello = c.TextWidth("Hello", 20);
  EXPECT_GT(hello, 30.0f);
  EXPECT_NEAR(c.TextWidth("Hello", 40), 2 * hello, 1.0f);
  EXPECT_GT(c.TextWidth("Hello", 20, eFont::kBold), hello);
  EXPECT_NEAR(c.Ascent(20) + c.Descent(20), 20.0f, 0.01f);
  // Bad bytes read as the replacement character, one each.
  const float replaced = c.TextWidth("\xEF\xBF\xBD", 20);
  EXPECT_FLOAT_EQ(c.TextWidth("\xFF\xC0\xAF\xC3", 20), 4 * replaced);
  EXPECT_NE(c.TextWidth("\xC3\xA9", 20), replaced);

  c.Resize(200, 60);
  c.Text(10.5f, 40, "Hello", 20, Rgb(0xFFFFFF));
  int first = 200, last = -1;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x)
      if (c.Pixel(x, y) != 0xFF000000u) first = std::min(first, x), last = std::max(last, x);
  EXPECT_NEAR(last + 1 - first, hello, 3.0f);

  // Too long for its box: cut with the ellipsis, nothing outside the box.
  c.Resize(200, 60);
  const sRect box{20, 10, 90, 30};
  c.TextIn(box, "Early reflections diffusion", 16, Rgb(0xFFFFFF), eFont::kBold, eAlign::kRight);
  EXPECT_NEAR(Ink(c), Ink(c, box), 1e-9);
  EXPECT_GT(Ink(c, {box.x, box.y, 45, box.h}), 20.0);
  EXPECT_GT(Ink(c, {box.x + box.w - 12, box.y + 15, 12, 10}), 1.0);  // the ellipsis's dots
}

}  // namespace
}  // namespace nimbo::editor
