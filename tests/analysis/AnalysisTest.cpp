// The analysis against impulse responses whose answers are known.
#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <numbers>
#include <random>
#include <string>

#include "OctaveFilter.h"
#include "RoomAnalysis.h"

namespace {

using namespace nimboanalysis;

constexpr double kRate = 48000.0;
constexpr double kSixtyDb = 6.0 * std::numbers::ln10;  // energy decay rate times T60

// Noise of flat spectrum between `lo` and `hi` and flat envelope: Schroeder
// phases sweep it through the band once over its length. A random-phase
// noise fluctuates in level by several per cent over the ranges the decay
// times read; this one decays exactly as imposed. The sweep's wrap-around, a
// transient, is moved to three quarters of the length, 50 dB down the decays.
std::vector<double> FlatBandNoise(size_t n, double lo, double hi, double phase) {
  std::vector<std::complex<double>> spectrum(n / 2 + 1);
  const auto first = static_cast<size_t>(std::ceil(lo * static_cast<double>(n) / kRate));
  const auto last = static_cast<size_t>(hi * static_cast<double>(n) / kRate);
  const double count = static_cast<double>(last - first + 1);
  for (size_t k = first; k <= last; ++k) {
    const double j = static_cast<double>(k - first);
    spectrum[k] = std::polar(1.0, phase - std::numbers::pi * j * j / count);
  }
  std::vector<double> x(n);
  fftw_plan plan = fftw_plan_dft_c2r_1d(static_cast<int>(n), reinterpret_cast<fftw_complex*>(spectrum.data()),
                                        x.data(), FFTW_ESTIMATE);
  fftw_execute(plan);
  fftw_destroy_plan(plan);
  double energy = 0.0;
  for (double v : x) energy += v * v;
  for (double& v : x) v /= std::sqrt(energy / static_cast<double>(n));
  std::rotate(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n / 4), x.end());
  return x;
}

// Four responses, each `sample(path, n)`.
sImpulseResponses Responses(size_t frames, const std::function<double(int, size_t)>& sample) {
  sImpulseResponses r;
  r.sampleRate = kRate;
  for (int p = 0; p < 4; ++p) {
    auto& path = r.path[static_cast<size_t>(p / 2)][static_cast<size_t>(p % 2)];
    path.resize(frames);
    for (size_t n = 0; n < frames; ++n) path[n] = static_cast<float>(sample(p, n));
  }
  return r;
}

// Every other octave band holds flat noise decaying with its own T60 (so no
// band's neighbour leaks into it), optionally over white noise `noiseDb` below
// the decays' start.
constexpr double kT60[kNumBands] = {2.4, 1.9, 1.6, 1.3, 1.1, 0.9, 0.7, 0.5};

sAnalysis BandDecays(int firstBand, double noiseDb) {
  const size_t frames = static_cast<size_t>(3.0 * kRate);
  std::vector<double> sum[4];
  std::mt19937 random(11);
  std::normal_distribution<double> gaussian(0.0, std::pow(10.0, noiseDb / 20.0));
  for (int p = 0; p < 4; ++p) {
    sum[p].assign(frames, 0.0);
    for (int b = firstBand; b < kNumBands; b += 2) {
      const sOctaveBand& band = OctaveBands()[static_cast<size_t>(b)];
      const auto noise = FlatBandNoise(frames, band.centreHz / std::pow(2.0, 0.25), band.centreHz * std::pow(2.0, 0.25),
                                       1.3 * p + b);
      for (size_t n = 0; n < frames; ++n) sum[p][n] += noise[n] * std::exp(-0.5 * kSixtyDb / kT60[b] * n / kRate);
    }
    for (double& s : sum[p]) s += gaussian(random);
  }
  return Analyze(Responses(frames, [&](int p, size_t n) { return sum[p][n]; }));
}

void ExpectNear(const sMeasure& measure, double truth, double tolerance, const std::string& what) {
  ASSERT_TRUE(measure.Has()) << what << ": " << MissingText(measure.missing);
  EXPECT_NEAR(measure.value, truth, tolerance) << what;
}

// C50, C80, D50 and Ts of an energy decaying as exp(-k t) from t = 0.
struct sClosedForms {
  double c50, c80, d50, ts;
  explicit sClosedForms(double t60) {
    const double k = kSixtyDb / t60;
    c50 = 10.0 * std::log10(std::exp(0.05 * k) - 1.0);
    c80 = 10.0 * std::log10(std::exp(0.08 * k) - 1.0);
    d50 = 1.0 - std::exp(-0.05 * k);
    ts = 1.0 / k;
  }
};

TEST(OctaveFilters, UnitAtMidBandHalfPowerAtTheEdgesSteepOutside) {
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    for (const sOctaveBand& band : OctaveBands()) {
      const auto filter = DesignOctaveFilter(band, rate);
      EXPECT_NEAR(Magnitude(filter, band.centreHz, rate), 1.0, 1e-9) << band.name;
      EXPECT_NEAR(Magnitude(filter, band.lowerHz, rate), std::sqrt(0.5), 1e-6) << band.name;
      EXPECT_NEAR(Magnitude(filter, band.upperHz, rate), std::sqrt(0.5), 1e-6) << band.name;
      EXPECT_LT(Magnitude(filter, band.centreHz / 4.0, rate), 0.01) << band.name;  // -40 dB two octaves off
      if (band.centreHz * 4.0 < 0.5 * rate) {
        EXPECT_LT(Magnitude(filter, band.centreHz * 4.0, rate), 0.01) << band.name;
      }
    }
  }
}

TEST(DecayTimes, KnownDecayInEveryBandWithAndWithoutNoise) {
  for (double noiseDb : {-400.0, -50.0}) {
    for (int first : {0, 1}) {
      const sAnalysis a = BandDecays(first, noiseDb);
      ASSERT_EQ(a.status, eStatus::kDecaying);
      for (int b = first; b < kNumBands; b += 2) {
        const sMeasures& m = a.bands[static_cast<size_t>(b)].measures;
        const std::string what = a.bands[static_cast<size_t>(b)].name + " noise " + std::to_string(noiseDb);
        ExpectNear(m.edt, kT60[b], 0.02 * kT60[b], what + " EDT");
        ExpectNear(m.t20, kT60[b], 0.02 * kT60[b], what + " T20");
        ExpectNear(m.t30, kT60[b], 0.02 * kT60[b], what + " T30");
        if (b < 3) continue;  // the lowest bands' filters smear the abrupt start across 50 ms
        const sClosedForms truth(kT60[b]);
        ExpectNear(m.c50, truth.c50, 0.1, what + " C50");
        ExpectNear(m.c80, truth.c80, 0.1, what + " C80");
        ExpectNear(m.d50, truth.d50, 0.005, what + " D50");
        ExpectNear(m.ts, truth.ts, 0.01 * truth.ts, what + " Ts");
      }
    }
  }
}

TEST(DecayTimes, RangesBelowTheNoiseAreNotCovered) {
  // White noise 35 dB down: the widest bands hold the most of it.
  const sAnalysis a = BandDecays(0, -35.0);
  const sMeasures& low = a.bands[0].measures;   // 63 Hz: about 60 dB above its share of the noise
  const sMeasures& high = a.bands[6].measures;  // 4 kHz: about 40 dB
  ExpectNear(low.t30, kT60[0], 0.02 * kT60[0], "63 Hz T30");
  ExpectNear(high.t20, kT60[6], 0.02 * kT60[6], "4 kHz T20");
  EXPECT_EQ(high.t30.missing, eMissing::kNotCovered);
}

// Broadband: white noise of exactly exponential energy, every sample r^n.
sImpulseResponses Exponential(double t60, size_t delay, size_t frames) {
  const double r = std::exp(-0.5 * kSixtyDb / t60 / kRate);
  return Responses(frames, [=](int p, size_t n) {
    if (n < delay) return 0.0;
    const uint32_t bits = (static_cast<uint32_t>(n) * 2654435761u) ^ (static_cast<uint32_t>(p) * 40503u);
    return ((bits >> 13) & 1 ? 1.0 : -1.0) * std::pow(r, static_cast<double>(n - delay));
  });
}

TEST(EnergyRatios, ExponentialDecayMatchesTheClosedFormsWhereverItStarts) {
  for (size_t delay : {size_t{0}, static_cast<size_t>(0.1 * kRate)}) {
    const sAnalysis a = Analyze(Exponential(0.8, delay, static_cast<size_t>(2.0 * kRate)));
    ASSERT_EQ(a.status, eStatus::kDecaying);
    EXPECT_DOUBLE_EQ(a.onsetSeconds, static_cast<double>(delay) / kRate);
    const sMeasures& m = a.Broadband().measures;
    const sClosedForms truth(0.8);
    ExpectNear(m.edt, 0.8, 0.004, "EDT");
    ExpectNear(m.t30, 0.8, 0.004, "T30");
    ExpectNear(m.c50, truth.c50, 0.01, "C50");
    ExpectNear(m.c80, truth.c80, 0.01, "C80");
    ExpectNear(m.d50, truth.d50, 0.001, "D50");
    ExpectNear(m.ts, truth.ts, 0.0005, "Ts");
  }
}

TEST(EnergyRatios, PureDelayIsTooFastToTimeAndAllEarly) {
  const size_t delay = static_cast<size_t>(0.1 * kRate);
  const sAnalysis a = Analyze(Responses(static_cast<size_t>(kRate), [=](int p, size_t n) {
    return n == delay && (p == 0 || p == 3) ? 1.0 : 0.0;
  }));
  ASSERT_EQ(a.status, eStatus::kDecaying);
  EXPECT_DOUBLE_EQ(a.onsetSeconds, 0.1);
  for (const sBandAnalysis& band : a.bands) {
    const sMeasures& m = band.measures;
    for (const sMeasure* time : {&m.edt, &m.t20, &m.t30}) EXPECT_EQ(time->missing, eMissing::kTooFast) << band.name;
    EXPECT_EQ(m.c50.missing, eMissing::kInfinite) << band.name;
    EXPECT_EQ(m.c80.missing, eMissing::kInfinite) << band.name;
    ExpectNear(m.d50, 1.0, 1e-9, band.name + " D50");
    ExpectNear(m.ts, 0.0, 0.003, band.name + " Ts");  // bands: what is left of the filter's delay
  }
  EXPECT_DOUBLE_EQ(a.Broadband().measures.ts.value, 0.0);
  EXPECT_EQ(a.echoDensity.mixingTime.missing, eMissing::kNotReached);
}

void ExpectNoNumbers(const sAnalysis& a, eMissing why) {
  for (const sBandAnalysis& band : a.bands) {
    const sMeasures& m = band.measures;
    for (const sMeasure* v : {&m.edt, &m.t20, &m.t30, &m.c50, &m.c80, &m.d50, &m.ts}) {
      EXPECT_EQ(v->missing, why) << band.name;
    }
  }
  for (const sMeasure* v : {&a.mid.t30, &a.mid.c80}) EXPECT_EQ(v->missing, why);
}

TEST(Status, SilenceHoldAndBrokenSamplesGiveNoNumbers) {
  const sImpulseResponses silence = Responses(48000, [](int, size_t) { return 0.0; });
  sAnalysis a = Analyze(silence);
  EXPECT_EQ(a.status, eStatus::kSilent);
  ExpectNoNumbers(a, eMissing::kSilent);
  EXPECT_EQ(a.early.bothInputs.missing, eMissing::kSilent);
  EXPECT_EQ(a.echoDensity.mixingTime.missing, eMissing::kSilent);

  a = Analyze(Exponential(0.5, 0, 48000), {.bTailCapped = false, .bHeld = true});
  EXPECT_EQ(a.status, eStatus::kHeld);
  ExpectNoNumbers(a, eMissing::kHeld);

  sImpulseResponses broken = Exponential(0.5, 0, 48000);
  broken.path[1][0][100] = std::nanf("");
  a = Analyze(broken);
  EXPECT_EQ(a.status, eStatus::kInvalid);
  ExpectNoNumbers(a, eMissing::kInvalid);
}

TEST(Status, ResponsesThatDoNotDecayGiveNoNumbers) {
  std::mt19937 random(5);
  std::normal_distribution<double> gaussian;
  sAnalysis a = Analyze(Responses(static_cast<size_t>(2.0 * kRate), [&](int, size_t) { return gaussian(random); }));
  EXPECT_EQ(a.status, eStatus::kNotDecaying);
  ExpectNoNumbers(a, eMissing::kNotDecaying);

  // A decay cut at the tail cap is reported as such, however it looks.
  a = Analyze(Exponential(3.0, 0, static_cast<size_t>(2.0 * kRate)), {.bTailCapped = true, .bHeld = false});
  EXPECT_EQ(a.status, eStatus::kNotDecaying);
  ExpectNoNumbers(a, eMissing::kNotDecaying);
}

TEST(Stereo, OutputCorrelationPerInputAndForBoth) {
  // Left input: identical outputs; right input: opposite ones.
  const sImpulseResponses base = Exponential(0.6, 0, 48000);
  sImpulseResponses r = base;
  r.path[0][1] = base.path[0][0];
  r.path[1][1] = base.path[1][0];
  for (float& s : r.path[1][1]) s = -s;
  const sAnalysis a = Analyze(r);
  for (const sOutputCorrelation* c : {&a.early, &a.late}) {
    ExpectNear(c->leftInput, 1.0, 1e-6, "left");
    ExpectNear(c->rightInput, -1.0, 1e-6, "right");
    ExpectNear(c->bothInputs, 0.0, 0.05, "both");  // two uncorrelated halves, +1 and -1
  }
  const sAnalysis independent = Analyze(base);
  ExpectNear(independent.late.bothInputs, 0.0, 0.05, "independent");
}

TEST(EchoDensity, MixingTimeIsWhereSparseEchoesTurnIntoNoise) {
  // A click every 10 ms for 150 ms, then Gaussian noise of a third of the
  // clicks' height, all decaying slowly. The profile reaches 1 once its 20 ms
  // window has left the clicks behind, give or take the noise's fluctuation.
  std::mt19937 random(3);
  std::normal_distribution<double> gaussian;
  const size_t dense = static_cast<size_t>(0.15 * kRate);
  const sAnalysis a = Analyze(Responses(static_cast<size_t>(1.5 * kRate), [&](int, size_t n) {
    const double envelope = std::exp(-3.0 * static_cast<double>(n) / kRate);
    if (n < dense) return n % 480 == 0 ? 0.3 * envelope : 0.0;
    return 0.1 * envelope * gaussian(random);
  }));
  ExpectNear(a.echoDensity.mixingTime, 0.16, 0.01, "mixing time");
  const auto& profile = a.echoDensity.profile;
  EXPECT_LT(profile[50], 0.2f);  // 50 ms: one click in the window
  EXPECT_NEAR(profile[400], 1.0f, 0.1f);
}

}  // namespace
