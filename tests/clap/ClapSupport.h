// The built CLAP plugin and the VST 2.x build side by side, loaded as hosts
// load them, with the test signal and the block patterns both are driven with.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "cClapHost.h"
#include "cVstHost.h"

namespace claptest {

constexpr const char* kPluginId = "com.brannoch.nimbohall";
constexpr double kSampleRate = 48000.0;
constexpr clap_id kBypass = 18;

inline const nimbohost::cClapLibrary& Clap() {
  static const nimbohost::cClapLibrary library(NIMBOHALL_CLAP_PATH);
  return library;
}

inline const nimbohost::cPluginLibrary& Vst2() {
  static const nimbohost::cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  return library;
}

inline std::unique_ptr<nimbohost::cClapInstance> NewClap() {
  std::string error;
  auto instance = nimbohost::cClapInstance::Create(Clap(), kPluginId, &error);
  EXPECT_TRUE(instance) << Clap().Error() << error;
  return instance;
}

inline std::unique_ptr<nimbohost::cHostedEffect> NewVst2() {
  std::string error;
  nimbohost::sHostAnswers answers;
  answers.sampleRate = static_cast<intptr_t>(kSampleRate);
  auto effect = nimbohost::cHostedEffect::Create(Vst2().Entry(), answers, &error);
  EXPECT_TRUE(effect) << Vst2().Error() << error;
  return effect;
}

// What a VST 2.x host shows: value and unit, padding trimmed, in UTF-8.
inline std::string Vst2Text(nimbohost::cHostedEffect& effect, int32_t index) {
  auto trim = [](std::string s) {
    s.erase(0, s.find_first_not_of(' '));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  };
  const std::string display = trim(effect.ParameterDisplay(index));
  const std::string label = trim(effect.ParameterLabel(index));
  return nimbohost::Cp1252ToUtf8(label.empty() ? display : display + " " + label);
}

// Clicks, a decaying tone and noise, below full scale, left and right different.
struct sSignal {
  explicit sSignal(size_t frames) : left(frames), right(frames) {
    uint32_t seed = 12345;
    for (size_t i = 0; i < frames; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.2;
      const double tone = 0.3 * std::sin(0.031 * static_cast<double>(i)) * std::exp(-1e-4 * static_cast<double>(i % 20000));
      const double click = i % 9000 == 0 ? 0.5 : 0.0;
      left[i] = static_cast<float>(tone + click + (i < frames / 3 ? noise : 0.0));
      right[i] = static_cast<float>(0.7 * tone - click + (i > frames / 2 ? noise : 0.0));
    }
  }
  std::vector<float> left, right;
};

}  // namespace claptest
