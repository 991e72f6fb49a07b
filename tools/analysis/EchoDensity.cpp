#include "EchoDensity.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace nimboanalysis {

namespace {

constexpr double kHighpassHz = 100.0;

// Second-order Butterworth high-pass, forward. Below it a 20 ms window holds
// too few cycles to tell echoes apart, and a slow tail (a DC blocker's, say)
// would pass for noise between sparse echoes.
std::vector<double> Highpassed(std::span<const float> x, double sampleRate) {
  const double k = std::tan(std::numbers::pi * kHighpassHz / sampleRate);
  const double norm = 1.0 / (1.0 + std::numbers::sqrt2 * k + k * k);
  const double b0 = norm, b1 = -2.0 * norm, b2 = norm;
  const double a1 = 2.0 * (k * k - 1.0) * norm, a2 = (1.0 - std::numbers::sqrt2 * k + k * k) * norm;
  std::vector<double> y(x.size());
  double s1 = 0.0, s2 = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double in = x[i];
    const double out = b0 * in + s1;
    s1 = b1 * in - a1 * out + s2;
    s2 = b2 * in - a2 * out;
    y[i] = out;
  }
  return y;
}

}  // namespace

sEchoDensity MeasureEchoDensity(std::span<const std::span<const float>> responses, size_t onset, size_t end,
                                double floorEnergy, double sampleRate) {
  sEchoDensity density;
  const size_t length = std::max<size_t>(3, static_cast<size_t>(std::lround(density.windowSeconds * sampleRate)) | 1);
  std::vector<double> window(length);
  double sum = 0.0;
  for (size_t k = 0; k < length; ++k) {
    window[k] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(k + 1) / static_cast<double>(length + 1));
    sum += window[k];
  }
  for (double& w : window) w /= sum;
  const double gaussianShare = std::erfc(1.0 / std::numbers::sqrt2);
  const double step = density.stepSeconds * sampleRate;
  const auto half = static_cast<std::ptrdiff_t>(length / 2);

  const size_t steps = end > onset ? static_cast<size_t>(static_cast<double>(end - onset) / step) + 1 : 0;
  const double quiet = 10.0 * floorEnergy;
  std::vector<double> total(steps, 0.0);
  int counted = 0;
  for (const auto& original : responses) {
    const bool silent = std::all_of(original.begin(), original.end(), [](float s) { return s == 0.0f; });
    if (silent) continue;
    const std::vector<double> response = Highpassed(original, sampleRate);
    ++counted;
    const auto size = static_cast<std::ptrdiff_t>(response.size());
    for (size_t j = 0; j < steps; ++j) {
      const auto start = static_cast<std::ptrdiff_t>(onset) + static_cast<std::ptrdiff_t>(std::lround(j * step)) - half;
      const std::ptrdiff_t from = std::max<std::ptrdiff_t>(0, -start);
      const std::ptrdiff_t to = std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(length), size - start);
      double power = 0.0;
      for (std::ptrdiff_t k = from; k < to; ++k) {
        const double s = response[static_cast<size_t>(start + k)];
        power += window[static_cast<size_t>(k)] * s * s;
      }
      if (!(power > quiet)) continue;
      const double deviation = std::sqrt(power);
      double outside = 0.0;
      for (std::ptrdiff_t k = from; k < to; ++k) {
        if (std::fabs(response[static_cast<size_t>(start + k)]) > deviation) outside += window[static_cast<size_t>(k)];
      }
      total[j] += outside / gaussianShare;
    }
  }
  density.profile.resize(steps);
  density.mixingTime = sMeasure::None(counted ? eMissing::kNotReached : eMissing::kSilent);
  for (size_t j = 0; j < steps; ++j) {
    const double value = counted ? total[j] / counted : 0.0;
    density.profile[j] = static_cast<float>(value);
    if (!density.mixingTime.Has() && counted && value >= 1.0) {
      density.mixingTime = sMeasure::Of(static_cast<double>(j) * density.stepSeconds);
    }
  }
  return density;
}

}  // namespace nimboanalysis
