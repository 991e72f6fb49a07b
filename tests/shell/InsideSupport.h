// Effects built on the library's classes, for what a host cannot observe:
// the calls the audio entry makes, the lock, the members behind the record.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cVst2Reverb.h"

namespace shelltest {

// Enough of a host for an enabled instance.
inline intptr_t VSTCALLBACK QuietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

inline intptr_t Dispatch(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                         float opt = 0.0f) {
  return e->dispatcher(e, opcode, index, value, ptr, opt);
}

inline bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

// A bare effect on the generic base that records what its virtual operations receive.
class cRecordingEffect : public nimbo::cVSTeffect {
 public:
  struct sCall {
    bool isEvent;
    int32_t frames;  // stretch length, or the event's deltaFrames
    VstEvent event;  // the record as delivered
    float* in[2];
    float* out[2];
  };

  explicit cRecordingEffect(int32_t numInputs = 2, int32_t numOutputs = 2) : cVSTeffect(&QuietHost, 4, 2) {
    m_Effect.record.numInputs = numInputs;
    m_Effect.record.numOutputs = numOutputs;
    calls.reserve(4096);
  }
  ~cRecordingEffect() override {
    if (destroyed) *destroyed = true;
  }

  void processReplacing(float** inputs, float** outputs, int32_t frames) override {
    calls.push_back({false, frames, {}, {inputs[0], inputs[1]}, {outputs[0], outputs[1]}});
  }
  void ProcessEvent(const nimbo::sEventRecord& event) override {
    calls.push_back({true, event.deltaFrames, event, {}, {}});
  }
  void OnParameterChanged(int32_t index, float value) override { changes.push_back({index, value}); }
  void Open() override { ++opens; }
  void Close() override { ++closes; }

  // The other operations log how they were reached and answer "yes".
  void SetProgram(int32_t index) override { Log("SetProgram " + std::to_string(index)); }
  void SetProgramName(const char* name) override { Log("SetProgramName " + std::string(name)); }
  void OnSampleRateChanged() override { Log("SampleRate " + std::to_string(static_cast<int>(m_SampleRate))); }
  void OnBlockSizeChanged() override { Log("BlockSize " + std::to_string(m_BlockSize)); }
  void OnMainsChanged(bool on) override { Log(on ? "Mains on" : "Mains off"); }
  bool StringToParameter(int32_t index, const char* text) override {
    Log("StringToParameter " + std::to_string(index) + " " + text);
    return true;
  }
  bool GetProgramName(char* text, int32_t index) override {
    Log("GetProgramName " + std::to_string(index));
    text[0] = '\0';
    return true;
  }
  bool GetPinProperties(bool output, int32_t index, VstPinProperties*) override {
    Log(std::string(output ? "OutputPin " : "InputPin ") + std::to_string(index));
    return true;
  }
  int32_t CanDo(const char* text) override {
    Log("CanDo " + std::string(text));
    return -1;
  }
  void Log(const std::string& entry) { operations.push_back(entry); }

  float StoredNormalized(int32_t index) const { return m_Parameters[static_cast<size_t>(index)].Normalized(); }

  std::vector<sCall> calls;
  std::vector<std::pair<int32_t, float>> changes;
  std::vector<std::string> operations;
  int opens = 0;
  int closes = 0;
  bool* destroyed = nullptr;
};

}  // namespace shelltest
