// The reverb as a host hears it: the built plugin, loaded and driven through
// its record only.
#include <gtest/gtest.h>

#include <cmath>
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

using Stereo = std::pair<std::vector<float>, std::vector<float>>;

struct sHosted {
  std::unique_ptr<nimbohost::cHostedEffect> fx;

  explicit sHosted(float fs, int program = kTemple) {
    static const nimbohost::cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
    std::string error;
    fx = nimbohost::cHostedEffect::Create(library.Entry(), {}, &error);
    if (!fx) throw std::runtime_error(library.Error() + error);
    fx->Start(fs, 512);
    fx->Dispatch(effSetProgram, 0, program);
  }
  // Renders in blocks of the given size, out of place.
  Stereo Run(std::vector<float> inL, std::vector<float> inR, int block = 512) {
    Stereo out{std::vector<float>(inL.size()), std::vector<float>(inL.size())};
    for (size_t pos = 0; pos < inL.size(); pos += static_cast<size_t>(block)) {
      float* in[2] = {&inL[pos], &inR[pos]};
      float* outs[2] = {&out.first[pos], &out.second[pos]};
      fx->ProcessReplacing(in, outs, static_cast<int32_t>(std::min<size_t>(block, inL.size() - pos)));
    }
    return out;
  }
  Stereo Noisy(size_t frames, unsigned seed, float level = 0.5f) {
    return Run(Noise(frames, level, seed), Noise(frames, level, seed + 1));
  }
  Stereo Silent(size_t frames) { return Run(std::vector<float>(frames), std::vector<float>(frames)); }
};

double Rms(const Stereo& x, size_t from, size_t to) {
  double sum = 0;
  for (size_t k = from; k < to; ++k) sum += double(x.first[k]) * x.first[k] + double(x.second[k]) * x.second[k];
  return std::sqrt(sum / double(to - from));
}

bool Finite(const Stereo& x) {
  for (size_t k = 0; k < x.first.size(); ++k)
    if (!std::isfinite(x.first[k]) || !std::isfinite(x.second[k])) return false;
  return true;
}

TEST(Record, InitPassesTheDitheredInputAtUnityInPlace) {
  sHosted host(44100, kInit);
  const auto L = Noise(1000, 1.0f, 7), R = Noise(1000, 1.0f, 8);
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
  for (sHosted* h : {&a, &b}) {
    h->Noisy(24000, 12);
    h->fx->SetParameter(kParamHold, 1.0f);
    h->fx->SetParameter(kParamDryMix, 1.0f);  // 200 %
  }
  const Stereo held = a.Noisy(3 * 48000, 13);  // loud input...
  EXPECT_EQ(held, b.Silent(3 * 48000));        // ...that nobody hears
  const double start = Rms(held, 0, 12000);
  ASSERT_GT(start, 1e-3);
  for (size_t w = 1; w < 12; ++w) EXPECT_NEAR(Rms(held, w * 12000, (w + 1) * 12000) / start, 1.0, 0.15) << w;
  // Released, the same tail dies away.
  a.fx->SetParameter(kParamHold, 0.0f);
  EXPECT_LT(Rms(a.Silent(48000), 36000, 48000), 1e-3 * start);
}

TEST(Record, ProgramSwitchClearsTheNetworkUnlessDrWhoKeepsIt) {
  for (bool keep : {false, true}) {
    sHosted host(48000, kTemple);
    host.fx->SetParameter(kParamKeepTail, keep ? 1.0f : 0.0f);
    host.Noisy(96000, 14);  // longer than the lines' memory, so all of it holds the old tail
    host.fx->Dispatch(effSetProgram, 0, kDrumRoomS);
    const double rms = Rms(host.Silent(4800), 0, 4800);
    if (keep)
      EXPECT_GT(rms, 1e-3);
    else
      EXPECT_LT(rms, 1e-9);
  }
}

TEST(Record, EveryFactoryProgramSoundsAndDecays) {
  for (float fs : {44100.0f, 48000.0f, 96000.0f}) {
    sHosted host(fs, kInit);
    const size_t window = static_cast<size_t>(fs / 20);
    for (int program = 0; program < kNumFactoryPresets; ++program) {
      host.fx->Dispatch(effSetProgram, 0, program);
      const std::string name = std::string(kFactoryPresets[program].name) + " at " + std::to_string(fs);
      // 2 s of noise, then silence until 60 dB down, a window at a time.
      double loud = 0, quiet = 1;
      for (int w = 0; w < 40; ++w) {
        const Stereo out = host.Noisy(window, 15 + w, 0.25f);
        ASSERT_TRUE(Finite(out)) << name;
        loud = std::max(loud, Rms(out, 0, window));
      }
      EXPECT_GT(loud, 0.01) << name;
      int w = 0;
      for (; w < 400 && quiet >= 1e-3 * loud; ++w) {
        const Stereo out = host.Silent(window);
        ASSERT_TRUE(Finite(out)) << name;
        quiet = Rms(out, 0, window);
      }
      EXPECT_LT(w, 400) << name << " still sounds after 20 s";
    }
  }
}

TEST(Record, ParameterExtremesAndSampleRatesStayFinite) {
  // Every parameter at either end of its range or just above the bottom (the
  // square curves then give values near the smallest floats), in random combinations.
  sHosted host(44100, kTemple);
  std::mt19937 rng(17);
  const float ends[3] = {0.0f, 1e-21f, 1.0f};
  for (int trial = 0; trial < 150; ++trial) {
    for (int p = 0; p < 16; ++p) host.fx->SetParameter(p, ends[rng() % 3]);
    host.fx->SetParameter(kParamHold, trial % 5 == 4 ? 1.0f : 0.0f);
    ASSERT_TRUE(Finite(host.Noisy(2048, 18 + trial, 1.0f))) << "trial " << trial;
  }
  for (float fs : {0.0f, -44100.0f, std::nanf(""), INFINITY, 1e12f}) {
    sHosted scanning(fs, 36);
    EXPECT_TRUE(Finite(scanning.Noisy(4096, 16))) << fs;
  }
}

}  // namespace
