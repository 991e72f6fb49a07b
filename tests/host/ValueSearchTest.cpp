// Values by what a host shows: the normalized value found for a wanted text
// must be the one the parameter's curve gives for it.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "RenderError.h"
#include "RenderText.h"
#include "ValueSearch.h"
#include "cVstHost.h"

namespace {

class cHosted {
 public:
  explicit cHosted(const std::string& path) : m_Library(path) {
    std::string error;
    m_Effect = nimbohost::cHostedEffect::Create(m_Library.Entry(), nimbohost::sHostAnswers{}, &error);
    if (!m_Effect) throw std::runtime_error(error);
    m_Effect->Start(44100.0f, 512);
    m_Finder = std::make_unique<nimborender::cParameterFinder>(*m_Effect);
  }
  float Find(const std::string& name, const std::string& value) {
    const auto index = m_Finder->FindParameter(name);
    if (!index) throw std::runtime_error("no parameter " + name);
    const float n = m_Finder->FindNormalized(*index, value);
    m_Effect->SetParameter(*index, n);
    return n;
  }
  std::string Shown(const std::string& name) {
    return nimborender::ShownValue(m_Finder->Read(*m_Finder->FindParameter(name)));
  }
  nimborender::cParameterFinder& Finder() { return *m_Finder; }

 private:
  nimbohost::cPluginLibrary m_Library;
  std::unique_ptr<nimbohost::cHostedEffect> m_Effect;
  std::unique_ptr<nimborender::cParameterFinder> m_Finder;
};

class NimbohallValues : public ::testing::Test {
 protected:
  cHosted m_Plugin{NIMBOHALL_PLUGIN_PATH};
};

TEST_F(NimbohallValues, ShownValueIsTheMiddleOfItsStretch) {
  // Square curve 0..200 %: 40 % lies at sqrt(40 / 200).
  EXPECT_NEAR(m_Plugin.Find("Wet mix", "40"), std::sqrt(0.2), 1e-4);
  EXPECT_EQ(m_Plugin.Shown("Wet mix"), "40 %");
  // Linear 0..360 degrees.
  EXPECT_NEAR(m_Plugin.Find("In dir", "90"), 0.25, 1e-4);
}

TEST_F(NimbohallValues, PrefixedUnitsAndPlainValuesAgree) {
  // Log curve from 1 us to 1 s.
  const double expected = std::log2(0.025 / 1e-6) / std::log2(1e6);
  EXPECT_NEAR(m_Plugin.Find("Base dly", "0.025"), expected, 2e-6);
  EXPECT_EQ(m_Plugin.Shown("Base dly"), "25.00 ms");
  EXPECT_NEAR(m_Plugin.Find("Base dly", "25ms"), expected, 2e-6);
  EXPECT_NEAR(m_Plugin.Find("Base dly", "25000 \xC2\xB5s"), expected, 2e-6);
  EXPECT_NEAR(m_Plugin.Find("Mod per", "2.5"), std::log2(2.5 / 0.001) / std::log2(20.0 / 0.001), 2e-5);
}

TEST_F(NimbohallValues, EndsOfTheRangeAreExact) {
  EXPECT_EQ(m_Plugin.Find("Wet mix", "200"), 1.0f);
  EXPECT_EQ(m_Plugin.Find("Wet mix", "0"), 0.0f);
  EXPECT_EQ(m_Plugin.Find("Base dly", "1 s"), 1.0f);
  EXPECT_EQ(m_Plugin.Find("Base dly", "0.000001"), 0.0f);
  // "off" sits at 0; the smallest number is right above it.
  EXPECT_EQ(m_Plugin.Find("Halflife", "off"), 0.0f);
  const float lowest = m_Plugin.Find("Halflife", "0.1");
  EXPECT_GT(lowest, 0.0f);
  EXPECT_LT(lowest, 1e-5f);
  EXPECT_EQ(m_Plugin.Shown("Halflife"), "0.10 \xC3\x97 base");
  EXPECT_EQ(m_Plugin.Find("Halflife", "1000"), 1.0f);
}

TEST_F(NimbohallValues, BetweenShownValuesInterpolates) {
  // Shown as whole percent: 40.3 lies three tenths of the way from 40 to 41.
  EXPECT_NEAR(m_Plugin.Find("Wet mix", "40.3"), std::sqrt(40.3 / 200.0), 3e-4);
  // 359.6 degrees shows as 360 but is not the end of the range.
  EXPECT_NEAR(m_Plugin.Find("In dir", "359.6"), 359.6 / 360.0, 3e-4);
}

TEST_F(NimbohallValues, NamedValuesAreTheMiddleOfTheirStep) {
  EXPECT_FLOAT_EQ(m_Plugin.Find("Geometry", "room2"), 8.5f / 17.0f);
  EXPECT_FLOAT_EQ(m_Plugin.Find("Geometry", "DETUNED"), 16.5f / 17.0f);
  EXPECT_FLOAT_EQ(m_Plugin.Find("Hold", "on"), 0.75f);
  EXPECT_FLOAT_EQ(m_Plugin.Find("FB plane", "block2"), 5.5f / 6.0f);
}

TEST_F(NimbohallValues, ParametersByShortOrLongNameInAnyCase) {
  auto& finder = m_Plugin.Finder();
  EXPECT_EQ(finder.FindParameter("Base dly"), 1);
  EXPECT_EQ(finder.FindParameter("Base delay time"), 1);
  EXPECT_EQ(finder.FindParameter("wet MIX"), 15);
  EXPECT_EQ(finder.FindParameter(" Dr. Who "), 17);
  EXPECT_FALSE(finder.FindParameter("Wet").has_value());
}

TEST_F(NimbohallValues, RefusesWhatItCannotShow) {
  auto status = [&](const std::string& name, const std::string& value) {
    try {
      m_Plugin.Find(name, value);
    } catch (const nimborender::cRenderError& error) {
      return error.Status();
    }
    return 0;
  };
  EXPECT_EQ(status("Wet mix", "200.5"), nimborender::kExitValue);
  EXPECT_EQ(status("Wet mix", "-1"), nimborender::kExitValue);
  EXPECT_EQ(status("Halflife", "0"), nimborender::kExitValue);  // "off" is a name, 0 is below 0.10
  EXPECT_EQ(status("Hold", "1"), nimborender::kExitValue);
  EXPECT_EQ(status("Geometry", ""), nimborender::kExitValue);
  EXPECT_EQ(status("FB rot 1", "90 %"), nimborender::kExitValue);
}

// A plugin with other habits: dB with "-inf", kHz beside Hz, names without
// parameter properties.
class OtherPluginValues : public ::testing::Test {
 protected:
  cHosted m_Plugin{FAKE_DECAY_PATH};
};

TEST_F(OtherPluginValues, DecibelsAndMinusInfinity) {
  EXPECT_EQ(m_Plugin.Find("Level", "-inf"), 0.0f);
  EXPECT_NEAR(m_Plugin.Find("Level", "0"), 0.5, 1e-3);      // gain 1
  EXPECT_NEAR(m_Plugin.Find("Level", "-6.0 dB"), 0.5 * std::pow(10.0, -6.0 / 20.0), 1e-3);
  EXPECT_EQ(m_Plugin.Shown("Level"), "-6.0 dB");
}

TEST_F(OtherPluginValues, UnitPrefixesTheHostShows) {
  const double perDecade = 1.0 / std::log10(1000.0);
  EXPECT_NEAR(m_Plugin.Find("Tone", "2.5kHz"), std::log10(2500.0 / 20.0) * perDecade, 1e-4);
  EXPECT_EQ(m_Plugin.Shown("Tone"), "2.50 kHz");
  EXPECT_NEAR(m_Plugin.Find("Tone", "440"), std::log10(440.0 / 20.0) * perDecade, 1e-3);
  EXPECT_NEAR(m_Plugin.Find("Tone", "2500"), std::log10(2500.0 / 20.0) * perDecade, 1e-4);
}

TEST_F(OtherPluginValues, NamesWithoutPropertiesAndPlainPercent) {
  const float dark = m_Plugin.Find("Mode", "dark");
  EXPECT_NEAR(dark, 0.5, 0.01);
  EXPECT_EQ(m_Plugin.Shown("Mode"), "dark colour of the tail");
  EXPECT_NEAR(m_Plugin.Find("Width", "37"), 0.37, 1e-4);
}

}  // namespace

namespace {

TEST(UnitTexts, PrefixesConvertBetweenShownUnits) {
  using nimborender::UnitFactor;
  EXPECT_EQ(UnitFactor("s", "s"), 1.0);
  EXPECT_DOUBLE_EQ(*UnitFactor("ms", "s"), 1e-3);
  EXPECT_DOUBLE_EQ(*UnitFactor("\xC2\xB5s", "s"), 1e-6);
  EXPECT_DOUBLE_EQ(*UnitFactor("kHz", "Hz"), 1e3);
  EXPECT_DOUBLE_EQ(*UnitFactor("s", "ms"), 1e3);
  EXPECT_DOUBLE_EQ(*UnitFactor("us", "ms"), 1e-3);
  EXPECT_FALSE(UnitFactor("Hz", "s").has_value());
  EXPECT_FALSE(UnitFactor("xs", "s").has_value());
  EXPECT_FALSE(UnitFactor("s", "").has_value());
}

TEST(UnitTexts, PluginTextsBecomeUtf8) {
  using nimborender::PluginTextToUtf8;
  EXPECT_EQ(PluginTextToUtf8("90 \xB0"), "90 \xC2\xB0");           // Windows-1252 degree sign
  EXPECT_EQ(PluginTextToUtf8("\xD7 base"), "\xC3\x97 base");       // multiplication sign
  EXPECT_EQ(PluginTextToUtf8("\x80"), "\xE2\x82\xAC");             // euro sign
  EXPECT_EQ(PluginTextToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");       // already UTF-8
  EXPECT_EQ(PluginTextToUtf8("plain"), "plain");
}

}  // namespace
