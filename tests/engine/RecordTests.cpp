// The reverb as a host hears it: the built plugin, loaded and driven through
// its record only.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "EngineProbe.h"
#include "cVstHost.h"

namespace {

constexpr int kDrumRoomS = 34, kTemple = 0, kInit = 63;
constexpr int kParamDryMix = 14, kParamHold = 16, kParamKeepTail = 17;
constexpr float kDither[8] = {1e-12f, -2e-12f, 3e-12f, -4e-12f, 5e-12f, -6e-12f, 7e-12f, -8e-12f};

const nimbohost::cPluginLibrary& Plugin() {
  static const nimbohost::cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  return library;
}

struct sHosted {
  std::unique_ptr<nimbohost::cHostedEffect> fx;

  explicit sHosted(float fs, int program = kTemple) {
    std::string error;
    fx = nimbohost::cHostedEffect::Create(Plugin().Entry(), {}, &error);
    if (!fx) throw std::runtime_error(Plugin().Error() + error);
    fx->Start(fs, 512);
    SetProgram(program);
  }
  void SetProgram(int program) { fx->Dispatch(effSetProgram, 0, program); }
  // Renders in blocks of the given size; the outputs are returned.
  std::pair<std::vector<float>, std::vector<float>> Run(std::vector<float> inL, std::vector<float> inR,
                                                        int block = 512) {
    std::vector<float> outL(inL.size()), outR(inL.size());
    for (size_t pos = 0; pos < inL.size(); pos += static_cast<size_t>(block)) {
      const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), inL.size() - pos));
      float* in[2] = {&inL[pos], &inR[pos]};
      float* out[2] = {&outL[pos], &outR[pos]};
      fx->ProcessReplacing(in, out, n);
    }
    return {outL, outR};
  }
  std::pair<std::vector<float>, std::vector<float>> Run(size_t frames, float level, unsigned seed, int block = 512) {
    return Run(Noise(frames, level, seed), Noise(frames, level, seed + 1), block);
  }
};

double Rms(const std::vector<float>& x, size_t from, size_t to) {
  double sum = 0;
  for (size_t k = from; k < to; ++k) sum += double(x[k]) * x[k];
  return std::sqrt(sum / double(to - from));
}

TEST(Record, InitPassesTheDitheredInputAtUnityInPlace) {
  sHosted host(44100, kInit);
  auto L = Noise(1000, 1.0f, 7), R = Noise(1000, 1.0f, 8);
  auto bufL = L, bufR = R;
  for (size_t pos = 0; pos < 1000; pos += 100) {  // in place, as many hosts do
    float* io[2] = {&bufL[pos], &bufR[pos]};
    host.fx->ProcessReplacing(io, io, 100);
  }
  for (size_t k = 0; k < 1000; ++k) {
    ASSERT_EQ(bufL[k], L[k] + kDither[(k % 100) % 8]) << k;  // the dither restarts with every call
    ASSERT_EQ(bufR[k], R[k] - kDither[(k % 100) % 8]) << k;
  }
}

TEST(Record, HoldKeepsTheTailAndIgnoresInputAndDry) {
  sHosted a(48000, kDrumRoomS), b(48000, kDrumRoomS);
  a.Run(24000, 0.5f, 12);
  b.Run(24000, 0.5f, 12);
  for (sHosted* h : {&a, &b}) {
    h->fx->SetParameter(kParamHold, 1.0f);
    h->fx->SetParameter(kParamDryMix, 1.0f);  // 200 %
  }
  const auto held = a.Run(3 * 48000, 0.5f, 13);  // loud input...
  const auto silent = b.Run(std::vector<float>(3 * 48000, 0.0f), std::vector<float>(3 * 48000, 0.0f));
  EXPECT_EQ(held.first, silent.first);  // ...that nobody hears
  EXPECT_EQ(held.second, silent.second);
  const double start = Rms(held.first, 0, 12000) + Rms(held.second, 0, 12000);
  ASSERT_GT(start, 1e-3);
  for (size_t w = 1; w < 12; ++w) {
    const double rms = Rms(held.first, w * 12000, (w + 1) * 12000) + Rms(held.second, w * 12000, (w + 1) * 12000);
    EXPECT_NEAR(rms / start, 1.0, 0.15) << "window " << w;
  }
  // Released, the same tail dies away.
  a.fx->SetParameter(kParamHold, 0.0f);
  const auto released = a.Run(std::vector<float>(48000, 0.0f), std::vector<float>(48000, 0.0f));
  EXPECT_LT(Rms(released.first, 36000, 48000), 1e-3 * start);
}

TEST(Record, ProgramSwitchClearsTheNetworkUnlessDrWhoKeepsIt) {
  for (bool keep : {false, true}) {
    sHosted host(48000, kTemple);
    host.fx->SetParameter(kParamKeepTail, keep ? 1.0f : 0.0f);
    host.Run(96000, 0.5f, 14);  // longer than the buffers, so every position holds the old tail
    host.SetProgram(kDrumRoomS);
    const auto after = host.Run(std::vector<float>(4800, 0.0f), std::vector<float>(4800, 0.0f));
    const double rms = Rms(after.first, 0, 4800) + Rms(after.second, 0, 4800);
    if (keep)
      EXPECT_GT(rms, 1e-3);
    else
      EXPECT_LT(rms, 1e-9);
  }
}

TEST(Record, EveryFactoryProgramSoundsAndDecays) {
  std::vector<float> inL(4800), inR(4800), outL(4800), outR(4800);
  float* in[2] = {inL.data(), inR.data()};
  float* out[2] = {outL.data(), outR.data()};
  for (float fs : {44100.0f, 48000.0f, 96000.0f}) {
    sHosted host(fs, kInit);
    const int32_t window = static_cast<int32_t>(fs / 20);
    for (int program = 0; program < kNumFactoryPresets; ++program) {
      host.SetProgram(program);
      const char* name = kFactoryPresets[program].name;
      std::mt19937 rng(15 + program);
      std::uniform_real_distribution<float> dist(-0.25f, 0.25f);
      // RMS of one window; 2 s of noise, then silence until 60 dB down.
      auto next = [&](bool noise) {
        for (int32_t k = 0; k < window; ++k) inL[k] = noise ? dist(rng) : 0, inR[k] = noise ? dist(rng) : 0;
        host.fx->ProcessReplacing(in, out, window);
        double e = 0;
        for (int32_t k = 0; k < window; ++k) {
          if (!std::isfinite(outL[k]) || !std::isfinite(outR[k])) return std::numeric_limits<double>::quiet_NaN();
          e += double(outL[k]) * outL[k] + double(outR[k]) * outR[k];
        }
        return std::sqrt(e / window);
      };
      double loud = 0;
      for (int w = 0; w < 40; ++w) {
        const double rms = next(true);
        ASSERT_TRUE(std::isfinite(rms)) << name << " at " << fs;
        loud = std::max(loud, rms);
      }
      EXPECT_GT(loud, 0.01) << name << " at " << fs;
      int w = 0;
      for (double quiet = loud; quiet >= 1e-3 * loud && w < 400; ++w) {
        quiet = next(false);
        ASSERT_TRUE(std::isfinite(quiet)) << name << " at " << fs;
      }
      EXPECT_LT(w, 400) << name << " at " << fs << " still sounds after 20 s";
    }
  }
}

TEST(Record, InsaneSampleRatesAndParameterExtremesStayFinite) {
  const float inf = std::numeric_limits<float>::infinity();
  for (float fs : {0.0f, -44100.0f, std::numeric_limits<float>::quiet_NaN(), inf, 1e12f})
    for (int program : {0, 11, 32, 36, 57}) {
      sHosted host(fs, program);
      const auto out = host.Run(4096, 0.5f, 16, 333);
      for (size_t k = 0; k < 4096; ++k)
        ASSERT_TRUE(std::isfinite(out.first[k]) && std::isfinite(out.second[k])) << fs << " " << program;
    }
  // Every parameter at either end of its range or just above the bottom (the
  // square curves then give values near the smallest floats), in random combinations.
  sHosted host(44100, kTemple);
  std::mt19937 rng(17);
  const float ends[3] = {0.0f, 1e-21f, 1.0f};
  for (int trial = 0; trial < 150; ++trial) {
    for (int p = 0; p < 16; ++p) host.fx->SetParameter(p, ends[rng() % 3]);
    host.fx->SetParameter(kParamHold, trial % 5 == 4 ? 1.0f : 0.0f);
    const auto out = host.Run(2048, 1.0f, 18 + trial, 256);
    for (size_t k = 0; k < 2048; ++k)
      ASSERT_TRUE(std::isfinite(out.first[k]) && std::isfinite(out.second[k])) << "trial " << trial;
  }
}

}  // namespace
