// What every host-view suite needs: the built plugin, loaded once as a host
// loads it, and fresh instances made through its entry.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "cVstHost.h"

namespace shelltest {

inline const nimbohost::cPluginLibrary& Plugin() {
  static const nimbohost::cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  return library;
}

inline std::unique_ptr<nimbohost::cHostedEffect> NewEffect(const nimbohost::sHostAnswers& answers = {}) {
  std::string error;
  auto effect = nimbohost::cHostedEffect::Create(Plugin().Entry(), answers, &error);
  EXPECT_TRUE(effect) << Plugin().Error() << error;
  return effect;
}

// A buffer pre-filled with a marker byte, to see exactly which bytes a request wrote.
struct sMarkedBuffer {
  static constexpr unsigned char kMarker = 0xAA;
  explicit sMarkedBuffer(size_t size) : bytes(size, static_cast<char>(kMarker)) {}
  char* data() { return bytes.data(); }
  bool Untouched(size_t from = 0) const {
    for (size_t i = from; i < bytes.size(); ++i)
      if (static_cast<unsigned char>(bytes[i]) != kMarker) return false;
    return true;
  }
  std::vector<char> bytes;
};

// Stereo buffers for the audio entry, outputs pre-filled with a value the effect never writes.
struct sStereoBlock {
  static constexpr float kUntouched = 12345.0f;
  explicit sStereoBlock(size_t frames, float input = 0.25f)
      : inL(frames, input), inR(frames, -input), outL(frames, kUntouched), outR(frames, kUntouched) {}
  bool OutputsUntouched() const {
    for (size_t i = 0; i < outL.size(); ++i)
      if (outL[i] != kUntouched || outR[i] != kUntouched) return false;
    return true;
  }
  std::vector<float> inL, inR, outL, outR;
  float* in[2] = {inL.data(), inR.data()};
  float* out[2] = {outL.data(), outR.data()};
};

// A VstEvents list of any length, laid out as a host lays it out.
struct sEventList {
  explicit sEventList(size_t count) : events(count), storage(2 + count) {
    for (size_t i = 0; i < count; ++i) {
      events[i].type = 1;  // MIDI
      events[i].byteSize = 24;
      storage[2 + i] = reinterpret_cast<intptr_t>(&events[i]);
    }
    list()->numEvents = static_cast<int32_t>(count);
  }
  sEventList(std::initializer_list<int32_t> offsets) : sEventList(offsets.size()) {
    size_t i = 0;
    for (int32_t offset : offsets) events[i++].deltaFrames = offset;
  }
  VstEvents* list() { return reinterpret_cast<VstEvents*>(storage.data()); }
  std::vector<VstEvent> events;
  std::vector<intptr_t> storage;  // numEvents, reserved, then the pointers
};
static_assert(offsetof(VstEvents, events) == 2 * sizeof(intptr_t));

}  // namespace shelltest
