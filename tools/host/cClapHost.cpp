#include "cClapHost.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace nimbohost {

// ---- library --------------------------------------------------------------------------

cClapLibrary::cClapLibrary(const std::string& path) : m_Library(path) {
  if (!m_Library.IsLoaded()) {
    m_Error = m_Library.Error();
    return;
  }
  const auto* entry = static_cast<const clap_plugin_entry_t*>(m_Library.Address("clap_entry"));
  if (!entry) {
    m_Error = "no clap_entry in " + path;
  } else if (!clap_version_is_compatible(entry->clap_version)) {
    m_Error = "incompatible CLAP version";
  } else if (!entry->init || !entry->init(path.c_str())) {
    m_Error = "clap_entry.init failed";
  } else {
    m_Entry = entry;
  }
}

cClapLibrary::~cClapLibrary() {
  if (m_Entry && m_Entry->deinit) m_Entry->deinit();
}

const clap_plugin_factory_t* cClapLibrary::PluginFactory() const {
  return m_Entry ? static_cast<const clap_plugin_factory_t*>(m_Entry->get_factory(CLAP_PLUGIN_FACTORY_ID)) : nullptr;
}

const clap_preset_discovery_factory_t* cClapLibrary::PresetFactory() const {
  if (!m_Entry) return nullptr;
  const void* factory = m_Entry->get_factory(CLAP_PRESET_DISCOVERY_FACTORY_ID);
  if (!factory) factory = m_Entry->get_factory(CLAP_PRESET_DISCOVERY_FACTORY_ID_COMPAT);
  return static_cast<const clap_preset_discovery_factory_t*>(factory);
}

// ---- instance ---------------------------------------------------------------------------

namespace {

void RequestNothing(const clap_host_t*) {}

}  // namespace

cClapInstance::cClapInstance()
    : m_Host{.clap_version = CLAP_VERSION_INIT,
             .host_data = this,
             .name = "nimbohall test host",
             .vendor = "Nimbohall",
             .url = "",
             .version = "1",
             .get_extension = HostExtension,
             .request_restart = RequestNothing,
             .request_process = RequestNothing,
             .request_callback = RequestNothing} {
  m_Events.reserve(4096);
}

const void* cClapInstance::HostExtension(const clap_host_t* host, const char* id) {
  static const clap_host_params_t kParams = {
      .rescan = [](const clap_host_t* h, clap_param_rescan_flags) { ++From(h)->m_Rescans; },
      .clear = [](const clap_host_t*, clap_id, clap_param_clear_flags) {},
      .request_flush = RequestNothing};
  static const clap_host_preset_load_t kPresetLoad = {
      .on_error = [](const clap_host_t* h, uint32_t, const char*, const char*, int32_t,
                     const char*) { ++From(h)->m_PresetErrors; },
      .loaded = [](const clap_host_t* h, uint32_t, const char*, const char*) { ++From(h)->m_PresetsLoaded; }};
  static const clap_host_state_t kState = {.mark_dirty = RequestNothing};
  static const clap_host_tail_t kTail = {.changed = RequestNothing};
  static const clap_host_latency_t kLatency = {.changed = RequestNothing};
  // Single-threaded like an offline render: the creating thread is the main
  // thread, except while it runs process(), when it is the audio thread.
  static const clap_host_thread_check_t kThreadCheck = {
      .is_main_thread =
          [](const clap_host_t* h) {
            return !From(h)->m_bInProcess && From(h)->m_MainThread == std::this_thread::get_id();
          },
      .is_audio_thread = [](const clap_host_t* h) { return From(h)->m_bInProcess; }};
  if (!id) return nullptr;
  if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &kParams;
  if (!std::strcmp(id, CLAP_EXT_PRESET_LOAD) || !std::strcmp(id, CLAP_EXT_PRESET_LOAD_COMPAT)) return &kPresetLoad;
  if (!std::strcmp(id, CLAP_EXT_STATE)) return &kState;
  if (!std::strcmp(id, CLAP_EXT_TAIL)) return &kTail;
  if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &kLatency;
  if (!std::strcmp(id, CLAP_EXT_THREAD_CHECK) && From(host)->m_bThreadCheck) return &kThreadCheck;
  return nullptr;
}

std::unique_ptr<cClapInstance> cClapInstance::Create(const cClapLibrary& library, const std::string& id,
                                                     std::string* error, bool threadCheck) {
  auto fail = [error](const std::string& reason) {
    if (error) *error = reason;
    return nullptr;
  };
  const clap_plugin_factory_t* factory = library.PluginFactory();
  if (!factory) return fail(library.IsLoaded() ? "no plugin factory" : library.Error());
  std::unique_ptr<cClapInstance> instance(new cClapInstance());
  instance->m_bThreadCheck = threadCheck;
  instance->m_Plugin = factory->create_plugin(factory, &instance->m_Host, id.c_str());
  if (!instance->m_Plugin) return fail("the factory made no plugin " + id);
  const clap_plugin_t* p = instance->m_Plugin;
  if (!p->init(p)) {
    p->destroy(p);
    instance->m_Plugin = nullptr;
    return fail("plugin init failed");
  }
  auto ext = [p](const char* name) { return p->get_extension(p, name); };
  instance->m_Params = static_cast<const clap_plugin_params_t*>(ext(CLAP_EXT_PARAMS));
  instance->m_State = static_cast<const clap_plugin_state_t*>(ext(CLAP_EXT_STATE));
  instance->m_AudioPorts = static_cast<const clap_plugin_audio_ports_t*>(ext(CLAP_EXT_AUDIO_PORTS));
  instance->m_Tail = static_cast<const clap_plugin_tail_t*>(ext(CLAP_EXT_TAIL));
  instance->m_Latency = static_cast<const clap_plugin_latency_t*>(ext(CLAP_EXT_LATENCY));
  const void* presetLoad = ext(CLAP_EXT_PRESET_LOAD);
  instance->m_PresetLoad = static_cast<const clap_plugin_preset_load_t*>(presetLoad ? presetLoad : ext(CLAP_EXT_PRESET_LOAD_COMPAT));
  return instance;
}

cClapInstance::~cClapInstance() {
  if (!m_Plugin) return;
  Deactivate();
  m_Plugin->destroy(m_Plugin);
}

bool cClapInstance::Activate(double sampleRate, uint32_t maxFrames) {
  Deactivate();
  m_bActive = m_Plugin->activate(m_Plugin, sampleRate, 1, maxFrames);
  m_bProcessing = m_bActive && m_Plugin->start_processing(m_Plugin);
  return m_bProcessing;
}

void cClapInstance::Deactivate() {
  if (m_bProcessing) m_Plugin->stop_processing(m_Plugin);
  if (m_bActive) m_Plugin->deactivate(m_Plugin);
  m_bProcessing = m_bActive = false;
}

namespace {

struct sEventList {
  const std::vector<clap_event_param_value_t>* events;
};

uint32_t EventCount(const clap_input_events_t* list) {
  return static_cast<uint32_t>(static_cast<const sEventList*>(list->ctx)->events->size());
}

const clap_event_header_t* EventAt(const clap_input_events_t* list, uint32_t index) {
  const auto& events = *static_cast<const sEventList*>(list->ctx)->events;
  return index < events.size() ? &events[index].header : nullptr;
}

bool DropEvent(const clap_output_events_t*, const clap_event_header_t*) { return true; }

}  // namespace

namespace {

void Fill(std::vector<clap_event_param_value_t>& out, const std::vector<sClapParamEvent>& events) {
  out.clear();
  for (const sClapParamEvent& e : events) {
    clap_event_param_value_t v{};
    v.header = {sizeof v, e.frame, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    v.param_id = e.id;
    v.note_id = v.port_index = v.channel = v.key = -1;
    v.value = e.value;
    out.push_back(v);
  }
}

}  // namespace

clap_process_status cClapInstance::Process(const float* inL, const float* inR, float* outL, float* outR,
                                           uint32_t frames, const std::vector<sClapParamEvent>& events) {
  Fill(m_Events, events);
  sEventList list{&m_Events};
  const clap_input_events_t in = {&list, EventCount, EventAt};
  const clap_output_events_t out = {nullptr, DropEvent};
  float* inputs[2] = {const_cast<float*>(inL), const_cast<float*>(inR)};
  float* outputs[2] = {outL, outR};
  const clap_audio_buffer_t input = {inputs, nullptr, 2, 0, 0};
  clap_audio_buffer_t output = {outputs, nullptr, 2, 0, 0};
  const clap_process_t process = {.steady_time = m_SteadyTime,
                                  .frames_count = frames,
                                  .transport = nullptr,
                                  .audio_inputs = &input,
                                  .audio_outputs = &output,
                                  .audio_inputs_count = 1,
                                  .audio_outputs_count = 1,
                                  .in_events = &in,
                                  .out_events = &out};
  m_SteadyTime += frames;
  m_bInProcess = true;
  const clap_process_status status = m_Plugin->process(m_Plugin, &process);
  m_bInProcess = false;
  return status;
}

void cClapInstance::Flush(const std::vector<sClapParamEvent>& events) {
  Fill(m_Events, events);
  sEventList list{&m_Events};
  const clap_input_events_t in = {&list, EventCount, EventAt};
  const clap_output_events_t out = {nullptr, DropEvent};
  if (m_Params) m_Params->flush(m_Plugin, &in, &out);
}

std::optional<double> cClapInstance::Value(clap_id id) const {
  double v = 0.0;
  if (!m_Params || !m_Params->get_value(m_Plugin, id, &v)) return std::nullopt;
  return v;
}

std::optional<std::string> cClapInstance::ValueText(clap_id id, double value) const {
  char text[256] = {};
  if (!m_Params || !m_Params->value_to_text(m_Plugin, id, value, text, sizeof text)) return std::nullopt;
  return std::string(text);
}

std::optional<double> cClapInstance::TextValue(clap_id id, const std::string& text) const {
  double v = 0.0;
  if (!m_Params || !m_Params->text_to_value(m_Plugin, id, text.c_str(), &v)) return std::nullopt;
  return v;
}

std::vector<clap_param_info_t> cClapInstance::ParamInfos() const {
  std::vector<clap_param_info_t> infos;
  const uint32_t count = m_Params ? m_Params->count(m_Plugin) : 0;
  for (uint32_t i = 0; i < count; ++i) {
    clap_param_info_t info{};
    if (m_Params->get_info(m_Plugin, i, &info)) infos.push_back(info);
  }
  return infos;
}

// ---- state ----------------------------------------------------------------------------------

namespace {

struct sStreamBuffer {
  std::vector<uint8_t>* bytes;
  const std::vector<uint8_t>* source;
  size_t position;
  size_t chunk;
};

int64_t WriteChunk(const clap_ostream_t* stream, const void* data, uint64_t size) {
  auto* s = static_cast<sStreamBuffer*>(stream->ctx);
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size, s->chunk));
  const auto* bytes = static_cast<const uint8_t*>(data);
  s->bytes->insert(s->bytes->end(), bytes, bytes + n);
  return static_cast<int64_t>(n);
}

int64_t ReadChunk(const clap_istream_t* stream, void* data, uint64_t size) {
  auto* s = static_cast<sStreamBuffer*>(stream->ctx);
  const size_t n = std::min({static_cast<size_t>(size), s->chunk, s->source->size() - s->position});
  if (n > 0) std::memcpy(data, s->source->data() + s->position, n);
  s->position += n;
  return static_cast<int64_t>(n);
}

}  // namespace

std::optional<std::vector<uint8_t>> cClapInstance::SaveState(size_t chunk) const {
  std::vector<uint8_t> bytes;
  sStreamBuffer buffer{&bytes, nullptr, 0, std::max<size_t>(chunk, 1)};
  const clap_ostream_t stream = {&buffer, WriteChunk};
  if (!m_State || !m_State->save(m_Plugin, &stream)) return std::nullopt;
  return bytes;
}

bool cClapInstance::LoadState(const std::vector<uint8_t>& bytes, size_t chunk) const {
  sStreamBuffer buffer{nullptr, &bytes, 0, std::max<size_t>(chunk, 1)};
  const clap_istream_t stream = {&buffer, ReadChunk};
  return m_State && m_State->load(m_Plugin, &stream);
}

// ---- preset discovery -------------------------------------------------------------------------

namespace {

struct sIndexer {
  std::vector<clap_preset_discovery_location_t> locations;
  std::vector<std::string> locationPaths;
};

struct sReceiver {
  std::vector<sClapPreset>* presets;
};

}  // namespace

std::optional<std::vector<sClapPreset>> DiscoverClapPresets(const cClapLibrary& library) {
  const clap_preset_discovery_factory_t* factory = library.PresetFactory();
  if (!factory) return std::nullopt;
  std::vector<sClapPreset> presets;
  for (uint32_t i = 0; i < factory->count(factory); ++i) {
    const clap_preset_discovery_provider_descriptor_t* desc = factory->get_descriptor(factory, i);
    if (!desc) return std::nullopt;
    sIndexer state;
    clap_preset_discovery_indexer_t indexer{};
    indexer.clap_version = CLAP_VERSION_INIT;
    indexer.name = "nimbohall test host";
    indexer.indexer_data = &state;
    indexer.declare_filetype = [](const clap_preset_discovery_indexer_t*, const clap_preset_discovery_filetype_t*) {
      return true;
    };
    indexer.declare_location = [](const clap_preset_discovery_indexer_t* x, const clap_preset_discovery_location_t* l) {
      auto* s = static_cast<sIndexer*>(x->indexer_data);
      s->locations.push_back(*l);
      s->locationPaths.push_back(l->location ? l->location : "");
      return true;
    };
    indexer.declare_soundpack = [](const clap_preset_discovery_indexer_t*, const clap_preset_discovery_soundpack_t*) {
      return true;
    };
    indexer.get_extension = [](const clap_preset_discovery_indexer_t*, const char*) -> const void* { return nullptr; };

    const clap_preset_discovery_provider_t* provider = factory->create(factory, &indexer, desc->id);
    if (!provider) return std::nullopt;
    bool ok = provider->init(provider);
    for (size_t k = 0; ok && k < state.locations.size(); ++k) {
      sReceiver r{&presets};
      clap_preset_discovery_metadata_receiver_t receiver{};
      receiver.receiver_data = &r;
      receiver.on_error = [](const clap_preset_discovery_metadata_receiver_t*, int32_t, const char*) {};
      receiver.begin_preset = [](const clap_preset_discovery_metadata_receiver_t* x, const char* name,
                                 const char* key) {
        static_cast<sReceiver*>(x->receiver_data)->presets->push_back({name ? name : "", key ? key : "", {}, 0});
        return true;
      };
      receiver.add_plugin_id = [](const clap_preset_discovery_metadata_receiver_t* x,
                                  const clap_universal_plugin_id_t* id) {
        static_cast<sReceiver*>(x->receiver_data)->presets->back().pluginIds.push_back(std::string(id->abi) + ":" + id->id);
      };
      receiver.set_soundpack_id = [](const clap_preset_discovery_metadata_receiver_t*, const char*) {};
      receiver.set_flags = [](const clap_preset_discovery_metadata_receiver_t* x, uint32_t flags) {
        static_cast<sReceiver*>(x->receiver_data)->presets->back().flags = flags;
      };
      receiver.add_creator = [](const clap_preset_discovery_metadata_receiver_t*, const char*) {};
      receiver.set_description = [](const clap_preset_discovery_metadata_receiver_t*, const char*) {};
      receiver.set_timestamps = [](const clap_preset_discovery_metadata_receiver_t*, clap_timestamp_t,
                                   clap_timestamp_t) {};
      receiver.add_feature = [](const clap_preset_discovery_metadata_receiver_t*, const char*) {};
      receiver.add_extra_info = [](const clap_preset_discovery_metadata_receiver_t*, const char*, const char*) {};
      const clap_preset_discovery_location_t& l = state.locations[k];
      ok = provider->get_metadata(provider, l.kind, l.location, &receiver);
    }
    provider->destroy(provider);
    if (!ok) return std::nullopt;
  }
  return presets;
}

}  // namespace nimbohost
