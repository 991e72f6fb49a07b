#include "EchoDensity.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace nimboanalysis {

sEchoDensity MeasureEchoDensity(std::span<const std::span<const float>> responses, size_t onset, double sampleRate) {
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

  size_t longest = 0;
  for (const auto& r : responses) longest = std::max(longest, r.size());
  const size_t steps = longest > onset ? static_cast<size_t>(static_cast<double>(longest - onset) / step) + 1 : 0;
  std::vector<double> total(steps, 0.0);
  int counted = 0;
  for (const auto& response : responses) {
    const bool silent = std::all_of(response.begin(), response.end(), [](float s) { return s == 0.0f; });
    if (silent) continue;
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
      if (!(power > 0.0)) continue;
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
