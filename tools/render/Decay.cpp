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

}  // namespace nimborender
