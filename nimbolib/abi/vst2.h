// VST 2.x binary interface, written from the published record layouts and
// opcode numbers. Pointer-size independent: the same header serves 32-bit and
// 64-bit builds; static_asserts pin every record to its ABI size.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define VSTCALLBACK __cdecl  // every VST 2.x entry is cdecl on 32-bit Windows
#else
#define VSTCALLBACK
#endif

struct AEffect;

// Host callback: (effect, opcode, index, value, ptr, opt) -> answer.
using audioMasterCallback = intptr_t(VSTCALLBACK*)(AEffect*, int32_t, int32_t, intptr_t, void*, float);
using AEffectDispatcherProc = intptr_t(VSTCALLBACK*)(AEffect*, int32_t, int32_t, intptr_t, void*, float);
using AEffectProcessProc = void(VSTCALLBACK*)(AEffect*, float**, float**, int32_t);
using AEffectProcessDoubleProc = void(VSTCALLBACK*)(AEffect*, double**, double**, int32_t);
using AEffectSetParameterProc = void(VSTCALLBACK*)(AEffect*, int32_t, float);
using AEffectGetParameterProc = float(VSTCALLBACK*)(AEffect*, int32_t);

constexpr int32_t kEffectMagic = 0x56737450;  // "VstP"

// The effect record the host reads. Owner: the effect; lives until effClose.
struct AEffect {
  int32_t magic;                                   // kEffectMagic
  AEffectDispatcherProc dispatcher;                // [control threads] every request but parameters and audio
  AEffectProcessProc process;                      // obsolete accumulating audio entry; null here
  AEffectSetParameterProc setParameter;            // [any thread] normalized value 0..1
  AEffectGetParameterProc getParameter;            // [any thread] normalized value 0..1
  int32_t numPrograms;                             // programs in the bank
  int32_t numParams;                               // automatable parameters
  int32_t numInputs;                               // audio inputs
  int32_t numOutputs;                              // audio outputs
  int32_t flags;                                   // effFlags* bits
  intptr_t resvd1;                                 // reserved, 0
  intptr_t resvd2;                                 // reserved, 0
  int32_t initialDelay;                            // latency in frames
  int32_t realQualities;                           // unused, 0
  int32_t offQualities;                            // unused, 0
  float ioRatio;                                   // unused, 0
  void* object;                                    // unused by this library's entries, null
  void* user;                                      // free for the host
  int32_t uniqueID;                                // plugin identifier checked by every entry
  int32_t version;                                 // plugin version
  AEffectProcessProc processReplacing;             // [audio thread] replacing float audio entry
  AEffectProcessDoubleProc processDoubleReplacing; // replacing double audio entry; null here
  char future[56];                                 // reserved, zero
};

// Flags of AEffect::flags.
enum : int32_t {
  effFlagsHasEditor = 1 << 0,      // the effect has its own editor
  effFlagsCanMono = 1 << 3,        // the effect accepts mono input
  effFlagsCanReplacing = 1 << 4,   // processReplacing is supported
  effFlagsProgramChunks = 1 << 5,  // programs are exchanged as chunks
};

// Dispatcher opcodes (host to effect).
enum : int32_t {
  effOpen = 0,                     // first request after creation
  effClose = 1,                    // last request; the effect is destroyed
  effSetProgram = 2,               // value: program index
  effGetProgram = 3,               // answer: program index
  effSetProgramName = 4,           // ptr: name text
  effGetProgramName = 5,           // ptr: buffer for the name
  effGetParamLabel = 6,            // index: parameter; ptr: buffer for the unit text
  effGetParamDisplay = 7,          // index: parameter; ptr: buffer for the value text
  effGetParamName = 8,             // index: parameter; ptr: buffer for the name
  effSetSampleRate = 10,           // opt: sample rate in Hz
  effSetBlockSize = 11,            // value: largest block in frames
  effMainsChanged = 12,            // value: 0 suspend, 1 resume
  effEditGetRect = 13,             // editor size
  effEditOpen = 14,                // open the editor
  effEditClose = 15,               // close the editor
  effIdentify = 22,                // answer: a four-character code
  effProcessEvents = 25,           // ptr: VstEvents
  effCanBeAutomated = 26,          // index: parameter
  effString2Parameter = 27,        // index: parameter; ptr: text
  effGetProgramNameIndexed = 29,   // index: program; ptr: buffer for the name
  effGetInputProperties = 33,      // index: pin; ptr: VstPinProperties
  effGetOutputProperties = 34,     // index: pin; ptr: VstPinProperties
  effGetPlugCategory = 35,         // answer: kPlugCateg*
  effGetEffectName = 45,           // ptr: buffer of kVstMaxEffectNameLen + 1
  effGetVendorString = 47,         // ptr: buffer of kVstMaxVendorStrLen + 1
  effGetProductString = 48,        // ptr: buffer of kVstMaxProductStrLen + 1
  effGetVendorVersion = 49,        // answer: vendor version
  effCanDo = 51,                   // ptr: capability text; answer 1, -1 or 0
  effGetParameterProperties = 56,  // index: parameter; ptr: VstParameterProperties
  effGetVstVersion = 58,           // answer: interface version
  effGetCurrentMidiProgram = 63,   // answer: MIDI program or -1
  effSetProcessPrecision = 77,     // value: 0 for 32-bit, 1 for 64-bit processing
};

// Host callback opcodes (effect to host).
enum : int32_t {
  audioMasterVersion = 1,            // answer: host interface version
  audioMasterCurrentId = 2,          // answer: id of the effect being created
  audioMasterGetSampleRate = 16,     // answer: sample rate in Hz
  audioMasterGetBlockSize = 17,      // answer: largest block in frames
  audioMasterGetVendorString = 32,   // ptr: buffer for the host vendor
  audioMasterGetProductString = 33,  // ptr: buffer for the host product
  audioMasterGetVendorVersion = 34,  // answer: host vendor version
};

constexpr int32_t kPlugCategRoomFx = 6;  // reverb and room effects
constexpr int32_t kVstMaxEffectNameLen = 32;
constexpr int32_t kVstMaxVendorStrLen = 64;
constexpr int32_t kVstMaxProductStrLen = 64;

// One host event; only the first 32 bytes are common to all kinds.
struct VstEvent {
  int32_t type;         // event kind
  int32_t byteSize;     // size of the event after this field
  int32_t deltaFrames;  // frame offset within the current block
  int32_t flags;        // kind-specific
  char data[16];        // kind-specific payload
};

// Event list passed with effProcessEvents. Owner: the host, for the call only.
struct VstEvents {
  int32_t numEvents;     // entries in events
  intptr_t reserved;     // 0
  VstEvent* events[2];   // variable length: numEvents pointers
};

// Flags of VstParameterProperties::flags.
enum : int32_t {
  kVstParameterIsSwitch = 1 << 0,                 // two-state parameter
  kVstParameterUsesIntegerMinMax = 1 << 1,        // minInteger/maxInteger valid
  kVstParameterUsesFloatStep = 1 << 2,            // step floats valid
  kVstParameterUsesIntStep = 1 << 3,              // step integers valid
  kVstParameterSupportsDisplayIndex = 1 << 4,     // displayIndex valid
  kVstParameterSupportsDisplayCategory = 1 << 5,  // category fields valid
  kVstParameterCanRamp = 1 << 6,                  // ramping is allowed
};

// Parameter description filled for effGetParameterProperties. Owner: the host.
struct VstParameterProperties {
  float stepFloat;                  // float step
  float smallStepFloat;             // small float step
  float largeStepFloat;             // large float step
  char label[64];                   // long name, not necessarily terminated
  int32_t flags;                    // kVstParameter* bits
  int32_t minInteger;               // integer minimum
  int32_t maxInteger;               // integer maximum
  int32_t stepInteger;              // integer step
  int32_t largeStepInteger;         // large integer step
  char shortLabel[8];               // short name, not necessarily terminated
  int16_t displayIndex;             // position within the category
  int16_t category;                 // category number from 1
  int16_t numParametersInCategory;  // size of the category
  int16_t reserved;                 // 0
  char categoryLabel[24];           // category name, not necessarily terminated
  char future[16];                  // reserved, zero
};

// Pin description for effGetInput/OutputProperties. Owner: the host.
struct VstPinProperties {
  char label[64];           // pin name
  int32_t flags;            // pin flags
  int32_t arrangementType;  // speaker arrangement
  char shortLabel[8];       // short pin name
  char future[48];          // reserved
};

static_assert(sizeof(VstEvent) == 32);
static_assert(sizeof(VstParameterProperties) == 152);
static_assert(offsetof(VstParameterProperties, shortLabel) == 96);
static_assert(offsetof(VstParameterProperties, categoryLabel) == 112);
static_assert(sizeof(VstPinProperties) == 128);
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8);
static_assert(sizeof(void*) == 8 || (sizeof(AEffect) == 144 && offsetof(AEffect, uniqueID) == 72 &&
                                     offsetof(AEffect, processReplacing) == 80 && sizeof(VstEvents) == 16));
static_assert(sizeof(void*) == 4 || (sizeof(AEffect) == 192 && offsetof(AEffect, uniqueID) == 112 &&
                                     offsetof(AEffect, processReplacing) == 120 && sizeof(VstEvents) == 32));
