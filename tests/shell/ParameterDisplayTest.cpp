// Parameter descriptors from inside: the SI display across its whole range,
// named values out of range, lazy rebuilding, and the reverb's curve constants.
#include <cmath>
#include <limits>
#include <string>

#include "InsideSupport.h"

using namespace shelltest;
using nimbo::cParameter;

namespace {

std::string Display(cParameter& p) {
  char text[64] = {};
  p.GetDisplay(text);
  return text;
}

std::string Label(cParameter& p) {
  char text[64] = {};
  p.GetLabel(text);
  return text;
}

// A descriptor shown from whatever value a program stores.
struct sBoundParameter {
  void Show(float v) { p.Sync(v); }
  cParameter p;
};

class cInspectableReverb : public cVst2Reverb {
 public:
  cInspectableReverb() : cVst2Reverb(&QuietHost) {}
  cParameter& Parameter(int32_t index) { return m_Parameters[static_cast<size_t>(index)]; }
};

}  // namespace

TEST(ParameterDisplay, SiPrefixesAcrossTheirRange) {
  sBoundParameter b;
  b.p.siPrefix = true;
  b.p.unit = "s";
  b.p.SetRange(nimbo::kCurveLog, 1e-6f, 1.0f);
  struct {
    float value;
    const char* display;
    const char* label;
  } const rows[] = {
      {1.0e-6f, "  1.000", "\xB5s"}, {0.001f, "  1.000", "ms"}, {0.0099f, "  9.900", "ms"},
      {0.05f, "  50.00", "ms"},      {0.25f, "  250.0", "ms"},  {0.9965f, "  996.5", "ms"},
      {0.9966f, "  0.997", "s"},     {9.97f, "   9.97", "s"},   {20.0f, "  20.00", "s"},
      {1.5e-21f, "  1.500", "zs"},   {5e23f, "  500.0", "Zs"},  {2.0e3f, "  2.000", "ks"},
      // Nothing to prefix: zero, negative, NaN and values beyond z..Z.
      {0.0f, "---", "s"},            {-1.0f, "---", "s"},       {std::numeric_limits<float>::quiet_NaN(), "---", "s"},
      {1e-22f, "---", "s"},          {1e25f, "---", "s"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.value);
    b.Show(r.value);
    EXPECT_EQ(Display(b.p), r.display);
    EXPECT_EQ(Label(b.p), r.label);
  }
}

TEST(ParameterDisplay, NamedValuesOutsideTheListShowNotAvailable) {
  cInspectableReverb fx;
  cParameter& geometry = fx.Parameter(0);
  const std::pair<int32_t, const char*> rows[] = {
      {0, "sphere"}, {13, "harmonic"}, {16, "detuned"}, {17, "n/a"}, {-1, "n/a"}, {INT32_MIN, "n/a"}};
  for (const auto& [value, text] : rows) {
    geometry.Sync(static_cast<float>(value));
    EXPECT_EQ(Display(geometry), text) << value;
    EXPECT_EQ(Label(geometry), "");
  }
}

TEST(ParameterDisplay, TextsAreRebuiltOnlyAfterAChange) {
  sBoundParameter b;
  b.p.format = "%1.0f";
  b.p.unit = "%";
  EXPECT_EQ(Display(b.p), "");  // a default descriptor has empty texts
  b.p.SetRange(nimbo::kCurveLinear, 0.0f, 100.0f);
  b.p.SetNormalized(0.5f);
  EXPECT_EQ(Display(b.p), "50");

  // A value that changes behind the descriptor's back is not shown until it
  // is marked: the texts come from the cache.
  b.p.value = 70.0f;
  EXPECT_EQ(Display(b.p), "50");
  EXPECT_EQ(Label(b.p), "%");
  b.p.SetNormalized(0.25f);
  EXPECT_EQ(Label(b.p), "%");  // the label request rebuilds both texts
  b.p.value = 70.0f;
  EXPECT_EQ(Display(b.p), "25");
  b.Show(12.0f);
  EXPECT_EQ(Display(b.p), "12");

  // A null buffer neither writes nor rebuilds.
  b.Show(13.0f);
  b.p.GetDisplay(nullptr);
  b.p.GetLabel(nullptr);
  b.p.GetName(nullptr);
  EXPECT_TRUE(b.p.displayDirty);
}

TEST(ParameterDisplay, ReverbCurvesAndTheirConstants) {
  cInspectableReverb fx;
  struct {
    int32_t index;
    float scale, offset;
  } const logCurves[] = {
      {1, 19.93157f, -19.93157f}, {2, 13.28771f, -3.321928f}, {8, 13.28771f, -6.643856f}, {9, 14.28771f, -9.965784f}};
  for (const auto& c : logCurves) {
    EXPECT_NEAR(fx.Parameter(c.index).scale, c.scale, 1e-5f) << c.index;
    EXPECT_NEAR(fx.Parameter(c.index).offset, c.offset, 1e-5f) << c.index;
  }

  struct {
    int32_t index;
    float n, plain;
  } const points[] = {
      {0, 0.3f, 5.0f},      {16, 0.49f, 0.0f},   {16, 0.5f, 1.0f},    {2, 0.0f, 0.0f},
      {2, 1e-7f, 0.1f},     {2, 0.5f, 10.0f},    {1, 0.0f, 1e-6f},    {1, 0.5f, 0.001f},
      {5, 0.5f, 90.0f},     {7, 0.5f, 75.0f},    {14, 0.5f, 50.0f},   {12, 0.5f, 180.0f},
      {11, 0.5f, 7.5f},     {3, 0.5f, 0.25f},    {10, 0.3f, 30.0f},   {6, 0.25f, 28.125f},
  };
  for (const auto& pt : points) {
    cParameter& p = fx.Parameter(pt.index);
    p.SetNormalized(pt.n);
    EXPECT_NEAR(p.Value(), pt.plain, std::abs(pt.plain) * 1e-5f) << pt.index << " at " << pt.n;
  }
}
