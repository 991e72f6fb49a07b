// The energy decay of one response (squared band signal, from its onset):
// where it meets the noise, its decay curve, decay times and energy ratios.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "Measure.h"

namespace nimboanalysis {

// Lundeby's iteration: where the late decay meets the background noise, and
// the energy the decay would still have had beyond that point.
struct sNoiseCut {
  bool bDecays = false;       // a decay rises at least 10 dB above the noise
  size_t end = 0;             // samples used, from the onset
  double compensation = 0.0;  // energy after `end`, from the late decay slope
  double lateRatio = 0.0;     // that decay's energy ratio from one sample to the next
  double noiseDb = 0.0;       // background noise, dB re the loudest 10 ms; never below -150
  double noiseEnergy = 0.0;   // the same as energy per sample
};
sNoiseCut FindNoiseCut(std::span<const double> energy, double sampleRate);

// Energy remaining after each moment: backward integration of the energy
// less the noise up to the cut, plus the compensation. `earlier` is energy
// that arrived before the onset: it counts in the total, as gone by the onset.
class cDecayCurve {
 public:
  cDecayCurve(std::span<const double> energy, const sNoiseCut& cut, double earlier = 0.0);

  double Total() const { return Remaining(0) + m_Earlier; }
  double Remaining(size_t sample) const;  // beyond the cut it follows the late decay
  double Db(size_t sample) const;         // re Total(), -inf where nothing remains
  size_t End() const { return m_Remaining.size(); }
  double EndDb() const;  // the level at the cut: how far down the curve can be trusted

 private:
  std::vector<double> m_Remaining;
  double m_Compensation;
  double m_LateRatio;
  double m_Earlier;
};

// ISO 3382-1 decay times: a least-squares line through the curve between
// `upperDb` and `lowerDb`, extrapolated to 60 dB. The range must end at least
// 10 dB above the curve's end, and the curve must pass through a fifth of it
// at least sample by sample rather than jump.
sMeasure DecayTime(const cDecayCurve& curve, double sampleRate, double upperDb, double lowerDb);

// The energy ratios count time from `lead` samples before the curve's start
// (a band filter's delay, undone).
// Early-to-late ratio in dB with the limit `seconds` after the onset (C50, C80).
sMeasure Clarity(const cDecayCurve& curve, double sampleRate, double seconds, size_t lead = 0);
// Early share of all energy (D50).
sMeasure Definition(const cDecayCurve& curve, double sampleRate, double seconds, size_t lead = 0);
// Centre of gravity of the energy in seconds (Ts). `energy` starts where the
// curve does; `before` holds the `lead` samples ahead of it. Energy earlier
// still counts as arriving at time 0.
sMeasure CentreTime(std::span<const double> energy, std::span<const double> before, const cDecayCurve& curve,
                    double sampleRate);

}  // namespace nimboanalysis
