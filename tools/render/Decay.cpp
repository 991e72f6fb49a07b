#include "Decay.h"

#include <algorithm>
#include <cmath>

namespace nimborender {

cTailEnd::cTailEnd(int64_t inputFrames, int64_t quietFrames, int64_t capFrames, double quietLevelDb)
    : m_InputFrames(inputFrames),
      m_QuietFrames(quietFrames),
      m_CapFrames(capFrames),
      m_Threshold(static_cast<float>(std::pow(10.0, quietLevelDb / 20.0))) {}

int64_t cTailEnd::End() const {
  const int64_t quietEnd = std::max(m_InputFrames, m_LastLoud + 1) + m_QuietFrames;
  return std::min(quietEnd, m_InputFrames + m_CapFrames);
}

int64_t cTailEnd::Feed(const float* left, const float* right, int64_t start, int64_t frames) {
  for (int64_t i = frames - 1; i >= 0; --i) {
    // A NaN is not quiet: a plugin that produces one gets the whole cap.
    const bool quiet = std::fabs(left[i]) < m_Threshold && std::fabs(right[i]) < m_Threshold;
    if (!quiet) {
      m_LastLoud = std::max(m_LastLoud, start + i);
      break;
    }
  }
  return std::clamp<int64_t>(End() - start, 0, frames);
}

std::optional<double> EstimateRt60(const std::vector<float>& left, const std::vector<float>& right, size_t start,
                                   double sampleRate) {
  const size_t end = std::min(left.size(), right.size());
  if (start >= end || sampleRate <= 0.0) return std::nullopt;
  const size_t count = end - start;
  // Energy remaining from each frame on, integrated backwards.
  std::vector<double> remaining(count);
  double sum = 0.0;
  for (size_t i = count; i-- > 0;) {
    const double l = left[start + i];
    const double r = right[start + i];
    sum += l * l + r * r;
    remaining[i] = sum;
  }
  const double total = remaining[0];
  if (!(total > 0.0) || !std::isfinite(total)) return std::nullopt;

  // Least-squares line through the decay curve between -5 and -25 dB.
  double points = 0.0, sumT = 0.0, sumD = 0.0, sumTT = 0.0, sumTD = 0.0;
  bool reachedEnd = false;
  for (size_t i = 0; i < count; ++i) {
    if (remaining[i] <= 0.0) break;
    const double db = 10.0 * std::log10(remaining[i] / total);
    if (db > -5.0) continue;
    if (db < -25.0) {
      reachedEnd = true;
      break;
    }
    const double t = static_cast<double>(i) / sampleRate;
    points += 1.0;
    sumT += t;
    sumD += db;
    sumTT += t * t;
    sumTD += t * db;
  }
  if (!reachedEnd || points < 8.0) return std::nullopt;
  const double denominator = points * sumTT - sumT * sumT;
  if (!(denominator > 0.0)) return std::nullopt;
  const double slope = (points * sumTD - sumT * sumD) / denominator;  // dB per second
  if (!(slope < 0.0)) return std::nullopt;
  return -60.0 / slope;
}

}  // namespace nimborender
