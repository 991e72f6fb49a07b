// Reports what a host sees of the plugin: record fields, identity, capability
// answers, every parameter's name, texts and properties, the program names,
// and audio rendered through several programs. Built for Windows with mingw
// (loading the DLL by LoadLibrary, run under Wine) and natively for Linux, so
// a test can hold the reports of the three binaries side by side.
//
//   hostreport PLUGIN REPORT.txt AUDIO.f32
//
// The report is text; plugin texts are escaped byte by byte, so two reports
// are equal exactly when the plugins said exactly the same. The audio file is
// the renders' samples as little-endian 32-bit floats, left and right
// interleaved, in the order of the report's "render" lines.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cVstHost.h"
#include "ReportText.h"

namespace {

using nimbohost::cHostedEffect;

constexpr float kSampleRate = 44100.0f;
constexpr int32_t kBlock = 512;
constexpr int32_t kRenderFrames = 66150;  // 1.5 s; not a whole number of blocks on purpose
constexpr int32_t kSweepSteps = 20;

// Programs rendered: a plain hall, one with modulation and saturation, heavy
// modulation, a filter, the neutral init program, and a drum room with
// modulation and saturation.
constexpr int32_t kRenderPrograms[] = {0, 36, 19, 12, 55, 63};

const char* const kCapabilities[] = {
    "sendVstEvents", "receiveVstEvents", "receiveVstMidiEvent", "offline", "plugAsChannelInsert", "plugAsSend",
    "mixDryWet", "noRealTime", "1in2out", "2in2out", "bypass", "hasCockosExtensions", "2IN2OUT", "",
};


// A fixed-size text field: all of its bytes, so unterminated fields show too.
template <size_t N>
std::string Field(const char (&field)[N]) {
  return Escape(field, N);
}

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

class cReport {
 public:
  explicit cReport(std::FILE* file) : m_File(file) {}
  void Line(const std::string& text) { std::fprintf(m_File, "%s\n", text.c_str()); }
  template <typename... Args>
  void Format(const char* format, Args... args) {
    std::fprintf(m_File, format, args...);
    std::fputc('\n', m_File);
  }

 private:
  std::FILE* m_File;
};

const char* Presence(const void* pointer) { return pointer ? "set" : "null"; }

void ReportRecord(cReport& report, cHostedEffect& effect) {
  const AEffect* r = effect.Record();
  report.Format("record magic=%08" PRIX32 " numPrograms=%" PRId32 " numParams=%" PRId32 " numInputs=%" PRId32
                " numOutputs=%" PRId32 " flags=%08" PRIX32 " initialDelay=%" PRId32 " uniqueID=%08" PRIX32
                " version=%" PRId32 " ioRatio=%08" PRIX32,
                static_cast<uint32_t>(r->magic), r->numPrograms, r->numParams, r->numInputs, r->numOutputs,
                static_cast<uint32_t>(r->flags), r->initialDelay, static_cast<uint32_t>(r->uniqueID), r->version,
                Bits(r->ioRatio));
  report.Format("entries dispatcher=%s process=%s setParameter=%s getParameter=%s processReplacing=%s "
                "processDoubleReplacing=%s object=%s",
                Presence(reinterpret_cast<const void*>(r->dispatcher)), Presence(reinterpret_cast<const void*>(r->process)),
                Presence(reinterpret_cast<const void*>(r->setParameter)),
                Presence(reinterpret_cast<const void*>(r->getParameter)),
                Presence(reinterpret_cast<const void*>(r->processReplacing)),
                Presence(reinterpret_cast<const void*>(r->processDoubleReplacing)), Presence(r->object));
  std::string requests = "construction requests:";
  for (const auto& request : effect.Requests()) requests.append(" ").append(std::to_string(request.opcode));
  report.Line(requests);
}

void ReportIdentity(cReport& report, cHostedEffect& effect) {
  report.Line("effect name=" + Escape(effect.EffectName()));
  report.Line("vendor=" + Escape(effect.VendorString()));
  report.Line("product=" + Escape(effect.ProductString()));
  report.Format("vendorVersion=%" PRIdPTR " category=%" PRIdPTR " vstVersion=%" PRIdPTR " identify=%08" PRIXPTR
                " midiProgram=%" PRIdPTR " precision32=%" PRIdPTR " precision64=%" PRIdPTR,
                effect.Dispatch(effGetVendorVersion), effect.Dispatch(effGetPlugCategory),
                effect.Dispatch(effGetVstVersion), static_cast<uintptr_t>(effect.Dispatch(effIdentify)),
                effect.Dispatch(effGetCurrentMidiProgram), effect.Dispatch(effSetProcessPrecision, 0, 0),
                effect.Dispatch(effSetProcessPrecision, 0, 1));
  for (const char* capability : kCapabilities) {
    std::vector<char> text(capability, capability + std::strlen(capability) + 1);
    report.Format("canDo %s=%" PRIdPTR, Escape(capability).c_str(), effect.Dispatch(effCanDo, 0, 0, text.data()));
  }
}

void ReportParameters(cReport& report, cHostedEffect& effect) {
  const int32_t count = effect.Record()->numParams;
  for (int32_t i = 0; i < count; ++i) {
    struct {
      VstParameterProperties properties;
      char slack[256];
    } buffer{};
    const intptr_t answer = effect.Dispatch(effGetParameterProperties, i, 0, &buffer.properties);
    const VstParameterProperties& p = buffer.properties;
    report.Format("param %" PRId32 " name=%s display=%s label=%s value=%08" PRIX32 " automatable=%" PRIdPTR, i,
                  Escape(effect.ParameterName(i)).c_str(), Escape(effect.ParameterDisplay(i)).c_str(),
                  Escape(effect.ParameterLabel(i)).c_str(), Bits(effect.GetParameter(i)),
                  effect.Dispatch(effCanBeAutomated, i));
    report.Format("param %" PRId32 " properties answer=%" PRIdPTR " flags=%" PRId32 " min=%" PRId32 " max=%" PRId32
                  " steps=%08" PRIX32 ",%08" PRIX32 ",%08" PRIX32 ",%" PRId32 ",%" PRId32 " shortLabel=%s label=%s"
                  " displayIndex=%d category=%d inCategory=%d categoryLabel=%s",
                  i, answer, p.flags, p.minInteger, p.maxInteger, Bits(p.stepFloat), Bits(p.smallStepFloat),
                  Bits(p.largeStepFloat), p.stepInteger, p.largeStepInteger, Field(p.shortLabel).c_str(),
                  Field(p.label).c_str(), p.displayIndex, p.category, p.numParametersInCategory,
                  Field(p.categoryLabel).c_str());
  }
  // The value texts across each parameter's range, and what getParameter gives back.
  for (int32_t i = 0; i < count; ++i) {
    const float original = effect.GetParameter(i);
    for (int32_t k = 0; k <= kSweepSteps; ++k) {
      const float n = static_cast<float>(k) / static_cast<float>(kSweepSteps);
      effect.SetParameter(i, n);
      report.Format("sweep %" PRId32 " %08" PRIX32 " -> %08" PRIX32 " %s %s", i, Bits(n), Bits(effect.GetParameter(i)),
                    Escape(effect.ParameterDisplay(i)).c_str(), Escape(effect.ParameterLabel(i)).c_str());
    }
    effect.SetParameter(i, original);
  }
}

void ReportPrograms(cReport& report, cHostedEffect& effect) {
  const int32_t count = effect.Record()->numPrograms;
  for (int32_t i = 0; i <= count; ++i) {  // one past the end: must answer 0
    std::vector<char> name(64 + 256, '\0');
    const intptr_t answer = effect.Dispatch(effGetProgramNameIndexed, i, 0, name.data());
    report.Format("program %" PRId32 " answer=%" PRIdPTR " name=%s", i, answer, Escape(name.data()).c_str());
  }
  // Every program's values as the host shows them after switching to it.
  for (int32_t i = 0; i < count; ++i) {
    effect.Dispatch(effSetProgram, 0, i);
    std::string line = "program " + std::to_string(i) + " current=" + std::to_string(effect.Dispatch(effGetProgram)) +
                       " name=" + Escape(effect.CurrentProgramName()) + " values:";
    for (int32_t p = 0; p < effect.Record()->numParams; ++p) {
      char bits[16];
      std::snprintf(bits, sizeof bits, "%08" PRIX32, Bits(effect.GetParameter(p)));
      line.append(" ").append(bits).append("=");
      line.append(Escape(effect.ParameterDisplay(p))).append(Escape(effect.ParameterLabel(p)));
    }
    report.Line(line);
  }
}

struct sSignal {
  const char* name;
  std::vector<float> left, right;
};

std::vector<sSignal> Signals() {
  std::vector<sSignal> signals;
  sSignal impulse{"impulse", std::vector<float>(kRenderFrames), std::vector<float>(kRenderFrames)};
  impulse.left[0] = 1.0f;
  signals.push_back(impulse);

  sSignal noise{"noise", std::vector<float>(kRenderFrames), std::vector<float>(kRenderFrames)};
  uint32_t seed = 12345u;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) - 0.5f;
  };
  for (int32_t i = 0; i < static_cast<int32_t>(kSampleRate) / 10; ++i) {
    noise.left[static_cast<size_t>(i)] = next();
    noise.right[static_cast<size_t>(i)] = next();
  }
  signals.push_back(noise);
  return signals;
}

// One fresh instance per render, driven as a DAW drives it; a `parameter` of
// 0 or more is set to `value` at frame `changeAt` (a block boundary).
void Render(cReport& report, std::FILE* audio, nimbohost::PluginEntry entry, int32_t program, const sSignal& signal,
            int32_t parameter, float value, int32_t changeAt) {
  nimbohost::sHostAnswers answers;
  answers.sampleRate = static_cast<intptr_t>(kSampleRate);
  answers.blockSize = kBlock;
  std::string error;
  auto effect = cHostedEffect::Create(entry, answers, &error);
  if (!effect) {
    report.Line("render failed: " + error);
    return;
  }
  effect->Start(kSampleRate, kBlock);
  effect->Dispatch(effSetProgram, 0, program);
  std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
  float* inputs[2] = {inL.data(), inR.data()};
  float* outputs[2] = {outL.data(), outR.data()};
  std::vector<float> interleaved;
  for (int32_t start = 0; start < kRenderFrames; start += kBlock) {
    if (parameter >= 0 && start == changeAt) effect->SetParameter(parameter, value);
    const int32_t frames = std::min(kBlock, kRenderFrames - start);
    std::memcpy(inL.data(), signal.left.data() + start, sizeof(float) * static_cast<size_t>(frames));
    std::memcpy(inR.data(), signal.right.data() + start, sizeof(float) * static_cast<size_t>(frames));
    effect->ProcessReplacing(inputs, outputs, frames);
    for (int32_t i = 0; i < frames; ++i) {
      interleaved.push_back(outL[static_cast<size_t>(i)]);
      interleaved.push_back(outR[static_cast<size_t>(i)]);
    }
  }
  effect->Stop();
  effect->Close();
  std::fwrite(interleaved.data(), sizeof(float), interleaved.size(), audio);
  report.Format("render program=%" PRId32 " signal=%s parameter=%" PRId32 " value=%08" PRIX32 " at=%" PRId32
                " frames=%" PRId32,
                program, signal.name, parameter, Bits(value), changeAt, kRenderFrames);
}

}  // namespace

int main(int argc, char** argv) {
  static_assert(sizeof(float) == 4);
  if (argc != 4) {
    std::fprintf(stderr, "usage: hostreport PLUGIN REPORT.txt AUDIO.f32\n");
    return 2;
  }
  nimbohost::cPluginLibrary library(argv[1]);
  if (!library.IsLoaded()) {
    std::fprintf(stderr, "hostreport: %s\n", library.Error().c_str());
    return 1;
  }
  std::string entryName;
  const nimbohost::PluginEntry entry = library.Entry(&entryName);
  std::FILE* text = std::fopen(argv[2], "wb");
  std::FILE* audio = std::fopen(argv[3], "wb");
  if (!text || !audio) {
    std::fprintf(stderr, "hostreport: cannot write the report files\n");
    return 1;
  }
  cReport report(text);
  report.Line("entry " + entryName + " main=" + Presence(reinterpret_cast<const void*>(library.Symbol("main"))) +
              " VSTPluginMain=" + Presence(reinterpret_cast<const void*>(library.Symbol("VSTPluginMain"))));
  std::string error;
  {
    auto effect = cHostedEffect::Create(entry, nimbohost::sHostAnswers{}, &error);
    if (!effect) {
      report.Line("no effect: " + error);
      std::fclose(text);
      std::fclose(audio);
      return 1;
    }
    ReportRecord(report, *effect);
    effect->Start(kSampleRate, kBlock);
    ReportIdentity(report, *effect);
    ReportParameters(report, *effect);
    ReportPrograms(report, *effect);
    effect->Stop();
    effect->Close();
  }
  const std::vector<sSignal> signals = Signals();
  for (int32_t program : kRenderPrograms) {
    for (const sSignal& signal : signals) Render(report, audio, entry, program, signal, -1, 0.0f, -1);
  }
  // Parameter changes while running: more drive and depth on the hall, then hold
  // ("Hold" is the second-last parameter) freezing the tail halfway through.
  Render(report, audio, entry, 0, signals[1], 11, 0.7f, 0);
  Render(report, audio, entry, 0, signals[1], 8, 0.9f, 0);
  Render(report, audio, entry, 0, signals[1], 16, 1.0f, 64 * kBlock);
  const bool written = std::fclose(text) == 0;
  return std::fclose(audio) == 0 && written ? 0 : 1;
}
