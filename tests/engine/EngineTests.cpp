// The engine from inside: coefficients, matrix, lengths, modulation and the
// guards against bad input, sample rates and program values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "EngineMath.h"
#include "EngineProbe.h"
#include "cReverbCore.h"

namespace {

constexpr int kTemple = 0, kDrumRoomL = 36, kMajorGlitch = 32, kInit = 63;
constexpr float kMaxAllpass = 0.999755859375f;
constexpr double kPi = 3.14159265358979;
constexpr float kExactCycle = 6.2831855f / 32;  // at 32768 Hz an oscillator step of 2^-10, free of rounding
const float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();

sEngineRig RigWith(void (*edit)(sPlainValues&), int preset = kInit, float fs = 48000.0f) {
  sProgram p = MakeProgram(preset);
  edit(p.values);
  return sEngineRig(p, fs);
}

// ---- feedback matrix ------------------------------------------------------------

void ExpectMatrix(int plane, float rot1, float rot2, const float (&expected)[4][4]) {
  sEngineRig rig = RigWith([](sPlainValues&) {});
  rig.program.values[kParamFbPlane] = plane, rig.program.values[kParamFbRot1] = rot1, rig.program.values[kParamFbRot2] = rot2;
  rig.Update();
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      EXPECT_NEAR(rig.Probe().Matrix(i, j), expected[i][j], 1e-6f) << plane << " " << rot1 << "/" << rot2;
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

TEST(FeedbackMatrix, IsARotationForEveryPlaneAndAngle) {
  sEngineRig rig(MakeProgram(kInit));
  for (int plane = 0; plane < kNumPlanes; ++plane)
    for (float rot1 = 0; rot1 <= 180; rot1 += 7.5f)
      for (float rot2 = 0; rot2 <= 180; rot2 += 7.5f) {
        rig.program.values[kParamFbPlane] = plane, rig.program.values[kParamFbRot1] = rot1, rig.program.values[kParamFbRot2] = rot2;
        rig.Update(false, false);
        auto m = [&](int i, int j) { return double(rig.Probe().Matrix(i, j)); };
        double worst = 0;
        for (int i = 0; i < 4; ++i)
          for (int j = 0; j < 4; ++j)
            worst = std::max(worst, std::fabs(m(i, 0) * m(j, 0) + m(i, 1) * m(j, 1) + m(i, 2) * m(j, 2) +
                                              m(i, 3) * m(j, 3) - (i == j ? 1 : 0)));
        // Determinant from the 2x2 minors of rows 0-1 and their complements in rows 2-3.
        auto minor = [&](int r, int a, int b) { return m(r, a) * m(r + 1, b) - m(r, b) * m(r + 1, a); };
        const double det = minor(0, 0, 1) * minor(2, 2, 3) - minor(0, 0, 2) * minor(2, 1, 3) +
                           minor(0, 0, 3) * minor(2, 1, 2) + minor(0, 1, 2) * minor(2, 0, 3) -
                           minor(0, 1, 3) * minor(2, 0, 2) + minor(0, 2, 3) * minor(2, 0, 1);
        ASSERT_LT(worst, 1e-6) << plane << " " << rot1 << "/" << rot2;
        ASSERT_NEAR(det, 1.0, 1e-6) << plane << " " << rot1 << "/" << rot2;
      }
}

// ---- delay lengths and coefficients ---------------------------------------------

TEST(DelayLengths, LongLinesStopAtTheBufferAndShortOnesFadeIn) {
  // "octaves" with 0.5 s at 48 kHz asks 192000 samples of line 3.
  sEngineRig octaves = RigWith([](sPlainValues& v) { v[kParamGeometry] = 14, v[kParamBaseDelay] = 0.5f; });
  EXPECT_EQ(octaves.Probe().DelaySamples(0), 24000u);
  EXPECT_EQ(octaves.Probe().DelayLength(3), 65535.0f);
  EXPECT_EQ(octaves.Probe().DelaySamples(3), 65535u);

  // 1 us at 44.1 kHz: 0.0441 samples, a one-sample line that barely sounds.
  sEngineRig tiny = RigWith([](sPlainValues& v) { v[kParamBaseDelay] = 0.000001f; }, kInit, 44100.0f);
  EXPECT_NEAR(tiny.Probe().DelayLength(0), 0.0441f, 1e-6f);
  EXPECT_EQ(tiny.Probe().DelaySamples(0), 1u);
  EXPECT_NEAR(tiny.Probe().Presence(0), std::sin(1.57079 * 0.0441), 1e-6);
  EXPECT_EQ(tiny.Probe().AllpassCoef(0), 1.0f);

  // 100.25 samples: 100 in the buffer, the quarter from the all-pass's delay (1-c)/(1+c).
  sEngineRig frac = RigWith([](sPlainValues& v) { v[kParamBaseDelay] = 401.0f / 4096.0f; }, kInit, 1024.0f);
  EXPECT_EQ(frac.Probe().DelaySamples(0), 100u);
  const float c = frac.Probe().AllpassCoef(0);
  EXPECT_NEAR((1 - c) / (1 + c), 0.25f, 1e-6f);
  sEngineRig whole = RigWith([](sPlainValues& v) { v[kParamBaseDelay] = 100.0f / 1024.0f; }, kInit, 1024.0f);
  EXPECT_EQ(whole.Probe().AllpassCoef(0), kMaxAllpass);  // just short of a pole
}

TEST(Coefficients, DecayDampingInverterAndDrive) {
  sEngineRig rig = RigWith([](sPlainValues& v) { v[kParamHalflife] = 1, v[kParamDamping] = 0.5f, v[kParamFbInv] = 50, v[kParamWetMix] = 100; });
  auto probe = rig.Probe();
  auto set = [&](int32_t field, float value) {
    rig.program.values[field] = value;
    rig.Update();
  };
  EXPECT_FLOAT_EQ(probe.DecayGain(0), 0.5f);
  EXPECT_FLOAT_EQ(probe.DampRatio(0), 0.5f);
  const float c = probe.DampCoef(0);
  EXPECT_FLOAT_EQ(c / (2 - c), 0.5f);  // the low-pass's gain at Nyquist
  EXPECT_EQ(probe.InvertCoef(), 0.0f);
  EXPECT_TRUE(probe.ModeFlags() & kModeFeedback);
  set(kParamFbInv, 0);
  EXPECT_EQ(probe.InvertCoef(), kMaxAllpass);
  set(kParamFbInv, 100);
  EXPECT_EQ(probe.InvertCoef(), -kMaxAllpass);

  // The shortest half life: 2^-10 per pass, and the outputs make up for it.
  set(kParamHalflife, 0.1f);
  EXPECT_FLOAT_EQ(probe.DecayGain(0), 1.0f / 1024);
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(probe.OutGain(0, i), 1024 * probe.HoldOutGain(0, i));
  // Damping 0 turns the feedback off; damping 1 leaves the low-pass transparent.
  set(kParamDamping, 0);
  EXPECT_FALSE(probe.ModeFlags() & kModeFeedback);
  set(kParamDamping, 1);
  EXPECT_EQ(probe.DampCoef(0), 1.0f);
  // The drive's make-up, about 5.53 at 30 (wet 100 % is 0.5; out dir 0 puts line 0 on the left).
  set(kParamAmpDrive, 30);
  EXPECT_NEAR(probe.HoldOutGain(0, 0) / 0.5f, 5.53f, 0.01f);
  EXPECT_TRUE(probe.ModeFlags() & kModeSaturation);
}

// The decay's powers of two come out as the library's exp2 rounded to float,
// over the whole float range (every 251st bit pattern, and the edges).
TEST(Coefficients, Exp2PairsGiveTheLibrarysFloats) {
  std::vector<float> x = {0.0f, -0.0f, kInf, -kInf, 127.99999f, 128.0f, -126.0f, -149.0f, -149.5f, -150.0f, -151.0f,
                          1e-30f, -1e-30f, 0.5f, -0.5f, 1000.5f, -1000.5f, 3e38f, -3e38f};
  for (uint64_t bits = 0; bits < (uint64_t{1} << 32); bits += 251) {
    float v;
    const auto u = static_cast<uint32_t>(bits);
    std::memcpy(&v, &u, sizeof v);
    if (v == v) x.push_back(v);
  }
  if (x.size() % 2) x.push_back(1.0f);
  std::vector<float> y(x.size());
  Exp2FPairs(x.data(), y.data(), static_cast<int>(x.size()));
  size_t wrong = 0;
  for (size_t k = 0; k < x.size(); ++k) {
    const float want = Exp2F(x[k]);
    if (std::memcmp(&want, &y[k], sizeof want) != 0 && ++wrong <= 5)
      ADD_FAILURE() << std::hexfloat << "2^" << x[k] << ": " << y[k] << ", library " << want;
  }
  EXPECT_EQ(wrong, 0u);
}

// A value for parameter id as hosts may set it, "off" included, written into the record with its derived fields.
void SetRandomValue(sProgram& p, int32_t id, std::mt19937& rng) {
  auto uniform = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
  auto orOff = [&](float lo, float hi) { return rng() % 5 == 0 ? 0.0f : uniform(lo, hi); };
  sPlainValues& v = p.values;
  switch (id) {
    case kParamGeometry: v[kParamGeometry] = static_cast<float>(rng() % kNumGeometries); break;
    case kParamBaseDelay: v[kParamBaseDelay] = std::exp(uniform(std::log(2e-5f), std::log(0.5f))); break;
    case kParamHalflife: v[kParamHalflife] = orOff(0.1f, 100); break;
    case kParamDamping: v[kParamDamping] = orOff(0.05f, 5); break;
    case kParamFbPlane: v[kParamFbPlane] = static_cast<float>(rng() % kNumPlanes); break;
    case kParamFbRot1: v[kParamFbRot1] = uniform(0, 180); break;
    case kParamFbRot2: v[kParamFbRot2] = uniform(0, 180); break;
    case kParamFbInv: v[kParamFbInv] = uniform(0, 100); break;
    case kParamModDepth: v[kParamModDepth] = orOff(0.01f, 5); break;
    case kParamModPeriod: v[kParamModPeriod] = uniform(0.05f, 10); break;
    case kParamModSpread: v[kParamModSpread] = uniform(0, 100); break;
    case kParamAmpDrive: v[kParamAmpDrive] = orOff(0.1f, 30); break;
    case kParamInDir: v[kParamInDir] = uniform(0, 360); break;
    case kParamOutDir: v[kParamOutDir] = uniform(0, 360); break;
    case kParamDryMix: v[kParamDryMix] = uniform(0, 100); break;
    case kParamWetMix: v[kParamWetMix] = uniform(0, 100); break;
    default: break;  // the switches live outside the record
  }
  DeriveGeometry(p);
  DeriveInputPairs(p);
  DeriveOutputPairs(p);
}

// Recomputing only what a change leaves stale, from a copy holding only what
// that reads, gives the same coefficients and the same sound, bit for bit, as
// recomputing everything from the whole record.
TEST(Coefficients, PartialUpdatesMatchTheFullUpdateBitForBit) {
  std::mt19937 rng(18);
  for (int run = 0; run < 24; ++run) {
    const float fs = run % 3 == 0 ? 44100.0f : run % 3 == 1 ? 48000.0f : 96000.0f;
    sEngineRig full(MakeProgram(static_cast<int>(rng() % kNumPrograms)), fs);
    sEngineRig partial(full.program, fs);
    const std::vector<float> noise = Noise(4096, 0.5f, static_cast<unsigned>(run));
    std::vector<float> outFull(64), outPartial(64), right(64);
    bool hold = false;
    for (int step = 0; step < 300; ++step) {
      uint32_t stale = 0;
      for (uint32_t changes = 1 + rng() % 3; changes > 0; --changes) {
        const auto id = static_cast<int32_t>(rng() % kNumParameters);
        if (id == kParamHold) hold = !hold;
        SetRandomValue(full.program, id, rng);
        stale |= cReverbCore::StaleParts(id);
      }
      full.engine.UpdateCoefficients(full.program, fs, (stale & kStaleLengths) != 0, (stale & kStaleModulation) != 0);
      sProgram seen;
      std::fill_n(reinterpret_cast<float*>(&seen), sizeof(seen) / sizeof(float), kNaN);
      cFDNengine::CopyStaleFields(seen, full.program, stale);
      partial.engine.UpdateCoefficients(seen, fs, stale);

      const auto n = static_cast<int32_t>(1 + rng() % 64);
      const float* in = &noise[static_cast<size_t>(step * 13) % (noise.size() - 64)];
      full.engine.Process(in, in, outFull.data(), right.data(), n, hold);
      partial.engine.Process(in, in, outPartial.data(), right.data(), n, hold);
      ASSERT_EQ(0, std::memcmp(outFull.data(), outPartial.data(), sizeof(float) * static_cast<size_t>(n)))
          << "run " << run << " step " << step << " stale " << stale;
    }
    const cEngineProbe a = full.Probe(), b = partial.Probe();
    for (int i = 0; i < kNumLines; ++i) {
      for (int j = 0; j < kNumLines; ++j) EXPECT_EQ(a.Matrix(i, j), b.Matrix(i, j));
      EXPECT_EQ(a.DecayGain(i), b.DecayGain(i));
      EXPECT_EQ(a.DampCoef(i), b.DampCoef(i));
      EXPECT_EQ(a.OutGain(1, i), b.OutGain(1, i));
      EXPECT_EQ(a.CurrentDelay(i), b.CurrentDelay(i));
    }
    EXPECT_EQ(a.ModeFlags(), b.ModeFlags());
  }
}

TEST(Coefficients, ControlPeriodFollowsTheModulationPeriod) {
  auto period = [](float modPeriod, float fs) {
    sProgram p = MakeProgram(kInit);
    p.values[kParamModDepth] = 10, p.values[kParamModPeriod] = modPeriod;
    return sEngineRig(p, fs).Probe().ControlPeriod();
  };
  EXPECT_EQ(period(20, 44100), 1024u);
  EXPECT_EQ(period(0.001f, 44100), 1u);
  EXPECT_EQ(period(1, 48000), 751u);
}

// ---- modulation and blocks ------------------------------------------------------

TEST(Modulation, ReachesTheSineAtTheNextBoundaryInEqualSteps) {
  // 480-sample lines, a 49-sample control period, a cycle of 3072 samples, swinging 240 samples.
  sEngineRig rig = RigWith([](sPlainValues& v) {
    v[kParamBaseDelay] = 0.01f, v[kParamModPeriod] = 0.064f, v[kParamModDepth] = 50, v[kParamModSpread] = 100, v[kParamWetMix] = 100;
  });
  auto probe = rig.Probe();
  ASSERT_EQ(probe.ControlPeriod(), 49u);
  const auto in = Noise(49, 0.5f, 1);
  std::vector<float> out(49);
  rig.engine.Process(in.data(), in.data(), out.data(), out.data(), 49, false);  // the first period, from phase 0

  float start[4], previous[4], step[4];
  for (int i = 0; i < 4; ++i) start[i] = previous[i] = probe.CurrentDelay(i);
  for (int k = 0; k < 49; ++k) {
    float x = in[k], y;
    rig.engine.Process(&x, &x, &y, &y, 1, false);
    for (int i = 0; i < 4; ++i) {
      if (k == 0) step[i] = previous[i] - probe.CurrentDelay(i);
      EXPECT_NEAR(previous[i] - probe.CurrentDelay(i), step[i], 2e-4f) << "line " << i << " at " << k;
      previous[i] = probe.CurrentDelay(i);
    }
  }
  const double offsets[4] = {0, 1.571, 3.142, 4.712};
  for (int i = 0; i < 4; ++i) {
    const double sine = std::sin(offsets[i] + 49 * 2 * kPi / 3072);
    const double target = (sine * 0.5 + 1) * 480 - (1 - kMaxAllpass) / (1 + kMaxAllpass);
    EXPECT_NEAR(probe.CurrentDelay(i), target, 2e-3) << "line " << i;
    EXPECT_NEAR(step[i], (start[i] - target) / 49, 1e-4) << "line " << i;
    EXPECT_GT(std::fabs(step[i]), 0.01f) << "line " << i;
  }

  // Depth 0 stops the oscillator and snaps the reads to the integer delays.
  rig.program.values[kParamModDepth] = 0;
  rig.Update(false, true);
  EXPECT_EQ(probe.LfoPhase(), 0.0f);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(probe.CurrentDelay(i), 480.0f);
}

TEST(Blocks, OnlyTheDitherDependsOnTheHostsBlocks) {
  // Blocks of one frame against long and ragged blocks: control points must
  // fall at the same stream positions, and frames overlap in a long block only
  // where the lines allow it (1 to 27 samples here, with and without
  // modulation and feedback, and held). The dither restarts with every call,
  // so a few 1e-12 differ.
  std::vector<sProgram> programs = {MakeProgram(kTemple)};
  for (int n = 1; n <= 9; ++n)
    for (float depth : {0.0f, 20.0f})
      for (float damping : {0.0f, 0.75f}) {
        sProgram p = MakeProgram(kDrumRoomL);
        p.values[kParamGeometry] = 15;  // 1, 1.5, 2 and 3 base delays
        p.values[kParamBaseDelay] = static_cast<float>(n) / 32768, p.values[kParamModDepth] = depth, p.values[kParamDamping] = damping;
        programs.push_back(p);
      }
  const auto inL = Noise(16384, 0.5f, 9), inR = Noise(16384, 0.5f, 10);
  // Frames [0, 12288) as they are, the rest held; blocks of the given size, or ragged for 0.
  auto render = [&](sEngineRig& rig, int32_t block, std::vector<float>& outL, std::vector<float>& outR) {
    outL.assign(inL.size(), 0.0f), outR.assign(inL.size(), 0.0f);
    std::mt19937 rng(11);
    for (size_t pos = 0; pos < inL.size();) {
      const size_t part = pos < 12288 ? 12288 : inL.size();
      const size_t n = std::min<size_t>(block > 0 ? size_t(block) : rng() % 700 + 1, part - pos);
      rig.engine.Process(&inL[pos], &inR[pos], &outL[pos], &outR[pos], int32_t(n), pos >= 12288);
      pos += n;
    }
  };
  for (sProgram& p : programs) {
    p.values[kParamModPeriod] = kExactCycle;
    sEngineRig single(p, 32768), whole(p, 32768), ragged(p, 32768);
    std::vector<float> oneL, oneR, refL, refR, raggedL, raggedR;
    render(single, 1, oneL, oneR);
    render(whole, 5000, refL, refR);
    render(ragged, 0, raggedL, raggedR);
    double worst = 0, energy = 0;
    for (size_t k = 0; k < inL.size(); ++k) {
      worst = std::max({worst, std::fabs(double(oneL[k]) - refL[k]), std::fabs(double(raggedR[k]) - refR[k])});
      energy += double(refL[k]) * refL[k];
    }
    EXPECT_GT(energy, 1.0);
    EXPECT_LT(worst, 1e-7) << "base " << p.values[kParamBaseDelay] * 32768 << " samples, depth " << p.values[kParamModDepth]
                           << ", damping " << p.values[kParamDamping];
    EXPECT_EQ(single.Probe().ControlCountdown(), ragged.Probe().ControlCountdown());
    EXPECT_EQ(single.Probe().LfoPhase(), whole.Probe().LfoPhase());
  }
}

TEST(Network, DampingZeroGivesFourEchoesOfTheRotatedInput) {
  // "fifths": 480, 720, 960, 1440 samples; the inverter at 50 % adds one sample.
  sEngineRig rig = RigWith([](sPlainValues& v) {
    v[kParamGeometry] = 15, v[kParamBaseDelay] = 0.01f, v[kParamHalflife] = 10, v[kParamDamping] = 0, v[kParamFbInv] = 50;
    v[kParamInDir] = 30, v[kParamOutDir] = 60, v[kParamWetMix] = 100, v[kParamDryMix] = 0;
  });
  std::vector<float> inL(3000, 0.0f), inR(3000, 0.0f), outL, outR;
  inL[0] = 1;
  rig.Run(inL, inR, outL, outR);
  const int at[4] = {481, 721, 961, 1441};
  const double a = 30 * kPi / 180, b = 60 * kPi / 180;
  const double inGain[4] = {std::cos(a), -std::sin(a), -std::cos(a), std::sin(a)};  // left input per line
  const double outGain[2][4] = {{std::cos(b), -std::sin(b), -std::cos(b), std::sin(b)},
                                {std::sin(b), std::cos(b), -std::sin(b), -std::cos(b)}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(outL[at[i]], inGain[i] * outGain[0][i] * 0.5, 1e-3) << "line " << i;
    EXPECT_NEAR(outR[at[i]], inGain[i] * outGain[1][i] * 0.5, 1e-3) << "line " << i;
    outL[at[i]] = outR[at[i]] = 0;
  }
  for (int k = 0; k < 3000; ++k) ASSERT_LT(std::fabs(outL[k]) + std::fabs(outR[k]), 1e-3) << "frame " << k;
}

// ---- mended faults ---------------------------------------------------------------

TEST(Robustness, ShorteningALineBelowOneSampleLeavesNoTone) {
  // An all-pass coefficient of 1 has its pole at Nyquist: a state left over
  // from the longer line would alternate there for ever.
  sEngineRig rig = RigWith([](sPlainValues& v) { v[kParamBaseDelay] = 0.0101f, v[kParamFbInv] = 50, v[kParamWetMix] = 100, v[kParamDryMix] = 0; });
  std::vector<float> outL, outR;
  const auto noise = Noise(4800, 0.5f, 19);
  rig.Run(noise, noise, outL, outR);
  rig.program.values[kParamBaseDelay] = 0.000001f;
  rig.Update(true, true);
  const std::vector<float> silence(4800, 0.0f);
  rig.Run(silence, silence, outL, outR);
  for (size_t k = 2; k < outL.size(); ++k) ASSERT_LT(std::fabs(outL[k]), 1e-9f) << k;
}

TEST(Robustness, BadInputNeverReachesTheNetwork) {
  // Non-finite samples: silence for the wet path, as they came for the dry one.
  sEngineRig clean(MakeProgram(kDrumRoomL)), dirty(MakeProgram(kDrumRoomL));
  auto inL = Noise(20000, 0.5f, 2), inR = Noise(20000, 0.5f, 3);
  auto badL = inL, badR = inR;
  inL[100] = inR[200] = inR[300] = 0;
  badL[100] = kNaN, badR[200] = kInf, badR[300] = -kInf;
  std::vector<float> cleanL, cleanR, dirtyL, dirtyR;
  clean.Run(inL, inR, cleanL, cleanR);
  dirty.Run(badL, badR, dirtyL, dirtyR);
  EXPECT_TRUE(std::isnan(dirtyL[100]));
  EXPECT_FALSE(std::isfinite(dirtyR[200]));
  dirtyL[100] = cleanL[100], dirtyR[200] = cleanR[200], dirtyR[300] = cleanR[300];
  EXPECT_EQ(dirtyL, cleanL);
  EXPECT_EQ(dirtyR, cleanR);
  EXPECT_TRUE(dirty.Probe().StateIsSane());

  // Absurdly large finite samples leave the network finite, and it goes on.
  for (float huge : {1e30f, -3e38f, std::numeric_limits<float>::max()}) {
    sProgram p = MakeProgram(kDrumRoomL);
    p.values[kParamDryMix] = 0;
    sEngineRig rig(p);
    std::vector<float> in(5000, huge), outL, outR;
    rig.Run(in, in, outL, outR, 256);
    EXPECT_TRUE(rig.Probe().StateIsSane()) << huge;
    const auto noise = Noise(48000, 0.5f, 4);
    rig.Run(noise, noise, outL, outR);
    float peak = 0;
    for (float x : outL) peak = std::isfinite(x) ? std::max(peak, std::fabs(x)) : kInf;
    EXPECT_TRUE(peak > 1e-3f && peak < 100) << huge;
  }
}

void ExpectFinite(sEngineRig& rig, const std::string& what) {
  const auto noise = Noise(3000, 0.5f, 6);
  std::vector<float> outL, outR;
  rig.Run(noise, noise, outL, outR, 1000);
  for (size_t k = 0; k < outL.size(); ++k) ASSERT_TRUE(std::isfinite(outL[k]) && std::isfinite(outR[k])) << what;
  ASSERT_TRUE(rig.Probe().StateIsSane()) << what;
}

TEST(Robustness, AnySampleRateOrProgramValueGivesFiniteOutput) {
  for (float fs : {0.0f, -48000.0f, kNaN, kInf, -kInf, 1e30f, 1e-30f, 0.5f, 3e9f})
    for (int preset : {kTemple, kDrumRoomL, kMajorGlitch, kInit}) {
      sEngineRig rig(MakeProgram(preset), fs);
      ExpectFinite(rig, "fs " + std::to_string(fs) + " preset " + std::to_string(preset));
    }
  const int32_t fields[] = {
      kParamFbRot1,    kParamFbRot2,   kParamFbInv,     kParamBaseDelay,
      kParamHalflife,  kParamDamping,  kParamInDir,     kParamOutDir,
      kParamModPeriod, kParamModDepth, kParamModSpread, kParamDryMix,
      kParamWetMix,    kParamAmpDrive};
  for (size_t f = 0; f < std::size(fields); ++f)
    for (float value : {kNaN, kInf, -kInf, 1e30f, -1e30f, 1e-30f, 1e-40f, -1.0f}) {
      sProgram p = MakeProgram(kDrumRoomL);
      p.values[fields[f]] = value;
      sEngineRig rig(p);
      if (std::isnan(value)) {  // whatever the record holds, derived fields included
        for (int i = 0; i < 4; ++i) rig.program.lineRatio[i] = rig.program.inPair[i][1] = value;
        rig.engine.UpdateCoefficients(rig.program, rig.fs, true, true);
      }
      ExpectFinite(rig, "field " + std::to_string(f) + " = " + std::to_string(value));
    }
  for (int32_t value : {-7, 99, INT32_MIN, INT32_MAX}) {
    sProgram p = MakeProgram(kDrumRoomL);
    p.values[kParamFbPlane] = p.values[kParamGeometry] = static_cast<float>(value);
    sEngineRig rig(p);
    ExpectFinite(rig, "plane and geometry " + std::to_string(value));
  }
}

}  // namespace
