// Small VST 2.x plugins for the host tests, one per definition:
//   FAKE_DECAY     2 in, 2 out: each channel through a one-pole feedback loop
//                  whose decay time is a parameter, so its tail is known. Its
//                  texts are Windows-1252, and some run past the 8 bytes the
//                  interface promises, as texts of real plugins do.
//   FAKE_MONO      1 in, 1 out.
//   FAKE_NOEFFECT  the entry returns no effect.
//   FAKE_NOENTRY   no entry point at all.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "vst2.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

#if defined(FAKE_NOENTRY)

FAKE_EXPORT int FakeNothingToSeeHere() { return 0; }

#elif defined(FAKE_NOEFFECT)

FAKE_EXPORT AEffect* VSTPluginMain(audioMasterCallback) { return nullptr; }

#else

namespace {

enum { kDecay, kLevel, kMode, kWidth, kTone, kNumParams };

struct sFakeProgram {
  const char* name;
  float decay;  // normalized
};
// The last name is longer than a program name may be.
constexpr sFakeProgram kPrograms[] = {
    {"Small", 0.3f}, {"Large", 0.6f}, {"Caf\xE9 au lait with a name far too long", 0.45f}};
constexpr int kNumPrograms = 3;

struct cFake {
  AEffect record{};
  float values[kNumParams] = {0.3f, 0.5f, 0.0f, 0.5f, 0.5f};
  int program = 0;
  float sampleRate = 44100.0f;
  float state[2] = {};

  double Decay() const { return 0.05 * std::pow(200.0, values[kDecay]); }  // seconds to fall 60 dB
  double Gain() const { return 2.0 * values[kLevel]; }
  double Tone() const { return 20.0 * std::pow(1000.0, values[kTone]); }  // Hz
};

cFake* Of(AEffect* e) { return static_cast<cFake*>(e->object); }

void Display(cFake* fake, int index, char* text) {
  const float v = fake->values[index];
  switch (index) {
    case kDecay: std::snprintf(text, 9, "%.3f", fake->Decay()); break;
    case kLevel:
      if (fake->Gain() <= 0.0) {
        std::strcpy(text, "-inf");
      } else {
        std::snprintf(text, 9, "%.1f", 20.0 * std::log10(fake->Gain()));
      }
      break;
    case kMode: std::strcpy(text, v < 1.0f / 3.0f ? "clean" : v < 2.0f / 3.0f ? "dark" : "bright"); break;
    case kWidth: std::snprintf(text, 9, "%.0f", 100.0 * v); break;
    case kTone:
      if (fake->Tone() >= 1000.0) {
        std::snprintf(text, 9, "%.2f", fake->Tone() / 1000.0);
      } else {
        std::snprintf(text, 9, "%.0f", fake->Tone());
      }
      break;
  }
}

void Label(cFake* fake, int index, char* text) {
  switch (index) {
    case kDecay: std::strcpy(text, "s"); break;
    case kLevel: std::strcpy(text, "dB"); break;
    case kMode: std::strcpy(text, "colour of the tail"); break;  // 18 bytes
    case kWidth: std::strcpy(text, "%"); break;
    case kTone: std::strcpy(text, fake->Tone() >= 1000.0 ? "kHz" : "Hz"); break;
  }
}

const char* const kNames[kNumParams] = {"Decay", "Level", "Mode", "Width", "Tone"};

intptr_t Dispatcher(AEffect* e, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
  cFake* fake = Of(e);
  char* text = static_cast<char*>(ptr);
  const bool param = index >= 0 && index < kNumParams;
  switch (opcode) {
    case effClose: delete fake; return 1;
    case effSetProgram:
      if (value >= 0 && value < kNumPrograms) {
        fake->program = static_cast<int>(value);
        fake->values[kDecay] = kPrograms[value].decay;
      }
      return 0;
    case effGetProgram: return fake->program;
    case effGetProgramName: std::strcpy(text, kPrograms[fake->program].name); return 0;
    case effGetProgramNameIndexed:
      if (index < 0 || index >= kNumPrograms) return 0;
      std::strcpy(text, kPrograms[index].name);  // past 24 bytes for the last one
      return 1;
    case effGetParamName: if (param) std::strcpy(text, kNames[index]); return 0;
    case effGetParamDisplay: if (param) Display(fake, index, text); return 0;
    case effGetParamLabel: if (param) Label(fake, index, text); return 0;
    case effSetSampleRate: fake->sampleRate = opt; return 0;
    case effMainsChanged: fake->state[0] = fake->state[1] = 0.0f; return 0;
    case effGetEffectName: std::strcpy(text, "Fake Decay"); return 1;
    case effGetVendorString: std::strcpy(text, "Nimbohall tests"); return 1;
    case effCanBeAutomated: return 1;
    default: return 0;
  }
}

void SetParameter(AEffect* e, int32_t index, float value) {
  if (index >= 0 && index < kNumParams) Of(e)->values[index] = value;
}

float GetParameter(AEffect* e, int32_t index) { return index >= 0 && index < kNumParams ? Of(e)->values[index] : 0.0f; }

void Process(AEffect* e, float** inputs, float** outputs, int32_t frames) {
  cFake* fake = Of(e);
  const auto g = static_cast<float>(std::pow(10.0, -3.0 / (fake->Decay() * fake->sampleRate)));
  const auto gain = static_cast<float>(fake->Gain());
  for (int c = 0; c < e->numOutputs; ++c) {
    for (int32_t i = 0; i < frames; ++i) {
      fake->state[c] = inputs[c][i] + g * fake->state[c];
      outputs[c][i] = gain * fake->state[c];
    }
  }
}

}  // namespace

FAKE_EXPORT AEffect* VSTPluginMain(audioMasterCallback host) {
  if (!host) return nullptr;
  auto* fake = new cFake;
  AEffect& r = fake->record;
  r.magic = kEffectMagic;
  r.dispatcher = Dispatcher;
  r.setParameter = SetParameter;
  r.getParameter = GetParameter;
  r.processReplacing = Process;
  r.numPrograms = kNumPrograms;
  r.numParams = kNumParams;
#if defined(FAKE_MONO)
  r.numInputs = 1;
  r.numOutputs = 1;
#else
  r.numInputs = 2;
  r.numOutputs = 2;
#endif
  r.flags = effFlagsCanReplacing;
  r.uniqueID = 0x466B4463;
  r.version = 1;
  r.object = fake;
  fake->sampleRate = static_cast<float>(host(&r, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f));
  return &r;
}

#endif
