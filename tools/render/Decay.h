// When a render may stop: the tail rule.
#pragma once

#include <cstdint>
#include <vector>

namespace nimborender {

constexpr double kQuietLevelDb = -90.0;  // dBFS below which the tail counts as silent
constexpr double kQuietSeconds = 0.25;   // how long it must stay silent after the input

// Decides how many frames a render keeps: all of the input, then the tail
// until the output has stayed quiet for `quietFrames` since the last loud
// frame (counted from the end of the input at the earliest), and never more
// than `capFrames` after the input.
class cTailEnd {
 public:
  cTailEnd(int64_t inputFrames, int64_t quietFrames, int64_t capFrames, double quietLevelDb = kQuietLevelDb);

  // Looks at the next rendered block (frames from `start` on, both channels)
  // and returns how many of its frames belong to the output.
  int64_t Feed(const float* left, const float* right, int64_t start, int64_t frames);
  // No frame from `rendered` on belongs to the output.
  bool Done(int64_t rendered) const { return rendered >= End(); }
  int64_t End() const;

 private:
  int64_t m_InputFrames;
  int64_t m_QuietFrames;
  int64_t m_CapFrames;
  float m_Threshold;
  int64_t m_LastLoud = -1;
};

// How far an analysis response goes past the tail rule: on until the decay
// reaches the float noise floor (150 dB below its peak, where single-precision
// audio holds only rounding) or stops falling because it met the effect's own
// noise, and a little further, so that the analysis sees the noise it
// separates from the decay. A response cut at -90 dBFS leaves the decay
// ranges of a tail that starts far below its peak uncovered.
class cFloorEnd {
 public:
  explicit cFloorEnd(double sampleRate);
  void Feed(const float* left, const float* right, int64_t frames);
  bool Done() const { return m_Remaining == 0; }

 private:
  void CloseWindow();

  int64_t m_WindowFrames;
  int64_t m_InWindow = 0;
  double m_WindowEnergy = 0.0;
  float m_WindowPeak = 0.0f;
  float m_Peak = 0.0f;
  std::vector<double> m_Windows;  // energy per window
  int64_t m_Frames = 0;
  int64_t m_Remaining = -1;       // frames still wanted once the end is found; -1 before
};

}  // namespace nimborender
