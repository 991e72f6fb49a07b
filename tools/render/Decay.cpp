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

namespace {
constexpr double kWindowSeconds = 0.25;
constexpr double kFloorBelowPeakDb = 150.0;
constexpr double kStallBelowPeakDb = 60.0;  // a stall above this is the decay itself, not noise
constexpr double kStallDbPerSecond = 1.0;   // falling slower than this: noise (a 60 s T60 at most)
constexpr size_t kWindowsPerSecond = 4;
}  // namespace

cFloorEnd::cFloorEnd(double sampleRate)
    : m_WindowFrames(std::max<int64_t>(1, static_cast<int64_t>(std::llround(kWindowSeconds * sampleRate)))) {}

void cFloorEnd::Feed(const float* left, const float* right, int64_t frames) {
  for (int64_t i = 0; i < frames && !Done(); ++i) {
    if (m_Remaining > 0) {
      --m_Remaining;
      continue;
    }
    const float level = std::max(std::fabs(left[i]), std::fabs(right[i]));
    m_Peak = std::max(m_Peak, level);
    m_WindowPeak = std::max(m_WindowPeak, level);
    m_WindowEnergy += static_cast<double>(left[i]) * left[i] + static_cast<double>(right[i]) * right[i];
    ++m_Frames;
    if (++m_InWindow == m_WindowFrames) CloseWindow();
  }
}

void cFloorEnd::CloseWindow() {
  m_Windows.push_back(m_WindowEnergy);
  const double peakEnergy = static_cast<double>(m_Peak) * m_Peak;
  const bool atFloor = static_cast<double>(m_WindowPeak) * m_WindowPeak <= peakEnergy * std::pow(10.0, -kFloorBelowPeakDb / 10.0);
  bool stalled = false;
  const size_t n = m_Windows.size();
  if (n >= 2 * kWindowsPerSecond) {
    double last = 0.0, before = 0.0;
    for (size_t k = 0; k < kWindowsPerSecond; ++k) {
      last += m_Windows[n - 1 - k];
      before += m_Windows[n - 1 - kWindowsPerSecond - k];
    }
    const double perFrame = last / static_cast<double>(kWindowsPerSecond * static_cast<size_t>(m_WindowFrames));
    stalled = perFrame < peakEnergy * std::pow(10.0, -kStallBelowPeakDb / 10.0) &&
              last >= before * std::pow(10.0, -kStallDbPerSecond / 10.0);
  }
  m_InWindow = 0;
  m_WindowEnergy = 0.0;
  m_WindowPeak = 0.0f;
  // Past the end: a tenth more, at least a window, as the noise sample.
  if (atFloor || stalled) m_Remaining = std::max(m_WindowFrames, m_Frames / 10);
}

}  // namespace nimborender
