// The VST 2.x entry under fuzz input: the plugin's exported entry and its
// effect records under arbitrary request sequences, as hostile a host as the
// interface allows.
// Every buffer handed over is exactly as large as the request may write (so
// the address sanitizer sees any byte beyond it); everything else is free:
// opcodes 0..80 with any index, value and opt, parameter values including NaN
// and infinities, sample rates of 0, below 0, NaN and 1e9, events with any
// offsets, audio with NaN, infinities, denormals and 1e30, and up to three
// instances created, opened and closed in any order.
//
// Checks on every input: no crash and no sanitizer report; getParameter
// within [0, 1]; no output written before effOpen; finite output for input
// that is finite and within +-1e6, with one block of grace after dirty input.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "vst2.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback host);

namespace {

constexpr int32_t kNumParams = 18;
constexpr int32_t kMaxInstances = 3;
constexpr int32_t kMaxOperations = 256;
constexpr int64_t kMaxFramesPerInput = 1 << 13;  // instrumented audio is slow: keeps a run to milliseconds
constexpr int32_t kMaxBlock = 4096;
constexpr float kSaneLimit = 1e6f;
constexpr float kPrefill = 777.0f;

[[noreturn]] void Fail(const char* what, double detail = 0.0) {
  std::fprintf(stderr, "nimbohall_fuzz (VST 2.x): %s (%g)\n", what, detail);
  std::abort();
}

// What the host answers while an effect is being created.
struct sHostAnswers {
  intptr_t version = 2400;
  intptr_t sampleRate = 44100;
  intptr_t blockSize = 512;
  size_t vendorLength = 8;
};
sHostAnswers gAnswers;

intptr_t VSTCALLBACK HostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
  switch (opcode) {
    case audioMasterVersion: return gAnswers.version;
    case audioMasterCurrentId: return 0;
    case audioMasterGetVendorVersion: return 1;
    case audioMasterGetVendorString:
    case audioMasterGetProductString:
      // The effect hands over 1024 bytes; a chatty host fills all but the terminator.
      if (ptr) {
        std::memset(ptr, 'h', gAnswers.vendorLength);
        static_cast<char*>(ptr)[gAnswers.vendorLength] = '\0';
      }
      return 1;
    case audioMasterGetSampleRate: return gAnswers.sampleRate;
    case audioMasterGetBlockSize: return gAnswers.blockSize;
    default: return 0;
  }
}

float SpecialFloat(FuzzedDataProvider& in) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: return nan;
    case 1: return -nan;
    case 2: return inf;
    case 3: return -inf;
    case 4: return -0.0f;
    case 5: return 0.0f;
    case 6: return 1.0f;
    case 7: return std::nextafter(1.0f, 2.0f);
    case 8: return -std::numeric_limits<float>::denorm_min();
    case 9: return std::numeric_limits<float>::denorm_min();
    case 10: return 1e30f;
    case 11: return -1e30f;
    case 12: {
      const uint32_t bits = in.ConsumeIntegral<uint32_t>();
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    default: return in.ConsumeFloatingPointInRange<float>(-0.25f, 1.25f);
  }
}

float SampleRate(FuzzedDataProvider& in) {
  static constexpr float kRates[] = {0.0f, -1.0f, -44100.0f, 1e9f, 1e-30f, 1.0f, 8000.0f, 44100.0f, 48000.0f,
                                     96000.0f, 192000.0f, 384000.0f, 1e7f, 3e38f};
  if (in.ConsumeBool()) return kRates[in.ConsumeIntegralInRange<size_t>(0, std::size(kRates) - 1)];
  return SpecialFloat(in);
}

// A heap block of exactly the size a request may fill.
struct sBuffer {
  explicit sBuffer(size_t n, char fill = 0) : size(n), bytes(new char[n]) { std::memset(bytes.get(), fill, n); }
  size_t size;
  std::unique_ptr<char[]> bytes;
  char* data() { return bytes.get(); }
  bool Terminated() const { return std::memchr(bytes.get(), '\0', size) != nullptr; }
};

// Sizes the interface promises for what each request writes; 0: the request reads a text.
size_t WrittenSize(int32_t opcode) {
  switch (opcode) {
    case effGetProgramName:
    case effGetProgramNameIndexed: return 25;  // 24 characters and a NUL
    case effGetParamLabel: return 10;
    case effGetParamDisplay:
    case effGetParamName: return 9;
    case effGetEffectName: return kVstMaxEffectNameLen + 1;
    case effGetVendorString:
    case effGetProductString: return kVstMaxVendorStrLen + 1;
    case effGetParameterProperties: return sizeof(VstParameterProperties);
    case effGetInputProperties:
    case effGetOutputProperties: return sizeof(VstPinProperties);
    case effSetProgramName:
    case effCanDo:
    case effString2Parameter: return 0;
    default: return 512;  // requests the effect leaves alone
  }
}

bool IsText(int32_t opcode) {
  switch (opcode) {
    case effGetProgramName:
    case effGetProgramNameIndexed:
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
    case effGetEffectName:
    case effGetVendorString:
    case effGetProductString: return true;
    default: return false;
  }
}

// A text of any length and bytes, terminated at the very end of its block.
sBuffer Text(FuzzedDataProvider& in) {
  const size_t length = in.ConsumeIntegralInRange<size_t>(0, 80);
  sBuffer text(length + 1, 'x');
  for (size_t i = 0; i < length; ++i) {
    const char c = in.ConsumeIntegral<char>();
    text.data()[i] = c ? c : 'z';
  }
  text.data()[length] = '\0';
  return text;
}

class cFuzzHost {
 public:
  explicit cFuzzHost(FuzzedDataProvider& in) : m_In(in) {}
  ~cFuzzHost() {
    for (sInstance& i : m_Instances)
      if (i.effect) Dispatch(i, effClose);
  }

  void Run() {
    for (int32_t op = 0; op < kMaxOperations && m_In.remaining_bytes() > 0 && m_Frames < kMaxFramesPerInput; ++op) {
      Step();
      CheckParameters();
    }
  }

 private:
  struct sInstance {
    AEffect* effect = nullptr;
    bool opened = false;
    int32_t saneBlocks = 1;  // sane blocks since the last dirty one
  };

  sInstance* Pick() {
    sInstance& i = m_Instances[m_In.ConsumeIntegralInRange<size_t>(0, kMaxInstances - 1)];
    return i.effect ? &i : nullptr;
  }

  intptr_t Dispatch(sInstance& i, int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f) {
    const intptr_t result = i.effect->dispatcher(i.effect, opcode, index, value, ptr, opt);
    if (opcode == effOpen) i.opened = true;
    if (opcode == effClose) i = sInstance{};  // the record is gone
    return result;
  }

  void Step() {
    switch (m_In.ConsumeIntegralInRange<int>(0, 15)) {
      case 0: Create(); break;
      case 1:
        if (sInstance* i = Pick()) Dispatch(*i, effClose);
        break;
      case 2:
      case 3: AnyRequest(); break;
      case 4:
        if (sInstance* i = Pick()) {
          const int32_t index = m_In.ConsumeIntegralInRange<int32_t>(-2, kNumParams + 1);
          i->effect->setParameter(i->effect, index, SpecialFloat(m_In));
        }
        break;
      case 5:
        if (sInstance* i = Pick()) Dispatch(*i, effSetProgram, 0, m_In.ConsumeIntegralInRange<intptr_t>(-2, 65));
        break;
      case 6:
        if (sInstance* i = Pick()) Dispatch(*i, effSetSampleRate, 0, 0, nullptr, SampleRate(m_In));
        break;
      case 7:
        if (sInstance* i = Pick()) Dispatch(*i, effMainsChanged, 0, m_In.ConsumeIntegralInRange<intptr_t>(-1, 2));
        break;
      case 8:
        if (sInstance* i = Pick()) Events(*i);
        break;
      case 9:
        if (sInstance* i = Pick()) {
          sBuffer name = Text(m_In);
          Dispatch(*i, effSetProgramName, 0, 0, name.data());
        }
        break;
      case 10:
        if (sInstance* i = Pick()) Dispatch(*i, effOpen);
        break;
      default:
        if (sInstance* i = Pick()) Audio(*i);
        break;
    }
  }

  void Create() {
    if (m_In.ConsumeIntegralInRange<int>(0, 15) == 0 && VSTPluginMain(nullptr) != nullptr)
      Fail("VSTPluginMain(null) returned an effect");
    sInstance* slot = nullptr;
    for (sInstance& i : m_Instances) {
      if (!i.effect) {
        slot = &i;
        break;
      }
    }
    if (!slot) return;
    static constexpr intptr_t kVersions[] = {0, 1, 2, 2300, 2400, -1};
    gAnswers.version = kVersions[m_In.ConsumeIntegralInRange<size_t>(0, std::size(kVersions) - 1)];
    gAnswers.sampleRate = m_In.ConsumeBool() ? 44100 : m_In.ConsumeIntegral<int32_t>();
    gAnswers.blockSize = m_In.ConsumeIntegral<int32_t>();
    gAnswers.vendorLength = m_In.ConsumeIntegralInRange<size_t>(0, 1023);
    AEffect* e = VSTPluginMain(&HostCallback);
    if (!e || e->magic != kEffectMagic || e->numParams != kNumParams) Fail("no usable effect record");
    *slot = sInstance{e};
  }

  void AnyRequest() {
    sInstance* i = Pick();
    if (!i) return;
    const int32_t opcode = m_In.ConsumeIntegralInRange<int>(0, 15) == 0 ? m_In.ConsumeIntegral<int32_t>()
                                                                         : m_In.ConsumeIntegralInRange<int32_t>(0, 80);
    int32_t index;
    switch (m_In.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: index = m_In.ConsumeIntegral<int32_t>(); break;
      case 1: index = -1; break;
      default: index = m_In.ConsumeIntegralInRange<int32_t>(0, 70); break;
    }
    const intptr_t value = m_In.ConsumeBool() ? m_In.ConsumeIntegralInRange<intptr_t>(-2, 70)
                                              : m_In.ConsumeIntegral<intptr_t>();
    const float opt = m_In.ConsumeBool() ? SampleRate(m_In) : SpecialFloat(m_In);
    if (opcode == effProcessEvents) return Events(*i);

    const bool noBuffer = m_In.ConsumeIntegralInRange<int>(0, 15) == 0;
    const size_t size = WrittenSize(opcode);
    sBuffer buffer = size ? sBuffer(size, '\x5A') : Text(m_In);
    Dispatch(*i, opcode, index, value, noBuffer ? nullptr : buffer.data(), opt);
    if (opcode == effClose) return;
    if (!noBuffer && IsText(opcode) && buffer.data()[0] != '\x5A' && !buffer.Terminated())
      Fail("a text request left its buffer unterminated", opcode);
    const intptr_t program = Dispatch(*i, effGetProgram);
    if (program < 0 || program >= 64) Fail("current program out of range", static_cast<double>(program));
  }

  void Events(sInstance& i) {
    const int32_t count = m_In.ConsumeIntegralInRange<int32_t>(-1, 40);
    const size_t slots = count > 0 ? static_cast<size_t>(count) : 0;
    // A host lays out the count, a reserved word and the pointers, nothing more.
    std::vector<std::unique_ptr<VstEvent>> events(slots);
    sBuffer list(offsetof(VstEvents, events) + std::max<size_t>(slots, 1) * sizeof(VstEvent*));
    auto* header = reinterpret_cast<VstEvents*>(list.data());
    header->numEvents = count;
    auto** pointers = reinterpret_cast<VstEvent**>(list.data() + offsetof(VstEvents, events));
    for (size_t k = 0; k < slots; ++k) {
      if (m_In.ConsumeIntegralInRange<int>(0, 31) == 0) {
        pointers[k] = nullptr;
        continue;
      }
      events[k] = std::make_unique<VstEvent>();
      events[k]->type = m_In.ConsumeIntegral<int32_t>();
      events[k]->byteSize = m_In.ConsumeIntegral<int32_t>();
      events[k]->deltaFrames = m_In.ConsumeBool() ? m_In.ConsumeIntegralInRange<int32_t>(-8, 4200)
                                                  : m_In.ConsumeIntegral<int32_t>();
      events[k]->flags = m_In.ConsumeIntegral<int32_t>();
      pointers[k] = events[k].get();
    }
    Dispatch(i, effProcessEvents, 0, 0, m_In.ConsumeIntegralInRange<int>(0, 31) ? list.data() : nullptr);
  }

  // One host block of some kind of audio, through the record's audio entry.
  void Audio(sInstance& i) {
    const int32_t frames = m_In.ConsumeIntegralInRange<int>(0, 31) == 0 ? m_In.ConsumeIntegralInRange<int32_t>(-3, 0)
                                                                        : m_In.ConsumeIntegralInRange<int32_t>(1, kMaxBlock);
    const size_t n = static_cast<size_t>(std::max(frames, 1));
    std::vector<float> inL(n), inR(n), outL(n, kPrefill), outR(n, kPrefill);
    const int kind = m_In.ConsumeIntegralInRange<int>(0, 9);
    const float level = m_In.ConsumeBool() ? 1.0f : kSaneLimit;
    uint32_t noise = m_In.ConsumeIntegral<uint32_t>() | 1u;
    for (size_t k = 0; k < n; ++k) {
      noise ^= noise << 13;
      noise ^= noise >> 17;
      noise ^= noise << 5;
      const float r = static_cast<float>(static_cast<int32_t>(noise)) * (1.0f / 2147483648.0f);
      float l = 0.0f, rr = 0.0f;
      switch (kind) {
        case 0: break;
        case 1: l = level * std::sin(0.05f * static_cast<float>(k)); rr = -l; break;
        case 2: l = level * r; rr = level * -r; break;
        case 3: l = rr = (noise & 256) ? kSaneLimit : -kSaneLimit; break;
        case 4: l = (noise & 63) ? r : std::numeric_limits<float>::quiet_NaN(); rr = r; break;
        case 5: l = r; rr = (noise & 31) ? r : ((noise & 32) ? 1.0f : -1.0f) * std::numeric_limits<float>::infinity(); break;
        case 6: l = rr = r * 1e-39f; break;
        case 7: l = r * 1e30f; rr = -1e30f; break;
        case 8: {
          const uint32_t bits = m_In.remaining_bytes() >= 4 ? m_In.ConsumeIntegral<uint32_t>() : noise;
          std::memcpy(&l, &bits, sizeof l);
          rr = r;
          break;
        }
        default: l = SpecialSample(noise); rr = SpecialSample(noise >> 8); break;
      }
      inL[k] = l;
      inR[k] = rr;
    }
    // Hosts process in place, or hand the same buffer to both inputs.
    const int layout = m_In.ConsumeIntegralInRange<int>(0, 3);
    bool sane = true;
    for (size_t k = 0; k < n; ++k)
      sane = sane && std::fabs(inL[k]) <= kSaneLimit && (layout == 2 || std::fabs(inR[k]) <= kSaneLimit);

    float* in[2] = {inL.data(), layout == 2 ? inL.data() : inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    if (layout == 1) {
      out[0] = inL.data();
      out[1] = inR.data();
    }
    i.effect->processReplacing(i.effect, in, out, frames);
    m_Frames += n;
    if (frames <= 0) return;

    if (!i.opened) {
      if (layout != 1)
        for (size_t k = 0; k < n; ++k)
          if (outL[k] != kPrefill || outR[k] != kPrefill) Fail("output written before effOpen");
      return;
    }
    i.saneBlocks = sane ? i.saneBlocks + 1 : 0;
    if (i.saneBlocks >= 2) {
      for (size_t k = 0; k < n; ++k)
        if (!std::isfinite(out[0][k]) || !std::isfinite(out[1][k]))
          Fail("non-finite output for sane input", static_cast<double>(k));
    }
  }

  static float SpecialSample(uint32_t bits) {
    switch (bits & 7) {
      case 0: return std::numeric_limits<float>::quiet_NaN();
      case 1: return std::numeric_limits<float>::infinity();
      case 2: return -std::numeric_limits<float>::infinity();
      case 3: return std::numeric_limits<float>::denorm_min();
      case 4: return 1e30f;
      case 5: return -1e30f;
      case 6: return std::numeric_limits<float>::max();
      default: return 0.5f;
    }
  }

  void CheckParameters() {
    for (sInstance& i : m_Instances) {
      if (!i.effect) continue;
      for (int32_t p = -1; p <= kNumParams; ++p) {
        const float n = i.effect->getParameter(i.effect, p);
        if (!(n >= 0.0f && n <= 1.0f)) Fail("getParameter outside [0, 1]", p);
        if ((p < 0 || p >= kNumParams) && n != 0.0f) Fail("getParameter answered for a missing index", p);
      }
    }
  }

  FuzzedDataProvider& m_In;
  std::array<sInstance, kMaxInstances> m_Instances{};
  int64_t m_Frames = 0;
};

}  // namespace

void FuzzVst2(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  cFuzzHost host(in);
  host.Run();
}
