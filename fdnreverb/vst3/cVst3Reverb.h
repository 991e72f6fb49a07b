// The reverb as a VST3 effect: one object that is component, processor and
// edit controller at once, over the format-neutral core. It translates the
// VST3 calls and holds no reverb logic.
//
// Values travel as the format intends: the host hands parameter changes to
// the processor in process() (applied at their frame offsets), and tells the
// controller with setParamNormalized, which therefore changes nothing while
// processing runs (a late echo must not undo newer automation). Values that
// change inside the effect (a program loaded) reach the host as output
// parameter changes of the next block; restartComponent is called only from
// the editor, so no host is re-entered from inside one of its own calls.
//
// Program changes are whole-program edits: setParamNormalized applies them at
// once; one that arrives in process() applies at its frame, unless a control
// thread is rewriting the program at that moment, and then at the start of
// the next block or the next control-thread call, whichever comes first.
#pragma once

#include <array>
#include <atomic>
#include <vector>

#include "cReverbCore.h"
#include "vst3.h"

namespace nimbovst3 {

class cVst3Editor;

// Parameter IDs beyond the core's 18, and the counts around them.
inline constexpr int32_t kNumVst3Parameters = nimbo::kProgramChangeId + 1;
inline constexpr vst3::Vst::ProgramListID kProgramListId = 1;
inline constexpr int32_t kNumGroupUnits = 5;

// The IComponent and IEditController methods that share a name and signature
// get names of their own here, so one object can implement both.
class cComponentFace : public vst3::Vst::IComponent {
 public:
  vst3::tresult PLUGIN_API setState(vst3::IBStream* state) final { return SetComponentState(state); }
  vst3::tresult PLUGIN_API getState(vst3::IBStream* state) final { return GetComponentState(state); }

 protected:
  virtual vst3::tresult SetComponentState(vst3::IBStream* state) = 0;
  virtual vst3::tresult GetComponentState(vst3::IBStream* state) = 0;
};

class cControllerFace : public vst3::Vst::IEditController {
 public:
  vst3::tresult PLUGIN_API setState(vst3::IBStream* state) final { return SetControllerState(state); }
  vst3::tresult PLUGIN_API getState(vst3::IBStream* state) final { return GetControllerState(state); }

 protected:
  virtual vst3::tresult SetControllerState(vst3::IBStream* state) = 0;
  virtual vst3::tresult GetControllerState(vst3::IBStream* state) = 0;
};

class cVst3Reverb final : public cComponentFace,
                          public vst3::Vst::IAudioProcessor,
                          public vst3::Vst::IProcessContextRequirements,
                          public cControllerFace,
                          public vst3::Vst::IUnitInfo {
 public:
  // A new instance holding one reference; null when memory is short.
  static cVst3Reverb* Create();

  // ---- FUnknown [any thread] ----
  vst3::tresult PLUGIN_API queryInterface(const vst3::TUID interfaceId, void** obj) override;
  vst3::uint32 PLUGIN_API addRef() override;
  vst3::uint32 PLUGIN_API release() override;

  // ---- IPluginBase [control] ----
  vst3::tresult PLUGIN_API initialize(vst3::FUnknown* context) override;
  vst3::tresult PLUGIN_API terminate() override;

  // ---- IComponent [control] ----
  vst3::tresult PLUGIN_API getControllerClassId(vst3::TUID classId) override;
  vst3::tresult PLUGIN_API setIoMode(vst3::Vst::IoMode mode) override;
  vst3::int32 PLUGIN_API getBusCount(vst3::Vst::MediaType type, vst3::Vst::BusDirection dir) override;
  vst3::tresult PLUGIN_API getBusInfo(vst3::Vst::MediaType type, vst3::Vst::BusDirection dir, vst3::int32 index,
                                      vst3::Vst::BusInfo& bus) override;
  vst3::tresult PLUGIN_API getRoutingInfo(vst3::Vst::RoutingInfo& inInfo, vst3::Vst::RoutingInfo& outInfo) override;
  vst3::tresult PLUGIN_API activateBus(vst3::Vst::MediaType type, vst3::Vst::BusDirection dir, vst3::int32 index,
                                       vst3::TBool state) override;
  vst3::tresult PLUGIN_API setActive(vst3::TBool state) override;

  // ---- IAudioProcessor ----
  vst3::tresult PLUGIN_API setBusArrangements(vst3::Vst::SpeakerArrangement* inputs, vst3::int32 numIns,
                                              vst3::Vst::SpeakerArrangement* outputs, vst3::int32 numOuts) override;
  vst3::tresult PLUGIN_API getBusArrangement(vst3::Vst::BusDirection dir, vst3::int32 index,
                                             vst3::Vst::SpeakerArrangement& arr) override;
  vst3::tresult PLUGIN_API canProcessSampleSize(vst3::int32 symbolicSampleSize) override;
  vst3::uint32 PLUGIN_API getLatencySamples() override;
  vst3::tresult PLUGIN_API setupProcessing(vst3::Vst::ProcessSetup& setup) override;
  vst3::tresult PLUGIN_API setProcessing(vst3::TBool state) override;
  vst3::tresult PLUGIN_API process(vst3::Vst::ProcessData& data) override;  // [audio]
  vst3::uint32 PLUGIN_API getTailSamples() override;

  // ---- IProcessContextRequirements ----
  vst3::uint32 PLUGIN_API getProcessContextRequirements() override;

  // ---- IEditController [control] ----
  vst3::tresult PLUGIN_API setComponentState(vst3::IBStream* state) override;
  vst3::int32 PLUGIN_API getParameterCount() override;
  vst3::tresult PLUGIN_API getParameterInfo(vst3::int32 paramIndex, vst3::Vst::ParameterInfo& info) override;
  vst3::tresult PLUGIN_API getParamStringByValue(vst3::Vst::ParamID id, vst3::Vst::ParamValue valueNormalized,
                                                 vst3::Vst::String128 string) override;
  vst3::tresult PLUGIN_API getParamValueByString(vst3::Vst::ParamID id, vst3::Vst::TChar* string,
                                                 vst3::Vst::ParamValue& valueNormalized) override;
  vst3::Vst::ParamValue PLUGIN_API normalizedParamToPlain(vst3::Vst::ParamID id,
                                                          vst3::Vst::ParamValue valueNormalized) override;
  vst3::Vst::ParamValue PLUGIN_API plainParamToNormalized(vst3::Vst::ParamID id,
                                                          vst3::Vst::ParamValue plainValue) override;
  vst3::Vst::ParamValue PLUGIN_API getParamNormalized(vst3::Vst::ParamID id) override;
  vst3::tresult PLUGIN_API setParamNormalized(vst3::Vst::ParamID id, vst3::Vst::ParamValue value) override;
  vst3::tresult PLUGIN_API setComponentHandler(vst3::Vst::IComponentHandler* handler) override;
  vst3::IPlugView* PLUGIN_API createView(vst3::FIDString name) override;

  // ---- IUnitInfo [control] ----
  vst3::int32 PLUGIN_API getUnitCount() override;
  vst3::tresult PLUGIN_API getUnitInfo(vst3::int32 unitIndex, vst3::Vst::UnitInfo& info) override;
  vst3::int32 PLUGIN_API getProgramListCount() override;
  vst3::tresult PLUGIN_API getProgramListInfo(vst3::int32 listIndex, vst3::Vst::ProgramListInfo& info) override;
  vst3::tresult PLUGIN_API getProgramName(vst3::Vst::ProgramListID listId, vst3::int32 programIndex,
                                          vst3::Vst::String128 name) override;
  vst3::tresult PLUGIN_API getProgramInfo(vst3::Vst::ProgramListID listId, vst3::int32 programIndex,
                                          vst3::Vst::CString attributeId,
                                          vst3::Vst::String128 attributeValue) override;
  vst3::tresult PLUGIN_API hasProgramPitchNames(vst3::Vst::ProgramListID listId, vst3::int32 programIndex) override;
  vst3::tresult PLUGIN_API getProgramPitchName(vst3::Vst::ProgramListID listId, vst3::int32 programIndex,
                                               vst3::int16 midiPitch, vst3::Vst::String128 name) override;
  vst3::Vst::UnitID PLUGIN_API getSelectedUnit() override;
  vst3::tresult PLUGIN_API selectUnit(vst3::Vst::UnitID unitId) override;
  vst3::tresult PLUGIN_API getUnitByBus(vst3::Vst::MediaType type, vst3::Vst::BusDirection dir, vst3::int32 busIndex,
                                        vst3::int32 channel, vst3::Vst::UnitID& unitId) override;
  vst3::tresult PLUGIN_API setUnitProgramData(vst3::int32 listOrUnitId, vst3::int32 programIndex,
                                              vst3::IBStream* data) override;

 private:
  friend class cVst3Editor;  // edits as the host's own controls would make them
  cVst3Reverb();
  ~cVst3Reverb();

  vst3::tresult SetComponentState(vst3::IBStream* state) override;
  vst3::tresult GetComponentState(vst3::IBStream* state) override;
  vst3::tresult SetControllerState(vst3::IBStream* state) override;
  vst3::tresult GetControllerState(vst3::IBStream* state) override;

  // [control] A program change that arrived in process(), done now.
  void ApplyPendingProgram();
  // [any thread] A host value for one parameter; skipped when it would not change the setting.
  void Apply(int32_t id, double normalized, bool fromAudioThread);
  // [audio] Renders frames [from, from + frames) of the block.
  void Render(const float* inL, const float* inR, float* outL, float* outR, int32_t from, int32_t frames);
  // [audio] The queues' points in frame order, cutting the block at their offsets.
  void RenderWithChanges(vst3::Vst::ProcessData& data, const float* inL, const float* inR, float* outL, float* outR);
  // [audio] Values that changed inside the effect, for the host.
  void ReportChanges(vst3::Vst::IParameterChanges* changes);
  // [any thread] The normalized value the effect holds for an ID.
  float CurrentNormalized(int32_t id) const;

  nimbo::cReverbCore m_Core;
  std::atomic<vst3::uint32> m_RefCount{1};
  vst3::Vst::IComponentHandler* m_Handler = nullptr;  // [control] counted; the editor tells the host through it
  int32_t m_Initializations = 0;  // roles initialized and not yet terminated

  // Buses and processing set-up.
  std::atomic<vst3::Vst::SpeakerArrangement> m_InputArrangement{vst3::Vst::SpeakerArr::kStereo};
  double m_SampleRate = 44100.0;
  int32_t m_MaxBlock = 1024;
  std::atomic<bool> m_bActive{false};
  std::atomic<bool> m_bProcessing{false};
  std::vector<float> m_Silence;  // stands in for a missing input; sized at activation
  bool m_bInputSilent = false;    // [audio] the host flags this block's input as zeros
  bool m_bAllZeros = false;       // [audio] every stretch of this block was written asleep

  // [audio] Where process() stands in each input queue.
  struct sCursor {
    vst3::Vst::IParamValueQueue* queue;
    int32_t id;
    vst3::int32 next;    // index of the next point
    vst3::int32 count;   // points in the queue
    vst3::int32 offset;  // next point's frame, within [0, numSamples]
    double value;        // next point's value
  };
  static constexpr int32_t kMaxQueues = 64;  // more than the IDs; further queues apply at the block's start
  std::array<sCursor, kMaxQueues> m_Cursors{};

  // The normalized value the host last knew of each ID; a difference is reported.
  std::array<std::atomic<float>, kNumVst3Parameters> m_HostView{};
  std::atomic<int32_t> m_PendingProgram{-1};
  uint32_t m_ReportedChanges = ~0u;  // [audio] the core's change count ReportChanges last compared at
  vst3::Vst::UnitID m_SelectedUnit = vst3::Vst::kRootUnitId;

  // Fixed at construction: what getParameterInfo describes.
  std::array<double, kNumVst3Parameters> m_Default{};
  std::array<const char*, kNumGroupUnits + 1> m_GroupName{};
};

}  // namespace nimbovst3
