// The LV2 entry under fuzz input: up to two instances made at any sample
// rate, ports connected to nothing, to moving buffers and in place, control
// values of every kind (NaN, infinities, huge, denormal, out of range), runs
// of 0 to 8192 frames, activate and deactivate in any order, extension data
// asked for any URI (the plugin offers none, so it has no state to corrupt).
//
// Checks: no crash and no sanitizer report; finite output for finite input
// within +-1e6, one run of grace after dirty input.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

constexpr uint32_t kNumControls = 19;  // the parameters, then "enabled"
constexpr uint32_t kFirstAudioPort = 19;
constexpr uint32_t kNumPorts = 23;
constexpr uint32_t kMaxRun = 8192;
constexpr int64_t kMaxFrames = 1 << 13;
constexpr int32_t kMaxOperations = 128;
constexpr float kSaneLimit = 1e6f;

[[noreturn]] void Fail(const char* what, double detail = 0.0) {
  std::fprintf(stderr, "nimbohall_fuzz (LV2): %s (%g)\n", what, detail);
  std::abort();
}

double SampleRate(FuzzedDataProvider& in) {
  static constexpr double kRates[] = {0.0, -1.0, 1e-300, 1.0, 8000.0, 44100.0, 48000.0, 96000.0, 192000.0, 1e7,
                                      1e9, 1e300};
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return std::numeric_limits<double>::infinity();
    case 2: return in.ConsumeFloatingPointInRange<double>(-1e6, 1e6);
    default: return kRates[in.ConsumeIntegralInRange<size_t>(0, std::size(kRates) - 1)];
  }
}

float ControlValue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0: return std::numeric_limits<float>::quiet_NaN();
    case 1: return std::numeric_limits<float>::infinity();
    case 2: return -std::numeric_limits<float>::infinity();
    case 3: return std::numeric_limits<float>::max();
    case 4: return -1e30f;
    case 5: return std::numeric_limits<float>::denorm_min();
    case 6: return static_cast<float>(in.ConsumeIntegralInRange<int>(-2, 20));
    default: return in.ConsumeFloatingPointInRange<float>(-10.0f, 1100.0f);
  }
}

struct sInstance {
  LV2_Handle handle = nullptr;
  bool active = false;
  std::array<float, kNumControls> controls{};
  // Audio buffers of exactly the last run's length, so a read or write beyond it is seen.
  std::array<std::vector<float>, 4> audio;
  std::array<bool, 4> connected{};
  bool inPlace = false;
  bool dirtyBefore = false;
};

class cLv2Fuzz {
 public:
  explicit cLv2Fuzz(FuzzedDataProvider& in) : m_In(in), m_Descriptor(lv2_descriptor(0)) {
    if (!m_Descriptor || lv2_descriptor(1)) Fail("descriptor list");
  }
  ~cLv2Fuzz() {
    for (sInstance& i : m_Instances) Destroy(i);
  }

  void Run() {
    for (int32_t op = 0; op < kMaxOperations && m_In.remaining_bytes() > 0; ++op) {
      sInstance& i = m_Instances[m_In.ConsumeIntegralInRange<size_t>(0, m_Instances.size() - 1)];
      if (!i.handle) {
        Create(i);
        continue;
      }
      switch (m_In.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: Destroy(i); break;
        case 1:
          m_Descriptor->activate(i.handle);
          i.active = true;
          break;
        case 2:
          m_Descriptor->deactivate(i.handle);
          i.active = false;
          break;
        case 3: ConnectAny(i); break;
        case 4: m_Descriptor->extension_data(m_In.ConsumeBool() ? LV2_STATE__interface : "urn:nothing"); break;
        case 5:
        case 6: i.controls[m_In.ConsumeIntegralInRange<size_t>(0, kNumControls - 1)] = ControlValue(m_In); break;
        default: Render(i); break;
      }
    }
  }

 private:
  void Create(sInstance& i) {
    const double rate = SampleRate(m_In);
    i = sInstance{};
    i.handle = m_Descriptor->instantiate(m_Descriptor, rate, "/nowhere/", nullptr);
    if (!i.handle) return;
    for (uint32_t p = 0; p < kNumControls; ++p) {
      i.controls[p] = ControlValue(m_In);
      if (m_In.ConsumeIntegralInRange<int>(0, 7) != 0) m_Descriptor->connect_port(i.handle, p, &i.controls[p]);
    }
  }

  void Destroy(sInstance& i) {
    if (!i.handle) return;
    if (i.active && m_In.ConsumeBool()) m_Descriptor->deactivate(i.handle);
    m_Descriptor->cleanup(i.handle);
    i = sInstance{};
  }

  // A port disconnected, a control moved elsewhere in the array, or a port beyond the last one.
  void ConnectAny(sInstance& i) {
    const auto port = m_In.ConsumeIntegralInRange<uint32_t>(0, kNumPorts + 2);
    void* data = nullptr;
    if (port < kNumControls && m_In.ConsumeBool())
      data = &i.controls[m_In.ConsumeIntegralInRange<size_t>(0, kNumControls - 1)];
    else if (port >= kNumPorts)
      data = &i.controls[0];
    m_Descriptor->connect_port(i.handle, port, data);
    if (port >= kFirstAudioPort && port < kNumPorts) i.connected[port - kFirstAudioPort] = false;
  }

  void Render(sInstance& i) {
    const auto frames = m_In.ConsumeIntegralInRange<uint32_t>(0, kMaxRun);
    if (m_Frames + frames > kMaxFrames) return;
    m_Frames += frames;
    // New buffers (the host moved them) or the old ones when they fit.
    const bool move = m_In.ConsumeBool() || i.audio[0].size() != frames;
    if (move) {
      i.inPlace = m_In.ConsumeIntegralInRange<int>(0, 3) == 0;
      for (uint32_t k = 0; k < 4; ++k) {
        i.audio[k].assign(frames, 0.0f);
        i.connected[k] = m_In.ConsumeIntegralInRange<int>(0, 15) != 0;
        // In place: each output shares its input's buffer, as LV2 allows.
        float* buffer = i.inPlace && k >= 2 ? i.audio[k - 2].data() : i.audio[k].data();
        m_Descriptor->connect_port(i.handle, kFirstAudioPort + k, i.connected[k] ? buffer : nullptr);
      }
    }
    bool dirty = false;
    const int kind = m_In.ConsumeIntegralInRange<int>(0, 7);
    for (uint32_t k = 0; k < 2; ++k)
      for (float& s : i.audio[k]) {
        s = kind == 0 ? ControlValue(m_In) : 0.5f * std::sin(0.01f * static_cast<float>(&s - i.audio[k].data()));
        dirty |= !(std::fabs(s) <= kSaneLimit);
      }
    m_Descriptor->run(i.handle, frames);
    const bool allConnected = i.connected[0] && i.connected[1] && i.connected[2] && i.connected[3];
    if (allConnected && !dirty && !i.dirtyBefore)
      for (uint32_t k = 0; k < 2; ++k)
        for (float s : i.audio[i.inPlace ? k : k + 2])
          if (!std::isfinite(s)) Fail("non-finite output for finite input", s);
    i.dirtyBefore = dirty;
  }

  FuzzedDataProvider& m_In;
  const LV2_Descriptor* m_Descriptor;
  std::array<sInstance, 2> m_Instances{};
  int64_t m_Frames = 0;
};

}  // namespace

void FuzzLv2(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  cLv2Fuzz fuzz(in);
  fuzz.Run();
}
