#include "cClapReverb.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "../../nimbolib/Text.h"
#include "../../nimbolib/TextEncoding.h"

using namespace nimbo;

namespace {

// Not const: the CLAP 1.1 descriptor declares a pointer to non-const pointers.
const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_REVERB,
                                     CLAP_PLUGIN_FEATURE_STEREO, nullptr};
constexpr uint32_t kNumClapParams = kNumParameters + 1;  // and the bypass
static_assert(kNumClapParams == kBypassId + 1);
// CLAP hosts move stepped parameters in plain values, the others in 0..1.
constexpr eHostScale kScale = eHostScale::kPlainIfStepped;

}  // namespace

const clap_plugin_descriptor_t kClapDescriptor = {
    .clap_version = CLAP_VERSION_INIT,
    .id = kPluginId,
    .name = kProductName,
    .vendor = kVendorName,
    .url = kVendorUrl,
    .manual_url = "",
    .support_url = "",
    .version = kVersionText,
    .description = kDescription,
    .features = kFeatures,
};

// Tables in the order the extension headers declare their functions.
const clap_plugin_audio_ports_t cClapReverb::kAudioPorts = {PortCount, PortInfo};
const clap_plugin_params_t cClapReverb::kParams = {ParamCount, ParamInfo, ParamValue, ValueToText, TextToValue, Flush};
const clap_plugin_state_t cClapReverb::kState = {Save, Load};
const clap_plugin_tail_t cClapReverb::kTail = {Tail};
const clap_plugin_latency_t cClapReverb::kLatency = {Latency};
const clap_plugin_preset_load_t cClapReverb::kPresetLoad = {LoadPreset};

cClapReverb::cClapReverb(const clap_host_t* host)
    : m_Plugin{.desc = &kClapDescriptor,
               .plugin_data = this,
               .init = Init,
               .destroy = Destroy,
               .activate = Activate,
               .deactivate = Deactivate,
               .start_processing = StartProcessing,
               .stop_processing = StopProcessing,
               .reset = Reset,
               .process = Process,
               .get_extension = GetExtension,
               .on_main_thread = OnMainThread},
      m_Host(host) {}

// ---- clap_plugin ------------------------------------------------------------------------

bool cClapReverb::Init(const clap_plugin_t* plugin) {
  cClapReverb* self = From(plugin);
  self->m_Core.NoteMainThread();  // init runs on the main thread
  const clap_host_t* host = self->m_Host;
  if (!host || !host->get_extension) return true;
  self->m_HostParams = static_cast<const clap_host_params_t*>(host->get_extension(host, CLAP_EXT_PARAMS));
  auto presetLoad = host->get_extension(host, CLAP_EXT_PRESET_LOAD);
  if (!presetLoad) presetLoad = host->get_extension(host, CLAP_EXT_PRESET_LOAD_COMPAT);
  self->m_HostPresetLoad = static_cast<const clap_host_preset_load_t*>(presetLoad);
  self->m_HostThreadCheck = static_cast<const clap_host_thread_check_t*>(host->get_extension(host, CLAP_EXT_THREAD_CHECK));
#ifdef NIMBOHALL_EDITOR
  self->m_Editor.reset(new (std::nothrow) cClapEditor(host, self->m_Core));
#endif
  return true;
}

void cClapReverb::Destroy(const clap_plugin_t* plugin) { delete From(plugin); }

bool cClapReverb::Activate(const clap_plugin_t* plugin, double sampleRate, uint32_t, uint32_t) {
  cClapReverb* self = From(plugin);
  const auto fs = static_cast<float>(sampleRate);
  if (!self->m_Core.IsReady() && !self->m_Core.Open(fs)) return false;
  self->m_Core.SetSampleRate(fs);
  return true;
}

void cClapReverb::Deactivate(const clap_plugin_t*) {}
bool cClapReverb::StartProcessing(const clap_plugin_t*) { return true; }
void cClapReverb::StopProcessing(const clap_plugin_t*) {}
void cClapReverb::Reset(const clap_plugin_t* plugin) { From(plugin)->m_Core.RequestReset(); }
void cClapReverb::OnMainThread(const clap_plugin_t*) {}

clap_process_status cClapReverb::Process(const clap_plugin_t* plugin, const clap_process_t* process) {
  cClapReverb* self = From(plugin);
  self->m_Core.NoteRealtimeThread();
  const uint32_t frames = process->frames_count;
  const clap_input_events_t* in = process->in_events;
  const uint32_t count = in ? in->size(in) : 0;
#ifdef NIMBOHALL_EDITOR
  if (self->m_Editor) self->m_Editor->Changes().Drain(process->out_events);
#endif

  const clap_audio_buffer_t* input = process->audio_inputs_count > 0 ? &process->audio_inputs[0] : nullptr;
  clap_audio_buffer_t* output = process->audio_outputs_count > 0 ? &process->audio_outputs[0] : nullptr;
  const bool audio = input && output && input->data32 && output->data32 && input->channel_count >= 1 &&
                     output->channel_count >= 2 && input->data32[0] && output->data32[0] && output->data32[1];
  if (!audio) {
    self->ApplyEvents(in);
    return CLAP_PROCESS_ERROR;
  }
  const float* inL = input->data32[0];
  const float* inR = input->channel_count >= 2 && input->data32[1] ? input->data32[1] : inL;
  float* outL = output->data32[0];
  float* outR = output->data32[1];
  // Channels the host marks constant hold their first sample throughout.
  const uint64_t used = input->channel_count >= 2 ? 3 : 1;
  const bool silent = (input->constant_mask & used) == used && inL[0] == 0.0f && inR[0] == 0.0f;

  // Cut at the events' frames as the VST 2.x queue does: render up to an
  // event's frame, apply it, go on. Late or unsorted events apply at once.
  bool zeros = true;
  auto render = [&](uint32_t from, uint32_t to) {
    zeros = self->m_Core.ProcessOrSleep(inL + from, inR + from, outL + from, outR + from,
                                        static_cast<int32_t>(to - from), silent) && zeros;
  };
  uint32_t pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const clap_event_header_t* event = in->get(in, i);
    if (!event) continue;
    const uint32_t at = std::min(event->time, frames);
    if (at > pos) {
      render(pos, at);
      pos = at;
    }
    self->ApplyEvent(event);
  }
  if (pos < frames) render(pos, frames);
  output->constant_mask = zeros && frames > 0 ? 3 : 0;
  if (self->m_Core.Asleep()) return CLAP_PROCESS_SLEEP;
  return self->m_Core.Hold() ? CLAP_PROCESS_CONTINUE : CLAP_PROCESS_TAIL;
}

const void* cClapReverb::GetExtension(const clap_plugin_t* plugin, const char* id) {
  if (!id) return nullptr;
  if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS)) return &kAudioPorts;
  if (!std::strcmp(id, CLAP_EXT_PARAMS)) return &kParams;
  if (!std::strcmp(id, CLAP_EXT_STATE)) return &kState;
  if (!std::strcmp(id, CLAP_EXT_TAIL)) return &kTail;
  if (!std::strcmp(id, CLAP_EXT_LATENCY)) return &kLatency;
  if (!std::strcmp(id, CLAP_EXT_PRESET_LOAD) || !std::strcmp(id, CLAP_EXT_PRESET_LOAD_COMPAT)) return &kPresetLoad;
#ifdef NIMBOHALL_EDITOR
  if (const void* editor = cClapEditor::Extension(id); editor && From(plugin)->m_Editor) return editor;
#else
  (void)plugin;
#endif
  return nullptr;
}

// ---- audio ports ------------------------------------------------------------------------

uint32_t cClapReverb::PortCount(const clap_plugin_t*, bool) { return 1; }

bool cClapReverb::PortInfo(const clap_plugin_t*, uint32_t index, bool isInput, clap_audio_port_info_t* info) {
  if (index != 0 || !info) return false;
  info->id = 0;
  CopyTerminated(info->name, isInput ? "Stereo in" : "Stereo out", sizeof info->name);
  info->flags = CLAP_AUDIO_PORT_IS_MAIN;
  info->channel_count = 2;
  info->port_type = CLAP_PORT_STEREO;
  info->in_place_pair = 0;  // the port of the other direction: rendering in place is fine
  return true;
}

// ---- params -------------------------------------------------------------------------------

uint32_t cClapReverb::ParamCount(const clap_plugin_t*) { return kNumClapParams; }

bool cClapReverb::ParamInfo(const clap_plugin_t* plugin, uint32_t index, clap_param_info_t* info) {
  if (index >= kNumClapParams || !info) return false;
  const cReverbCore& core = From(plugin)->m_Core;
  std::memset(info, 0, sizeof *info);
  info->id = index;
  info->flags = CLAP_PARAM_IS_AUTOMATABLE;
  if (index == static_cast<uint32_t>(kBypassId)) {
    info->flags |= CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_BYPASS;
    CopyTerminated(info->name, "Bypass", sizeof info->name);
    info->max_value = 1.0;
    return true;
  }
  const auto id = static_cast<int32_t>(index);
  const cParameter& p = core.Parameter(id);
  Cp1252ToUtf8(p.longName, info->name, sizeof info->name);
  Cp1252ToUtf8(p.groupName, info->module, sizeof info->module);
  if (core.IsStepped(id)) {
    info->flags |= CLAP_PARAM_IS_STEPPED;
    info->min_value = p.minValue;
    info->max_value = p.maxValue;
    info->default_value = core.DefaultPlain(id);
  } else {
    info->max_value = 1.0;
    info->default_value = p.PlainToNormalized(core.DefaultPlain(id));
  }
  return true;
}

bool cClapReverb::ParamValue(const clap_plugin_t* plugin, clap_id id, double* value) {
  if (id >= kNumClapParams || !value) return false;
  *value = From(plugin)->m_Core.HostValue(static_cast<int32_t>(id), kScale);
  return true;
}

bool cClapReverb::ValueToText(const clap_plugin_t* plugin, clap_id id, double value, char* text, uint32_t size) {
  if (id >= kNumClapParams || !text || size == 0) return false;
  char composed[kValueTextSize];
  From(plugin)->m_Core.HostValueText(static_cast<int32_t>(id), value, kScale, composed);
  Cp1252ToUtf8(composed, text, size);
  return true;
}

bool cClapReverb::TextToValue(const clap_plugin_t* plugin, clap_id id, const char* text, double* value) {
  if (id >= kNumClapParams || !text || !value) return false;
  return From(plugin)->m_Core.ParseHostValue(static_cast<int32_t>(id), Utf8ToCp1252(text).c_str(), kScale, *value);
}

void cClapReverb::Flush(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t* out) {
  cClapReverb* self = From(plugin);
  self->ApplyEvents(in);
#ifdef NIMBOHALL_EDITOR
  if (self->m_Editor) self->m_Editor->Changes().Drain(out);
#else
  (void)out;
#endif
}

void cClapReverb::ApplyEvents(const clap_input_events_t* in) {
  const uint32_t count = in ? in->size(in) : 0;
  for (uint32_t i = 0; i < count; ++i) ApplyEvent(in->get(in, i));
}

void cClapReverb::ApplyEvent(const clap_event_header_t* event) {
  if (!event || event->space_id != CLAP_CORE_EVENT_SPACE_ID || event->type != CLAP_EVENT_PARAM_VALUE ||
      event->size < sizeof(clap_event_param_value_t))
    return;
  const auto* change = reinterpret_cast<const clap_event_param_value_t*>(event);
  if (change->param_id < kNumClapParams) m_Core.SetHostValue(static_cast<int32_t>(change->param_id), change->value, kScale);
}

void cClapReverb::RescanValues() {
  if (m_HostParams && m_HostParams->rescan) m_HostParams->rescan(m_Host, CLAP_PARAM_RESCAN_VALUES);
}

// ---- state ----------------------------------------------------------------------------------

bool cClapReverb::Save(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
  if (!stream) return false;
  uint8_t state[cReverbCore::kStateSize];
  From(plugin)->m_Core.SaveState(state);
  // Hosts may take a few bytes per call.
  for (size_t done = 0; done < sizeof state;) {
    const int64_t n = stream->write(stream, state + done, sizeof state - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool cClapReverb::Load(const clap_plugin_t* plugin, const clap_istream_t* stream) {
  if (!stream) return false;
  // One byte more than a state holds, to notice trailing data.
  uint8_t state[cReverbCore::kStateSize + 1];
  size_t done = 0;
  while (done < sizeof state) {
    const int64_t n = stream->read(stream, state + done, sizeof state - done);
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  cClapReverb* self = From(plugin);
  if (!self->m_Core.LoadState(std::span<const uint8_t>(state, done))) return false;
  self->RescanValues();
  return true;
}

// ---- tail, latency, presets -------------------------------------------------------------------

uint32_t cClapReverb::Tail(const clap_plugin_t* plugin) {
  // Hosts may ask from the audio thread; the tail is measured only on the
  // main thread: the host's word, or without one the thread init ran on
  // unless it also processes (a host that asks between its blocks).
  const cClapReverb* self = From(plugin);
  const clap_host_thread_check_t* check = self->m_HostThreadCheck;
  const bool main = check && check->is_main_thread ? check->is_main_thread(self->m_Host) : self->m_Core.OnMainThread();
  const int64_t frames = self->m_Core.HostTailFrames(main);
  return frames < 0 || frames >= INT32_MAX ? static_cast<uint32_t>(INT32_MAX) : static_cast<uint32_t>(frames);
}

uint32_t cClapReverb::Latency(const clap_plugin_t*) { return 0; }

bool cClapReverb::LoadPreset(const clap_plugin_t* plugin, uint32_t kind, const char* location, const char* key) {
  cClapReverb* self = From(plugin);
  int32_t index = -1;
  const size_t length = key ? std::strlen(key) : 0;
  const bool parsed = length > 0 && std::from_chars(key, key + length, index).ptr == key + length;
  if (kind != CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN || !parsed || index < 0 || index >= kNumPrograms) {
    if (self->m_HostPresetLoad && self->m_HostPresetLoad->on_error)
      self->m_HostPresetLoad->on_error(self->m_Host, kind, location, key, 0, "no such Nimbohall program");
    return false;
  }
  self->m_Core.LoadProgram(index);
  self->RescanValues();
  if (self->m_HostPresetLoad && self->m_HostPresetLoad->loaded)
    self->m_HostPresetLoad->loaded(self->m_Host, kind, location, key);
  return true;
}
