// Who the effect is, in every plugin format. Texts are ASCII.
#pragma once

#include <cstdint>

namespace nimbo {

constexpr const char* kProductName = "Nimbohall";
constexpr const char* kVendorName = "Brannoch";
constexpr const char* kVersionText = "0.4a";
constexpr const char* kVendorUrl = "";    // none
constexpr const char* kVendorEmail = "";  // none
constexpr const char* kDescription = "Stereo reverb: four delay lines feeding each other through a 4-D rotation";

// The VST 2.x identity. Other formats derive theirs from it where the format
// defines how (the VST3 class ID), so that hosts can replace one with the other.
constexpr int32_t kUniqueId = static_cast<int32_t>(0xB45C2E01u);
constexpr int32_t kEffectVersion = 410;
constexpr const char* kEffectName = "Nimbohall 0.4a";
constexpr const char* kEffectProduct = "Nimbohall FDN Processor 0.4a";

// Reverse-DNS identifier for formats that name plugins that way.
constexpr const char* kPluginId = "com.brannoch.nimbohall";

}  // namespace nimbo
