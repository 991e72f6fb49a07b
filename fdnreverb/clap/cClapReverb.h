// The reverb as a CLAP plugin: one instance per clap_plugin, translating the
// host's calls to the core. Parameter IDs are the VST 2.x indices; 18 is the
// bypass.
//
// Values hosts automate: the stepped parameters ("Geometry", "FB plane",
// "Hold", "Dr. Who", bypass) as their plain integers; every other parameter
// as the 0..1 value of the VST 2.x build. Its curves (logarithmic for times
// and depths, square for levels) make the host's straight automation lines
// musical and let VST 2.x automation carry over unchanged. Texts show the
// plain value with its unit.
#pragma once

#include <cstdint>
#include <memory>

#include "../cReverbCore.h"
#include "clap/entry.h"
#include "clap/events.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/plugin-factory.h"
#include "clap_additions.h"

#ifdef NIMBOHALL_EDITOR
#include "cClapEditor.h"
#endif

extern const clap_plugin_descriptor_t kClapDescriptor;

class cClapReverb {
 public:
  explicit cClapReverb(const clap_host_t* host);
  cClapReverb(const cClapReverb&) = delete;
  cClapReverb& operator=(const cClapReverb&) = delete;

  const clap_plugin_t* Plugin() const { return &m_Plugin; }
#ifdef NIMBOHALL_EDITOR
  // [main-thread] Null when memory was short at init.
  cClapEditor* Editor() const { return m_Editor.get(); }
#endif

 private:
  static cClapReverb* From(const clap_plugin_t* plugin) { return static_cast<cClapReverb*>(plugin->plugin_data); }

  // clap_plugin
  static bool Init(const clap_plugin_t* plugin);
  static void Destroy(const clap_plugin_t* plugin);
  static bool Activate(const clap_plugin_t* plugin, double sampleRate, uint32_t minFrames, uint32_t maxFrames);
  static void Deactivate(const clap_plugin_t* plugin);
  static bool StartProcessing(const clap_plugin_t* plugin);
  static void StopProcessing(const clap_plugin_t* plugin);
  static void Reset(const clap_plugin_t* plugin);
  static clap_process_status Process(const clap_plugin_t* plugin, const clap_process_t* process);
  static const void* GetExtension(const clap_plugin_t* plugin, const char* id);
  static void OnMainThread(const clap_plugin_t* plugin);

  // audio-ports
  static uint32_t PortCount(const clap_plugin_t* plugin, bool isInput);
  static bool PortInfo(const clap_plugin_t* plugin, uint32_t index, bool isInput, clap_audio_port_info_t* info);
  // params
  static uint32_t ParamCount(const clap_plugin_t* plugin);
  static bool ParamInfo(const clap_plugin_t* plugin, uint32_t index, clap_param_info_t* info);
  static bool ParamValue(const clap_plugin_t* plugin, clap_id id, double* value);
  static bool ValueToText(const clap_plugin_t* plugin, clap_id id, double value, char* text, uint32_t size);
  static bool TextToValue(const clap_plugin_t* plugin, clap_id id, const char* text, double* value);
  static void Flush(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t* out);
  // state
  static bool Save(const clap_plugin_t* plugin, const clap_ostream_t* stream);
  static bool Load(const clap_plugin_t* plugin, const clap_istream_t* stream);
  // tail, latency, preset-load
  static uint32_t Tail(const clap_plugin_t* plugin);
  static uint32_t Latency(const clap_plugin_t* plugin);
  static bool LoadPreset(const clap_plugin_t* plugin, uint32_t kind, const char* location, const char* key);

  static const clap_plugin_audio_ports_t kAudioPorts;
  static const clap_plugin_params_t kParams;
  static const clap_plugin_state_t kState;
  static const clap_plugin_tail_t kTail;
  static const clap_plugin_latency_t kLatency;
  static const clap_plugin_preset_load_t kPresetLoad;

  void ApplyEvent(const clap_event_header_t* event);
  void ApplyEvents(const clap_input_events_t* in);
  void RescanValues();

  clap_plugin_t m_Plugin;
  const clap_host_t* m_Host;
  const clap_host_params_t* m_HostParams = nullptr;
  const clap_host_preset_load_t* m_HostPresetLoad = nullptr;
  const clap_host_thread_check_t* m_HostThreadCheck = nullptr;
  nimbo::cReverbCore m_Core;
#ifdef NIMBOHALL_EDITOR
  // Made at init and kept to the end: process reads its queue. Goes before the core it reads.
  std::unique_ptr<cClapEditor> m_Editor;
#endif
};
