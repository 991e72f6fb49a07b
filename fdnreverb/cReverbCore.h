// The reverb as every plugin format sees it: 18 parameters with their curves
// and texts, the program bank, the engine and the hand-over between the
// control threads and the audio thread. Format shells translate their host
// API to this class and hold no reverb logic of their own.
//
// Threads: "control" is any host thread but the audio thread; several may
// call at once. "audio" is the one thread that renders. Values are stored from
// any thread as single 32-bit words; what the engine derives from them is
// recomputed on the audio thread at the start of the next stretch it renders.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "../nimbolib/Atomic.h"
#include "Engine.h"
#include "Identity.h"
#include "Program.h"
#include "cParameter.h"

namespace nimbo {

// Host-side controls of formats that have them, after the VST 2.x indices.
constexpr int32_t kBypassId = 18;
constexpr int32_t kProgramChangeId = 19;

// How a format's host expresses a value: VST3 in 0..1, CLAP in 0..1 but plain
// for stepped parameters (switches, named values), LV2 always plain.
enum class eHostScale { kNormalized, kPlainIfStepped, kPlain };

constexpr int64_t kInfiniteTail = -1;
// -150 dBFS: below it the input counts as silent and the network as died away,
// far under any converter's noise.
constexpr float kSleepLevel = 3.1622777e-8f;
constexpr float kBypassRampSeconds = 0.01f;

class cReverbCore {
 public:
  cReverbCore();
  cReverbCore(const cReverbCore&) = delete;
  cReverbCore& operator=(const cReverbCore&) = delete;

  // ---- parameters [any thread] ------------------------------------------------
  static bool IsParameter(int32_t id) { return id >= 0 && id < kNumParameters; }
  std::span<nimbo::cParameter, kNumParameters> Parameters() { return m_Parameters; }
  const nimbo::cParameter& Parameter(int32_t id) const { return m_Parameters[static_cast<size_t>(id)]; }
  // The host's 0..1 value through the curve, as VST 2.x setParameter does (NaN counts as 1).
  void SetNormalized(int32_t id, float n);
  // A value in the parameter's unit, bounded; NaN and unknown IDs are ignored (false).
  bool SetPlain(int32_t id, float plain);
  float Normalized(int32_t id) const { return Parameter(id).Normalized(); }
  // What a new instance starts with: the first program's values, switches off.
  float DefaultPlain(int32_t id) const { return IsParameter(id) ? m_Defaults[static_cast<size_t>(id)] : 0.0f; }
  float Plain(int32_t id) const { return Parameter(id).Value(); }
  // Controls that carry plain values and must reach every program offer the
  // descriptor's range widened to what factory programs store (a damping of
  // 5 in "It is Spring").
  float WideLow(int32_t id) const { return m_StateLow[static_cast<size_t>(id)]; }
  float WideHigh(int32_t id) const { return m_StateHigh[static_cast<size_t>(id)]; }
  // What follows a descriptor change: derived program fields, then dirty flags.
  void OnParameterChanged(int32_t id);
  // The parts of the engine's coefficients a change of the parameter leaves stale (kStale...).
  static uint32_t StaleParts(int32_t id);

  // Windows-1252 "value unit" text of any plain value, and back.
  void ValueText(int32_t id, float plain, char (&text)[nimbo::kValueTextSize]) const;
  bool ParseValue(int32_t id, const char* text, float& plain) const;

  // ---- host values [any thread]: how CLAP, VST3 and LV2 take and show them ----
  // The parameters and, after them, the bypass. VST 2.x keeps its own rules.
  static bool IsHostValue(int32_t id) { return id >= 0 && id <= kBypassId; }
  // Switches and named values: integer steps.
  bool IsStepped(int32_t id) const { return id == kBypassId || (IsParameter(id) && Parameter(id).curve == nimbo::kCurveInteger); }
  // The value a host reads.
  double HostValue(int32_t id, eHostScale scale) const;
  // Sets a host's value. NaN keeps the value in force: hosts send it only by
  // mistake, and what plays should not jump. A value the setting already has
  // (hosts echo what they read) changes nothing either. A plain value is
  // bounded to what programs store (see WideLow); a switch is on above 0 as
  // plain, from 0.5 as normalized. False: nothing changed.
  bool SetHostValue(int32_t id, double value, eHostScale scale);
  // The plain value a host's value stands for. The value in force (and NaN)
  // gives the setting itself, so a stored value outside the range (a damping
  // of 5) reads as what it is.
  float HostPlain(int32_t id, double value, eHostScale scale) const;
  // Its Windows-1252 "value unit" text; the bypass reads "on" or "off".
  void HostValueText(int32_t id, double value, eHostScale scale, char (&text)[nimbo::kValueTextSize]) const;
  // A typed Windows-1252 text as a host's value; the bypass takes "on"/"off"
  // in any case, or 1/0. Where 0 means "off", a number never gives "off"
  // (nimbo::kJustAboveOff). False: not understood.
  bool ParseHostValue(int32_t id, const char* text, eHostScale scale, double& value) const;
  // Frames the output may still sound after the input stops. While bypassed
  // only the fade to the input is left: the network is cleared once it is
  // done, so a host keeps processing to the end of the fade and no longer.
  int64_t HostTailFrames(bool measure = false) const;
  // Where a measurement may take its time: the thread that initialised the
  // effect (the host's main thread, by every lifecycle), as long as real-time
  // processing runs on another. A host that asks between its blocks gets the bound.
  void NoteMainThread() { m_MainThread.store(CurrentThreadTag(), std::memory_order_relaxed); }
  void NoteRealtimeThread() { m_RealtimeThread.store(CurrentThreadTag(), std::memory_order_relaxed); }  // [audio]
  bool OnMainThread() const {
    const uint64_t thread = CurrentThreadTag();
    return thread == m_MainThread.load(std::memory_order_relaxed) &&
           thread != m_RealtimeThread.load(std::memory_order_relaxed);
  }

  // ---- programs [control] -----------------------------------------------------
  int32_t CurrentProgram() const { return m_CurrentProgram.load(); }
  // Keeps the edits of the program left in its slot, loads the other one and
  // resets the network at the next stretch. Out-of-range or current: nothing.
  void SetProgram(int32_t index);
  // [audio] The same, only if no control thread is rewriting the program at
  // this moment (it never waits); false: not done, try again later.
  bool TrySetProgram(int32_t index);
  void SetProgramName(const char* name);
  // Name of program index into text (25 bytes); false when out of range.
  bool GetProgramName(int32_t index, char* text) const;
  bool StoreProgram(int32_t index);
  // Loads program index as the factory made it, whether or not it is current;
  // the edits of the program left are dropped. For formats whose hosts load
  // presets from a browser, where loading a preset means getting that preset.
  void LoadProgram(int32_t index);
  // Names of the factory programs, without an instance (Windows-1252).
  static const char* FactoryProgramName(int32_t index);
  // A program's stored value of a parameter, as loading it would set it.
  float ProgramValue(int32_t index, int32_t id) const;
  // False for the switches, which no program stores ("Hold", "Dr. Who").
  static bool IsProgramParameter(int32_t id);

  // ---- state [control] --------------------------------------------------------
  // Versioned, little-endian, checksummed: program, bypass, all 18 values
  // both plain and as the host's 0..1 values.
  static constexpr size_t kStateSize = 168;
  void SaveState(std::span<uint8_t, kStateSize> out) const;
  // Refuses (false) anything truncated, foreign, corrupt or out of range, and
  // then changes nothing.
  bool LoadState(std::span<const uint8_t> data);

  // ---- lifecycle [control, not while the audio thread renders] ----------------
  // Allocates the network once; false when memory is short.
  bool Open(float sampleRate);
  void Close();
  bool IsReady() const { return m_Engine.IsReady(); }
  // Reset and full recomputation at the next stretch.
  void SetSampleRate(float sampleRate);
  void RequestReset() { m_bResetPending = true; }

  // ---- audio [audio thread] ---------------------------------------------------
  // One stretch: pending reset and recomputation, then the frames. Inputs and
  // outputs may be the same buffers; nothing happens before Open.
  void Process(const float* inL, const float* inR, float* outL, float* outR, int32_t frames);
  // The same for formats whose hosts let an effect sleep. Once the input has
  // stayed below kSleepLevel ("Hold" on: whatever it is) and what the network
  // could still send out has fallen below it too, the network is cleared and
  // the effect sleeps: it writes zeros and only keeps the lines' clock running,
  // so the sound that wakes it meets the modulation where it would have been.
  // A sleeping "Hold" holds nothing. inputSilent: the host vouches for zeros.
  // True when the stretch was written as zeros, asleep.
  bool ProcessOrSleep(const float* inL, const float* inR, float* outL, float* outR, int32_t frames,
                      bool inputSilent = false);
  bool Asleep() const { return m_bAsleep; }  // [audio]

  // ---- what hosts ask [any thread] ---------------------------------------------
  bool Hold() const { return LiveValue(kParamHold) != 0.0f; }
  // Frames until the tail of the current settings is inaudible; kInfiniteTail
  // with "Hold" on. A closed-form bound, which may be many times too long,
  // until a caller allows measuring: measure [control thread only] renders the
  // impulse response once per change (milliseconds; allocates) and the tail
  // becomes 1.25 times its time to fall below -100 dBFS.
  int64_t TailFrames(bool measure = false) const;
  // Passes the input through, fading over kBypassRampSeconds; the network is
  // cleared once the fade is done, so the tail does not come back later.
  void SetBypass(bool on) {
    m_bBypass.store(on, std::memory_order_relaxed);
    m_ValueChanges.fetch_add(1, std::memory_order_release);
  }
  bool Bypassed() const { return m_bBypass.load(std::memory_order_relaxed); }
  // Grows with every change of a value, the bypass or the program (wrapping);
  // a host's view taken at one count is up to date while the count stays.
  uint32_t ValueChanges() const { return m_ValueChanges.load(std::memory_order_acquire); }

 private:
  void SetupParameters();
  float LiveValue(int32_t id) const { return nimbo::LoadShared(m_EditProgram.values[id]); }
  void SwitchProgram(int32_t index);  // with m_ControlMutex held
  void MarkAllDirty();
  void SyncAllParameters();
  // A consistent copy of what the stale parts read of the live program; false
  // while a control thread rewrites it.
  bool SnapshotProgram(sProgram& program, uint32_t stale) const;
  void BeginEdit();
  void EndEdit();
  // Pending reset and recomputation; false when there is nothing to render.
  bool BeginStretch(int32_t frames);
  void Render(const float* inL, const float* inR, float* outL, float* outR, int32_t frames, bool hold);
  bool TakesPlain(int32_t id, eHostScale scale) const;
  // A plain value bounded to the widened range, integers rounded, "off" kept.
  float WidePlain(int32_t id, double plain) const;
  int32_t BypassRampFrames() const;
  void RenderBypassFade(const float* inL, const float* inR, float* outL, float* outR, int32_t frames, bool hold);

  cFDNengine m_Engine;
  std::array<nimbo::cParameter, kNumParameters> m_Parameters;
  sProgram m_Programs[kNumPrograms] = {};
  // The live program; it also holds the switches ("Hold": read once per
  // stretch; "Dr. Who": read at reset).
  sProgram m_EditProgram = {};
  std::atomic<int32_t> m_CurrentProgram{0};
  std::atomic<float> m_SampleRate{44100.0f};

  std::atomic<bool> m_bResetPending{false};
  std::atomic<uint32_t> m_Stale{0};  // kStale... parts to recompute at the next stretch
  // Odd while a control thread rewrites the live program as a whole.
  std::atomic<uint32_t> m_EditSequence{0};
  mutable nimbo::cControlMutex m_ControlMutex;  // whole-program changes; never taken by the audio thread

  float m_Defaults[kNumParameters] = {};
  // Values a state may hold: the parameter's range widened to what factory programs store.
  float m_StateLow[kNumParameters] = {};
  float m_StateHigh[kNumParameters] = {};

  // The last tail bound, until a change makes it stale.
  mutable std::atomic<bool> m_bTailDirty{true};
  mutable std::atomic<int64_t> m_Tail{0};
  mutable std::atomic<bool> m_bTailMeasured{false};
  std::atomic<uint64_t> m_MainThread{0}, m_RealtimeThread{0};

  std::atomic<bool> m_bBypass{false};
  std::atomic<uint32_t> m_ValueChanges{0};
  float m_BypassMix = 0.0f;  // audio thread: 0 processed .. 1 input

  // [audio] Sleep: frames of silent input since the network was last measured.
  bool m_bAsleep = false;
  uint32_t m_QuietFrames = 0;
  uint32_t m_MeasureInterval = 0;
};

}  // namespace nimbo
