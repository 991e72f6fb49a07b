#include "ValueSearch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>

#include "RenderError.h"
#include "RenderText.h"

namespace nimborender {

namespace {

constexpr int32_t kCoarsePoints = 64;   // first look at a parameter, evenly spaced
constexpr int32_t kNamePoints = 256;    // named values of a continuous parameter
constexpr int32_t kMaxIntegerSteps = 4096;
constexpr int kBisections = 48;         // enough to reach float resolution

// The edge where `reached` turns true between `from` (false) and `to` (true):
// the last false and the first true normalized value found.
std::pair<float, float> Boundary(const std::function<bool(float)>& reached, float from, float to) {
  for (int i = 0; i < kBisections; ++i) {
    const float mid = from + (to - from) * 0.5f;
    if (mid == from || mid == to) break;
    if (reached(mid)) {
      to = mid;
    } else {
      from = mid;
    }
  }
  return {from, to};
}

std::string RangeText(const std::string& low, const std::string& high) { return "(" + low + " to " + high + ")"; }

}  // namespace

bool SameValue(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b)) + 1e-300; }

std::string ShownValue(const sReading& reading) {
  return reading.unit.empty() ? reading.display : reading.display + " " + reading.unit;
}

cParameterFinder::cParameterFinder(nimbohost::cHostedEffect& effect) : m_Effect(effect) {
  const int32_t count = effect.Record() ? effect.Record()->numParams : 0;
  for (int32_t i = 0; i < count; ++i) {
    m_Names.push_back(Trim(PluginTextToUtf8(effect.ParameterName(i))));
    // Room for plugins that write past the record.
    alignas(VstParameterProperties) char buffer[sizeof(VstParameterProperties) + 256] = {};
    auto* properties = reinterpret_cast<VstParameterProperties*>(buffer);
    std::string longName;
    if (effect.Dispatch(effGetParameterProperties, i, 0, properties) == 1) {
      longName.assign(properties->label, strnlen(properties->label, sizeof properties->label));
    }
    m_LongNames.push_back(Trim(PluginTextToUtf8(longName)));
  }
}

std::optional<int32_t> cParameterFinder::FindParameter(const std::string& name) const {
  const std::string wanted = Trim(name);
  const auto count = static_cast<int32_t>(m_Names.size());
  for (bool ignoreCase : {false, true}) {
    for (const auto* names : {&m_Names, &m_LongNames}) {
      for (int32_t i = 0; i < count; ++i) {
        const std::string& candidate = (*names)[static_cast<size_t>(i)];
        if (candidate.empty()) continue;
        if (ignoreCase ? EqualsIgnoreCase(candidate, wanted) : candidate == wanted) return i;
      }
    }
  }
  return std::nullopt;
}

sReading cParameterFinder::Read(int32_t index) {
  sReading reading;
  reading.display = Trim(PluginTextToUtf8(m_Effect.ParameterDisplay(index)));
  const std::string label = Trim(PluginTextToUtf8(m_Effect.ParameterLabel(index)));
  if (const auto quantity = ParseQuantity(reading.display)) {
    reading.number = quantity->number;
    reading.unit = quantity->unit.empty() ? label : quantity->unit;
  } else {
    reading.unit = label;
  }
  return reading;
}

sReading cParameterFinder::Probe(int32_t index, float n) {
  m_Effect.SetParameter(index, n);
  return Read(index);
}

std::optional<double> cParameterFinder::ValueAt(int32_t index, float n) {
  const sReading reading = Probe(index, n);
  if (!reading.number) return std::nullopt;
  const auto factor = m_BaseUnit.empty() ? std::optional<double>(1.0) : UnitFactor(reading.unit, m_BaseUnit);
  if (!factor) return std::nullopt;
  return *reading.number * *factor;
}

std::vector<cParameterFinder::sSample> cParameterFinder::Scan(int32_t index, int32_t points) {
  std::vector<sSample> samples;
  for (int32_t k = 0; k <= points; ++k) {
    const float n = static_cast<float>(k) / static_cast<float>(points);
    samples.push_back({n, Probe(index, n), std::nullopt});
  }
  return samples;
}

std::optional<int32_t> cParameterFinder::IntegerSteps(int32_t index) {
  alignas(VstParameterProperties) char buffer[sizeof(VstParameterProperties) + 256] = {};
  auto* properties = reinterpret_cast<VstParameterProperties*>(buffer);
  if (m_Effect.Dispatch(effGetParameterProperties, index, 0, properties) != 1) return std::nullopt;
  if (!(properties->flags & kVstParameterUsesIntegerMinMax)) return std::nullopt;
  const int64_t steps = int64_t{properties->maxInteger} - properties->minInteger + 1;
  if (steps < 2 || steps > kMaxIntegerSteps) return std::nullopt;
  return static_cast<int32_t>(steps);
}

bool cParameterFinder::ScanNumbers(int32_t index, std::vector<sSample>& samples) {
  samples = Scan(index, kCoarsePoints);

  // The base unit is the one every shown unit is a prefixed form of: "s" for "µs", "ms" and "s".
  std::set<std::string> units;
  for (const sSample& s : samples) {
    if (s.reading.number) units.insert(s.reading.unit);
  }
  m_BaseUnit.clear();
  if (!units.empty()) {
    std::string shortest = *std::min_element(units.begin(), units.end(),
                                             [](const auto& a, const auto& b) { return a.size() < b.size(); });
    const bool related = std::all_of(units.begin(), units.end(),
                                     [&](const std::string& u) { return UnitFactor(u, shortest).has_value(); });
    m_BaseUnit = related ? shortest : std::string();
  }
  bool anyNumber = false;
  for (sSample& s : samples) {
    if (!s.reading.number) continue;
    const auto factor = m_BaseUnit.empty() ? std::optional<double>(1.0) : UnitFactor(s.reading.unit, m_BaseUnit);
    if (factor) {
      s.value = *s.reading.number * *factor;
      anyNumber = true;
    }
  }
  if (!anyNumber) return false;

  // Where numbers start or stop between two coarse points ("off" at 0, then
  // 0.10), the extreme shown number lies in between: add it.
  std::vector<sSample> edges;
  for (size_t k = 0; k + 1 < samples.size(); ++k) {
    const sSample& a = samples[k];
    const sSample& b = samples[k + 1];
    if (a.value.has_value() == b.value.has_value()) continue;
    auto numeric = [&](float n) { return ValueAt(index, n).has_value(); };
    const float n = a.value ? Boundary(numeric, b.n, a.n).second : Boundary(numeric, a.n, b.n).second;
    sSample edge{n, Probe(index, n), ValueAt(index, n)};
    edges.push_back(edge);
  }
  samples.insert(samples.end(), edges.begin(), edges.end());
  std::sort(samples.begin(), samples.end(), [](const sSample& a, const sSample& b) { return a.n < b.n; });
  return true;
}

namespace {

template <typename Sample>
std::pair<const Sample*, const Sample*> Extremes(const std::vector<Sample>& samples) {
  const Sample* lowest = nullptr;
  const Sample* highest = nullptr;
  for (const Sample& s : samples) {
    if (!s.value) continue;
    if (!lowest || *s.value < *lowest->value) lowest = &s;
    if (!highest || *s.value > *highest->value) highest = &s;
  }
  return {lowest, highest};
}

// Lower case, no blanks, the multiplication and degree signs spelt in ASCII.
std::string Folded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ' || text[i] == '\t') continue;
    if (text.compare(i, 2, "\xC3\x97") == 0) {
      out += 'x';
      ++i;
    } else if (text.compare(i, 2, "\xC2\xB0") == 0) {
      out += "deg";
      ++i;
    } else {
      out += ToLower(std::string_view(&text[i], 1));
    }
  }
  return out;
}

}  // namespace

std::string WithDecimalPoint(const std::string& text) {
  std::string out = text;
  const size_t comma = out.find(',');
  if (comma != std::string::npos && out.find('.') == std::string::npos && out.find(',', comma + 1) == std::string::npos) {
    out[comma] = '.';
  }
  return out;
}

std::string AsShownUnit(const std::string& unit, const std::string& base) {
  if (unit.empty() || base.empty() || unit == base) return unit;
  const std::string typed = Folded(unit);
  const std::string shown = Folded(base);
  const size_t space = base.find(' ');
  const bool firstWord = space != std::string::npos && typed == Folded(base.substr(0, space));
  const bool degrees = shown == "deg" && (typed == "degree" || typed == "degrees");
  return typed == shown || firstWord || degrees ? base : unit;
}

bool cParameterFinder::ShowsAlready(int32_t index, const std::string& value) {
  const std::string text = WithDecimalPoint(Trim(value));
  const sReading reading = Read(index);
  if (text.empty()) return false;
  if (EqualsIgnoreCase(reading.display, text) || EqualsIgnoreCase(ShownValue(reading), text)) return true;
  const auto quantity = ParseQuantity(text);
  if (!quantity || !reading.number) return false;
  const bool sameUnit = quantity->unit.empty() || AsShownUnit(quantity->unit, reading.unit) == reading.unit;
  return sameUnit && SameValue(quantity->number, *reading.number);
}

std::optional<std::pair<sReading, sReading>> cParameterFinder::SettableRange(int32_t index) {
  std::vector<sSample> samples;
  if (!ScanNumbers(index, samples)) return std::nullopt;
  const auto [lowest, highest] = Extremes(samples);
  return std::make_pair(lowest->reading, highest->reading);
}

bool cParameterFinder::BeyondSettableRange(int32_t index, const sReading& reading) {
  if (!reading.number) return false;
  std::vector<sSample> samples;
  if (!ScanNumbers(index, samples)) return false;
  const auto factor = m_BaseUnit.empty() ? std::optional<double>(1.0) : UnitFactor(reading.unit, m_BaseUnit);
  if (!factor) return false;
  const double value = *reading.number * *factor;
  const auto [lowest, highest] = Extremes(samples);
  return (value < *lowest->value && !SameValue(value, *lowest->value)) ||
         (value > *highest->value && !SameValue(value, *highest->value));
}

float cParameterFinder::FindNormalized(int32_t index, const std::string& value) {
  const std::string& name = Name(index);
  const std::string text = WithDecimalPoint(Trim(value));
  if (text.empty()) throw cRenderError(kExitValue, name + ": no value given");

  std::vector<sSample> samples;
  const bool anyNumber = ScanNumbers(index, samples);
  auto quantity = ParseQuantity(text);
  if (!quantity || !anyNumber) return FindName(index, text);

  double wanted = quantity->number;
  if (!quantity->unit.empty()) {
    const auto factor = UnitFactor(AsShownUnit(quantity->unit, m_BaseUnit), m_BaseUnit);
    if (!factor) {
      throw cRenderError(kExitValue, name + ": unit '" + quantity->unit + "' not understood" +
                                         (m_BaseUnit.empty() ? std::string(" (the value has no unit)")
                                                             : " (the value is in " + m_BaseUnit + ")"));
    }
    wanted *= *factor;
  }
  return FindNumber(index, wanted, samples);
}

float cParameterFinder::FindName(int32_t index, const std::string& text) {
  const std::string& name = Name(index);
  std::vector<std::string> seen;
  auto note = [&seen](const std::string& shown) {
    if (!shown.empty() && std::find(seen.begin(), seen.end(), shown) == seen.end()) seen.push_back(shown);
  };
  auto matches = [&](const sReading& r) { return EqualsIgnoreCase(r.display, text); };

  if (const auto steps = IntegerSteps(index)) {
    // One value per step: the middle of each step's share of 0..1.
    for (int32_t k = 0; k < *steps; ++k) {
      const float n = (static_cast<float>(k) + 0.5f) / static_cast<float>(*steps);
      const sReading r = Probe(index, n);
      if (matches(r)) return n;
      note(r.display);
    }
  }

  const std::vector<sSample> samples = Scan(index, kNamePoints);
  size_t first = samples.size();
  for (size_t k = 0; k < samples.size(); ++k) {
    if (matches(samples[k].reading)) {
      first = k;
      break;
    }
    note(samples[k].reading.display);
  }
  if (first == samples.size()) {
    const bool numeric = std::any_of(samples.begin(), samples.end(), [](const sSample& s) { return s.reading.number.has_value(); });
    std::string message = name + ": value '" + text + "' not understood";
    if (numeric) {
      message += " (expected a number";
      const std::string& unit = samples.back().reading.unit;
      message += unit.empty() ? ")" : " in " + unit + ")";
    } else if (!seen.empty() && seen.size() <= 32) {
      message += " (one of:";
      for (size_t i = 0; i < seen.size(); ++i) message += (i ? ", " : " ") + seen[i];
      message += ")";
    }
    throw cRenderError(kExitValue, message);
  }
  size_t last = first;
  while (last + 1 < samples.size() && matches(samples[last + 1].reading)) ++last;

  // The middle of the stretch that shows the name; a name shown at a single
  // point (an "off" at exactly 0) is taken at that point.
  auto showsName = [&](float n) { return matches(Probe(index, n)); };
  const float lo = first == 0 ? 0.0f : Boundary(showsName, samples[first - 1].n, samples[first].n).second;
  const float hi = last + 1 == samples.size() ? 1.0f : Boundary(showsName, samples[last + 1].n, samples[last].n).second;
  const float middle = lo + (hi - lo) * 0.5f;
  return showsName(middle) ? middle : samples[first].n;
}

cParameterFinder::sBucket cParameterFinder::LevelBucket(int32_t index, double level, float inside,
                                                        const std::vector<sSample>& samples) {
  auto atLevel = [&](float n) {
    const auto v = ValueAt(index, n);
    return v && SameValue(*v, level);
  };
  auto isNumeric = [&](float n) { return ValueAt(index, n).has_value(); };

  // Outwards from `inside`: the first coarse point off the level bounds each edge.
  sBucket bucket{inside, inside, true, true};
  for (auto it = samples.rbegin(); it != samples.rend(); ++it) {
    if (it->n >= inside) continue;
    if (atLevel(it->n)) {
      bucket.lo = it->n;
      continue;
    }
    const auto edge = Boundary(atLevel, it->n, bucket.lo);
    bucket.lo = edge.second;
    bucket.openLo = !isNumeric(edge.first);
    break;
  }
  for (const sSample& s : samples) {
    if (s.n <= inside) continue;
    if (atLevel(s.n)) {
      bucket.hi = s.n;
      continue;
    }
    const auto edge = Boundary(atLevel, s.n, bucket.hi);
    bucket.hi = edge.second;
    bucket.openHi = !isNumeric(edge.first);
    break;
  }
  return bucket;
}

float cParameterFinder::PickInBucket(const sBucket& bucket, double level, double lowest, double highest) const {
  // At the ends of the range the shown text covers values beyond the end;
  // the edge is the value itself (200 % is 200 %, not 199.75 %).
  if (SameValue(level, lowest) || SameValue(level, highest)) {
    if (bucket.openLo) return bucket.lo;
    if (bucket.openHi) return bucket.hi;
  }
  return bucket.lo + (bucket.hi - bucket.lo) * 0.5f;
}

float cParameterFinder::FindNumber(int32_t index, double wanted, const std::vector<sSample>& samples) {
  const std::string& name = Name(index);
  const auto [lowest, highest] = Extremes(samples);
  if ((wanted < *lowest->value && !SameValue(wanted, *lowest->value)) ||
      (wanted > *highest->value && !SameValue(wanted, *highest->value))) {
    char number[64];
    std::snprintf(number, sizeof number, "%g", wanted);
    std::string message = name + ": " + number + (m_BaseUnit.empty() ? "" : " " + m_BaseUnit) + " is out of range " +
                          RangeText(ShownValue(lowest->reading), ShownValue(highest->reading));
    throw cRenderError(kExitValue, message);
  }
  const double low = *lowest->value;
  const double high = *highest->value;

  // A coarse point that already shows the value.
  for (const sSample& s : samples) {
    if (s.value && SameValue(*s.value, wanted)) {
      return PickInBucket(LevelBucket(index, wanted, s.n, samples), wanted, low, high);
    }
  }

  // Two neighbouring coarse points around the value; bisect for where it is reached.
  for (size_t k = 0; k + 1 < samples.size(); ++k) {
    const sSample& a = samples[k];
    const sSample& b = samples[k + 1];
    if (!a.value || !b.value || (*a.value - wanted) * (*b.value - wanted) > 0.0) continue;
    const double direction = *b.value > *a.value ? 1.0 : -1.0;
    auto reached = [&](float n) {
      const auto v = ValueAt(index, n);
      return v && direction * (*v - wanted) >= 0.0;
    };
    const auto [before, after] = Boundary(reached, a.n, b.n);
    const auto below = ValueAt(index, before);
    const auto above = ValueAt(index, after);
    if (!above) return after;
    if (SameValue(*above, wanted)) return PickInBucket(LevelBucket(index, *above, after, samples), *above, low, high);
    if (!below) return after;
    if (SameValue(*below, wanted)) return PickInBucket(LevelBucket(index, *below, before, samples), *below, low, high);
    // Between two shown values: interpolate between the middles of their stretches.
    const float nBelow = PickInBucket(LevelBucket(index, *below, before, samples), *below, low, high);
    const float nAbove = PickInBucket(LevelBucket(index, *above, after, samples), *above, low, high);
    const double t = (wanted - *below) / (*above - *below);
    return static_cast<float>(nBelow + t * (nAbove - nBelow));
  }

  // Not monotonic between the coarse points: the nearest one.
  const sSample* nearest = lowest;
  for (const sSample& s : samples) {
    if (s.value && std::fabs(*s.value - wanted) < std::fabs(*nearest->value - wanted)) nearest = &s;
  }
  return nearest->n;
}

}  // namespace nimborender
