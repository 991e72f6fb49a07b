// The control-rate modulation update: a sine per line once per control
// period, straight-line read-position drift in between.
#include <algorithm>

#include "Engine.h"
#include "EngineMath.h"

namespace nimbo {

namespace {

constexpr float kPhaseOffset[kNumLines] = {0.0f, 1.571f, 3.142f, 4.712f};  // per unit of spread
constexpr float kMaxModTarget = 65534.0f;  // the interpolating read needs one sample beyond
constexpr float kQuarterTurn = 1.57079f;

// The one-pole low-pass y += (x - y) c has Nyquist gain c / (2 - c); this c makes it a.
inline float DampCoefFor(float a) { return 2.0f * a / (a + 1.0f); }

}  // namespace

void cFDNengine::UpdateModulation() {
  if (!(m_ModeFlags & kModeModulation)) {
    for (int i = 0; i < kNumLines; ++i) {
      m_ModIncrement[i] = 0.0f;
      m_DampTarget[i] = DampCoefFor(m_DampRatio[i]);
      m_HoldDampTarget[i] = 1.0f;
    }
    return;
  }
  const float steps = static_cast<float>(m_ControlCountdown);
  for (int i = 0; i < kNumLines; ++i) {
    const uint32_t distance = (static_cast<uint32_t>(kDelayBufferSize) + m_WriteIndex[i] - m_ReadIndex[i]) & kDelayMask;
    const float current = std::max(static_cast<float>(distance) - m_ReadFrac[i], 0.0f);

    const float phase = i == 0 ? m_LfoPhase : kPhaseOffset[i] * m_ModSpread + m_LfoPhase;
    float target = (SinF(phase) * m_ModDepth[i] + 1.0f) * m_DelayLength[i];
    target = std::min(target, kMaxModTarget);
    const float c = m_LineAllpassCoef[i];
    target -= (1.0f - c) / (1.0f + c);  // the all-pass supplies this much delay
    if (target < 1.0f) {
      m_Presence[i] = SinF(kQuarterTurn * target);
      target = 1.0f;
    } else {
      m_Presence[i] = 1.0f;
    }

    const float inc = (current - target) / steps;
    m_ModIncrement[i] = inc;
    // Linear interpolation at a moving position dulls the highs; lift the
    // damping's Nyquist gain to make up for it.
    float k = 1.0f;
    if (current > 0.0f) {
      const float inc2 = inc * inc;
      k = 1.0f + (1.0f - kModCompensationRef) * 0.75f * inc2 / (1.0f / (current * current) + inc2);
    }
    const float a = m_DampRatio[i];
    m_DampTarget[i] = 2.0f * a * k / (a * k + 1.0f);
    m_HoldDampTarget[i] = 2.0f * k / (k + 1.0f);
  }
}

}  // namespace nimbo
