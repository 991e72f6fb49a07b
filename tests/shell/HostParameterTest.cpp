// The 18 parameters as a host's generic view shows them: names, value texts
// and unit labels (Windows-1252 bytes), curves and round trips.
#include <cmath>

#include "HostSupport.h"

using namespace shelltest;

namespace {

enum : int32_t {
  kGeometry, kBaseDelay, kHalflife, kDamping, kFbPlane, kFbRot1, kFbRot2, kFbInv,
  kModDepth, kModPeriod, kModSpread, kAmpDrive, kInDir, kOutDir, kDryMix, kWetMix,
  kHold, kKeepTail,
};

struct sTexts {
  const char* name;
  const char* display;
  const char* label;
};

void ExpectTexts(nimbohost::cHostedEffect& fx, int32_t index, const char* display, const char* label) {
  EXPECT_EQ(fx.ParameterDisplay(index), display) << "parameter " << index;
  EXPECT_EQ(fx.ParameterLabel(index), label) << "parameter " << index;
}

}  // namespace

TEST(Parameters, FreshInstanceShowsTheFirstProgram) {
  // "Temple of the Ancestors", with both switches off.
  const sTexts table[18] = {
      {"Geometry", "room2", ""},        {"Base dly", "  35.00", "ms"},   {"Halflife", "16.00", "\xD7 base"},
      {"Damping", "0.44", ""},          {"FB plane", "dense1", ""},      {"FB rot 1", "87.00", "\xB0"},
      {"FB rot 2", "5.00", "\xB0"},     {"FB inv", "99.70", "%"},        {"Mod dep", "0.60", "%"},
      {"Mod per", "  1.500", "s"},      {"Mod spr", "100", "%"},         {"Amp drv", "off", ""},
      {"In dir", "0", "\xB0"},          {"Out dir", "315", "\xB0"},      {"Dry mix", "70", "%"},
      {"Wet mix", "30", "%"},           {"Hold", "off", ""},             {"Dr. Who", "off", ""},
  };
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  for (int32_t i = 0; i < 18; ++i) {
    EXPECT_EQ(fx->ParameterName(i), table[i].name);
    ExpectTexts(*fx, i, table[i].display, table[i].label);
  }
}

TEST(Parameters, IntegerCurvesUseEqualBucketsAndReportTheirMiddle) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  struct {
    int32_t index;
    float sent, reported;
    const char* display;
  } const cases[] = {
      {kGeometry, 0.3f, 5.5f / 17, "drum"},         {kGeometry, 1.0f, 16.5f / 17, "detuned"},
      {kGeometry, 13.5f / 17, 13.5f / 17, "harmonic"}, {kGeometry, 0.0f, 0.5f / 17, "sphere"},
      {kFbPlane, 1.0f, 5.5f / 6, "block2"},         {kFbPlane, 0.5f, 3.5f / 6, "sparse2"},
      {kHold, 0.49f, 0.25f, "off"},                 {kHold, 0.5f, 0.75f, "on"},
      {kKeepTail, 1.0f, 0.75f, "on"},               {kKeepTail, 0.0f, 0.25f, "off"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.index << " at " << c.sent);
    fx->SetParameter(c.index, c.sent);
    EXPECT_FLOAT_EQ(fx->GetParameter(c.index), c.reported);
    ExpectTexts(*fx, c.index, c.display, "");
  }
}

TEST(Parameters, ContinuousCurvesMapToTheirPlainValues) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  struct {
    int32_t index;
    float sent;
    const char* display;
    const char* label;
  } const cases[] = {
      // "off" at 0 bypasses the lower bound; any other value is bounded.
      {kHalflife, 0.0f, "off", ""},            {kHalflife, 1e-7f, "0.10", "\xD7 base"},
      {kHalflife, 0.5f, "10.00", "\xD7 base"}, {kHalflife, 1.0f, "1000.00", "\xD7 base"},
      {kDamping, 0.0f, "off", ""},             {kDamping, std::sqrt(0.5f), "0.50", ""},
      {kModDepth, 0.0f, "off", ""},            {kModDepth, 1e-7f, "0.01", "%"},
      {kModDepth, 0.5f, "1.00", "%"},          {kAmpDrive, 0.5f, "7.5", "\xD7"},
      // No "off" here: 0 is the bottom of the log range.
      {kBaseDelay, 0.0f, "  1.000", "\xB5s"},  {kBaseDelay, 0.5f, "  1.000", "ms"},
      {kBaseDelay, 1.0f, "  1.000", "s"},      {kModPeriod, 1.0f, "  20.00", "s"},
      {kModPeriod, 0.0f, "  1.000", "ms"},     {kFbRot1, 0.5f, "90.00", "\xB0"},
      {kFbRot2, 1.0f, "180.00", "\xB0"},       {kFbInv, 0.5f, "75.00", "%"},
      {kDryMix, 0.5f, "50", "%"},              {kWetMix, 1.0f, "200", "%"},
      {kInDir, 0.5f, "180", "\xB0"},           {kOutDir, 359.6f / 360, "360", "\xB0"},
      {kModSpread, 0.25f, "25", "%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.index << " at " << c.sent);
    fx->SetParameter(c.index, c.sent);
    EXPECT_EQ(fx->GetParameter(c.index), c.sent);  // continuous curves report what was set
    ExpectTexts(*fx, c.index, c.display, c.label);
  }
}

TEST(Parameters, ValuesSurviveTheRoundTripThroughTheProgram) {
  // A program switch stores the plain values and reloads them, so each curve
  // and its inverse must agree.
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  for (float n : {0.1f, 0.3f, 0.5f, 0.9f}) {
    SCOPED_TRACE(n);
    for (int32_t i = 0; i < 16; ++i) fx->SetParameter(i, n);
    std::vector<float> set;
    for (int32_t i = 0; i < 16; ++i) set.push_back(fx->GetParameter(i));
    fx->Dispatch(effSetProgram, 0, 1);
    fx->Dispatch(effSetProgram, 0, 0);
    for (int32_t i = 0; i < 16; ++i) EXPECT_NEAR(fx->GetParameter(i), set[i], 1e-5f) << "parameter " << i;
  }
}

TEST(Parameters, TextsFollowEveryChange) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  // Same request twice without a change, label after display: the same texts.
  EXPECT_EQ(fx->ParameterDisplay(kWetMix), "30");
  EXPECT_EQ(fx->ParameterDisplay(kWetMix), "30");
  EXPECT_EQ(fx->ParameterLabel(kWetMix), "%");
  // A change from either side marks the texts stale: a parameter set, a program switch.
  fx->SetParameter(kWetMix, 0.5f);
  EXPECT_EQ(fx->ParameterLabel(kWetMix), "%");
  EXPECT_EQ(fx->ParameterDisplay(kWetMix), "50");
  fx->Dispatch(effSetProgram, 0, 5);
  EXPECT_EQ(fx->ParameterDisplay(kWetMix), "35");
  EXPECT_EQ(fx->ParameterDisplay(kGeometry), "drum");
}
