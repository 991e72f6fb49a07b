// The CLAP entry under the same fuzz input: up to two instances created,
// activated at any rate and destroyed in any order; blocks with parameter
// events of any id, value, time and order (other spaces and types too);
// flushes; state blobs, valid ones with bytes changed and arbitrary ones,
// through streams of any chunk size; texts both ways; preset keys.
//
// Checks: no crash and no sanitizer report; every parameter value within its
// declared range; a refused state changes nothing; finite output for finite
// input within +-1e6, one block of grace after dirty input.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "clap/entry.h"
#include "clap/events.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/plugin-factory.h"
#include "clap_additions.h"

extern "C" const clap_plugin_entry_t clap_entry;

namespace {

constexpr uint32_t kMaxBlock = 2048;
constexpr int32_t kMaxOperations = 128;
constexpr int64_t kMaxFrames = 1 << 13;

[[noreturn]] void Fail(const char* what, double detail = 0.0) {
  std::fprintf(stderr, "nimbohall_fuzz (CLAP): %s (%g)\n", what, detail);
  std::abort();
}

const void* NoExtension(const clap_host_t*, const char*) { return nullptr; }
void Nothing(const clap_host_t*) {}
const clap_host_t kHost = {CLAP_VERSION_INIT, nullptr, "fuzz", "fuzz", "", "1", NoExtension, Nothing, Nothing, Nothing};

double AnyValue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return std::numeric_limits<double>::infinity();
    case 2: return -1e300;
    case 3: return in.ConsumeIntegralInRange<int>(-3, 20);
    default: return in.ConsumeFloatingPointInRange<double>(-2.0, 2.0);
  }
}

struct sStream {
  std::vector<uint8_t> bytes;
  size_t position = 0;
  size_t chunk = 1;
};

int64_t Read(const clap_istream_t* s, void* out, uint64_t size) {
  auto* b = static_cast<sStream*>(s->ctx);
  const size_t n = std::min({static_cast<size_t>(size), b->chunk, b->bytes.size() - b->position});
  if (n > 0) std::memcpy(out, b->bytes.data() + b->position, n);
  b->position += n;
  return static_cast<int64_t>(n);
}

int64_t Write(const clap_ostream_t* s, const void* data, uint64_t size) {
  auto* b = static_cast<sStream*>(s->ctx);
  const size_t n = std::min(static_cast<size_t>(size), b->chunk);
  b->bytes.insert(b->bytes.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n);
  return static_cast<int64_t>(n);
}

struct sEvents {
  std::vector<clap_event_param_value_t> events;
};
uint32_t Count(const clap_input_events_t* l) { return static_cast<uint32_t>(static_cast<sEvents*>(l->ctx)->events.size()); }
const clap_event_header_t* Get(const clap_input_events_t* l, uint32_t i) {
  return &static_cast<sEvents*>(l->ctx)->events[i].header;
}
bool Push(const clap_output_events_t*, const clap_event_header_t*) { return true; }

class cClapFuzz {
 public:
  explicit cClapFuzz(FuzzedDataProvider& in) : m_In(in) {
    clap_entry.init("");
    m_Factory = static_cast<const clap_plugin_factory_t*>(clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
  }
  ~cClapFuzz() {
    for (sInstance& i : m_Instances)
      if (i.plugin) Destroy(i);
    clap_entry.deinit();
  }

  void Run() {
    for (int32_t op = 0; op < kMaxOperations && m_In.remaining_bytes() > 0 && m_Frames < kMaxFrames; ++op) {
      Step();
      for (sInstance& i : m_Instances)
        if (i.plugin) CheckValues(i);
    }
  }

 private:
  struct sInstance {
    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_state_t* state = nullptr;
    const clap_plugin_preset_load_t* presets = nullptr;
    const clap_plugin_tail_t* tail = nullptr;
    bool active = false;
    int32_t saneBlocks = 1;
  };

  void Destroy(sInstance& i) {
    if (i.active) i.plugin->deactivate(i.plugin);
    i.plugin->destroy(i.plugin);
    i = sInstance{};
  }

  void Step() {
    sInstance& i = m_Instances[m_In.ConsumeIntegralInRange<size_t>(0, m_Instances.size() - 1)];
    if (!i.plugin) {
      i.plugin = m_Factory->create_plugin(m_Factory, &kHost, "com.brannoch.nimbohall");
      if (!i.plugin || !i.plugin->init(i.plugin)) Fail("cannot create");
      i.params = static_cast<const clap_plugin_params_t*>(i.plugin->get_extension(i.plugin, CLAP_EXT_PARAMS));
      i.state = static_cast<const clap_plugin_state_t*>(i.plugin->get_extension(i.plugin, CLAP_EXT_STATE));
      i.presets = static_cast<const clap_plugin_preset_load_t*>(i.plugin->get_extension(i.plugin, CLAP_EXT_PRESET_LOAD));
      i.tail = static_cast<const clap_plugin_tail_t*>(i.plugin->get_extension(i.plugin, CLAP_EXT_TAIL));
      return;
    }
    switch (m_In.ConsumeIntegralInRange<int>(0, 11)) {
      case 0: Destroy(i); break;
      case 1: {
        const double rates[] = {44100.0, 48000.0, 0.0, -1.0, 1e9, 1.0, std::numeric_limits<double>::quiet_NaN()};
        if (i.active) i.plugin->deactivate(i.plugin);
        i.active = i.plugin->activate(i.plugin, rates[m_In.ConsumeIntegralInRange<size_t>(0, 6)], 1, kMaxBlock);
        break;
      }
      case 2: State(i); break;
      case 3: Texts(i); break;
      case 4: {
        const std::string key = m_In.ConsumeRandomLengthString(8);
        i.presets->from_location(i.plugin, m_In.ConsumeIntegralInRange<uint32_t>(0, 2), nullptr, key.c_str());
        break;
      }
      case 5: {
        sEvents e = Events(0);
        const clap_input_events_t in = {&e, Count, Get};
        const clap_output_events_t out = {nullptr, Push};
        i.params->flush(i.plugin, &in, &out);
        break;
      }
      case 6: i.plugin->reset(i.plugin); break;
      default:
        if (i.active) Audio(i);
        break;
    }
  }

  sEvents Events(uint32_t frames) {
    sEvents e;
    const size_t count = m_In.ConsumeIntegralInRange<size_t>(0, 12);
    for (size_t k = 0; k < count; ++k) {
      clap_event_param_value_t v{};
      v.header.size = m_In.ConsumeBool() ? sizeof v : m_In.ConsumeIntegralInRange<uint32_t>(0, sizeof v);
      v.header.time = m_In.ConsumeIntegralInRange<uint32_t>(0, frames + 4);
      v.header.space_id = m_In.ConsumeIntegralInRange<uint16_t>(0, 3) == 0 ? 7 : CLAP_CORE_EVENT_SPACE_ID;
      v.header.type = m_In.ConsumeIntegralInRange<uint16_t>(0, 7) == 0 ? CLAP_EVENT_PARAM_MOD : CLAP_EVENT_PARAM_VALUE;
      v.param_id = m_In.ConsumeIntegralInRange<clap_id>(0, 21);
      v.value = AnyValue(m_In);
      e.events.push_back(v);
    }
    return e;
  }

  void Audio(sInstance& i) {
    const uint32_t frames = m_In.ConsumeIntegralInRange<uint32_t>(0, kMaxBlock);
    std::vector<float> l(frames), r(frames), ol(frames), or_(frames);
    const bool sane = m_In.ConsumeIntegralInRange<int>(0, 5) != 0;
    const float level = sane ? m_In.ConsumeFloatingPointInRange<float>(0.0f, 1e6f) : 1e30f;
    for (uint32_t k = 0; k < frames; ++k) {
      l[k] = level * std::sin(0.07f * static_cast<float>(k));
      r[k] = sane ? -l[k] : (k % 7 ? std::numeric_limits<float>::quiet_NaN() : l[k]);
    }
    const bool inPlace = m_In.ConsumeBool();
    float* inputs[2] = {l.data(), r.data()};
    float* outputs[2] = {inPlace ? l.data() : ol.data(), inPlace ? r.data() : or_.data()};
    clap_audio_buffer_t input = {inputs, nullptr, 2, 0, 0};
    clap_audio_buffer_t output = {outputs, nullptr, 2, 0, 0};
    sEvents e = Events(frames);
    const clap_input_events_t in = {&e, Count, Get};
    const clap_output_events_t out = {nullptr, Push};
    const clap_process_t process = {0, frames, nullptr, &input, &output, 1, 1, &in, &out};
    i.plugin->process(i.plugin, &process);
    i.tail->get(i.plugin);
    m_Frames += frames;
    i.saneBlocks = sane ? i.saneBlocks + 1 : 0;
    if (i.saneBlocks >= 2)
      for (uint32_t k = 0; k < frames; ++k)
        if (!std::isfinite(outputs[0][k]) || !std::isfinite(outputs[1][k])) Fail("non-finite output for sane input", k);
  }

  void State(sInstance& i) {
    sStream saved;
    saved.chunk = m_In.ConsumeIntegralInRange<size_t>(1, 200);
    const clap_ostream_t os = {&saved, Write};
    if (!i.state->save(i.plugin, &os)) Fail("state save failed");
    sStream load;
    if (m_In.ConsumeBool()) {
      load.bytes = saved.bytes;
      for (int flips = m_In.ConsumeIntegralInRange<int>(0, 3); flips > 0 && !load.bytes.empty(); --flips)
        load.bytes[m_In.ConsumeIntegralInRange<size_t>(0, load.bytes.size() - 1)] ^= m_In.ConsumeIntegral<uint8_t>();
      if (m_In.ConsumeBool()) load.bytes.resize(m_In.ConsumeIntegralInRange<size_t>(0, load.bytes.size() + 4));
    } else {
      load.bytes = m_In.ConsumeBytes<uint8_t>(m_In.ConsumeIntegralInRange<size_t>(0, 300));
    }
    load.chunk = m_In.ConsumeIntegralInRange<size_t>(1, 300);
    const std::vector<double> before = Values(i);
    const clap_istream_t is = {&load, Read};
    if (!i.state->load(i.plugin, &is) && Values(i) != before) Fail("a refused state changed the settings");
  }

  void Texts(sInstance& i) {
    const clap_id id = m_In.ConsumeIntegralInRange<clap_id>(0, 20);
    char text[64];
    i.params->value_to_text(i.plugin, id, AnyValue(m_In), text, m_In.ConsumeIntegralInRange<uint32_t>(0, sizeof text));
    const std::string typed = m_In.ConsumeRandomLengthString(40);
    double value = 0.0;
    if (i.params->text_to_value(i.plugin, id, typed.c_str(), &value) && !std::isfinite(value)) Fail("parsed a non-finite value");
  }

  std::vector<double> Values(sInstance& i) {
    std::vector<double> values;
    for (clap_id id = 0; id < i.params->count(i.plugin); ++id) {
      double v = 0.0;
      i.params->get_value(i.plugin, id, &v);
      values.push_back(v);
    }
    return values;
  }

  void CheckValues(sInstance& i) {
    for (uint32_t k = 0; k < i.params->count(i.plugin); ++k) {
      clap_param_info_t info{};
      double v = NAN;
      if (!i.params->get_info(i.plugin, k, &info) || !i.params->get_value(i.plugin, info.id, &v)) Fail("no info or value", k);
      // Stored programs may hold values beyond a stepped range only where the factory put them: none do.
      if (!(v >= info.min_value && v <= info.max_value)) Fail("value outside its declared range", info.id);
    }
  }

  FuzzedDataProvider& m_In;
  const clap_plugin_factory_t* m_Factory = nullptr;
  std::array<sInstance, 2> m_Instances{};
  int64_t m_Frames = 0;
};

}  // namespace

void FuzzClap(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  cClapFuzz fuzz(in);
  fuzz.Run();
}
