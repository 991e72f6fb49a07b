// The network core: delay memory, reset, delay lengths and the feedback matrix.
#include <algorithm>
#include <cmath>
#include <new>

#include "Engine.h"
#include "EngineMath.h"

namespace nimbo {

namespace {

// Unit bivectors of the two rotations, by "FB plane".
constexpr float kH = 0.35355338f;  // sqrt(2)/4
constexpr float kP = 0.85355341f;  // (2+sqrt(2))/4
constexpr float kQ = 0.14644662f;  // (2-sqrt(2))/4
constexpr float kFirstRotation[kNumPlanes][6] = {
    {0.5f, -0.5f, 0, 0, 0.5f, -0.5f},   {-0.5f, -0.5f, 0, 0, -0.5f, -0.5f}, {kH, 0, -kP, kQ, 0, kH},
    {-kH, 0, -kP, kQ, 0, -kH},          {1, 0, 0, 0, 0, 0},                 {1, 0, 0, 0, 0, 0},
};
constexpr float kSecondRotation[kNumPlanes][6] = {
    {0.5f, 0.5f, 0, 0, -0.5f, -0.5f},   {-0.5f, 0.5f, 0, 0, 0.5f, -0.5f},   {-kH, 0, -kQ, kP, 0, -kH},
    {kH, 0, -kQ, kP, 0, kH},            {0, 0, 0, 0, 0, -1},                {0, 0, 0, 0, 0, 1},
};

constexpr float kMaxAllpassCoef = 0.999755859375f;  // 1 - 2^-12
constexpr float kQuarterTurn = 1.57079f;

}  // namespace

bool cFDNengine::Open() {
  if (m_bReady || m_bClosed) return m_bReady;
  for (auto& line : m_DelayBuffer) {
    line.reset(new (std::nothrow) float[kDelayBufferSize + 1]());
    if (!line) {
      for (auto& l : m_DelayBuffer) l.reset();
      return false;
    }
  }
  for (int i = 0; i < kNumLines; ++i) {
    m_WriteIndex[i] = m_ReadIndex[i] = m_DelaySamples[i] = 0;
    m_ReadFrac[i] = m_ModIncrement[i] = 0.0f;
    m_Presence[i] = 1.0f;
    m_LineAllpassState[i] = m_InvertState[i] = m_DampState[i] = m_HighpassState[i] = 0.0f;
    m_SatPreState[i] = m_SatPostState[i] = 0.0f;
    m_DampCoef[i] = m_HighpassCoef[i] = m_ModDepth[i] = 0.0f;
  }
  m_InvertCoef = 0.0f;
  m_LfoPhase = m_LfoIncrement = 0.0f;
  m_ControlPeriod = m_ControlCountdown = 0;
  m_bReady = true;
  return true;
}

void cFDNengine::Close() {
  if (m_bClosed) return;
  for (auto& line : m_DelayBuffer) line.reset();
  m_bReady = false;
  m_bClosed = true;
}

void cFDNengine::ResetNetwork(bool keepTail) {
  if (!m_bReady) return;
  for (int i = 0; i < kNumLines; ++i) {
    if (!keepTail) std::fill_n(m_DelayBuffer[i].get(), kDelayBufferSize + 1, 0.0f);
    m_WriteIndex[i] = 0;
    m_ReadIndex[i] = (static_cast<uint32_t>(kDelayBufferSize) - m_DelaySamples[i]) & kDelayMask;
    m_ReadFrac[i] = m_ModIncrement[i] = m_DampCoef[i] = 0.0f;
    m_DampState[i] = m_HighpassState[i] = m_InvertState[i] = m_LineAllpassState[i] = 0.0f;
    m_SatPreState[i] = m_SatPostState[i] = 0.0f;
  }
  m_ControlCountdown = 0;
  m_LfoPhase = 0.0f;
}

float cFDNengine::LineLength(float fs, float baseDelay, float ratio) {
  return std::min(fs * baseDelay * ratio, kMaxDelaySamples);
}

// The first-order all-pass that adds the fraction of a sample the integer delay leaves out.
float cFDNengine::LineAllpassCoef(float length) {
  const float f = length - static_cast<float>(static_cast<uint32_t>(length));
  return std::min((1.0f - f) / (1.0f + f), kMaxAllpassCoef);
}

// fs, baseDelay and ratio are finite and non-negative, so L is too.
void cFDNengine::ComputeDelayLengths(float fs, float baseDelay, const float (&ratio)[kNumLines]) {
  for (int i = 0; i < kNumLines; ++i) {
    const float length = LineLength(fs, baseDelay, ratio[i]);
    m_DelayLength[i] = length;
    const uint32_t n = static_cast<uint32_t>(length);
    if (n == 0) {
      m_DelaySamples[i] = 1;
      m_Presence[i] = SinF(kQuarterTurn * length);
      m_LineAllpassCoef[i] = 1.0f;
      // With its pole at Nyquist, the all-pass would alternate whatever state the
      // longer line left in it for ever; from zero it passes the signal unchanged.
      m_LineAllpassState[i] = 0.0f;
    } else {
      m_DelaySamples[i] = n;
      m_Presence[i] = 1.0f;
      m_LineAllpassCoef[i] = LineAllpassCoef(length);
    }
  }
}

// The product of two plane rotations of 4-space, written out as a 4x4 matrix.
void cFDNengine::ComputeFeedbackMatrix(int32_t plane, float rot1, float rot2) {
  constexpr double kHalfDegree = 3.14159265358979323846 / 180.0 * 0.5;
  const double h1 = static_cast<double>(rot1) * kHalfDegree;
  const double h2 = static_cast<double>(rot2) * kHalfDegree;
  const double c1 = std::cos(h1), s1 = std::sin(h1), c2 = std::cos(h2), s2 = std::sin(h2);
  double a[7], b[7];  // 1-based, as the components are usually numbered
  for (int k = 1; k <= 6; ++k) {
    a[k] = static_cast<double>(kFirstRotation[plane][k - 1]) * s1;
    b[k] = static_cast<double>(kSecondRotation[plane][k - 1]) * s2;
  }
  const double P0 = c1 * c2 - (a[1] * b[1] + a[2] * b[2] + a[3] * b[3] + a[4] * b[4] + a[5] * b[5] + a[6] * b[6]);
  const double P1 = c1 * b[1] + c2 * a[1] + a[4] * b[2] - a[2] * b[4] + a[5] * b[3] - a[3] * b[5];
  const double P2 = c1 * b[2] + c2 * a[2] + a[1] * b[4] - a[4] * b[1] + a[6] * b[3] - a[3] * b[6];
  const double P3 = c1 * b[3] + c2 * a[3] + a[1] * b[5] - a[5] * b[1] + a[2] * b[6] - a[6] * b[2];
  const double P4 = c1 * b[4] + c2 * a[4] + a[2] * b[1] - a[1] * b[2] + a[6] * b[5] - a[5] * b[6];
  const double P5 = c1 * b[5] + c2 * a[5] + a[3] * b[1] - a[1] * b[3] + a[4] * b[6] - a[6] * b[4];
  const double P6 = c1 * b[6] + c2 * a[6] + a[3] * b[2] - a[2] * b[3] + a[5] * b[4] - a[4] * b[5];
  const double P7 = a[1] * b[6] + a[6] * b[1] + a[3] * b[4] + a[4] * b[3] - a[2] * b[5] - a[5] * b[2];

  const double Q0 = P0 * P0 - P7 * P7, Q1 = P1 * P1 - P6 * P6;
  const double Q2 = P2 * P2 - P5 * P5, Q3 = P3 * P3 - P4 * P4;
  const double A = P0 * P1 + P6 * P7, B = P2 * P4 + P3 * P5, C = P0 * P2 - P5 * P7;
  const double D = P1 * P4 - P3 * P6, E = P0 * P3 + P4 * P7, G = P1 * P5 + P2 * P6;
  const double H = P0 * P4 + P3 * P7, I = P1 * P2 + P5 * P6, J = P0 * P5 - P2 * P7;
  const double K = P1 * P3 - P4 * P6, M = P0 * P6 + P1 * P7, N = P2 * P3 + P4 * P5;

  const double F[kNumLines][kNumLines] = {
      {Q0 - Q1 - Q2 - Q3, 2 * (A - B), 2 * (C + D), 2 * (E + G)},
      {-2 * (A + B), Q0 - Q1 + Q2 + Q3, 2 * (H - I), 2 * (J - K)},
      {2 * (D - C), -2 * (H + I), Q0 + Q1 - Q2 + Q3, 2 * (M - N)},
      {2 * (G - E), -2 * (J + K), -2 * (M + N), Q0 + Q1 + Q2 - Q3},
  };
  for (int i = 0; i < kNumLines; ++i)
    for (int j = 0; j < kNumLines; ++j) m_FeedbackColumn[j][i] = m_FeedbackMatrix[i][j] = static_cast<float>(F[i][j]);
}

float cFDNengine::NetworkLevel(uint32_t& reach) const {
  reach = 0;
  if (!m_bReady) return 0.0f;
  float peak = 0.0f;
  for (int i = 0; i < kNumLines; ++i) {
    // What the read may still reach: its distance now, or the farthest the modulation takes it.
    const uint32_t distance = (m_WriteIndex[i] - m_ReadIndex[i]) & kDelayMask;
    const float swing = std::min(m_DelayLength[i] * (1.0f + std::fabs(m_ModDepth[i])), kMaxDelaySamples);
    const uint32_t back = std::min<uint32_t>(std::max(distance, static_cast<uint32_t>(swing)) + 2, kDelayBufferSize);
    reach = std::max(reach, back);
    const float* line = m_DelayBuffer[i].get();
    for (uint32_t k = 1; k <= back; ++k) peak = std::max(peak, std::fabs(line[(m_WriteIndex[i] - k) & kDelayMask]));
    for (float x : {m_LineAllpassState[i], m_InvertState[i], m_DampState[i], m_HighpassState[i], m_SatPostState[i],
                    m_SatPreState[i] * m_InvDrive})
      peak = std::max(peak, std::fabs(x));
  }
  float gain = 1.0f;
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < kNumLines; ++i) gain = std::max({gain, std::fabs(m_OutGain[c][i]), std::fabs(m_HoldOutGain[c][i])});
  return peak * gain;
}

void cFDNengine::ClearSignal() {
  if (!m_bReady) return;
  for (int i = 0; i < kNumLines; ++i) {
    std::fill_n(m_DelayBuffer[i].get(), kDelayBufferSize + 1, 0.0f);
    m_DampState[i] = m_HighpassState[i] = m_InvertState[i] = m_LineAllpassState[i] = 0.0f;
    m_SatPreState[i] = m_SatPostState[i] = 0.0f;
  }
}

}  // namespace nimbo
