// Block processing: the control-rate loop and the per-sample network step,
// with all four lines carried side by side in one sVec4.
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "Engine.h"
#include "EngineMath.h"
#include "LineStages.h"

namespace nimbo {

namespace {

// Alternating, far below audibility and far above the denormal range; +e on
// the left, -e on the right. Two periods, so any four frames in a row can be
// loaded at once.
constexpr float kDitherLeft[12] = {1e-12f, -2e-12f, 3e-12f, -4e-12f, 5e-12f, -6e-12f, 7e-12f, -8e-12f,
                                   1e-12f, -2e-12f, 3e-12f, -4e-12f};
constexpr float kDitherRight[12] = {-1e-12f, 2e-12f, -3e-12f, 4e-12f, -5e-12f, 6e-12f, -7e-12f, 8e-12f,
                                    -1e-12f, 2e-12f, -3e-12f, 4e-12f};

// What enters the network. A non-finite sample is taken as silence, or one bad
// sample from upstream would poison the feedback for good. Finite samples are
// capped at +120 dB over full scale, which no real signal reaches: with the
// largest gains any setting allows, the filter states then stay finite.
constexpr float kMaxWetInput = 1e6f;

// Frames whose inputs and outputs are staged on the stack at a time.
constexpr int32_t kChunk = 128;

}  // namespace

// One run of frames between control boundaries, in one mode. kNear: every
// line's read position drifts by less than a sample per sample.
//
// The inputs of a chunk of frames are prepared four frames at a time, and the
// outputs summed four frames at a time, so the frame-by-frame network step
// does only the line work. A frame's line work goes through up to seven
// steps: Front (injection, line read), Pass (presence, all-passes), Shape and
// Finish (saturation), Lowpass and Settle (damping, decay, DC high-pass,
// limit) and Back (feedback write). The steps of one frame form a long chain
// of dependent operations; running the p-th step of frame k - p for every
// step at once lets the processor overlap as many frames as there are steps
// instead of waiting for each chain. Every value is computed exactly as
// without the interleaving, which is allowed wherever each line reaches at
// least kPipelineDelay samples back, so that no read needs a sample still in
// flight; shorter lines take the frames one by one.
template <bool kMod, bool kNear, bool kSat, bool kFb, bool kHold>
struct cFDNengine::sKernel {
  using V = sVec4;

  // What one frame carries from step to step.
  struct sFrame {
    V z, inj, denominator;
  };

  // The steps this mode takes, in order: Front, Pass, Shape, Finish,
  // Lowpass, Settle, Back; and each one's place in the pipeline. With
  // feedback, frames stay in flight for all seven places even where the
  // saturation is off: measured, the longer overlap pays.
  static constexpr bool kTakes[7] = {true, true, kSat || kFb, kSat || kFb, kFb, true, true};
  static constexpr int32_t Place(int32_t step) {
    int32_t place = 0;
    for (int32_t i = 0; i < step; ++i) place += kTakes[i] ? 1 : 0;
    return place;
  }
  static constexpr int32_t kDepth = Place(7);
  // The feedback of the frames in flight is not yet written when a frame reads its lines.
  static constexpr float kPipelineDelay = static_cast<float>(kDepth - 1);

  // Whether every read of the next count frames lies at least kPipelineDelay behind its write.
  static bool CanPipeline(const cFDNengine& e, int32_t count) {
    for (int i = 0; i < kNumLines; ++i) {
      const float distance = static_cast<float>((e.m_WriteIndex[i] - e.m_ReadIndex[i]) & kDelayMask);
      if constexpr (kMod) {
        const float start = distance - e.m_ReadFrac[i] - std::fabs(e.m_ModIncrement[i]);
        const float end = start - static_cast<float>(count) * e.m_ModIncrement[i];
        if (!(std::min(start, end) >= kPipelineDelay + 1.0f)) return false;
      } else if (distance < kPipelineDelay) {
        return false;
      }
    }
    return true;
  }

  // The state lives in locals for the run, where the compiler can keep it in
  // registers, and is stored back at its end.
  static void Run(cFDNengine& e, const float* inL, const float* inR, float* outL, float* outR, int32_t first,
                  int32_t count) {
    float* const line[kNumLines] = {e.m_DelayBuffer[0].get(), e.m_DelayBuffer[1].get(), e.m_DelayBuffer[2].get(),
                                    e.m_DelayBuffer[3].get()};
    // The lines are written in step, so one write index serves all four.
    uint32_t write = e.m_WriteIndex[0] & kDelayMask;
    uint32_t read[kNumLines];
    for (int i = 0; i < kNumLines; ++i) read[i] = e.m_ReadIndex[i] & kDelayMask;
    sInt4 modRead = sInt4::Set(read[0], read[1], read[2], read[3]);
    const sInt4 mask = sInt4::Fill(kDelayMask), one = sInt4::Fill(1);
    const V presence = V::Load(e.m_Presence), absence = V::Fill(1.0f) - presence;
    const V allpassCoef = V::Load(e.m_LineAllpassCoef);
    const V invertCoef = V::Fill(e.m_InvertCoef), bothCoef = invertCoef * allpassCoef;
    V allpass = V::Load(e.m_LineAllpassState);
    V invert = V::Load(e.m_InvertState);
    V frac = V::Load(e.m_ReadFrac);
    const V increment = V::Load(e.m_ModIncrement);
    const V drive = V::Fill(e.m_Drive), invDrive = V::Fill(e.m_InvDrive);
    V satPre = V::Load(e.m_SatPreState), satPost = V::Load(e.m_SatPostState);
    const V dampTarget = V::Load(kHold ? e.m_HoldDampTarget : e.m_DampTarget);
    const V decay = V::Load(e.m_DecayGain), highpassCoef = V::Load(e.m_HighpassCoef);
    const V highpassRest = V::Fill(1.0f) - highpassCoef;
    V dampCoef = V::Load(e.m_DampCoef), damp = V::Load(e.m_DampState), highpass = V::Load(e.m_HighpassState);
    const V inGainL = V::Load(e.m_InGain[0]), inGainR = V::Load(e.m_InGain[1]);
    const float(&gainL)[kNumLines] = kHold ? e.m_HoldOutGain[0] : e.m_OutGain[0];
    const float(&gainR)[kNumLines] = kHold ? e.m_HoldOutGain[1] : e.m_OutGain[1];
    const V outGain[2][kNumLines] = {{V::Fill(gainL[0]), V::Fill(gainL[1]), V::Fill(gainL[2]), V::Fill(gainL[3])},
                                     {V::Fill(gainR[0]), V::Fill(gainR[1]), V::Fill(gainR[2]), V::Fill(gainR[3])}};
    const V dryGain = V::Fill(e.m_DryGain);
    // Transposed where the matrix is computed: a short run pays for no shuffles.
    const auto& F = e.m_FeedbackColumn;  // what each source line feeds
    const V column[kNumLines] = {V::Load(F[0]), V::Load(F[1]), V::Load(F[2]), V::Load(F[3])};

    // Staged per chunk: wet inputs and dry outputs per channel, line signals per frame.
    alignas(16) float wetL[kChunk], wetR[kChunk], dryL[kChunk], dryR[kChunk];
    alignas(16) float lines[kChunk][kNumLines];

    // Injection, line read.
    auto front = [&](int32_t j, sFrame& f) NIMBO_INLINE_LAMBDA {
      if constexpr (!kHold) f.inj = V::FillFrom(&wetL[j]) * inGainL + V::FillFrom(&wetR[j]) * inGainR;
      V d;
      if constexpr (kMod) {
        const V s = frac + increment;
        sInt4 step;
        frac = s - (kNear ? FloorNear(s, step) : Floor(s, step));
        const sInt4 at = (modRead + step) & mask;
        modRead = at + one;  // up to 65536: the guard sample mirrors sample 0
        alignas(16) uint32_t index[kNumLines];
        at.Store(index);
        const float* const p[kNumLines] = {line[0] + index[0], line[1] + index[1], line[2] + index[2],
                                           line[3] + index[3]};
        V a, b;  // b is the next sample, never masked
        V::LoadPairs(p[0], p[1], p[2], p[3], a, b);
        d = Interpolate(a, b, frac, V::Fill(1.0f) - frac);
      } else {
        d = V::Set(line[0][read[0]], line[1][read[1]], line[2][read[2]], line[3][read[3]]);
        for (int i = 0; i < kNumLines; ++i) read[i] = (read[i] + 1) & kDelayMask;
      }
      f.z = d;
    };

    // Presence, all-passes.
    auto pass = [&](sFrame& f) NIMBO_INLINE_LAMBDA {
      const V v = kHold ? f.z * presence : PresenceMix(f.z, f.inj, presence, absence);
      f.z = AllpassPair(v, allpassCoef, invertCoef, bothCoef, allpass, invert);
    };

    // Saturation, in two steps.
    auto shape = [&](sFrame& f) NIMBO_INLINE_LAMBDA {
      if constexpr (kSat) f.z = SaturateShape(f.z, drive, invDrive, satPre, f.denominator);
    };
    auto finish = [&](sFrame& f) NIMBO_INLINE_LAMBDA {
      if constexpr (kSat) f.z = SaturateFinish(f.z, f.denominator, satPost);
    };

    // Damping, in two steps, and the limit.
    auto lowpass = [&](V z) NIMBO_INLINE_LAMBDA {
      if constexpr (kFb) {
        if constexpr (kHold)
          z = DampHold(z, dampTarget, dampCoef, damp);
        else
          z = DampRise(z, dampTarget, decay, highpassCoef, dampCoef, damp, highpass);
      }
      return z;
    };
    auto settle = [&](V z) NIMBO_INLINE_LAMBDA {
      if constexpr (kFb && !kHold) z = HighpassOut(z, highpassRest);
      return Limit(z);
    };

    // Feedback write; the line signals are kept for the outputs.
    auto back = [&](int32_t j, V x, const sFrame& f) NIMBO_INLINE_LAMBDA {
      x.Store(lines[j]);
      V w = kHold ? x : f.inj;
      if constexpr (kFb) {
        const V fed = (column[0] * x.template Broadcast<0>() + column[1] * x.template Broadcast<1>()) +
                      (column[2] * x.template Broadcast<2>() + column[3] * x.template Broadcast<3>());
        w = kHold ? fed : f.inj + fed;
      }
      const float w0 = w.template Lane<0>(), w1 = w.template Lane<1>();
      const float w2 = w.template Lane<2>(), w3 = w.template Lane<3>();
      line[0][write] = w0;
      line[1][write] = w1;
      line[2][write] = w2;
      line[3][write] = w3;
      if (write == 0) {
        line[0][kDelayBufferSize] = w0;
        line[1][kDelayBufferSize] = w1;
        line[2][kDelayBufferSize] = w2;
        line[3][kDelayBufferSize] = w3;
      }
      write = (write + 1) & kDelayMask;
    };

    const bool pipelined = count >= 2 && CanPipeline(e, count);
    for (int32_t start = first; start < first + count; start += kChunk) {
      const int32_t n = std::min(kChunk, first + count - start);

      // Four frames at a time; a last partial group goes through a padded copy.
      auto inFours = [&](auto&& four) NIMBO_INLINE_LAMBDA {
        int32_t j = 0;
        for (; j + 4 <= n; j += 4) four(j, 4);
        if (j < n) four(j, n - j);
      };
      // Both channels are read before any output is written: they may alias.
      if constexpr (!kHold)
        inFours([&](int32_t j, int32_t m) NIMBO_INLINE_LAMBDA {
          alignas(16) float padL[4] = {}, padR[4] = {};
          for (int32_t i = 0; i < m; ++i) padL[i] = inL[start + j + i], padR[i] = inR[start + j + i];
          const V inl = m == 4 ? V::LoadUnaligned(inL + start + j) : V::Load(padL);
          const V inr = m == 4 ? V::LoadUnaligned(inR + start + j) : V::Load(padR);
          const int32_t phase = (start + j) & 7;  // the dither restarts with every call
          const V ditherL = V::LoadUnaligned(kDitherLeft + phase), ditherR = V::LoadUnaligned(kDitherRight + phase);
          ((inl + ditherL) * dryGain).Store(dryL + j);
          ((inr + ditherR) * dryGain).Store(dryR + j);
          const V lo = V::Fill(-kMaxWetInput), hi = V::Fill(kMaxWetInput);
          (Min(Max(FiniteOrZero(inl), lo), hi) + ditherL).Store(wetL + j);
          (Min(Max(FiniteOrZero(inr), lo), hi) + ditherR).Store(wetR + j);
        });

      if (pipelined && n >= kDepth) {
        // One step of the pipeline at frame j: the step at place p works on
        // frame j - p, last step first. f[p] holds the frame that has been
        // through the steps up to place p; the first and last steps of the
        // chunk leave out the steps whose frames are outside it.
        sFrame f[kDepth - 1] = {};
        auto step = [&]<int32_t kFrom, int32_t kTo>(int32_t j) NIMBO_INLINE_LAMBDA {
          constexpr int32_t kBack = Place(6), kSettle = Place(5), kLowpass = Place(4);
          constexpr int32_t kFinish = Place(3), kShape = Place(2);
          auto takes = [](int32_t place) { return kFrom <= place && place <= kTo; };
          if constexpr (takes(kBack)) back(j - kBack, f[kBack - 1].z, f[kBack - 1]);
          if constexpr (takes(kSettle)) f[kSettle] = f[kSettle - 1], f[kSettle].z = settle(f[kSettle].z);
          if constexpr (kTakes[4] && takes(kLowpass)) f[kLowpass] = f[kLowpass - 1], f[kLowpass].z = lowpass(f[kLowpass].z);
          if constexpr (kTakes[3] && takes(kFinish)) f[kFinish] = f[kFinish - 1], finish(f[kFinish]);
          if constexpr (kTakes[2] && takes(kShape)) f[kShape] = f[kShape - 1], shape(f[kShape]);
          if constexpr (takes(1)) f[1] = f[0], pass(f[1]);
          if constexpr (takes(0)) front(j, f[0]);
        };
        // Fill, run, drain.
        [&]<int32_t... kP>(std::integer_sequence<int32_t, kP...>) NIMBO_INLINE_LAMBDA {
          (step.template operator()<0, kP>(kP), ...);
        }(std::make_integer_sequence<int32_t, kDepth - 1>());
        for (int32_t j = kDepth - 1; j < n; ++j) step.template operator()<0, kDepth - 1>(j);
        [&]<int32_t... kP>(std::integer_sequence<int32_t, kP...>) NIMBO_INLINE_LAMBDA {
          (step.template operator()<kP + 1, kDepth - 1>(n + kP), ...);
        }(std::make_integer_sequence<int32_t, kDepth - 1>());
      } else {
        for (int32_t j = 0; j < n; ++j) {
          sFrame frame = {};
          front(j, frame);
          pass(frame);
          shape(frame);
          finish(frame);
          back(j, settle(lowpass(frame.z)), frame);
        }
      }

      // ((x0 g0 + x1 g1) + x2 g2) + x3 g3 per frame, four frames at once.
      inFours([&](int32_t j, int32_t m) NIMBO_INLINE_LAMBDA {
        V x0 = V::Load(lines[j]), x1 = V::Load(lines[j + 1]), x2 = V::Load(lines[j + 2]), x3 = V::Load(lines[j + 3]);
        Transpose(x0, x1, x2, x3);  // now x_i holds line i of the four frames
        const float* const dry[2] = {dryL, dryR};
        float* const out[2] = {outL, outR};
        for (int c = 0; c < 2; ++c) {
          const V(&g)[kNumLines] = outGain[c];
          V o = ((x0 * g[0] + x1 * g[1]) + x2 * g[2]) + x3 * g[3];
          if constexpr (!kHold) o = o + V::Load(dry[c] + j);
          if (m == 4) {
            o.StoreUnaligned(out[c] + start + j);
          } else {
            alignas(16) float pad[4];
            o.Store(pad);
            for (int32_t i = 0; i < m; ++i) out[c][start + j + i] = pad[i];
          }
        }
      });
    }

    if constexpr (kMod) {
      read[0] = modRead.Lane<0>(), read[1] = modRead.Lane<1>();
      read[2] = modRead.Lane<2>(), read[3] = modRead.Lane<3>();
    }
    for (int i = 0; i < kNumLines; ++i) {
      e.m_ReadIndex[i] = read[i] & kDelayMask;
      e.m_WriteIndex[i] = write;
    }
    allpass.Store(e.m_LineAllpassState);
    invert.Store(e.m_InvertState);
    if constexpr (kMod) frac.Store(e.m_ReadFrac);
    if constexpr (kSat) {
      satPre.Store(e.m_SatPreState);
      satPost.Store(e.m_SatPostState);
    }
    if constexpr (kFb) {
      dampCoef.Store(e.m_DampCoef);
      damp.Store(e.m_DampState);
      highpass.Store(e.m_HighpassState);
    }
  }
};

// Indexed by the mode flags, with hold as the fourth bit and "near" as the fifth.
template <size_t... I>
constexpr std::array<cFDNengine::KernelFn, sizeof...(I)> cFDNengine::MakeKernels(std::index_sequence<I...>) {
  return {&sKernel<(I & 1) != 0, (I & 16) != 0, (I & 2) != 0, (I & 4) != 0, (I & 8) != 0>::Run...};
}
const std::array<cFDNengine::KernelFn, 32> cFDNengine::kKernels = MakeKernels(std::make_index_sequence<32>());
static_assert(kModeModulation == 1 && kModeSaturation == 2 && kModeFeedback == 4);

template <class F>
void cFDNengine::ControlLoop(int32_t frames, F&& run) {
  int32_t pos = 0;
  while (pos < frames) {
    if (m_ControlCountdown == 0) {
      m_ControlCountdown = m_ControlPeriod > 0 ? m_ControlPeriod : 1;  // 0 only before the first update
      m_LfoPhase = std::fmod(m_LfoPhase, kTwoPi);
      UpdateModulation();
    }
    bool near = true;
    for (float inc : m_ModIncrement) near = near && inc > -1.0f && inc < 1.0f;
    const int32_t n = std::min(static_cast<int32_t>(m_ControlCountdown), frames - pos);
    run(pos, n, near);
    m_ControlCountdown -= static_cast<uint32_t>(n);
    m_LfoPhase += static_cast<float>(n) * m_LfoIncrement;
    pos += n;
  }
}

void cFDNengine::Process(const float* inL, const float* inR, float* outL, float* outR, int32_t frames, bool hold) {
  if (!m_bReady || frames <= 0) return;
  const uint32_t mode = (m_ModeFlags & 7u) | (hold ? 8u : 0u);
  ControlLoop(frames, [&](int32_t first, int32_t count, bool near) {
    kKernels[mode | (near ? 16u : 0u)](*this, inL, inR, outL, outR, first, count);
  });
}

void cFDNengine::Rest(int32_t frames, bool hold) {
  if (!m_bReady || frames <= 0) return;
  ControlLoop(frames, [&](int32_t, int32_t count, bool near) { RestRun(count, hold, near); });
}

// The kernels' clock alone, in the same operations, so the positions and the
// damping coefficients come out bit for bit as if the frames had been rendered.
void cFDNengine::RestRun(int32_t count, bool hold, bool near) {
  using V = sVec4;
  const uint32_t n = static_cast<uint32_t>(count);
  if (m_ModeFlags & kModeModulation) {
    sInt4 modRead = sInt4::Set(m_ReadIndex[0] & kDelayMask, m_ReadIndex[1] & kDelayMask, m_ReadIndex[2] & kDelayMask,
                               m_ReadIndex[3] & kDelayMask);
    const sInt4 mask = sInt4::Fill(kDelayMask), one = sInt4::Fill(1);
    const V increment = V::Load(m_ModIncrement);
    V frac = V::Load(m_ReadFrac);
    for (uint32_t k = 0; k < n; ++k) {
      const V s = frac + increment;
      sInt4 step;
      frac = s - (near ? FloorNear(s, step) : Floor(s, step));
      modRead = ((modRead + step) & mask) + one;
    }
    frac.Store(m_ReadFrac);
    m_ReadIndex[0] = modRead.Lane<0>() & kDelayMask, m_ReadIndex[1] = modRead.Lane<1>() & kDelayMask;
    m_ReadIndex[2] = modRead.Lane<2>() & kDelayMask, m_ReadIndex[3] = modRead.Lane<3>() & kDelayMask;
  } else {
    for (uint32_t& read : m_ReadIndex) read = (read + n) & kDelayMask;
  }
  const uint32_t write = (m_WriteIndex[0] + n) & kDelayMask;
  for (uint32_t& w : m_WriteIndex) w = write;
  if (m_ModeFlags & kModeFeedback) {
    // The glide settles on a fixed point; once there, further frames change nothing.
    const V target = V::Load(hold ? m_HoldDampTarget : m_DampTarget);
    V coef = V::Load(m_DampCoef);
    alignas(16) float before[kNumLines], after[kNumLines];
    for (uint32_t k = 0; k < n; ++k) {
      coef.Store(before);
      Glide(target, coef);
      coef.Store(after);
      if (std::equal(before, before + kNumLines, after)) break;
    }
    coef.Store(m_DampCoef);
  }
}

}  // namespace nimbo
