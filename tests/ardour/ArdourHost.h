// Debian's Ardour 7 as a test host, without display or sound card: its plugin
// scanners, and a new session (ardour7-lua, dummy backend) that plays a file
// through one plugin on a stereo track and bounces the track with its processing.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "HostTestSupport.h"

namespace ardourtest {

enum class ePluginType { kLV2, kVST2, kVST3 };

// The first plugin entry of the cache file Ardour's scanner wrote for one
// VST 2.x file or VST3 bundle.
struct sScan {
  hosttest::sRun run;  // the scanner's exit status and output
  std::string cache;   // the cache file as written; empty when there is none
  std::string name, vendor, category;
  int inputs = -1, outputs = -1;
};

struct sRenderRequest {
  std::string plugin;  // LV2: the URI; VST 2.x and VST3: the name Ardour lists
  std::string preset;  // as Ardour labels it; empty: none
  std::vector<std::pair<std::string, float>> parameters;  // label, Ardour's value
  int blockSize = 1024;      // the engine's; Ardour bounces in chunks of 8192
  double leadSeconds = 2.0;  // silence through the plugin before the input
  double tailSeconds = 2.0;  // rendered after the input ends
  bool describe = false;     // also list the controls and presets Ardour shows
  std::vector<std::string> extraArguments;  // passed on to render_session.lua
};

// An input control as Ardour shows it, in Ardour's units for the format.
struct sControl {
  int index = -1;
  float lower = 0.0f, upper = 0.0f, normal = 0.0f;
  std::string flags;  // t toggled, e enumeration, i integer, l logarithmic; "-" none
  std::string label;
};

struct sRender {
  hosttest::sRun run;       // ardour7-lua's exit status and output
  hosttest::sAudio audio;   // the bounce from the input's start on; no samples when it failed
  int blockSize = 0;        // the engine's, as the session reports it
  std::string presetUri;    // Ardour's identifier of the loaded preset
  std::vector<sControl> controls;                            // with `describe`
  std::vector<std::pair<std::string, std::string>> presets;  // URI, label; with `describe`
};

// A throw-away home (configuration, caches, sessions) in which Ardour
// searches `searchPath` for plugins of `type` and nowhere else: for VST 2.x
// and VST3 the folder holding the .so files or .vst3 bundles, for LV2 the
// folder holding the .lv2 bundles.
class cArdour {
 public:
  cArdour(ePluginType type, std::filesystem::path searchPath);

  // Runs Ardour's scanner for the type (VST 2.x or VST3) on one plugin.
  sScan Scan(const std::filesystem::path& plugin) const;

  // Scans the search path, then renders `input` (stereo) through the plugin.
  sRender Render(const sRenderRequest& request, const hosttest::sAudio& input) const;

 private:
  std::vector<std::string> Environment() const;

  ePluginType m_Type;
  std::filesystem::path m_SearchPath;
  hosttest::cTempDir m_Home;
};

}  // namespace ardourtest
