// The reverb engine: four delay lines in a feedback network. It knows nothing
// of the host: it reads a plain copy of the program values, the sample rate
// and the two switches, and runs on the audio thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "Program.h"

constexpr int32_t kDelayBufferSize = 65536;
constexpr uint32_t kDelayMask = 65535;

class cFDNengine {
 public:
  // Allocates the four lines (zeroed) once; false when memory is short.
  bool Open();
  // Frees the lines; later calls do nothing.
  void Close();
  bool IsReady() const { return m_bReady; }

  // Clears the network; keepTail leaves the delay memory as it is.
  void ResetNetwork(bool keepTail);
  // Derives every coefficient from a plain copy of the program.
  void UpdateCoefficients(const sProgram& program, float sampleRate, bool lengthsDirty, bool modulationDirty);
  // Renders frames; hold freezes the tail and drops input and dry signal.
  void Process(const float* inL, const float* inR, float* outL, float* outR, int32_t frames, bool hold);

 private:
  std::unique_ptr<float[]> m_DelayBuffer[kNumLines];
  bool m_bReady = false;
  bool m_bClosed = false;
};
