// Projects of the VST 2.x build, taken over by the VST3 build.
#pragma once

#include <cstdint>
#include <span>

#include "cReverbCore.h"

// What a VST 2.x host saved of the VST 2.x build (its bank of programs, see
// Vst2Bank.cpp) into the core; false, changing nothing, for anything else.
bool LoadVst2Bank(nimbo::cReverbCore& core, std::span<const uint8_t> data);
