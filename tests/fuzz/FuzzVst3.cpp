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

struct sInstance {
  IComponent* component = nullptr;
  IAudioProcessor* processor = nullptr;
  IEditController* controller = nullptr;
  IUnitInfo* units = nullptr;
  int32_t maxBlock = 512;
  bool dirtyBefore = false;
};

void Release(sInstance& fx) {
  for (FUnknown* part : {static_cast<FUnknown*>(fx.units), static_cast<FUnknown*>(fx.controller),
                         static_cast<FUnknown*>(fx.processor)}) {
    if (part) part->release();
  }
  if (fx.component) {
    fx.component->terminate();
    fx.component->release();
  }
  fx = {};
}

bool Make(IPluginFactory* factory, sInstance& fx) {
  PClassInfo info{};
  void* object = nullptr;
  if (factory->getClassInfo(0, &info) != kResultOk ||
      factory->createInstance(info.cid, IComponent::iid.data(), &object) != kResultOk)
    Fail("no component");
  fx.component = static_cast<IComponent*>(object);
  if (fx.component->initialize(nullptr) != kResultOk) Fail("initialize refused");
  fx.processor = nimbohost::Query<IAudioProcessor>(fx.component).Detach();
  fx.controller = nimbohost::Query<IEditController>(fx.component).Detach();
  fx.units = nimbohost::Query<IUnitInfo>(fx.component).Detach();
  if (!fx.processor || !fx.controller || !fx.units) Fail("an interface is missing");
  return true;
}

void Process(FuzzedDataProvider& in, sInstance& fx, int64_t& frameBudget) {
  const int32_t frames = in.ConsumeIntegralInRange<int32_t>(0, std::min<int32_t>(kMaxBlock, fx.maxBlock));
  frameBudget -= frames;
  std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
  bool dirty = false;
  const bool noisy = in.ConsumeBool();
  for (int32_t i = 0; i < frames; ++i) {
    left[static_cast<size_t>(i)] = noisy ? SpecialSample(in) : 0.25f * std::sin(0.01f * static_cast<float>(i));
    right[static_cast<size_t>(i)] = noisy ? SpecialSample(in) : -left[static_cast<size_t>(i)];
    dirty = dirty || !(std::fabs(left[static_cast<size_t>(i)]) <= kSaneLimit) ||
            !(std::fabs(right[static_cast<size_t>(i)]) <= kSaneLimit);
  }
  std::vector<float> outL(static_cast<size_t>(frames), 777.0f), outR(static_cast<size_t>(frames), 777.0f);
  float* ins[2] = {left.data(), right.data()};
  float* outs[2] = {outL.data(), outR.data()};
  AudioBusBuffers input{}, output{};
  input.numChannels = in.ConsumeIntegralInRange<int32>(0, 2);
  input.channelBuffers32 = ins;
  output.numChannels = 2;
  output.channelBuffers32 = outs;

  auto changes = nimbohost::cParameterChanges::Make();
  const int queues = in.ConsumeIntegralInRange<int>(0, 6);
  for (int q = 0; q < queues; ++q) {
    const ParamID id = AnyId(in);
    for (int p = in.ConsumeIntegralInRange<int>(1, 4); p > 0; --p)
      changes->Add(id, in.ConsumeIntegralInRange<int32>(-4, frames + 4), SpecialDouble(in));
  }
  auto reported = nimbohost::cParameterChanges::Make();
  ProcessData data{};
  data.processMode = kRealtime;
  data.symbolicSampleSize = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? kSample64 : kSample32;
  data.numSamples = frames;
  data.numInputs = in.ConsumeBool() ? 1 : 0;
  data.numOutputs = 1;
  data.inputs = &input;
  data.outputs = &output;
  data.inputParameterChanges = in.ConsumeBool() ? changes.get() : nullptr;
  data.outputParameterChanges = in.ConsumeBool() ? reported.get() : nullptr;
  if (fx.processor->process(data) != kResultOk) return;

  if (!dirty && !fx.dirtyBefore) {
    for (int32_t i = 0; i < frames; ++i) {
      if (!std::isfinite(outL[static_cast<size_t>(i)]) || !std::isfinite(outR[static_cast<size_t>(i)]))
        Fail("output not finite for sane input", outL[static_cast<size_t>(i)]);
    }
  }
  fx.dirtyBefore = dirty;
}

void RoundTripState(FuzzedDataProvider& in, sInstance& fx) {
  auto saved = nimbohost::cMemoryStream::Make({}, in.ConsumeIntegralInRange<int32>(0, 9));
  if (fx.component->getState(saved.get()) != kResultOk) Fail("getState failed");
  std::vector<char> bytes = saved->Bytes();
  auto back = nimbohost::cMemoryStream::Make(bytes, in.ConsumeIntegralInRange<int32>(0, 9));
  if (fx.component->setState(back.get()) != kResultOk) Fail("a saved state does not load back");
  // The same state, mutated: taken or refused, never a crash.
  for (int flips = in.ConsumeIntegralInRange<int>(0, 3); flips > 0 && !bytes.empty(); --flips) {
    const size_t at = in.ConsumeIntegralInRange<size_t>(0, bytes.size() - 1);
    bytes[at] = static_cast<char>(bytes[at] ^ in.ConsumeIntegral<uint8_t>());
  }
  if (in.ConsumeBool()) bytes.resize(in.ConsumeIntegralInRange<size_t>(0, bytes.size() + 4));
  auto mutated = nimbohost::cMemoryStream::Make(bytes, in.ConsumeIntegralInRange<int32>(0, 9));
  fx.component->setState(mutated.get());
}

void Texts(FuzzedDataProvider& in, sInstance& fx) {
  const ParamID id = AnyId(in);
  const double value = SpecialDouble(in);
  String128 text{};
  const bool known = id < 20;
  if (fx.controller->getParamStringByValue(id, value, text) == kResultOk) {
    ParamValue back = -1.0;
    if (fx.controller->getParamValueByString(id, text, back) != kResultOk && known)
      Fail("a value text does not parse back", static_cast<double>(id));
    if (!(back >= 0.0 && back <= 1.0)) Fail("parsed value outside [0, 1]", back);
  } else if (known) {
    Fail("no text for a parameter", static_cast<double>(id));
  }
  std::u16string typed;
  for (int n = in.ConsumeIntegralInRange<int>(0, 40); n > 0; --n) typed += static_cast<char16_t>(in.ConsumeIntegral<uint16_t>());
  typed += u'\0';
  ParamValue parsed = 0.0;
  if (fx.controller->getParamValueByString(id, typed.data(), parsed) == kResultOk && !(parsed >= 0.0 && parsed <= 1.0))
    Fail("parsed value outside [0, 1]", parsed);
  fx.controller->normalizedParamToPlain(id, value);
  fx.controller->plainParamToNormalized(id, SpecialDouble(in) * 1000.0);
}

void Run(FuzzedDataProvider& in) {
  IPluginFactory* factory = GetPluginFactory();
  sInstance instances[2];
  int64_t frameBudget = kMaxFramesPerInput;
  for (int op = 0; op < kMaxOperations && in.remaining_bytes() > 0 && frameBudget > 0; ++op) {
    sInstance& fx = instances[in.ConsumeIntegralInRange<int>(0, 1)];
    if (!fx.component) Make(factory, fx);
    switch (in.ConsumeIntegralInRange<int>(0, 11)) {
      case 0: {
        ProcessSetup setup{in.ConsumeIntegralInRange<int32>(0, 2), in.ConsumeIntegralInRange<int32>(0, 1),
                           in.ConsumeIntegralInRange<int32>(-1, kMaxBlock), SpecialDouble(in) * 200000.0};
        if (fx.processor->setupProcessing(setup) == kResultOk) fx.maxBlock = setup.maxSamplesPerBlock;
        break;
      }
      case 1: fx.component->setActive(in.ConsumeBool()); break;
      case 2: fx.processor->setProcessing(in.ConsumeBool()); break;
      case 3:
      case 4: Process(in, fx, frameBudget); break;
      case 5: RoundTripState(in, fx); break;
      case 6: {
        const ParamID id = AnyId(in);
        fx.controller->setParamNormalized(id, SpecialDouble(in));
        const double n = fx.controller->getParamNormalized(id);
        if (!(n >= 0.0 && n <= 1.0)) Fail("normalized value outside [0, 1]", n);
        break;
      }
      case 7: Texts(in, fx); break;
      case 8: {
        SpeakerArrangement arrangements[2] = {in.ConsumeIntegral<uint64>(), SpeakerArr::kStereo};
        if (in.ConsumeBool()) arrangements[0] = in.ConsumeBool() ? SpeakerArr::kMono : SpeakerArr::kStereo;
        fx.processor->setBusArrangements(arrangements, in.ConsumeIntegralInRange<int32>(0, 2), arrangements + 1,
                                         in.ConsumeIntegralInRange<int32>(0, 1));
        BusInfo bus{};
        fx.component->getBusInfo(in.ConsumeIntegralInRange<int32>(-1, 2), in.ConsumeIntegralInRange<int32>(-1, 2),
                                 in.ConsumeIntegralInRange<int32>(-1, 1), bus);
        break;
      }
      case 9: {
        String128 name{};
        UnitInfo unit{};
        ProgramListInfo list{};
        fx.units->getUnitInfo(in.ConsumeIntegralInRange<int32>(-1, 7), unit);
        fx.units->getProgramListInfo(in.ConsumeIntegralInRange<int32>(-1, 1), list);
        fx.units->getProgramName(in.ConsumeIntegralInRange<int32>(-1, 2), in.ConsumeIntegralInRange<int32>(-1, 65), name);
        fx.processor->getTailSamples();
        break;
      }
      case 10: fx.controller->setParamNormalized(19, in.ConsumeIntegralInRange<int>(0, 63) / 63.0); break;
      default: Release(fx); break;
    }
  }
  for (sInstance& fx : instances) {
    if (fx.component) Release(fx);
  }
  factory->release();
}

}  // namespace

void FuzzVst3(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Run(in);
}
