// Who the VST3 build is to hosts: factory and class texts and the class ID,
// all from the effect's identity.
#pragma once

#include <cstdint>

#include "Identity.h"
#include "vst3.h"

namespace nimbovst3 {

// Class ID: the one VST3 hosts derive from a VST 2.x plugin to find its VST3
// replacement, so projects made with the VST 2.x build open with this one.
// The name is effGetEffectName's, as a host sees it in a VST 2.x session; only
// its first 9 bytes count ("nimbohall" in lower case), which the product
// string and the file name share, so hosts that use either agree as well.
inline constexpr vst3::Iid kAudioEffectClassId =
    vst3::Vst2ReplacementUid(static_cast<uint32_t>(nimbo::kUniqueId), nimbo::kEffectName);

inline constexpr const char* kSubCategories = vst3::Vst::PlugType::kFxReverb;
// The VST 2.x vendor version as major.minor.sub.build.
inline constexpr const char* kClassVersion = "0.4.1.0";
static_assert(nimbo::kEffectVersion == 410, "kClassVersion follows the VST 2.x vendor version");
// Interface definitions this build follows.
inline constexpr const char* kSdkVersion = "VST 3.7.13";

}  // namespace nimbovst3
