// The VST3 entry under arbitrary call sequences: the fuzz input drives up to
// two instances made through GetPluginFactory. Free are
// the state streams (any bytes, mutated saved states, any bytes per call),
// the parameter queues (any IDs, points at any offsets, NaN, infinities),
// the texts parsed back (any UTF-16), set-up values, bus arrangements, and
// audio with NaN, infinities, denormals and 1e30, stereo, mono or no input.
//
// Checks on every input: no crash and no sanitizer report; a state the effect
// saved loads back; every text it gives for a value parses back; normalized
// values stay within [0, 1]; finite output for input that is finite and
// within +-1e6, with one block of grace after dirty input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "cVst3Host.h"

extern "C" vst3::IPluginFactory* PLUGIN_API GetPluginFactory();

namespace {

using namespace vst3;
using namespace vst3::Vst;

constexpr int32_t kMaxBlock = 2048;
constexpr int32_t kMaxOperations = 128;
constexpr int64_t kMaxFramesPerInput = 1 << 13;
constexpr float kSaneLimit = 1e6f;

[[noreturn]] void Fail(const char* what, double detail = 0.0) {
  std::fprintf(stderr, "nimbohall_fuzz (VST3): %s (%g)\n", what, detail);
  std::abort();
}

double SpecialDouble(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return std::numeric_limits<double>::infinity();
    case 2: return -std::numeric_limits<double>::infinity();
    case 3: return -1.0;
    case 4: return 2.0;
    case 5: return std::numeric_limits<double>::denorm_min();
    case 6: return in.ConsumeIntegralInRange<int>(0, 63) / 63.0;
    default: return in.ConsumeProbability<double>();
  }
}

float SpecialSample(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 11)) {
    case 0: return std::numeric_limits<float>::quiet_NaN();
    case 1: return std::numeric_limits<float>::infinity();
    case 2: return std::numeric_limits<float>::denorm_min();
    case 3: return 1e30f;
    default: return in.ConsumeFloatingPointInRange<float>(-1.0f, 1.0f);
  }
}

ParamID AnyId(FuzzedDataProvider& in) {
  return in.ConsumeIntegralInRange<int>(0, 9) == 0 ? in.ConsumeIntegral<ParamID>()
                                                    : in.ConsumeIntegralInRange<ParamID>(0, 21);
}

// One instance, made and connected as a DAW does, and what the driver tracks of it.
struct sInstance {
  std::unique_ptr<nimbohost::cVst3Plugin> plugin;
  int32_t maxBlock = 512;
  bool dirtyBefore = false;
};

void Process(FuzzedDataProvider& in, sInstance& fx, int64_t& frameBudget) {
  const auto frames = static_cast<size_t>(in.ConsumeIntegralInRange<int32_t>(0, std::min(kMaxBlock, fx.maxBlock)));
  frameBudget -= static_cast<int64_t>(frames);
  std::vector<float> left(frames), right(frames), outL(frames, 777.0f), outR(frames, 777.0f);
  bool dirty = false;
  const bool noisy = in.ConsumeBool();
  for (size_t i = 0; i < frames; ++i) {
    left[i] = noisy ? SpecialSample(in) : 0.25f * std::sin(0.01f * static_cast<float>(i));
    right[i] = noisy ? SpecialSample(in) : -left[i];
    dirty = dirty || !(std::fabs(left[i]) <= kSaneLimit) || !(std::fabs(right[i]) <= kSaneLimit);
  }
  float* ins[2] = {left.data(), right.data()};
  float* outs[2] = {outL.data(), outR.data()};
  AudioBusBuffers input{}, output{};
  input.numChannels = in.ConsumeIntegralInRange<int32>(0, 2);
  input.channelBuffers32 = ins;
  output.numChannels = 2;
  output.channelBuffers32 = outs;
  auto changes = nimbohost::cParameterChanges::Make();
  for (int q = in.ConsumeIntegralInRange<int>(0, 6); q > 0; --q) {
    const ParamID id = AnyId(in);
    for (int p = in.ConsumeIntegralInRange<int>(1, 4); p > 0; --p)
      changes->Add(id, in.ConsumeIntegralInRange<int32>(-4, static_cast<int32>(frames) + 4), SpecialDouble(in));
  }
  auto reported = nimbohost::cParameterChanges::Make();
  ProcessData data{};
  data.symbolicSampleSize = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? kSample64 : kSample32;
  data.numSamples = static_cast<int32>(frames);
  data.numInputs = in.ConsumeBool() ? 1 : 0;
  data.numOutputs = 1;
  data.inputs = &input;
  data.outputs = &output;
  data.inputParameterChanges = in.ConsumeBool() ? changes.get() : nullptr;
  data.outputParameterChanges = in.ConsumeBool() ? reported.get() : nullptr;
  if (fx.plugin->Processor()->process(data) != kResultOk) return;
  for (size_t i = 0; i < frames && !dirty && !fx.dirtyBefore; ++i) {
    if (!std::isfinite(outL[i]) || !std::isfinite(outR[i])) Fail("output not finite for sane input", outL[i]);
  }
  fx.dirtyBefore = dirty;
}

void RoundTripState(FuzzedDataProvider& in, sInstance& fx) {
  auto saved = nimbohost::cMemoryStream::Make({}, in.ConsumeIntegralInRange<int32>(0, 9));
  if (fx.plugin->Component()->getState(saved.get()) != kResultOk) Fail("getState failed");
  std::vector<char> bytes = saved->Bytes();
  auto back = nimbohost::cMemoryStream::Make(bytes, in.ConsumeIntegralInRange<int32>(0, 9));
  if (fx.plugin->Component()->setState(back.get()) != kResultOk) Fail("a saved state does not load back");
  // The same state, mutated: taken or refused, never a crash.
  for (int flips = in.ConsumeIntegralInRange<int>(0, 3); flips > 0 && !bytes.empty(); --flips) {
    const size_t at = in.ConsumeIntegralInRange<size_t>(0, bytes.size() - 1);
    bytes[at] = static_cast<char>(bytes[at] ^ in.ConsumeIntegral<uint8_t>());
  }
  if (in.ConsumeBool()) bytes.resize(in.ConsumeIntegralInRange<size_t>(0, bytes.size() + 4));
  auto mutated = nimbohost::cMemoryStream::Make(bytes, in.ConsumeIntegralInRange<int32>(0, 9));
  fx.plugin->Component()->setState(mutated.get());
}

void Texts(FuzzedDataProvider& in, sInstance& fx) {
  const ParamID id = AnyId(in);
  const double value = SpecialDouble(in);
  String128 text{};
  const bool known = id < 20;
  if (fx.plugin->Controller()->getParamStringByValue(id, value, text) == kResultOk) {
    ParamValue back = -1.0;
    if (fx.plugin->Controller()->getParamValueByString(id, text, back) != kResultOk && known)
      Fail("a value text does not parse back", static_cast<double>(id));
    if (!(back >= 0.0 && back <= 1.0)) Fail("parsed value outside [0, 1]", back);
  } else if (known) {
    Fail("no text for a parameter", static_cast<double>(id));
  }
  std::u16string typed;
  for (int n = in.ConsumeIntegralInRange<int>(0, 40); n > 0; --n) typed += static_cast<char16_t>(in.ConsumeIntegral<uint16_t>());
  typed += u'\0';
  ParamValue parsed = 0.0;
  if (fx.plugin->Controller()->getParamValueByString(id, typed.data(), parsed) == kResultOk && !(parsed >= 0.0 && parsed <= 1.0))
    Fail("parsed value outside [0, 1]", parsed);
  fx.plugin->Controller()->normalizedParamToPlain(id, value);
  fx.plugin->Controller()->plainParamToNormalized(id, SpecialDouble(in) * 1000.0);
}

void Run(FuzzedDataProvider& in) {
  static const auto module = nimbohost::cVst3Module::FromFactory(GetPluginFactory());
  if (!module || module->Classes().empty()) Fail("no factory");
  sInstance instances[2];
  int64_t frameBudget = kMaxFramesPerInput;
  // A tail query may measure the response (a second or more instrumented): one per input.
  bool tailAsked = false;
  for (int op = 0; op < kMaxOperations && in.remaining_bytes() > 0 && frameBudget > 0; ++op) {
    sInstance& fx = instances[in.ConsumeIntegralInRange<int>(0, 1)];
    std::string error;
    if (!fx.plugin) fx.plugin = nimbohost::cVst3Plugin::Create(module, module->Classes()[0].cid, &error);
    if (!fx.plugin || !fx.plugin->Units()) Fail("no instance");
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
      case 0: {
        ProcessSetup setup{in.ConsumeIntegralInRange<int32>(0, 2), in.ConsumeIntegralInRange<int32>(0, 1),
                           in.ConsumeIntegralInRange<int32>(-1, kMaxBlock), SpecialDouble(in) * 200000.0};
        if (fx.plugin->Processor()->setupProcessing(setup) == kResultOk) fx.maxBlock = setup.maxSamplesPerBlock;
        break;
      }
      case 1: fx.plugin->Component()->setActive(in.ConsumeBool()); break;
      case 2: fx.plugin->Processor()->setProcessing(in.ConsumeBool()); break;
      case 3:
      case 4: Process(in, fx, frameBudget); break;
      case 5: RoundTripState(in, fx); break;
      case 6: {
        const ParamID id = AnyId(in);
        fx.plugin->Controller()->setParamNormalized(id, SpecialDouble(in));
        const double n = fx.plugin->Controller()->getParamNormalized(id);
        if (!(n >= 0.0 && n <= 1.0)) Fail("normalized value outside [0, 1]", n);
        break;
      }
      case 7: Texts(in, fx); break;
      case 8: {
        SpeakerArrangement arrangements[2] = {in.ConsumeIntegral<uint64>(), SpeakerArr::kStereo};
        if (in.ConsumeBool()) arrangements[0] = in.ConsumeBool() ? SpeakerArr::kMono : SpeakerArr::kStereo;
        fx.plugin->Processor()->setBusArrangements(arrangements, in.ConsumeIntegralInRange<int32>(0, 2), arrangements + 1,
                                         in.ConsumeIntegralInRange<int32>(0, 1));
        BusInfo bus{};
        fx.plugin->Component()->getBusInfo(in.ConsumeIntegralInRange<int32>(-1, 2), in.ConsumeIntegralInRange<int32>(-1, 2),
                                 in.ConsumeIntegralInRange<int32>(-1, 1), bus);
        break;
      }
      case 9: {
        String128 name{};
        UnitInfo unit{};
        ProgramListInfo list{};
        fx.plugin->Units()->getUnitInfo(in.ConsumeIntegralInRange<int32>(-1, 7), unit);
        fx.plugin->Units()->getProgramListInfo(in.ConsumeIntegralInRange<int32>(-1, 1), list);
        fx.plugin->Units()->getProgramName(in.ConsumeIntegralInRange<int32>(-1, 2), in.ConsumeIntegralInRange<int32>(-1, 65), name);
        if (!std::exchange(tailAsked, true)) fx.plugin->Processor()->getTailSamples();
        break;
      }
      case 10: fx.plugin->Controller()->setParamNormalized(19, in.ConsumeIntegralInRange<int>(0, 63) / 63.0); break;
      default: fx = {}; break;
    }
  }
}

}  // namespace

void FuzzVst3(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Run(in);
}
