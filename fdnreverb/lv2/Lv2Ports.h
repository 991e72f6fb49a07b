// What the LV2 plugin, its editor and its Turtle generator share: URIs, port layout and
// port symbols. Hosts keep symbols and URIs in sessions and presets, so they
// never change once released, whatever happens to the parameters' names.
#pragma once

#include <cstdint>

#include "../cReverbCore.h"

namespace nimbolv2 {

constexpr const char* kPluginUri = "urn:brannoch:nimbohall";
constexpr const char* kEditorUri = "urn:brannoch:nimbohall#editor";

// Ports: the parameters at their IDs, the bypass at its ID, then the audio.
constexpr uint32_t kEnabledPort = nimbo::kBypassId;
constexpr uint32_t kInLeftPort = 19;
constexpr uint32_t kInRightPort = 20;
constexpr uint32_t kOutLeftPort = 21;
constexpr uint32_t kOutRightPort = 22;
constexpr uint32_t kNumPorts = 23;
static_assert(kEnabledPort == nimbo::kNumParameters);

// Derived once from the short names.
constexpr const char* kParameterSymbols[nimbo::kNumParameters] = {
    "geometry", "base_dly", "halflife", "damping", "fb_plane", "fb_rot_1", "fb_rot_2", "fb_inv", "mod_dep",
    "mod_per",  "mod_spr",  "amp_drv",  "in_dir",  "out_dir",  "dry_mix",  "wet_mix",  "hold",   "dr_who"};
constexpr const char* kEnabledSymbol = "enabled";

struct sAudioPort {
  uint32_t index;
  const char* symbol;
  const char* name;
  bool input;
  bool left;
};
constexpr sAudioPort kAudioPorts[] = {
    {kInLeftPort, "in_l", "Input L", true, true},
    {kInRightPort, "in_r", "Input R", true, false},
    {kOutLeftPort, "out_l", "Output L", false, true},
    {kOutRightPort, "out_r", "Output R", false, false},
};

}  // namespace nimbolv2
