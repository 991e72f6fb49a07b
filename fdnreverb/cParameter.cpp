#include "cParameter.h"

#include <cmath>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "Atomic.h"
#include "Text.h"

namespace nimbo {
namespace {

// Exponent groups -8..8; only -7..7 is ever looked up. 0xB5 is the micro sign.
constexpr char kSiPrefixes[17] = {'y', 'z', 'a', 'f', 'p', 'n', '\xB5', 'm', '\0',
                                  'k', 'M', 'G', 'T', 'P', 'E', 'Z', 'Y'};
constexpr const char* kMantissaFormats[3] = {"%7.3f", "%7.2f", "%7.1f"};

// Truncation toward zero that stays defined for NaN and out-of-range values.
int32_t TruncToInt(float v) {
  if (!(v > -2147483648.0f)) return v != v ? 0 : INT32_MIN;
  if (v >= 2147483648.0f) return INT32_MAX;
  return static_cast<int32_t>(v);
}

}  // namespace

void cParameter::SetRange(int32_t kind, float min, float max) {
  if (kind > 9) {
    curve = 0;
    StoreShared(displayDirty, true);
    return;
  }
  value = min;
  minValue = min;
  maxValue = max;
  curve = kind;
  normalized = 0.0f;
  StoreShared(displayDirty, true);
  const long double lo = min, hi = max;
  switch (kind) {
    case kCurveInteger:
      scale = static_cast<float>(std::floor(hi - lo + 1.0L));
      offset = static_cast<float>(std::floor(lo));
      break;
    case kCurveLog:
      scale = static_cast<float>(std::log2(hi) - std::log2(lo));
      offset = static_cast<float>(std::log2(lo));
      break;
    case kCurveLinear:
    case kCurveSquare:
    case kCurveInverseSquare:
    case kCurveSmoothstep:
      scale = static_cast<float>(hi - lo);
      offset = min;
      break;
    default:
      break;
  }
}

float cParameter::Normalized() const { return LoadShared(normalized); }
float cParameter::Value() const { return LoadShared(value); }

float cParameter::NormalizedToPlain(float n) const {
  if (n == 0.0f && zeroIsOff) return 0.0f;
  const long double x = n, s = scale, o = offset;
  long double plain = 0.0L;
  switch (curve) {
    case kCurveInteger: plain = std::floor(s * x + o); break;
    case kCurveLinear: plain = s * x + o; break;
    case kCurveLog: plain = std::exp2(s * x + o); break;
    case kCurveSquare: plain = o + s * x * x; break;
    case kCurveInverseSquare: plain = o + s * (1.0L - (1.0L - x) * (1.0L - x)); break;
    case kCurveSmoothstep: plain = o + s * (3.0L * x * x - 2.0L * x * x * x); break;
    default: break;
  }
  float p = static_cast<float>(plain);
  if (p < minValue) p = minValue;
  if (p > maxValue) p = maxValue;
  return p;
}

void cParameter::SetNormalized(float n) { SetNormalized(n, NormalizedToPlain(n)); }

void cParameter::SetNormalized(float n, float p) {
  StoreShared(value, p);
  StoreShared(normalized, curve == kCurveInteger ? PlainToNormalized(p) : n);
  StoreShared(displayDirty, true);
}

float cParameter::PlainToNormalized(float v) const {
  if (v == 0.0f && zeroIsOff) return 0.0f;
  const long double s = scale, o = offset;
  const long double x = (static_cast<long double>(v) - o) / s;
  long double r = 0.0L;
  switch (curve) {
    case kCurveInteger: r = (v + 0.5L - o) / s; break;
    case kCurveLinear: r = x; break;
    case kCurveLog: r = (std::log2(static_cast<long double>(v)) - o) / s; break;
    case kCurveSquare: r = x >= 1.0L ? 1.0L : x <= 0.0L ? 0.0L : std::sqrt(x); break;
    case kCurveInverseSquare: r = x >= 1.0L ? 1.0L : x <= 0.0L ? 0.0L : 1.0L - std::sqrt(1.0L - x); break;
    case kCurveSmoothstep:
      // Inverse of 3n^2 - 2n^3; the factor is one third in single precision.
      r = x >= 1.0L ? 1.0L : x <= 0.0L ? 0.0L : 0.5L + std::sin(std::asin(2.0L * x - 1.0L) * 0.33333334f);
      break;
    default: break;
  }
  if (r != r) return 1.0f;
  if (r < 0.0L) return 0.0f;
  if (r > 1.0L) return 1.0f;
  return static_cast<float>(r);
}

void cParameter::Sync(float v) {
  SetValue(v);
  StoreShared(displayDirty, true);
}

float cParameter::Stored(float v) const { return curve == kCurveInteger ? static_cast<float>(TruncToInt(v)) : v; }

void cParameter::SetValue(float v) {
  StoreShared(value, v);
  StoreShared(normalized, PlainToNormalized(v));
}

void cParameter::GetName(char* text) const {
  if (text) std::strcpy(text, shortName);
}

void cParameter::GetDisplay(char* text) {
  if (!text) return;
  if (LoadShared(displayDirty)) RebuildDisplay();
  char copy[kDisplayTextSize];
  LoadSharedText(copy, displayText, sizeof copy);
  copy[sizeof copy - 1] = '\0';
  std::strcpy(text, copy);
}

void cParameter::GetLabel(char* text) {
  if (!text) return;
  if (LoadShared(displayDirty)) RebuildDisplay();
  char copy[kLabelTextSize];
  LoadSharedText(copy, labelText, sizeof copy);
  copy[sizeof copy - 1] = '\0';
  std::strcpy(text, copy);
}

void cParameter::RebuildDisplay() {
  // Clear the flag before reading the value, so a change racing with this
  // rebuild is still shown at the next request.
  StoreShared(displayDirty, false);
  char display[kDisplayTextSize];
  char label[kLabelTextSize];
  FormatValue(Value(), display, label);
  StoreSharedText(displayText, display, sizeof display);
  StoreSharedText(labelText, label, sizeof label);
}

void cParameter::FormatValue(float v, char (&display)[kDisplayTextSize], char (&label)[kLabelTextSize]) const {
  std::memset(display, 0, sizeof display);
  std::memset(label, 0, sizeof label);
  if (enumNames && curve == kCurveInteger) {
    const float k = v - offset;
    if (k > -1.0f && k < scale) {
      // An 8-character name fills the field; the ninth byte stays zero.
      CopyPadded(display, enumNames[TruncToInt(k)], 8);
    } else {
      CopyTerminated(display, "n/a", sizeof display);
    }
    CopyPadded(label, unit, 8);
  } else if (zeroIsOff && (v == 0.0f || v != v)) {
    CopyTerminated(display, "off", sizeof display);
  } else if (!siPrefix) {
    std::snprintf(display, sizeof display, format, static_cast<double>(v));
    CopyTerminated(label, unit, sizeof label);
  } else {
    // Decimal exponent over three, nudged up so 0.99655 of a unit already takes the next prefix.
    const long double l = std::log2(static_cast<long double>(v)) * 0.10034334f + 0.0005f;
    const float e = static_cast<float>(std::floor(l));
    if (!(e >= -7.0f && e <= 7.0f)) {
      CopyTerminated(display, "---", sizeof display);
      CopyTerminated(label, unit, sizeof label);
    } else {
      const int exponent = static_cast<int>(e);
      const double mantissa = std::pow(10.0, -3.0 * exponent) * static_cast<double>(v);
      int idx = static_cast<int>((l - exponent) * 3.0L);
      idx = idx < 0 ? 0 : idx > 2 ? 2 : idx;
      std::snprintf(display, sizeof display, kMantissaFormats[idx], mantissa);
      const char prefix = kSiPrefixes[exponent + 8];
      if (prefix != '\0') {
        std::snprintf(label, sizeof label, "%c%s", prefix, unit);
      } else {
        CopyTerminated(label, unit, sizeof label);
      }
    }
  }
}

void cParameter::ComposeText(float v, char (&text)[kValueTextSize]) const {
  char display[kDisplayTextSize];
  char label[kLabelTextSize];
  FormatValue(v, display, label);
  const char* begin = display;
  while (*begin == ' ') ++begin;
  size_t length = std::strlen(begin);
  while (length > 0 && begin[length - 1] == ' ') --length;
  std::memcpy(text, begin, length);
  if (label[0] != '\0') {
    text[length++] = ' ';
    const size_t labelLength = std::strlen(label);
    std::memcpy(text + length, label, labelLength);
    length += labelLength;
  }
  text[length] = '\0';
}

// ---- plain values ---------------------------------------------------------------

float cParameter::BoundPlain(float v) const {
  if (v != v) return v;
  if (zeroIsOff && v <= 0.0f) return 0.0f;
  if (curve == kCurveInteger) v = std::floor(v + 0.5f);
  return v < minValue ? minValue : v > maxValue ? maxValue : v;
}

float cParameter::NormalizedFor(float v) const {
  const float n = PlainToNormalized(v);
  return zeroIsOff && v != 0.0f && n < kJustAboveOff ? kJustAboveOff : n;
}

void cParameter::Restore(float v, float n) {
  StoreShared(value, v);
  StoreShared(normalized, n);
  StoreShared(displayDirty, true);
}

void cParameter::SetPlain(float v) {
  const float p = BoundPlain(v);
  if (p != p) return;
  SetValue(p);
  StoreShared(displayDirty, true);
}

// ---- parsing --------------------------------------------------------------------

namespace {

// A unit or an answer as compared: lower case, no spaces, the degree and
// multiplication signs spelt the ASCII way.
std::string Folded(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ') continue;
    if (c == '\xB0') out += "deg";
    else if (c == '\xD7') out += 'x';
    else out += AsciiLower(c);
  }
  return out;
}

// The unit itself, or its first word alone ("x" for "x base"), or "degrees" for degrees.
bool IsUnit(std::string_view text, const char* unit) {
  const std::string t = Folded(text), u = Folded(unit);
  if (t == u) return true;
  const std::string_view full(unit);
  const size_t space = full.find(' ');
  if (space != std::string_view::npos && t == Folded(full.substr(0, space))) return true;
  return u == "deg" && (t == "degree" || t == "degrees");
}

int PrefixExponent(char c) {
  constexpr std::string_view kPrefixes = "yzafpnum kMGTPEZY";  // 'u' and 0xB5 both stand for micro
  if (c == '\xB5') c = 'u';
  const size_t at = kPrefixes.find(c);
  return at == std::string_view::npos || c == ' ' ? 0 : 3 * (static_cast<int>(at) - 8);
}

}  // namespace

bool cParameter::ParseText(const char* text, float& plain) const {
  if (!text) return false;
  const std::string_view t = Trimmed(text);
  if (t.empty()) return false;
  if (enumNames && curve == kCurveInteger) {
    for (int32_t k = 0; k < static_cast<int32_t>(scale); ++k)
      if (Folded(t) == Folded(enumNames[k])) {
        plain = offset + static_cast<float>(k);
        return true;
      }
  }
  if (zeroIsOff && Folded(t) == "off") {
    plain = 0.0f;
    return true;
  }

  // Locale-independent number; a decimal comma is taken as a point.
  std::string number(t);
  if (number.find('.') == std::string::npos) {
    const size_t comma = number.find(',');
    if (comma != std::string::npos) number[comma] = '.';
  }
  const char* first = number.c_str();
  if (*first == '+') ++first;
  double x = 0.0;
  const auto [end, error] = std::from_chars(first, number.c_str() + number.size(), x);
  if (error != std::errc() || !std::isfinite(x)) return false;

  const std::string_view rest = Trimmed(std::string_view(end));
  if (!rest.empty() && !IsUnit(rest, unit)) {
    const int exponent = siPrefix ? PrefixExponent(rest.front()) : 0;
    const std::string_view afterPrefix = Trimmed(rest.substr(1));
    if (exponent == 0 || !(afterPrefix.empty() || IsUnit(afterPrefix, unit))) return false;
    x *= std::pow(10.0, exponent);
  }
  float bounded = BoundPlain(static_cast<float>(x));
  if (bounded != bounded) return false;
  if (zeroIsOff && bounded == 0.0f) bounded = NormalizedToPlain(kJustAboveOff);
  plain = bounded;
  return true;
}

}  // namespace nimbo
