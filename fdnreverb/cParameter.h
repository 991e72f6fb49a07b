// A host parameter as its table row describes it (names, group, unit, value
// curve, display texts), with the value hosts read and the texts shown for it.
// The conversions depend on the row alone; the plain value the engine reads
// is kept by the core, by ID.
#pragma once

#include <cstdint>

namespace nimbo {

// Curve kinds; 0, 1, 8 and 9 are accepted but map everything to 0.
enum : int32_t {
  kCurveInteger = 2,         // floor(scale*n + offset): equal buckets per integer
  kCurveLinear = 3,          // scale*n + offset
  kCurveLog = 4,             // 2^(scale*n + offset): geometric between the bounds
  kCurveSquare = 5,          // offset + scale*n^2
  kCurveInverseSquare = 6,   // offset + scale*(1 - (1-n)^2)
  kCurveSmoothstep = 7,      // offset + scale*(3n^2 - 2n^3)
};

constexpr int kDisplayTextSize = 9;  // value text: 8 characters and NUL
constexpr int kLabelTextSize = 10;   // unit text: 9 characters and NUL
constexpr int kValueTextSize = kDisplayTextSize + kLabelTextSize;  // "value unit", as one text

// The normalized value just above "off" where 0 means "off": a normal float,
// which no host or processor flushes to zero, and the plain value of every
// such curve there is above "off" too.
constexpr float kJustAboveOff = 1e-6f;

class cParameter {
 public:
  // Set-up, once, during the effect's construction.
  void SetRange(int32_t kind, float min, float max);

  // [any thread] n within [0, 1]: curve and bounds.
  void SetNormalized(float n);
  // The same with the plain value already computed: plain == NormalizedToPlain(n).
  void SetNormalized(float n, float plain);
  // Plain value of a normalized one (n within [0, 1]): curve and bounds, as SetNormalized.
  float NormalizedToPlain(float n) const;
  // Normalized value of a plain value, within [0, 1].
  float PlainToNormalized(float v) const;
  // [control] takes a stored plain value as it is (outside the bounds too);
  // the normalized value follows, clamped.
  void Sync(float v);
  // How a program stores plain value v: named values as whole numbers
  // (truncated; NaN gives 0).
  float Stored(float v) const;

  // The normalized value that sets plain value v: PlainToNormalized, except
  // that a value other than "off" gets at least kJustAboveOff.
  float NormalizedFor(float v) const;
  // A plain value as the parameter can hold it: within the bounds, integers
  // rounded to the nearest, 0 kept where it means "off". NaN gives NaN.
  float BoundPlain(float v) const;
  // [any thread] sets a plain value (bounded as above; NaN is ignored).
  void SetPlain(float v);
  // Puts back a saved pair as it was, plain value unbounded, like Sync.
  void Restore(float v, float n);

  // [any thread] the texts of any plain value, built as GetDisplay/GetLabel
  // build those of the current one; the cached texts are not touched.
  void FormatValue(float v, char (&display)[kDisplayTextSize], char (&label)[kLabelTextSize]) const;
  // The value text and the unit as one Windows-1252 text, padding trimmed: "25.000 ms".
  void ComposeText(float v, char (&text)[kValueTextSize]) const;
  // [any thread] a value as people type it, in Windows-1252: a number, optionally
  // with the unit, an SI prefix where the display uses them ("25ms", "25 ms",
  // "0,025 s"), a named value or "off". The result is bounded; false when
  // the text is not understood. Where 0 means "off", only the word does: a
  // number gives at least the value at kJustAboveOff, as the display, which
  // shows "off" for 0, shows numbers for everything else.
  bool ParseText(const char* text, float& plain) const;

  // [any thread] what getParameter answers.
  float Normalized() const;
  float Value() const;

  // [dispatcher] texts for the host, Windows-1252; null buffers are ignored.
  void GetName(char* text) const;
  void GetDisplay(char* text);
  void GetLabel(char* text);

  // A switch: two whole values, off and on.
  bool IsSwitch() const { return curve == kCurveInteger && minValue == 0.0f && maxValue == 1.0f; }

  int32_t curve = kCurveLinear;
  bool siPrefix = false;
  bool zeroIsOff = false;  // plain 0 means "off", bypassing curve and bounds
  float scale = 1.0f;
  float offset = 0.0f;
  float minValue = 0.0f;
  float maxValue = 0.0f;
  float value = 0.0f;       // shared: use Value()
  float normalized = 0.0f;  // shared: use Normalized()
  const char* shortName = "";
  const char* unit = "";
  const char* longName = "";
  int32_t group = 0;
  const char* groupName = "";
  int32_t indexInGroup = 0;
  int32_t groupSize = 0;
  const char* format = "";  // printf format taking one double
  bool displayDirty = false;
  char displayText[kDisplayTextSize] = {};
  char labelText[kLabelTextSize] = {};
  const char* const* enumNames = nullptr;

 private:
  void SetValue(float v);
  void RebuildDisplay();
};

}  // namespace nimbo
