// Finds parameters by name and the normalized value that makes a parameter
// show what the user asked for. It only uses what any host sees (names, value
// texts, unit labels), so it works for plugins it knows nothing about.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cVstHost.h"

namespace nimborender {

// What a parameter shows at one normalized value.
struct sReading {
  std::string display;            // value text, trimmed, UTF-8
  std::string unit;               // unit label (or the unit written after the number), UTF-8
  std::optional<double> number;   // the value text as a number, as shown
};

// The value text and label as one text for people: "25.00 ms", "room2".
std::string ShownValue(const sReading& reading);

class cParameterFinder {
 public:
  explicit cParameterFinder(nimbohost::cHostedEffect& effect);

  // Short name, else long name; exact before ignoring case. Nothing when unknown.
  std::optional<int32_t> FindParameter(const std::string& name) const;
  const std::string& Name(int32_t index) const { return m_Names[static_cast<size_t>(index)]; }

  // The normalized value at which the parameter shows `value`: a number in the
  // parameter's unit (optionally followed by the unit, with or without an SI
  // prefix) or one of its named values. Leaves the parameter changed; throws
  // cRenderError (kExitValue) when the value is out of range or not understood.
  float FindNormalized(int32_t index, const std::string& value);

  // Whether the parameter shows `value` already, by name or as the same number
  // in the shown unit: then it is best left as it is, since a program may
  // store a value the normalized range cannot reach (a Damping of 5 where the
  // control ends at 1). Reads only, changes nothing.
  bool ShowsAlready(int32_t index, const std::string& value);

  // For a numeric parameter: the lowest and highest value a host can set, as
  // shown. Leaves the parameter changed.
  std::optional<std::pair<sReading, sReading>> SettableRange(int32_t index);
  // Whether `reading` (taken before any probing) lies outside SettableRange.
  bool BeyondSettableRange(int32_t index, const sReading& reading);

  sReading Read(int32_t index);

 private:
  struct sSample {
    float n;
    sReading reading;
    std::optional<double> value;  // in the parameter's base unit
  };
  struct sBucket {
    float lo, hi;         // first and last normalized value showing the level
    bool openLo, openHi;  // nothing numeric lies beyond that edge
  };

  sReading Probe(int32_t index, float n);
  std::optional<double> ValueAt(int32_t index, float n);
  std::vector<sSample> Scan(int32_t index, int32_t points);
  // Scan with the values in the base unit and the edges where numbers start
  // or stop; false when the parameter shows no numbers.
  bool ScanNumbers(int32_t index, std::vector<sSample>& samples);
  std::optional<int32_t> IntegerSteps(int32_t index);

  float FindName(int32_t index, const std::string& text);
  float FindNumber(int32_t index, double wanted, const std::vector<sSample>& samples);
  sBucket LevelBucket(int32_t index, double level, float inside, const std::vector<sSample>& samples);
  float PickInBucket(const sBucket& bucket, double level, double lowest, double highest) const;

  nimbohost::cHostedEffect& m_Effect;
  std::vector<std::string> m_Names;
  std::vector<std::string> m_LongNames;
  std::string m_BaseUnit;  // of the parameter being searched
};

// Numbers equal up to the noise of reading decimal texts.
bool SameValue(double a, double b);

// A typed value as the plugins' own parsers take it: a decimal comma read as
// a point ("2,5" is 2.5).
std::string WithDecimalPoint(const std::string& text);
// `unit` as the shown `base` when it is that unit typed another way: "x" or
// "x base" for "× base", "deg" or "degrees" for "°", any case, any spacing.
std::string AsShownUnit(const std::string& unit, const std::string& base);

}  // namespace nimborender
