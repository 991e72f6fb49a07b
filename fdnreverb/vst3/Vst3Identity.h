// Who the VST3 build is to hosts: factory and class texts and the class ID.
#pragma once

#include <cstdint>
#include <string_view>

#include "vst3.h"

namespace nimbovst3 {

// The VST 2.x identity this build takes over: record uniqueID and the name
// effGetEffectName gives.
inline constexpr uint32_t kVst2UniqueId = 0xB45C2E01u;
inline constexpr std::string_view kVst2EffectName = "Nimbohall 0.4a";

// Class ID: the one VST3 hosts derive from a VST 2.x plugin to find its VST3
// replacement, so projects made with the VST 2.x build open with this one.
// The name is effGetEffectName's, as a host sees it in a VST 2.x session; only
// its first 9 bytes count ("nimbohall" in lower case), which the product
// string and the file name share, so hosts that use either agree as well.
inline constexpr vst3::Iid kAudioEffectClassId = vst3::Vst2ReplacementUid(kVst2UniqueId, kVst2EffectName);

inline constexpr const char* kVendor = "Brannoch";
inline constexpr const char* kVendorUrl = "";
inline constexpr const char* kVendorEmail = "";
inline constexpr const char* kClassName = "Nimbohall";
inline constexpr const char* kSubCategories = vst3::Vst::PlugType::kFxReverb;
// The VST 2.x vendor version 410 as major.minor.sub.build.
inline constexpr const char* kClassVersion = "0.4.1.0";
// Interface definitions this build follows.
inline constexpr const char* kSdkVersion = "VST 3.7.13";

}  // namespace nimbovst3
