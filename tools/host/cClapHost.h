// Host side of CLAP: loads a .clap, walks its entry and factories, and drives
// one plugin instance the way a DAW does, recording what the plugin asks of
// the host. Portable between POSIX and Windows like the VST 2.x loader, so
// the same code hosts the Windows build under Wine.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cVstHost.h"
#include "clap/entry.h"
#include "clap/events.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/latency.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/ext/thread-check.h"
#include "clap/plugin-factory.h"
#include "clap_additions.h"

namespace nimbohost {

// A loaded .clap whose entry has been initialised; deinitialised and unloaded on destruction.
class cClapLibrary {
 public:
  explicit cClapLibrary(const std::string& path);
  ~cClapLibrary();
  cClapLibrary(const cClapLibrary&) = delete;
  cClapLibrary& operator=(const cClapLibrary&) = delete;

  bool IsLoaded() const { return m_Entry != nullptr; }
  const std::string& Error() const { return m_Error; }
  const clap_plugin_entry_t* Entry() const { return m_Entry; }
  const clap_plugin_factory_t* PluginFactory() const;
  const clap_preset_discovery_factory_t* PresetFactory() const;

 private:
  cPluginLibrary m_Library;
  const clap_plugin_entry_t* m_Entry = nullptr;
  std::string m_Error;
};

// One parameter change at a frame of the next block.
struct sClapParamEvent {
  uint32_t frame;
  clap_id id;
  double value;
};

// One preset as the discovery provider reports it.
struct sClapPreset {
  std::string name;
  std::string loadKey;
  std::vector<std::string> pluginIds;
  uint32_t flags = 0;
};

class cClapInstance {
 public:
  // Creates and initialises the plugin of that id; null (with a reason) on failure.
  // threadCheck false: a host that offers no thread-check extension.
  static std::unique_ptr<cClapInstance> Create(const cClapLibrary& library, const std::string& id, std::string* error,
                                               bool threadCheck = true);
  ~cClapInstance();  // deactivates and destroys
  cClapInstance(const cClapInstance&) = delete;
  cClapInstance& operator=(const cClapInstance&) = delete;

  const clap_plugin_t* Plugin() const { return m_Plugin; }
  const clap_plugin_params_t* Params() const { return m_Params; }
  const clap_plugin_state_t* State() const { return m_State; }
  const clap_plugin_audio_ports_t* AudioPorts() const { return m_AudioPorts; }
  const clap_plugin_tail_t* Tail() const { return m_Tail; }
  const clap_plugin_latency_t* Latency() const { return m_Latency; }
  const clap_plugin_preset_load_t* PresetLoad() const { return m_PresetLoad; }

  bool Activate(double sampleRate, uint32_t maxFrames);
  void Deactivate();
  // One block; in and out may be the same buffers. Events must be in frame order.
  clap_process_status Process(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames,
                              const std::vector<sClapParamEvent>& events = {});
  // params.flush with these changes (frames ignored).
  void Flush(const std::vector<sClapParamEvent>& events);

  std::optional<double> Value(clap_id id) const;
  std::optional<std::string> ValueText(clap_id id, double value) const;
  std::optional<double> TextValue(clap_id id, const std::string& text) const;
  std::vector<clap_param_info_t> ParamInfos() const;

  // State through streams that move at most `chunk` bytes per call.
  std::optional<std::vector<uint8_t>> SaveState(size_t chunk = SIZE_MAX) const;
  bool LoadState(const std::vector<uint8_t>& bytes, size_t chunk = SIZE_MAX) const;

  // What the plugin asked of the host so far.
  int Rescans() const { return m_Rescans; }
  int PresetsLoaded() const { return m_PresetsLoaded; }
  int PresetErrors() const { return m_PresetErrors; }

 private:
  cClapInstance();
  static const void* HostExtension(const clap_host_t* host, const char* id);
  static cClapInstance* From(const clap_host_t* host) { return static_cast<cClapInstance*>(host->host_data); }

  clap_host_t m_Host;
  const clap_plugin_t* m_Plugin = nullptr;
  const clap_plugin_params_t* m_Params = nullptr;
  const clap_plugin_state_t* m_State = nullptr;
  const clap_plugin_audio_ports_t* m_AudioPorts = nullptr;
  const clap_plugin_tail_t* m_Tail = nullptr;
  const clap_plugin_latency_t* m_Latency = nullptr;
  const clap_plugin_preset_load_t* m_PresetLoad = nullptr;
  bool m_bActive = false;
  bool m_bProcessing = false;
  bool m_bInProcess = false;
  bool m_bThreadCheck = true;
  std::thread::id m_MainThread = std::this_thread::get_id();
  int64_t m_SteadyTime = 0;
  int m_Rescans = 0;
  int m_PresetsLoaded = 0;
  int m_PresetErrors = 0;
  // Event storage, made before processing so a block allocates nothing.
  std::vector<clap_event_param_value_t> m_Events;
};

// Every preset the library's discovery providers report, as an indexer would
// see them; nullopt when the library has no discovery factory or a provider fails.
std::optional<std::vector<sClapPreset>> DiscoverClapPresets(const cClapLibrary& library);

}  // namespace nimbohost
