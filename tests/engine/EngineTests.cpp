// The engine from inside: coefficients, matrix, lengths, modulation and the
// guards against bad input, sample rates and program values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "EngineProbe.h"

namespace {

constexpr int kTemple = 0, kDrumRoomL = 36, kMajorGlitch = 32, kInit = 63;
constexpr float kMaxAllpass = 0.999755859375f;

sEngineRig RigWith(void (*edit)(sSoundValues&), int preset = kInit, float fs = 48000.0f) {
  sProgram p = MakeProgram(preset);
  edit(p.values);
  return sEngineRig(p, fs);
}

// ---- feedback matrix ------------------------------------------------------------

using Matrix = float[4][4];

void ExpectMatrix(int plane, float rot1, float rot2, const Matrix& expected) {
  sProgram p = MakeProgram(kInit);
  p.values.fbPlane = plane;
  p.values.fbRot1 = rot1;
  p.values.fbRot2 = rot2;
  sEngineRig rig(p);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      EXPECT_NEAR(rig.Probe().Matrix(i, j), expected[i][j], 1e-6f)
          << "plane " << plane << " at " << rot1 << "/" << rot2 << ", row " << i << " column " << j;
}

TEST(FeedbackMatrix, WorkedExamples) {
  ExpectMatrix(4, 90, 0, {{0, 1, 0, 0}, {-1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}});
  ExpectMatrix(4, 0, 90, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, -1}, {0, 0, 1, 0}});
  ExpectMatrix(5, 0, 90, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, 1}, {0, 0, -1, 0}});
  ExpectMatrix(0, 90, 0, {{.5, .5, -.5, .5}, {-.5, .5, .5, .5}, {.5, .5, .5, -.5}, {.5, -.5, .5, .5}});
  ExpectMatrix(1, 90, 0, {{.5, -.5, -.5, .5}, {.5, .5, -.5, -.5}, {.5, -.5, .5, -.5}, {.5, .5, .5, .5}});
  ExpectMatrix(2, 90, 90, {{0, 0, 0, -1}, {0, 0, 1, 0}, {0, -1, 0, 0}, {1, 0, 0, 0}});
  for (int plane = 0; plane < kNumPlanes; ++plane) {
    ExpectMatrix(plane, 0, 0, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}});
    ExpectMatrix(plane, 180, 180, {{-1, 0, 0, 0}, {0, -1, 0, 0}, {0, 0, -1, 0}, {0, 0, 0, -1}});
  }
}

double Determinant(double m[4][4]) {
  double det = 1;
  for (int c = 0; c < 4; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
    if (pivot != c) {
      std::swap(m[pivot], m[c]);
      det = -det;
    }
    det *= m[c][c];
    for (int r = c + 1; r < 4; ++r) {
      const double f = m[r][c] / m[c][c];
      for (int k = c; k < 4; ++k) m[r][k] -= f * m[c][k];
    }
  }
  return det;
}

TEST(FeedbackMatrix, IsARotationForEveryPlaneAndAngle) {
  sEngineRig rig(MakeProgram(kInit));
  for (int plane = 0; plane < kNumPlanes; ++plane)
    for (float rot1 = 0; rot1 <= 180; rot1 += 7.5f)
      for (float rot2 = 0; rot2 <= 180; rot2 += 7.5f) {
        rig.program.values.fbPlane = plane;
        rig.program.values.fbRot1 = rot1;
        rig.program.values.fbRot2 = rot2;
        rig.Update(false, false);
        double m[4][4];
        double worst = 0;
        for (int i = 0; i < 4; ++i)
          for (int j = 0; j < 4; ++j) {
            double dot = 0;
            for (int k = 0; k < 4; ++k) dot += double(rig.Probe().Matrix(i, k)) * rig.Probe().Matrix(j, k);
            worst = std::max(worst, std::fabs(dot - (i == j ? 1.0 : 0.0)));
            m[i][j] = rig.Probe().Matrix(i, j);
          }
        ASSERT_LT(worst, 1e-6) << "plane " << plane << " at " << rot1 << "/" << rot2;
        ASSERT_NEAR(Determinant(m), 1.0, 1e-6) << "plane " << plane << " at " << rot1 << "/" << rot2;
      }
}

// ---- delay lengths ---------------------------------------------------------------

TEST(DelayLengths, LongLinesStopAtTheBufferAndShortOnesFadeIn) {
  // "octaves" with 0.5 s at 48 kHz asks 192000 samples of line 3.
  sEngineRig octaves = RigWith([](sSoundValues& v) { v.geometry = 14, v.baseDelay = 0.5f; });
  EXPECT_EQ(octaves.Probe().DelaySamples(0), 24000u);
  EXPECT_EQ(octaves.Probe().DelayLength(3), 65535.0f);
  EXPECT_EQ(octaves.Probe().DelaySamples(3), 65535u);

  // 1 us at 44.1 kHz: 0.0441 samples, a one-sample line that barely sounds.
  sEngineRig tiny = RigWith([](sSoundValues& v) { v.baseDelay = 0.000001f; }, kInit, 44100.0f);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(tiny.Probe().DelayLength(i), 0.0441f, 1e-6f);
    EXPECT_EQ(tiny.Probe().DelaySamples(i), 1u);
    EXPECT_NEAR(tiny.Probe().Presence(i), std::sin(1.57079 * 0.0441), 1e-6);
    EXPECT_EQ(tiny.Probe().AllpassCoef(i), 1.0f);
  }

  // 100.25 samples: 100 in the buffer, a quarter in the all-pass, whose delay (1-c)/(1+c) gives it back.
  sEngineRig frac = RigWith([](sSoundValues& v) { v.baseDelay = 401.0f / 4096.0f; }, kInit, 1024.0f);
  EXPECT_EQ(frac.Probe().DelaySamples(0), 100u);
  const float c = frac.Probe().AllpassCoef(0);
  EXPECT_NEAR((1 - c) / (1 + c), 0.25f, 1e-6f);
  // Whole lengths keep the all-pass just short of a pole.
  sEngineRig whole = RigWith([](sSoundValues& v) { v.baseDelay = 100.0f / 1024.0f; }, kInit, 1024.0f);
  EXPECT_EQ(whole.Probe().AllpassCoef(0), kMaxAllpass);
}

// ---- coefficients ----------------------------------------------------------------

TEST(Coefficients, DecayDampingAndInverter) {
  sEngineRig rig = RigWith([](sSoundValues& v) { v.halflife = 1, v.damping = 0.5f, v.fbInv = 50, v.wetMix = 100; });
  auto probe = rig.Probe();
  EXPECT_FLOAT_EQ(probe.DecayGain(0), 0.5f);
  EXPECT_FLOAT_EQ(probe.DampRatio(0), 0.5f);
  const float c = probe.DampCoef(0);
  EXPECT_FLOAT_EQ(c / (2 - c), 0.5f);  // the low-pass's gain at Nyquist
  EXPECT_EQ(probe.InvertCoef(), 0.0f);
  EXPECT_TRUE(probe.ModeFlags() & kModeFeedback);

  rig.program.values.fbInv = 0;
  rig.Update();
  EXPECT_EQ(probe.InvertCoef(), kMaxAllpass);
  rig.program.values.fbInv = 100;
  rig.Update();
  EXPECT_EQ(probe.InvertCoef(), -kMaxAllpass);

  // The shortest half life: 2^-10 per pass, and the outputs make up for it.
  rig.program.values.halflife = 0.1f;
  rig.Update();
  EXPECT_FLOAT_EQ(probe.DecayGain(0), 1.0f / 1024);
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(probe.OutGain(0, i), 1024 * probe.HoldOutGain(0, i));

  // Damping 0 turns the feedback off; damping 1 leaves the low-pass transparent.
  rig.program.values.damping = 0;
  rig.Update();
  EXPECT_FALSE(probe.ModeFlags() & kModeFeedback);
  rig.program.values.damping = 1;
  rig.Update();
  EXPECT_EQ(probe.DampCoef(0), 1.0f);

  // The drive's make-up: about 5.53 at 30 (wet 100 % is a gain of 0.5, out dir 0 puts line 0 on the left).
  rig.program.values.ampDrive = 30;
  rig.Update();
  EXPECT_NEAR(probe.HoldOutGain(0, 0) / 0.5f, 5.53f, 0.01f);
  EXPECT_TRUE(probe.ModeFlags() & kModeSaturation);
}

TEST(Coefficients, ControlPeriodFollowsTheModulationPeriod) {
  auto period = [](float modPeriod, float fs) {
    sProgram p = MakeProgram(kInit);
    p.values.modDepth = 10;
    p.values.modPeriod = modPeriod;
    return sEngineRig(p, fs).Probe().ControlPeriod();
  };
  EXPECT_EQ(period(20, 44100), 1024u);
  EXPECT_EQ(period(0.001f, 44100), 1u);
  EXPECT_EQ(period(1, 48000), 751u);
}

// ---- modulation ------------------------------------------------------------------

TEST(Modulation, ReachesTheSineAtTheNextBoundaryInEqualSteps) {
  // 480-sample lines, a 49-sample control period, a cycle of 3072 samples, swinging 240 samples.
  sEngineRig rig = RigWith([](sSoundValues& v) {
    v.baseDelay = 0.01f, v.modPeriod = 0.064f, v.modDepth = 50, v.modSpread = 100, v.wetMix = 100;
  });
  auto probe = rig.Probe();
  ASSERT_EQ(probe.ControlPeriod(), 49u);
  const auto in = Noise(49, 0.5f, 1);
  std::vector<float> out(49);
  rig.engine.Process(in.data(), in.data(), out.data(), out.data(), 49, false);  // the first period starts at phase 0

  const double phase = 49 * 2 * 3.14159265358979 / 3072;
  const double offsets[4] = {0, 1.571, 3.142, 4.712};
  float start[4], previous[4], step[4];
  for (int i = 0; i < 4; ++i) start[i] = previous[i] = probe.CurrentDelay(i);
  for (int k = 0; k < 49; ++k) {
    float x = in[k], y;
    rig.engine.Process(&x, &x, &y, &y, 1, false);
    for (int i = 0; i < 4; ++i) {
      const float s = previous[i] - probe.CurrentDelay(i);
      if (k == 0) step[i] = s;
      EXPECT_NEAR(s, step[i], 2e-4f) << "line " << i << " at frame " << k;
      previous[i] = probe.CurrentDelay(i);
    }
  }
  for (int i = 0; i < 4; ++i) {
    const double target = (std::sin(offsets[i] + phase) * 0.5 + 1) * 480 - (1 - kMaxAllpass) / (1 + kMaxAllpass);
    EXPECT_NEAR(probe.CurrentDelay(i), target, 2e-3) << "line " << i;
    EXPECT_NEAR(step[i], (start[i] - target) / 49, 1e-4) << "line " << i;
    EXPECT_GT(std::fabs(step[i]), 0.01f) << "line " << i;
  }

  // Depth 0 stops the oscillator and snaps the reads to the integer delays.
  rig.program.values.modDepth = 0;
  rig.Update(false, true);
  EXPECT_EQ(probe.LfoPhase(), 0.0f);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(probe.CurrentDelay(i), 480.0f);
    EXPECT_EQ(probe.ReadFrac(i), 0.0f);
  }
}

TEST(Modulation, ShortTargetsReadOneSampleWithLessPresence) {
  // 0.48 samples swinging by half a sample: every target is below one sample.
  sEngineRig rig = RigWith([](sSoundValues& v) { v.baseDelay = 0.00001f, v.modDepth = 100, v.modPeriod = 0.064f; });
  std::vector<float> in(200, 0.1f), out(200);
  rig.engine.Process(in.data(), in.data(), out.data(), out.data(), 200, false);
  auto probe = rig.Probe();
  const double target = (std::sin(4 * 49 * 2 * 3.14159265358979 / 3072) + 1) * 0.48;
  EXPECT_NEAR(probe.Presence(0), std::sin(1.57079 * target), 1e-4);
  EXPECT_LT(probe.Presence(0), 1.0f);
  EXPECT_NEAR(probe.CurrentDelay(0), 1.0f, 2e-3f);  // arrived at one sample, 4 periods in
}

TEST(Modulation, ControlPointsDoNotDependOnTheHostsBlocks) {
  // An oscillator step of exactly 2^-10 rad keeps the phase free of rounding, so
  // only the dither, which restarts with every call, may differ.
  sProgram p = MakeProgram(kTemple);
  p.values.modPeriod = 6.2831855f / 32;
  sEngineRig whole(p, 32768), single(p, 32768), ragged(p, 32768);
  const auto inL = Noise(65536, 0.5f, 9), inR = Noise(65536, 0.5f, 10);
  std::vector<float> refL, refR, oneL, oneR, raggedL(inL.size()), raggedR(inL.size());
  whole.Run(inL, inR, refL, refR, 5000);
  single.Run(inL, inR, oneL, oneR, 1);
  std::mt19937 rng(11);
  for (size_t pos = 0; pos < inL.size();) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(rng() % 700 + 1, inL.size() - pos));
    ragged.engine.Process(&inL[pos], &inR[pos], &raggedL[pos], &raggedR[pos], n, false);
    pos += static_cast<size_t>(n);
  }
  double worst = 0, energy = 0;
  for (size_t k = 0; k < inL.size(); ++k) {
    worst = std::max({worst, std::fabs(double(oneL[k]) - refL[k]), std::fabs(double(raggedR[k]) - refR[k])});
    energy += double(refL[k]) * refL[k];
  }
  EXPECT_GT(energy, 1.0);
  EXPECT_LT(worst, 1e-8);
  EXPECT_EQ(single.Probe().ControlCountdown(), ragged.Probe().ControlCountdown());
  EXPECT_EQ(single.Probe().LfoPhase(), whole.Probe().LfoPhase());
}

TEST(Network, ShortLinesGiveTheSameResultInAnyBlocks) {
  // Frames overlap inside a block only where the lines are long enough; blocks
  // of one frame never overlap. Lines of 1 to 27 samples, with and without
  // modulation, must not tell the two apart.
  for (int n = 1; n <= 9; ++n)
    for (float depth : {0.0f, 20.0f}) {
      sProgram p = MakeProgram(kDrumRoomL);
      p.values.geometry = 15;  // 1, 1.5, 2 and 3 base delays
      p.values.baseDelay = static_cast<float>(n) / 32768;
      p.values.modDepth = depth;
      p.values.modPeriod = 6.2831855f / 32;  // an exact oscillator step, as above
      sEngineRig single(p, 32768), whole(p, 32768);
      const auto in = Noise(8192, 0.5f, 20);
      std::vector<float> oneL, oneR, refL, refR;
      single.Run(in, in, oneL, oneR, 1);
      whole.Run(in, in, refL, refR, 1024);
      double worst = 0;
      for (size_t k = 0; k < in.size(); ++k) worst = std::max(worst, std::fabs(double(oneL[k]) - refL[k]));
      EXPECT_LT(worst, 1e-6) << n << "-sample lines, depth " << depth;
    }
}

// ---- echoes ----------------------------------------------------------------------

TEST(Network, DampingZeroGivesFourEchoesOfTheRotatedInput) {
  // "fifths": 480, 720, 960, 1440 samples; the inverter at 50 % adds one sample.
  sEngineRig rig = RigWith([](sSoundValues& v) {
    v.geometry = 15, v.baseDelay = 0.01f, v.halflife = 10, v.damping = 0, v.fbInv = 50;
    v.inDir = 30, v.outDir = 60, v.wetMix = 100, v.dryMix = 0;
  });
  std::vector<float> inL(3000, 0.0f), inR(3000, 0.0f), outL, outR;
  inL[0] = 1;
  rig.Run(inL, inR, outL, outR);
  const int at[4] = {481, 721, 961, 1441};
  const double a = 30 * 3.14159265358979 / 180, b = 60 * 3.14159265358979 / 180;
  const double inGain[4] = {std::cos(a), -std::sin(a), -std::cos(a), std::sin(a)};  // left input per line
  const double outGain[2][4] = {{std::cos(b), -std::sin(b), -std::cos(b), std::sin(b)},
                                {std::sin(b), std::cos(b), -std::sin(b), -std::cos(b)}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(outL[at[i]], inGain[i] * outGain[0][i] * 0.5, 1e-3) << "line " << i;
    EXPECT_NEAR(outR[at[i]], inGain[i] * outGain[1][i] * 0.5, 1e-3) << "line " << i;
  }
  for (int k = 0; k < 3000; ++k) {
    if (k == at[0] || k == at[1] || k == at[2] || k == at[3]) continue;
    ASSERT_LT(std::fabs(outL[k]) + std::fabs(outR[k]), 1e-3) << "frame " << k;
  }
}

// ---- mended faults ---------------------------------------------------------------

TEST(Robustness, ShorteningALineBelowOneSampleLeavesNoTone) {
  // An all-pass coefficient of 1 has its pole at Nyquist: a state left over
  // from the longer line would alternate there for ever.
  sEngineRig rig = RigWith([](sSoundValues& v) { v.baseDelay = 0.0101f, v.fbInv = 50, v.wetMix = 100, v.dryMix = 0; });
  std::vector<float> outL, outR;
  const auto noise = Noise(4800, 0.5f, 19);
  rig.Run(noise, noise, outL, outR);
  rig.program.values.baseDelay = 0.000001f;
  rig.Update(true, true);
  const std::vector<float> silence(4800, 0.0f);
  rig.Run(silence, silence, outL, outR);
  for (size_t k = 2; k < outL.size(); ++k) ASSERT_LT(std::fabs(outL[k]), 1e-9f) << k;
}

TEST(Robustness, NonFiniteInputIsSilenceForTheWetPathOnly) {
  sEngineRig clean(MakeProgram(kDrumRoomL)), dirty(MakeProgram(kDrumRoomL));
  auto inL = Noise(20000, 0.5f, 2), inR = Noise(20000, 0.5f, 3);
  auto badL = inL, badR = inR;
  inL[100] = inR[200] = inR[300] = 0;
  badL[100] = std::numeric_limits<float>::quiet_NaN();
  badR[200] = std::numeric_limits<float>::infinity();
  badR[300] = -std::numeric_limits<float>::infinity();
  std::vector<float> cleanL, cleanR, dirtyL, dirtyR;
  clean.Run(inL, inR, cleanL, cleanR);
  dirty.Run(badL, badR, dirtyL, dirtyR);
  EXPECT_TRUE(std::isnan(dirtyL[100]));  // the dry path passes what came
  EXPECT_FALSE(std::isfinite(dirtyR[200]));
  dirtyL[100] = cleanL[100];
  dirtyR[200] = cleanR[200];
  dirtyR[300] = cleanR[300];
  EXPECT_EQ(dirtyL, cleanL);
  EXPECT_EQ(dirtyR, cleanR);
  EXPECT_TRUE(dirty.Probe().StateIsSane());
}

TEST(Robustness, HugeInputCannotOverflowTheNetwork) {
  for (float huge : {1e30f, -3e38f, std::numeric_limits<float>::max()}) {
    sProgram p = MakeProgram(kDrumRoomL);
    p.values.dryMix = 0;
    sEngineRig rig(p);
    std::vector<float> in(5000, huge), outL, outR;
    rig.Run(in, in, outL, outR, 256);
    EXPECT_TRUE(rig.Probe().StateIsSane()) << huge;
    const auto noise = Noise(48000, 0.5f, 4);
    rig.Run(noise, noise, outL, outR);
    float peak = 0;
    for (float x : outL) {
      ASSERT_TRUE(std::isfinite(x)) << huge;
      peak = std::max(peak, std::fabs(x));
    }
    EXPECT_GT(peak, 1e-3f) << "the reverb goes on after " << huge;
  }
}

TEST(Robustness, AnySampleRateGivesFiniteOutput) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const auto noise = Noise(8192, 0.5f, 5);
  for (float fs : {0.0f, -48000.0f, nan, inf, -inf, 1e30f, 1e-30f, 0.5f, 3e9f})
    for (int preset : {kTemple, kDrumRoomL, kMajorGlitch, kInit}) {
      sEngineRig rig(MakeProgram(preset), fs);
      std::vector<float> outL, outR;
      rig.Run(noise, noise, outL, outR, 300);
      for (size_t k = 0; k < outL.size(); ++k)
        ASSERT_TRUE(std::isfinite(outL[k]) && std::isfinite(outR[k])) << "fs " << fs << " preset " << preset;
      ASSERT_TRUE(rig.Probe().StateIsSane()) << "fs " << fs << " preset " << preset;
    }
}

TEST(Robustness, AbsurdProgramValuesGiveFiniteOutput) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  float sSoundValues::* const fields[] = {
      &sSoundValues::fbRot1,    &sSoundValues::fbRot2,   &sSoundValues::fbInv,    &sSoundValues::baseDelay,
      &sSoundValues::halflife,  &sSoundValues::damping,  &sSoundValues::inDir,    &sSoundValues::outDir,
      &sSoundValues::modPeriod, &sSoundValues::modDepth, &sSoundValues::modSpread, &sSoundValues::dryMix,
      &sSoundValues::wetMix,    &sSoundValues::ampDrive};
  const auto noise = Noise(3000, 0.5f, 6);
  auto check = [&](sProgram p, const char* what, float value) {
    sEngineRig rig(p);
    for (int i = 0; i < 4; ++i) {  // whatever the record holds, derived fields included
      if (std::isnan(value)) rig.program.lineRatio[i] = rig.program.inPair[i][1] = value;
    }
    rig.engine.UpdateCoefficients(rig.program, rig.fs, true, true);
    std::vector<float> outL, outR;
    rig.Run(noise, noise, outL, outR, 1000);
    for (size_t k = 0; k < outL.size(); ++k)
      ASSERT_TRUE(std::isfinite(outL[k]) && std::isfinite(outR[k])) << what << " = " << value;
    ASSERT_TRUE(rig.Probe().StateIsSane()) << what << " = " << value;
  };
  int index = 0;
  for (auto field : fields) {
    for (float value : {nan, inf, -inf, 1e30f, -1e30f, 1e-30f, 1e-40f, -1.0f}) {
      sProgram p = MakeProgram(kDrumRoomL);
      p.values.*field = value;
      check(p, ("field " + std::to_string(index)).c_str(), value);
    }
    ++index;
  }
  for (int32_t value : {-7, 99, INT32_MIN, INT32_MAX}) {
    sProgram p = MakeProgram(kDrumRoomL);
    p.values.fbPlane = p.values.geometry = value;
    check(p, "plane and geometry", static_cast<float>(value));
  }
}

}  // namespace
