// The host-value adapter: one set of rules for the values, texts and tail
// that CLAP, VST3 and LV2 hosts send and ask for.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "../nimbolib/Text.h"
#include "cReverbCore.h"

namespace nimbo {

namespace {

bool SwitchOn(double value, bool plain) { return plain ? value > 0.0 : value >= 0.5; }

}  // namespace

bool cReverbCore::TakesPlain(int32_t id, eHostScale scale) const {
  return scale == eHostScale::kPlain || (scale == eHostScale::kPlainIfStepped && IsStepped(id));
}

float cReverbCore::WidePlain(int32_t id, double plain) const {
  const cParameter& p = Parameter(id);
  if (p.IsSwitch()) return plain > 0.0 ? 1.0f : 0.0f;
  auto v = static_cast<float>(std::clamp(plain, -double{FLT_MAX}, double{FLT_MAX}));
  if (p.zeroIsOff && v <= 0.0f) return 0.0f;
  if (p.curve == kCurveInteger) v = std::floor(v + 0.5f);
  return std::clamp(v, m_StateLow[id], m_StateHigh[id]);
}

double cReverbCore::HostValue(int32_t id, eHostScale scale) const {
  if (id == kBypassId) return Bypassed() ? 1.0 : 0.0;
  if (!IsParameter(id)) return 0.0;
  return TakesPlain(id, scale) ? Plain(id) : Normalized(id);
}

bool cReverbCore::SetHostValue(int32_t id, double value, eHostScale scale) {
  if (!IsHostValue(id) || value != value) return false;
  const bool plain = TakesPlain(id, scale);
  if (id == kBypassId) {
    const bool on = SwitchOn(value, plain);
    if (on == Bypassed()) return false;
    SetBypass(on);
    return true;
  }
  cParameter& p = m_Parameters[static_cast<size_t>(id)];
  if (plain) {
    const float v = WidePlain(id, value);
    if (v == p.Value()) return false;
    // Beyond the descriptor's bounds too, as loading a program sets it.
    p.Restore(v, p.PlainToNormalized(v));
  } else {
    const auto n = static_cast<float>(std::clamp(value, 0.0, 1.0));
    if (n == p.Normalized()) return false;
    const float v = p.NormalizedToPlain(n);
    if (v == p.Value()) return false;
    p.SetNormalized(n, v);
  }
  OnParameterChanged(id);
  return true;
}

float cReverbCore::HostPlain(int32_t id, double value, eHostScale scale) const {
  if (id == kBypassId) return (value != value ? Bypassed() : SwitchOn(value, TakesPlain(id, scale))) ? 1.0f : 0.0f;
  if (!IsParameter(id)) return 0.0f;
  const cParameter& p = Parameter(id);
  if (value != value) return p.Value();
  if (TakesPlain(id, scale)) return WidePlain(id, value);
  const auto n = static_cast<float>(std::clamp(value, 0.0, 1.0));
  return n == p.Normalized() ? p.Value() : p.NormalizedToPlain(n);
}

void cReverbCore::HostValueText(int32_t id, double value, eHostScale scale, char (&text)[kValueTextSize]) const {
  const float plain = HostPlain(id, value, scale);
  if (id == kBypassId) CopyTerminated(text, plain != 0.0f ? "on" : "off", sizeof text);
  else ValueText(id, plain, text);
}

bool cReverbCore::ParseHostValue(int32_t id, const char* text, eHostScale scale, double& value) const {
  if (!text) return false;
  if (id == kBypassId) {
    bool on = false;
    if (!ParseSwitch(text, on)) return false;
    value = on ? 1.0 : 0.0;
    return true;
  }
  float plain = 0.0f;
  if (!ParseValue(id, text, plain)) return false;
  const cParameter& p = Parameter(id);
  if (TakesPlain(id, scale)) value = plain;
  else value = plain == p.Value() ? p.Normalized() : p.NormalizedFor(plain);
  return true;
}

int32_t cReverbCore::BypassRampFrames() const {
  const float fs = m_SampleRate.load(std::memory_order_relaxed);
  return static_cast<int32_t>(std::max(1.0f, std::round(kBypassRampSeconds * (fs > 0.0f ? fs : 44100.0f))));
}

int64_t cReverbCore::HostTailFrames(bool measure) const {
  return Bypassed() ? BypassRampFrames() : TailFrames(measure);
}

}  // namespace nimbo
