// Parameter values to engine coefficients, run on the audio thread at block
// entry whenever the control side has marked something stale.
#include <algorithm>
#include <bit>
#include <initializer_list>
#include <iterator>

#include "../nimbolib/Atomic.h"
#include "Engine.h"
#include "EngineMath.h"

namespace nimbo {

namespace {

// Program values as the engine reads them. Whatever the parameters can
// produce (factory programs included) keeps the results of the formulas
// below; anything else is brought into a range where every formula stays
// finite and every float-to-integer conversion stays defined.
constexpr float kLarge = 1e6f;
constexpr float kMaxSampleRate = 1e7f;
constexpr float kMaxLfoIncrement = 1e6f;  // radians per sample; keeps the phase finite
constexpr float kMinDecayGain = 1e-24f;
constexpr float kMaxInvertCoef = 0.999755859375f;

// 0 means "off"; below 0 or NaN too. Positive values stay positive and finite.
float Positive(float x) { return x > 0.0f ? std::min(std::max(x, 1e-12f), 1e12f) : 0.0f; }
float Signed(float x) { return Bounded(x, -kLarge, kLarge, 0.0f); }
float Pair(float x) { return Bounded(x, -1.0f, 1.0f, 0.0f); }

// Hosts answer 0 while they scan; anything but a positive number counts as that.
float SaneSampleRate(float fs) { return Bounded(fs, 0.0f, kMaxSampleRate, 0.0f); }

// 1/base stays finite.
float BaseDelay(const sPlainValues& s) {
  return s[kParamBaseDelay] > 0.0f ? Bounded(s[kParamBaseDelay], 1e-12f, kLarge, 0.0f) : 0.0f;
}

void Ratios(const sProgram& program, float (&ratio)[kNumLines]) {
  for (int i = 0; i < kNumLines; ++i) ratio[i] = Bounded(program.lineRatio[i], 1e-6f, kLarge, 1.0f);
}

// Halve every H base delays at low frequencies, every H*D at Nyquist; false
// (all zero) without feedback. Inlined: every decay change runs it on the audio thread.
NIMBO_INLINE bool DecayGains(const sPlainValues& s, const float (&ratio)[kNumLines], float (&gain)[kNumLines],
                             float (&dampRatio)[kNumLines]) {
  const float H = Positive(s[kParamHalflife]), D = Positive(s[kParamDamping]);
  if (H == 0.0f || D == 0.0f) {
    for (int i = 0; i < kNumLines; ++i) gain[i] = dampRatio[i] = 0.0f;
    return false;
  }
  alignas(16) float exponent[2 * kNumLines], power[2 * kNumLines];
  for (int i = 0; i < kNumLines; ++i) {
    exponent[i] = -ratio[i] / H;
    exponent[kNumLines + i] = -ratio[i] / (H * D);
  }
  Exp2FPairs(exponent, power, 2 * kNumLines);
  for (int i = 0; i < kNumLines; ++i) {
    // The floor keeps 1/gain[0] in range.
    gain[i] = std::max(power[i], kMinDecayGain);
    dampRatio[i] = power[kNumLines + i] / gain[i];
  }
  return true;
}

// The damping low-pass's coefficient whose Nyquist gain is the ratio.
float DampCoef(float dampRatio) { return 2.0f * dampRatio / (dampRatio + 1.0f); }

// DC high-pass, lower for longer base delays.
float HighpassCoef(float fs, float baseDelay) {
  if (fs <= 1.0f || baseDelay <= 0.0f) return 1.0f;
  const float u = 1.0f / baseDelay;
  const float f = (u * 333.0f) / (u + 333.0f);
  return 1.0f - Exp2F(-f / fs);
}

float InvertCoef(float fbInv) { return std::clamp(1.0f - 0.02f * Signed(fbInv), -kMaxInvertCoef, kMaxInvertCoef); }

constexpr uint32_t Ids(std::initializer_list<int32_t> ids) {
  uint32_t mask = 0;
  for (int32_t id : ids) mask |= 1u << id;
  return mask;
}
static_assert(kNumParameters <= 32);

// The values each stale part reads, by kStale... bit.
constexpr uint32_t kReads[] = {
    Ids({kParamBaseDelay}),                                                         // lengths
    Ids({kParamModDepth, kParamModPeriod, kParamModSpread}),                        // modulation
    Ids({kParamFbPlane, kParamFbRot1, kParamFbRot2}),                               // matrix
    Ids({kParamHalflife, kParamDamping}),                                           // decay
    Ids({kParamFbInv, kParamAmpDrive, kParamDryMix, kParamWetMix}),                 // mix
    Ids({kParamBaseDelay}),                                                         // high-pass
    0,                                                                              // switches
};
static_assert(std::size(kReads) == std::bit_width(kStaleAll));

}  // namespace

void cFDNengine::UpdateCoefficients(const sProgram& program, float sampleRate, bool lengthsDirty,
                                    bool modulationDirty) {
  const uint32_t always = kStaleAll & ~(kStaleLengths | kStaleModulation);
  UpdateCoefficients(program, sampleRate,
                     always | (lengthsDirty ? kStaleLengths : 0u) | (modulationDirty ? kStaleModulation : 0u));
}

void cFDNengine::CopyStaleFields(sProgram& dst, const sProgram& src, uint32_t stale) {
  uint32_t ids = 0;
  for (uint32_t parts = stale & kStaleAll; parts != 0; parts &= parts - 1) ids |= kReads[std::countr_zero(parts)];
  for (; ids != 0; ids &= ids - 1) {
    const int id = std::countr_zero(ids);
    StoreShared(dst.values[id], LoadShared(src.values[id]));
  }
  if (stale & (kStaleLengths | kStaleDecay | kStaleModulation))
    for (int i = 0; i < kNumLines; ++i) StoreShared(dst.lineRatio[i], LoadShared(src.lineRatio[i]));
  if (stale & kStaleMix) {
    for (int i = 0; i < kNumLines; ++i) {
      for (int c = 0; c < 2; ++c) {
        StoreShared(dst.inPair[i][c], LoadShared(src.inPair[i][c]));
        StoreShared(dst.outPair[i][c], LoadShared(src.outPair[i][c]));
      }
    }
  }
}

void cFDNengine::UpdateCoefficients(const sProgram& program, float sampleRate, uint32_t stale) {
  const sPlainValues& s = program.values;
  const float fs = SaneSampleRate(sampleRate);
  const float baseDelay = stale & (kStaleLengths | kStaleHighpass) ? BaseDelay(s) : 0.0f;
  float ratio[kNumLines] = {};
  if (stale & (kStaleLengths | kStaleDecay | kStaleModulation)) Ratios(program, ratio);

  if (stale & kStaleLengths) ComputeDelayLengths(fs, baseDelay, ratio);
  if (stale & kStaleMatrix)
    ComputeFeedbackMatrix(ValueIndex(s[kParamFbPlane], kNumPlanes), Signed(s[kParamFbRot1]), Signed(s[kParamFbRot2]));

  if (stale & kStaleDecay) {
    if (DecayGains(s, ratio, m_DecayGain, m_DampRatio))
      m_ModeFlags |= kModeFeedback;
    else
      m_ModeFlags &= ~kModeFeedback;
  }
  // Every change restarts the damping's glide from its resting value.
  for (int i = 0; i < kNumLines; ++i) m_DampCoef[i] = DampCoef(m_DampRatio[i]);

  if (stale & kStaleMix) {
    m_InvertCoef = InvertCoef(s[kParamFbInv]);
    // Below 1e-6 the stage is transparent anyway; 1/drive must stay finite.
    m_Drive = s[kParamAmpDrive] > 0.0f ? Bounded(s[kParamAmpDrive], 1e-6f, kLarge, 0.0f) : 0.0f;
    if (m_Drive > 0.0f) {
      m_InvDrive = 1.0f / m_Drive;
      m_ModeFlags |= kModeSaturation;
    } else {
      m_InvDrive = 0.0f;
      m_ModeFlags &= ~kModeSaturation;
    }
    for (int i = 0; i < kNumLines; ++i)
      for (int c = 0; c < 2; ++c) m_InGain[c][i] = Pair(program.inPair[i][c]);
    m_DryGain = Signed(s[kParamDryMix]) * 0.01f;
  }

  if (stale & kStaleMix) {
    // Make-up for the level the saturation takes away.
    const float d = m_Drive;
    const float makeUp = ((0.0196919f * d + 0.0620783f) * d + 1.0f) / ((0.00071253f * d + 0.0694112f) * d + 1.0f);
    const float wet = Signed(s[kParamWetMix]) * 0.005f * makeUp;
    for (int i = 0; i < kNumLines; ++i)
      for (int c = 0; c < 2; ++c) m_HoldOutGain[c][i] = Pair(program.outPair[i][c]) * wet;
  }
  if (stale & (kStaleMix | kStaleDecay)) {
    // The output taps follow the decay gain: undo line 0's so the first pass comes out at the wet level.
    // (out * wet) * firstPass, as the hold gains hold out * wet: a decay change reads no mix field.
    const float firstPass = (m_ModeFlags & kModeFeedback) ? 1.0f / m_DecayGain[0] : 1.0f;
    for (int i = 0; i < kNumLines; ++i)
      for (int c = 0; c < 2; ++c) m_OutGain[c][i] = m_HoldOutGain[c][i] * firstPass;
  }

  if (stale & kStaleModulation) {
    const float modDepth = Signed(s[kParamModDepth]), modPeriod = Bounded(s[kParamModPeriod], 0.0f, kLarge, 0.0f);
    if (modDepth == 0.0f) {
      // Stop the oscillator and snap the reads back to the integer delays.
      m_LfoPhase = m_LfoIncrement = 0.0f;
      for (int i = 0; i < kNumLines; ++i) {
        m_ModDepth[i] = 0.0f;
        m_ReadIndex[i] = (m_WriteIndex[i] - m_DelaySamples[i]) & kDelayMask;
        m_ReadFrac[i] = 0.0f;
      }
      m_ModeFlags &= ~kModeModulation;
      m_ControlCountdown = 0;
      m_ControlPeriod = 1024;
    } else {
      m_ModeFlags |= kModeModulation;
      // 64 updates per oscillator cycle, at least one every 1024 samples.
      const float period = modPeriod * fs * 0.015625f + 1.0f;
      m_ControlPeriod = period >= 1024.0f ? 1024u : period >= 1.0f ? static_cast<uint32_t>(period) : 1u;
      const float cycle = fs * modPeriod;
      m_LfoIncrement = cycle > 0.0f ? std::min(kTwoPi / cycle, kMaxLfoIncrement) : 0.0f;
      for (int i = 0; i < kNumLines; ++i) m_ModDepth[i] = modDepth * 0.01f / ratio[i];
      m_ModSpread = Signed(s[kParamModSpread]) * 0.01f;
    }
  }

  if (stale & kStaleHighpass)
    for (float& c : m_HighpassCoef) c = HighpassCoef(fs, baseDelay);
}

void cFDNengine::LoopCoefficients(const sProgram& program, float sampleRate, sLoop& out) {
  const sPlainValues& s = program.values;
  const float fs = SaneSampleRate(sampleRate);
  const float baseDelay = BaseDelay(s);
  float ratio[kNumLines];
  Ratios(program, ratio);
  float dampRatio[kNumLines];
  out.feedback = DecayGains(s, ratio, out.decayGain, dampRatio);
  for (int i = 0; i < kNumLines; ++i) {
    out.length[i] = LineLength(fs, baseDelay, ratio[i]);
    out.allpassCoef[i] = out.length[i] >= 1.0f ? LineAllpassCoef(out.length[i]) : 1.0f;
    out.dampCoef[i] = DampCoef(dampRatio[i]);
  }
  out.highpassCoef = HighpassCoef(fs, baseDelay);
  out.invertCoef = InvertCoef(s[kParamFbInv]);
}

}  // namespace nimbo
