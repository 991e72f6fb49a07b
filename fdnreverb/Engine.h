// The reverb engine: four delay lines in a feedback network. It knows nothing
// of the host: it reads a plain copy of the program values, the sample rate
// and the two switches, and runs on the audio thread only (Open and Close
// excepted, which the host's dispatcher calls while no audio runs).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "Program.h"

namespace nimbo {

constexpr int32_t kDelayBufferSize = 65536;
constexpr uint32_t kDelayMask = 65535;
constexpr float kMaxDelaySamples = 65535.0f;

// Hosts built with other compilers may call a 32-bit Windows DLL with a stack
// aligned to 4 bytes only; the entries that run vector code realign it.
#if defined(_WIN32) && defined(__i386__) && defined(__GNUC__)
#define NIMBO_ALIGNED_ENTRY __attribute__((force_align_arg_pointer))
#else
#define NIMBO_ALIGNED_ENTRY
#endif

// m_ModeFlags
constexpr uint32_t kModeModulation = 1;
constexpr uint32_t kModeSaturation = 2;
constexpr uint32_t kModeFeedback = 4;

// What a change leaves stale; UpdateCoefficients recomputes only these.
constexpr uint32_t kStaleLengths = 1;     // base delay, line ratios, sample rate
constexpr uint32_t kStaleModulation = 2;  // depth, period, spread, line ratios, sample rate
constexpr uint32_t kStaleMatrix = 4;      // plane, rotations
constexpr uint32_t kStaleDecay = 8;       // halflife, damping, line ratios
constexpr uint32_t kStaleMix = 16;        // inverter, drive, input and output pairs, dry, wet
constexpr uint32_t kStaleHighpass = 32;   // base delay, sample rate
constexpr uint32_t kStaleSwitch = 64;     // nothing the coefficients read ("Hold", "Dr. Who")
constexpr uint32_t kStaleAll = 127;

class cFDNengine {
 public:
  cFDNengine() = default;
  cFDNengine(const cFDNengine&) = delete;
  cFDNengine& operator=(const cFDNengine&) = delete;

  // Allocates the four lines (zeroed) once; false when memory is short.
  bool Open();
  // Frees the lines; later calls do nothing.
  void Close();
  bool IsReady() const { return m_bReady; }

  // Clears the network; keepTail leaves the delay memory as it is.
  NIMBO_ALIGNED_ENTRY void ResetNetwork(bool keepTail);
  // Derives every coefficient from a plain copy of the program; lengths and
  // modulation only when asked, as they restart the lines' motion.
  NIMBO_ALIGNED_ENTRY void UpdateCoefficients(const sProgram& program, float sampleRate, bool lengthsDirty,
                                              bool modulationDirty);
  // The same for the stale parts only (kStale...), with the same results.
  // Fields of program that no stale part reads are not looked at.
  NIMBO_ALIGNED_ENTRY void UpdateCoefficients(const sProgram& program, float sampleRate, uint32_t stale);
  // Copies what UpdateCoefficients reads for the stale parts, value by value.
  static void CopyStaleFields(sProgram& dst, const sProgram& src, uint32_t stale);
  // A line's delay in samples, and its fractional-delay all-pass coefficient.
  static float LineLength(float fs, float baseDelay, float ratio);
  static float LineAllpassCoef(float length);
  // What one pass through each line does, with the coefficients
  // UpdateCoefficients derives (damping at rest, as without modulation):
  // for callers that have no engine, such as the editor's room display.
  struct sLoop {
    float length[kNumLines];       // samples
    float allpassCoef[kNumLines];  // fractional-delay all-pass (c + z^-1) / (1 + c z^-1)
    float decayGain[kNumLines];    // per pass; 0 without feedback
    float dampCoef[kNumLines];     // damping low-pass y += (x - y) k
    float highpassCoef;            // DC high-pass (q - h)(1 - c), h += (q - h) c
    float invertCoef;              // feedback inverter, an all-pass as above
    bool feedback;                 // Halflife and Damping both on
  };
  static void LoopCoefficients(const sProgram& program, float sampleRate, sLoop& out);
  // Frames until a full-scale input has died away below -100 dBFS in normal
  // mode, for a program's values and ratios; a bound, not a measurement.
  static double TailFrames(const sPlainValues& values, const float (&ratio)[kNumLines], float sampleRate);
  // [control] Renders the impulse response of a 0 dBFS impulse on both inputs
  // in an engine of its own (allocating 1 MiB), at eight phases of the
  // modulation, and returns how many frames the longest takes to stay below
  // -100 dBFS; -1 when one has not within limit frames.
  static int64_t MeasureTailFrames(const sProgram& program, float sampleRate, int64_t limit);

  // Renders frames; hold freezes the tail and drops input and dry signal.
  // Inputs and outputs may be the same buffers.
  NIMBO_ALIGNED_ENTRY void Process(const float* inL, const float* inR, float* outL, float* outR, int32_t frames,
                                   bool hold);

  // Resting: what the network could still send to the outputs (the largest
  // sample its lines will read or its filters hold, times the largest output
  // gain, at least 1), and how many samples back the lines may read.
  float NetworkLevel(uint32_t& reach) const;
  // Clears the signal, not the clock: positions, oscillator and damping glide run on.
  void ClearSignal();
  // Advances the clock by frames exactly as Process would, computing no
  // signal: a network that holds silence, at a small part of the cost.
  NIMBO_ALIGNED_ENTRY void Rest(int32_t frames, bool hold);

 private:
  friend class cEngineProbe;  // white-box tests

  template <bool kMod, bool kNear, bool kSat, bool kFb, bool kHold>
  struct sKernel;
  using KernelFn = void (*)(cFDNengine&, const float*, const float*, float*, float*, int32_t, int32_t);
  template <size_t... I>
  static constexpr std::array<KernelFn, sizeof...(I)> MakeKernels(std::index_sequence<I...>);
  static const std::array<KernelFn, 32> kKernels;

  // The control-rate loop both Process and Rest run: run(first, count, near) between boundaries.
  template <class F>
  void ControlLoop(int32_t frames, F&& run);
  void RestRun(int32_t count, bool hold, bool near);

  void ComputeDelayLengths(float fs, float baseDelay, const float (&ratio)[kNumLines]);
  void ComputeFeedbackMatrix(int32_t plane, float rot1, float rot2);
  void UpdateModulation();

  // Network core. Each line has one guard sample after its end that mirrors
  // its first, so an interpolating read never masks its second index.
  std::unique_ptr<float[]> m_DelayBuffer[kNumLines];
  uint32_t m_WriteIndex[kNumLines] = {};
  uint32_t m_ReadIndex[kNumLines] = {};  // masked on use
  uint32_t m_DelaySamples[kNumLines] = {};
  alignas(16) float m_DelayLength[kNumLines] = {};
  alignas(16) float m_Presence[kNumLines] = {};
  alignas(16) float m_LineAllpassCoef[kNumLines] = {};
  alignas(16) float m_LineAllpassState[kNumLines] = {};
  alignas(16) float m_InvertState[kNumLines] = {};
  alignas(16) float m_FeedbackMatrix[kNumLines][kNumLines] = {};  // [destination][source]
  alignas(16) float m_FeedbackColumn[kNumLines][kNumLines] = {};  // [source][destination], as the kernels load it
  float m_InvertCoef = 0.0f;

  // Modulation.
  alignas(16) float m_ReadFrac[kNumLines] = {};
  alignas(16) float m_ModIncrement[kNumLines] = {};
  alignas(16) float m_ModDepth[kNumLines] = {};
  float m_ModSpread = 0.0f;
  float m_LfoPhase = 0.0f;      // radians
  float m_LfoIncrement = 0.0f;  // radians per sample
  uint32_t m_ControlPeriod = 0;
  uint32_t m_ControlCountdown = 0;  // 0 forces a modulation update
  const float kModCompensationRef = 0.45f;

  // Saturation, damping, decay, DC high-pass.
  alignas(16) float m_SatPreState[kNumLines] = {};
  alignas(16) float m_SatPostState[kNumLines] = {};
  alignas(16) float m_DecayGain[kNumLines] = {};
  alignas(16) float m_DampRatio[kNumLines] = {};
  alignas(16) float m_DampTarget[kNumLines] = {};
  alignas(16) float m_HoldDampTarget[kNumLines] = {};
  alignas(16) float m_DampCoef[kNumLines] = {};
  alignas(16) float m_DampState[kNumLines] = {};
  alignas(16) float m_HighpassCoef[kNumLines] = {};
  alignas(16) float m_HighpassState[kNumLines] = {};
  float m_Drive = 0.0f;
  float m_InvDrive = 0.0f;

  // Mixing: [0] left, [1] right, per line.
  alignas(16) float m_InGain[2][kNumLines] = {};
  alignas(16) float m_OutGain[2][kNumLines] = {};
  alignas(16) float m_HoldOutGain[2][kNumLines] = {};
  float m_DryGain = 0.0f;

  uint32_t m_ModeFlags = 0;
  bool m_bReady = false;
  bool m_bClosed = false;
};

}  // namespace nimbo
