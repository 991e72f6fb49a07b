// Reports what a VST3 host sees of a bundle: module entry, factory and class
// descriptions, and what an instance of the effect answers (buses, parameter
// descriptions, texts both ways, units and programs, state), and audio
// rendered through several programs with parameter changes at frame offsets.
// Built for Windows with mingw (run under Wine) and natively for Linux, so a
// test can hold the reports of both modules side by side.
//
//   vst3report BUNDLE REPORT.txt [AUDIO.f32]
//
// Texts are escaped byte by byte (UTF-16 fields as UTF-8 first), numbers as
// their bits, so two reports are equal exactly when the modules said exactly
// the same. The audio file holds the renders as little-endian 32-bit floats,
// left and right interleaved, in the order of the report's "render" lines.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cVst3Host.h"
#include "ReportText.h"

namespace {

using namespace vst3;
using namespace vst3::Vst;
using nimbohost::FieldText;

constexpr double kSampleRate = 44100.0;
constexpr int32_t kBlock = 512;
constexpr int32_t kRenderFrames = 66150;  // 1.5 s; not a whole number of blocks on purpose
constexpr int32_t kRenderPrograms[] = {0, 36, 19, 55, 63};


template <typename T>
std::string Text(const T& field) {
  return Escape(FieldText(field));
}

std::string Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIX64, bits);
  return text;
}

std::string Result(tresult result) { return nimbohost::ResultName(result); }

void ReportClass(std::FILE* out, int index, const nimbohost::sClassInfo& c) {
  std::fprintf(out, "class %d cid=%s cardinality=%" PRId32 " category=%s name=%s\n", index,
               nimbohost::UidString(c.info.cid).c_str(), c.info.cardinality, Text(c.info.category).c_str(),
               Text(c.info.name).c_str());
  if (c.info2) {
    const PClassInfo2& i = *c.info2;
    std::fprintf(out, "class %d info2 cid=%s flags=%08" PRIX32 " subCategories=%s vendor=%s version=%s sdk=%s\n", index,
                 nimbohost::UidString(i.cid).c_str(), i.classFlags, Text(i.subCategories).c_str(),
                 Text(i.vendor).c_str(), Text(i.version).c_str(), Text(i.sdkVersion).c_str());
  }
  if (c.infoW) {
    const PClassInfoW& i = *c.infoW;
    std::fprintf(out, "class %d infoW cid=%s name=%s flags=%08" PRIX32 " subCategories=%s vendor=%s version=%s sdk=%s\n",
                 index, nimbohost::UidString(i.cid).c_str(), Text(i.name).c_str(), i.classFlags,
                 Text(i.subCategories).c_str(), Text(i.vendor).c_str(), Text(i.version).c_str(),
                 Text(i.sdkVersion).c_str());
  }
}

void ReportInstance(std::FILE* out, nimbohost::cVst3Plugin& plugin) {
  for (MediaType media : {kAudio, kEvent}) {
    for (BusDirection dir : {kInput, kOutput}) {
      std::fprintf(out, "buses media=%d dir=%d count=%d\n", media, dir, plugin.BusCount(media, dir));
      if (const auto bus = plugin.Bus(media, dir, 0))
        std::fprintf(out, "bus media=%d dir=%d channels=%d name=%s type=%d flags=%u\n", media, dir, bus->channelCount,
                     Escape(bus->name).c_str(), bus->busType, bus->flags);
    }
  }
  const std::pair<SpeakerArrangement, SpeakerArrangement> arrangements[] = {
      {SpeakerArr::kMono, SpeakerArr::kStereo}, {SpeakerArr::kStereo, SpeakerArr::kMono},
      {SpeakerArr::kStereo, SpeakerArr::kStereo}};
  for (const auto& [in, outArrangement] : arrangements)
    std::fprintf(out, "arrangement in=%" PRIX64 " out=%" PRIX64 " answer=%s\n", in, outArrangement,
                 Result(plugin.SetArrangements({in}, {outArrangement})).c_str());
  std::fprintf(out, "sampleSize 32=%s 64=%s latency=%u\n",
               Result(plugin.Processor()->canProcessSampleSize(kSample32)).c_str(),
               Result(plugin.Processor()->canProcessSampleSize(kSample64)).c_str(),
               plugin.Processor()->getLatencySamples());

  const int32 count = plugin.ParameterCount();
  for (int32 i = 0; i < count; ++i) {
    const auto info = plugin.Parameter(i);
    if (!info) {
      std::fprintf(out, "param %d no info\n", i);
      continue;
    }
    std::fprintf(out, "param %d id=%u title=%s short=%s units=%s steps=%d default=%s unit=%d flags=%08X\n", i,
                 info->id, Escape(info->title).c_str(), Escape(info->shortTitle).c_str(), Escape(info->units).c_str(),
                 info->stepCount, Bits(info->defaultNormalizedValue).c_str(), info->unitId,
                 static_cast<unsigned>(info->flags));
    for (double n : {0.0, 0.001, 0.1, 0.25, 0.5, 0.75, 0.9, 1.0}) {
      const std::string text = plugin.ValueText(info->id, n).value_or("(none)");
      const auto back = plugin.ValueFromText(info->id, text);
      std::fprintf(out, "param %d at %s text=%s back=%s plain=%s\n", i, Bits(n).c_str(), Escape(text).c_str(),
                   back ? Bits(*back).c_str() : "(none)", Bits(plugin.ToPlain(info->id, n)).c_str());
    }
  }
  for (int32 u = 0; u < plugin.UnitCount(); ++u) {
    if (const auto unit = plugin.Unit(u))
      std::fprintf(out, "unit %d id=%d parent=%d name=%s list=%d\n", u, unit->id, unit->parentUnitId,
                   Escape(unit->name).c_str(), unit->programListId);
  }
  for (int32 l = 0; l < plugin.ProgramListCount(); ++l) {
    const auto list = plugin.ProgramList(l);
    if (!list) continue;
    std::fprintf(out, "list %d id=%d name=%s programs=%d\n", l, list->id, Escape(list->name).c_str(),
                 list->programCount);
    for (int32 k = 0; k < list->programCount; ++k)
      std::fprintf(out, "program %d %s\n", k, Escape(plugin.ProgramName(list->id, k).value_or("(none)")).c_str());
  }
}

// Renders the test signal through a program with a few changes at frame offsets.
std::vector<float> Render(nimbohost::cVst3Plugin& plugin, int32_t program, std::FILE* out) {
  plugin.SetNormalized(19, program / 63.0);
  nimbohost::cBusBuffers buffers(2, 2, kBlock);
  auto changes = nimbohost::cParameterChanges::Make();
  std::vector<float> audio;
  uint32_t seed = 7;
  for (int32_t pos = 0; pos < kRenderFrames; pos += kBlock) {
    const int32_t n = std::min(kBlock, kRenderFrames - pos);
    for (int32_t i = 0; i < n; ++i) {
      seed = seed * 1664525u + 1013904223u;
      const float noise = static_cast<float>(static_cast<int32_t>(seed >> 8) - (1 << 23)) / static_cast<float>(1 << 23);
      const int32_t t = pos + i;
      buffers.Input(0)[i] = t < 4410 ? 0.5f * noise : t == 22050 ? 1.0f : 0.0f;
      buffers.Input(1)[i] = t < 4410 ? -0.3f * noise : t == 22071 ? -1.0f : 0.0f;
    }
    changes->Clear();
    if (pos == 10 * kBlock) changes->Add(15, 77, 0.8f);
    if (pos == 20 * kBlock) changes->Add(5, 0, 0.25f);
    if (pos == 20 * kBlock) changes->Add(14, 300, 0.6f);
    if (pos == 90 * kBlock) changes->Add(18, 100, 1.0f);
    if (pos == 100 * kBlock) changes->Add(18, 411, 0.0f);
    nimbohost::sProcessCall call = buffers.Call(n);
    call.inputChanges = changes.get();
    plugin.Process(call);
    for (int32_t i = 0; i < n; ++i) {
      audio.push_back(buffers.Output(0)[i]);
      audio.push_back(buffers.Output(1)[i]);
    }
  }
  std::fprintf(out, "render program=%d frames=%d tail=%u\n", program, kRenderFrames,
               plugin.Processor()->getTailSamples());
  return audio;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: vst3report BUNDLE REPORT.txt [AUDIO.f32]\n");
    return 2;
  }
  std::string error;
  auto module = nimbohost::cVst3Module::Load(argv[1], &error);
  if (!module) {
    std::fprintf(stderr, "vst3report: %s\n", error.c_str());
    return 3;
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 1;
  PFactoryInfo factory{};
  const tresult answer = module->FactoryInfo(factory);
  std::fprintf(out, "module entry=%s factory2=%s factory3=%s\n", module->HadEntry() ? "yes" : "no",
               module->Factory2() ? "yes" : "no", module->Factory3() ? "yes" : "no");
  std::fprintf(out, "factory answer=%s vendor=%s url=%s email=%s flags=%08" PRIX32 "\n", Result(answer).c_str(),
               Text(factory.vendor).c_str(), Text(factory.url).c_str(), Text(factory.email).c_str(),
               static_cast<uint32_t>(factory.flags));
  int index = 0;
  for (const auto& c : module->Classes()) ReportClass(out, index++, c);

  std::vector<float> audio;
  for (const auto& c : module->Classes()) {
    if (FieldText(c.info.category) != kVstAudioEffectClass) continue;
    auto plugin = nimbohost::cVst3Plugin::Create(module, c.cid, &error);
    if (!plugin) {
      std::fprintf(out, "instance %s\n", Escape(error).c_str());
      continue;
    }
    ReportInstance(out, *plugin);
    plugin->SetNormalized(19, 34 / 63.0);
    auto state = nimbohost::cMemoryStream::Make();
    std::string hex;
    if (plugin->GetState(*state.get()) == kResultOk) {
      for (char byte : state->Bytes()) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(byte));
        hex += two;
      }
    }
    std::fprintf(out, "state %s\n", hex.c_str());
    plugin->Setup(kSampleRate, kBlock);
    plugin->SetActive(true);
    plugin->SetProcessing(true);
    for (int32_t program : kRenderPrograms) {
      const std::vector<float> render = Render(*plugin, program, out);
      audio.insert(audio.end(), render.begin(), render.end());
    }
  }
  if (argc == 4) {
    std::FILE* raw = std::fopen(argv[3], "wb");
    if (!raw || std::fwrite(audio.data(), sizeof(float), audio.size(), raw) != audio.size() || std::fclose(raw) != 0)
      return 1;
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
