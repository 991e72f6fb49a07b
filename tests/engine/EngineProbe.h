// White-box access to the engine, and a small rig that drives it the way the
// effect does: open, reset, coefficient update, blocks of audio.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "Engine.h"
#include "Program.h"

using namespace nimbo;

namespace nimbo {

class cEngineProbe {
 public:
  explicit cEngineProbe(const cFDNengine& engine) : e(engine) {}
  float Matrix(int i, int j) const { return e.m_FeedbackMatrix[i][j]; }
  float DelayLength(int i) const { return e.m_DelayLength[i]; }
  uint32_t DelaySamples(int i) const { return e.m_DelaySamples[i]; }
  float Presence(int i) const { return e.m_Presence[i]; }
  float AllpassCoef(int i) const { return e.m_LineAllpassCoef[i]; }
  float DecayGain(int i) const { return e.m_DecayGain[i]; }
  float DampRatio(int i) const { return e.m_DampRatio[i]; }
  float DampCoef(int i) const { return e.m_DampCoef[i]; }
  float InvertCoef() const { return e.m_InvertCoef; }
  float OutGain(int channel, int i) const { return e.m_OutGain[channel][i]; }
  float HoldOutGain(int channel, int i) const { return e.m_HoldOutGain[channel][i]; }
  uint32_t ControlPeriod() const { return e.m_ControlPeriod; }
  uint32_t ControlCountdown() const { return e.m_ControlCountdown; }
  uint32_t ModeFlags() const { return e.m_ModeFlags; }
  float LfoPhase() const { return e.m_LfoPhase; }
  // The delay the modulation update sees: write position less read position.
  float CurrentDelay(int i) const {
    return static_cast<float>((65536u + e.m_WriteIndex[i] - e.m_ReadIndex[i]) & kDelayMask) - e.m_ReadFrac[i];
  }

  // Every float the network carries from one sample to the next, and every
  // index and count it converts from floats, is finite and in range.
  bool StateIsSane() const {
    for (int i = 0; i < kNumLines; ++i) {
      for (float x : {e.m_LineAllpassState[i], e.m_InvertState[i], e.m_DampState[i], e.m_HighpassState[i],
                      e.m_SatPreState[i], e.m_SatPostState[i], e.m_DampCoef[i], e.m_ReadFrac[i],
                      e.m_ModIncrement[i], e.m_Presence[i], e.m_DampTarget[i], e.m_HoldDampTarget[i]})
        if (!std::isfinite(x)) return false;
      for (int k = 0; k < kDelayBufferSize; ++k)
        if (!std::isfinite(e.m_DelayBuffer[i][k])) return false;
      if (e.m_DelaySamples[i] < 1 || e.m_DelaySamples[i] > 65535) return false;
      if (e.m_ReadFrac[i] < 0.0f || e.m_ReadFrac[i] >= 1.0f) return false;
    }
    return std::isfinite(e.m_LfoPhase) && e.m_ControlPeriod >= 1 && e.m_ControlPeriod <= 1024;
  }

 private:
  const cFDNengine& e;
};
}  // namespace nimbo

inline sProgram MakeProgram(int preset) {
  sProgram p;
  BuildProgram(p, preset < kNumFactoryPresets ? kFactoryPresets[preset] : kInitProgram);
  return p;
}

inline std::vector<float> Noise(size_t frames, float level, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-level, level);
  std::vector<float> v(frames);
  for (float& x : v) x = dist(rng);
  return v;
}

struct sEngineRig {
  cFDNengine engine;
  sProgram program;
  float fs;

  explicit sEngineRig(const sProgram& p, float sampleRate = 48000.0f) : program(p), fs(sampleRate) {
    engine.Open();
    engine.ResetNetwork(false);
    Update();
  }
  void Update(bool lengths = true, bool modulation = true) {
    DeriveGeometry(program);
    DeriveInputPairs(program);
    DeriveOutputPairs(program);
    engine.UpdateCoefficients(program, fs, lengths, modulation);
  }
  cEngineProbe Probe() const { return cEngineProbe(engine); }
  // Renders in, in blocks; returns the left and right outputs.
  void Run(const std::vector<float>& inL, const std::vector<float>& inR, std::vector<float>& outL,
           std::vector<float>& outR, int32_t block = 512, bool hold = false) {
    outL.assign(inL.size(), 0.0f);
    outR.assign(inL.size(), 0.0f);
    for (size_t pos = 0; pos < inL.size(); pos += static_cast<size_t>(block)) {
      const int32_t n = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(block), inL.size() - pos));
      engine.Process(&inL[pos], &inR[pos], &outL[pos], &outR[pos], n, hold);
    }
  }
};
