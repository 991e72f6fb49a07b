// VST3 binary interface: the interfaces, identifiers, records and constants a
// VST3 effect implements or calls, written from the published definitions.
// Interfaces are abstract classes whose virtual methods appear in the published
// order, so their vtables match what hosts call; no virtual destructors, as
// there are none in the format. Records are laid out as published (natural
// alignment on Linux, pack 16 / pack 8 on 64- / 32-bit Windows), and
// static_asserts pin their sizes and key offsets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Calling convention of every interface method and module entry. The format
// asks for __stdcall on Windows, which only 32-bit x86 distinguishes.
#if defined(_WIN32) && !defined(_WIN64)
#define PLUGIN_API __stdcall
#else
#define PLUGIN_API
#endif

// Windows hosts compare identifiers in COM (GUID) byte order and expect COM's
// result codes; every other platform uses plain big-endian bytes and small codes.
#if defined(_WIN32)
#define NIMBO_VST3_COM_COMPATIBLE 1
#else
#define NIMBO_VST3_COM_COMPATIBLE 0
#endif

#if defined(_WIN32)
#pragma pack(push)
#if defined(_WIN64)
#pragma pack(16)
#else
#pragma pack(8)
#endif
#endif

namespace vst3 {

// ---- base types -------------------------------------------------------------

using int8 = char;
using uint8 = uint8_t;
using int16 = int16_t;
using uint16 = uint16_t;
using int32 = int32_t;
using uint32 = uint32_t;
using int64 = int64_t;
using uint64 = uint64_t;
using char8 = char;
using char16 = char16_t;
using TBool = uint8;               // 0 false, anything else true
using tresult = int32;             // result code, see below
using FIDString = const char8*;    // identifier string, zero-terminated ASCII
using TUID = char[16];             // 16-byte class or interface identifier
using Iid = std::array<char, 16>;  // a TUID as a value

// Result codes.
#if NIMBO_VST3_COM_COMPATIBLE
inline constexpr tresult kNoInterface = static_cast<tresult>(0x80004002u);      // E_NOINTERFACE
inline constexpr tresult kResultOk = 0;                                         // S_OK
inline constexpr tresult kResultTrue = kResultOk;                               // S_OK
inline constexpr tresult kResultFalse = 1;                                      // S_FALSE
inline constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057u);  // E_INVALIDARG
inline constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001u);   // E_NOTIMPL
inline constexpr tresult kInternalError = static_cast<tresult>(0x80004005u);    // E_FAIL
inline constexpr tresult kNotInitialized = static_cast<tresult>(0x8000FFFFu);   // E_UNEXPECTED
inline constexpr tresult kOutOfMemory = static_cast<tresult>(0x8007000Eu);      // E_OUTOFMEMORY
#else
inline constexpr tresult kNoInterface = -1;        // interface not supported
inline constexpr tresult kResultOk = 0;            // success
inline constexpr tresult kResultTrue = kResultOk;  // success, "yes"
inline constexpr tresult kResultFalse = 1;         // success, "no"
inline constexpr tresult kInvalidArgument = 2;     // bad argument
inline constexpr tresult kNotImplemented = 3;      // not implemented
inline constexpr tresult kInternalError = 4;       // failure
inline constexpr tresult kNotInitialized = 5;      // called in the wrong state
inline constexpr tresult kOutOfMemory = 6;         // allocation failed
#endif

inline constexpr uint32 kMaxInt32u = 0xFFFFFFFFu;

// The 16 bytes of an identifier published as four 32-bit words (INLINE_UID):
// big-endian words elsewhere, GUID layout (Data1, Data2, Data3 little-endian) on Windows.
constexpr Iid InlineUid(uint32 l1, uint32 l2, uint32 l3, uint32 l4) {
  auto b = [](uint32 word, int shift) { return static_cast<char>((word >> shift) & 0xFFu); };
#if NIMBO_VST3_COM_COMPATIBLE
  return {b(l1, 0),  b(l1, 8),  b(l1, 16), b(l1, 24), b(l2, 16), b(l2, 24), b(l2, 0), b(l2, 8),
          b(l3, 24), b(l3, 16), b(l3, 8),  b(l3, 0),  b(l4, 24), b(l4, 16), b(l4, 8), b(l4, 0)};
#else
  return {b(l1, 24), b(l1, 16), b(l1, 8), b(l1, 0), b(l2, 24), b(l2, 16), b(l2, 8), b(l2, 0),
          b(l3, 24), b(l3, 16), b(l3, 8), b(l3, 0), b(l4, 24), b(l4, 16), b(l4, 8), b(l4, 0)};
#endif
}

inline bool IidEqual(const char* a, const Iid& b) { return a && std::memcmp(a, b.data(), b.size()) == 0; }

// The class identifier a VST3 host derives for the VST3 replacement of a VST 2.x
// plugin: the 32 hex digits "565354" ('VST'; "565345" 'VSE' for the edit
// controller), the VST 2.x unique ID as 8 digits, then the first 9 bytes of
// the plugin name in lower case (zero past its end), read as a UID string:
// its four 8-digit groups are the published words, in this platform's byte order.
constexpr Iid Vst2ReplacementUid(uint32 vst2UniqueId, std::string_view pluginName, bool forController = false) {
  auto nameByte = [&](size_t i) -> uint32 {
    if (i >= pluginName.size()) return 0;
    const auto c = static_cast<unsigned char>(pluginName[i]);
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
  };
  const uint32 kind = (uint32{'V'} << 16) | (uint32{'S'} << 8) | (forController ? 'E' : 'T');
  return InlineUid((kind << 8) | (vst2UniqueId >> 24), ((vst2UniqueId & 0xFFFFFFu) << 8) | nameByte(0),
                   (nameByte(1) << 24) | (nameByte(2) << 16) | (nameByte(3) << 8) | nameByte(4),
                   (nameByte(5) << 24) | (nameByte(6) << 16) | (nameByte(7) << 8) | nameByte(8));
}

// ---- FUnknown, plugin base, factory -----------------------------------------

// Base of every interface; reference counted, initial count 1.
class FUnknown {
 public:
  // Sets *obj to the asked interface (one reference added), or to null with kNoInterface
  virtual tresult PLUGIN_API queryInterface(const TUID _iid, void** obj) = 0;
  // Adds a reference; answers the new count
  virtual uint32 PLUGIN_API addRef() = 0;
  // Drops a reference; answers the new count, and 0 destroys the object
  virtual uint32 PLUGIN_API release() = 0;
  static constexpr Iid iid = InlineUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
};

// Life cycle of a plugin object (component or controller).
class IPluginBase : public FUnknown {
 public:
  // [UI thread] After creation; context is the host (IHostApplication)
  virtual tresult PLUGIN_API initialize(FUnknown* context) = 0;
  // [UI thread] Before the last release; drops every host reference
  virtual tresult PLUGIN_API terminate() = 0;
  static constexpr Iid iid = InlineUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
};

// Factory description. Owner: the host.
struct PFactoryInfo {
  enum FactoryFlags : int32 {
    kNoFlags = 0,                       // nothing
    kClassesDiscardable = 1 << 0,       // class list may change between loads
    kLicenseCheck = 1 << 1,             // obsolete
    kComponentNonDiscardable = 1 << 3,  // keep the module loaded until the host exits
    kUnicode = 1 << 4,                  // strings are UTF-16 (PClassInfoW)
  };
  enum : int32 { kURLSize = 256, kEmailSize = 128, kNameSize = 64 };
  char8 vendor[kNameSize];  // vendor name
  char8 url[kURLSize];      // vendor web address, may be empty
  char8 email[kEmailSize];  // contact address, may be empty
  int32 flags;              // FactoryFlags bits
};

// Class description, version 1. Owner: the host.
struct PClassInfo {
  enum ClassCardinality : int32 { kManyInstances = 0x7FFFFFFF };  // unlimited instances
  enum : int32 { kCategorySize = 32, kNameSize = 64 };
  TUID cid;                       // class identifier
  int32 cardinality;              // kManyInstances
  char8 category[kCategorySize];  // kVstAudioEffectClass or kVstComponentControllerClass
  char8 name[kNameSize];          // class name shown to the user
};

// Module's class factory, returned by GetPluginFactory.
class IPluginFactory : public FUnknown {
 public:
  // Fills the vendor description
  virtual tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) = 0;
  // Number of classes exported
  virtual int32 PLUGIN_API countClasses() = 0;
  // Fills the description of class index
  virtual tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) = 0;
  // Creates an object of class cid and answers its interface _iid
  virtual tresult PLUGIN_API createInstance(FIDString cid, FIDString _iid, void** obj) = 0;
  static constexpr Iid iid = InlineUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
};

// Class description, version 2. Owner: the host.
struct PClassInfo2 {
  enum : int32 { kVendorSize = 64, kVersionSize = 64, kSubCategoriesSize = 128 };
  TUID cid;                                   // class identifier
  int32 cardinality;                          // kManyInstances
  char8 category[PClassInfo::kCategorySize];  // class category
  char8 name[PClassInfo::kNameSize];          // class name shown to the user
  uint32 classFlags;                          // ComponentFlags bits
  char8 subCategories[kSubCategoriesSize];    // '|'-separated, e.g. "Fx|Reverb"
  char8 vendor[kVendorSize];                  // overrides the factory's vendor when set
  char8 version[kVersionSize];                // "major.minor.sub.build"
  char8 sdkVersion[kVersionSize];             // interface version built against, e.g. "VST 3.7.13"
};

class IPluginFactory2 : public IPluginFactory {
 public:
  // Fills the version 2 description of class index
  virtual tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) = 0;
  static constexpr Iid iid = InlineUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
};

// Class description with UTF-16 texts. Owner: the host.
struct PClassInfoW {
  enum : int32 { kVendorSize = 64, kVersionSize = 64, kSubCategoriesSize = 128 };
  TUID cid;                                   // class identifier
  int32 cardinality;                          // kManyInstances
  char8 category[PClassInfo::kCategorySize];  // class category (ASCII)
  char16 name[PClassInfo::kNameSize];         // class name shown to the user
  uint32 classFlags;                          // ComponentFlags bits
  char8 subCategories[kSubCategoriesSize];    // '|'-separated (ASCII)
  char16 vendor[kVendorSize];                 // overrides the factory's vendor when set
  char16 version[kVersionSize];               // "major.minor.sub.build"
  char16 sdkVersion[kVersionSize];            // interface version built against
};

class IPluginFactory3 : public IPluginFactory2 {
 public:
  // Fills the UTF-16 description of class index
  virtual tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) = 0;
  // Hands the factory the host context
  virtual tresult PLUGIN_API setHostContext(FUnknown* context) = 0;
  static constexpr Iid iid = InlineUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
};

// Module entry points. Linux hosts call ModuleEntry(handle) after loading and
// ModuleExit() before unloading; Windows hosts call InitDll/ExitDll when present.
using GetFactoryProc = IPluginFactory*(PLUGIN_API*)();
using ModuleEntryFunc = bool (*)(void* sharedLibraryHandle);
using ModuleExitFunc = bool (*)();
using InitModuleFunc = bool(PLUGIN_API*)();
using ExitModuleFunc = bool(PLUGIN_API*)();

// ---- streams --------------------------------------------------------------

// Binary stream for state. Owner: the host; valid for the call only.
class IBStream : public FUnknown {
 public:
  enum IStreamSeekMode : int32 {
    kIBSeekSet = 0,  // from the start
    kIBSeekCur,      // from the current position
    kIBSeekEnd,      // from the end
  };
  // Reads up to numBytes; *numBytesRead tells how many came (may be fewer)
  virtual tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead = nullptr) = 0;
  // Writes up to numBytes; *numBytesWritten tells how many went (may be fewer)
  virtual tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten = nullptr) = 0;
  // Moves the position (mode: IStreamSeekMode); *result is the new position
  virtual tresult PLUGIN_API seek(int64 pos, int32 mode, int64* result = nullptr) = 0;
  // Current position
  virtual tresult PLUGIN_API tell(int64* pos) = 0;
  static constexpr Iid iid = InlineUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
};

// Stream with a known size (memory and file streams).
class ISizeableStream : public FUnknown {
 public:
  // Total size in bytes
  virtual tresult PLUGIN_API getStreamSize(int64& size) = 0;
  // Grows or cuts the stream to size bytes
  virtual tresult PLUGIN_API setStreamSize(int64 size) = 0;
  static constexpr Iid iid = InlineUid(0x04F9549E, 0xE02F4E6E, 0x87E86A87, 0x47F4E17F);
};

// ---- editor views ---------------------------------------------------------------

// Platform types of the parent a view is attached to.
inline constexpr FIDString kPlatformTypeHWND = "HWND";                          // a HWND
inline constexpr FIDString kPlatformTypeX11EmbedWindowID = "X11EmbedWindowID";  // an X11 Window ID

// A view's rectangle in pixels.
struct ViewRect {
  int32 left = 0;
  int32 top = 0;
  int32 right = 0;
  int32 bottom = 0;
  int32 getWidth() const { return right - left; }
  int32 getHeight() const { return bottom - top; }
};

class IPlugFrame;

// [UI thread] The editor of a controller, made by createView("editor").
class IPlugView : public FUnknown {
 public:
  virtual tresult PLUGIN_API isPlatformTypeSupported(FIDString type) = 0;
  // Embeds the view into the host's parent window of the given platform type
  virtual tresult PLUGIN_API attached(void* parent, FIDString type) = 0;
  // Takes the view out of its parent: every window and handler of the view goes
  virtual tresult PLUGIN_API removed() = 0;
  virtual tresult PLUGIN_API onWheel(float distance) = 0;
  virtual tresult PLUGIN_API onKeyDown(char16 key, int16 keyCode, int16 modifiers) = 0;
  virtual tresult PLUGIN_API onKeyUp(char16 key, int16 keyCode, int16 modifiers) = 0;
  virtual tresult PLUGIN_API getSize(ViewRect* size) = 0;
  // The host resized the view's parent to newSize
  virtual tresult PLUGIN_API onSize(ViewRect* newSize) = 0;
  virtual tresult PLUGIN_API onFocus(TBool state) = 0;
  // The host's frame, for resize requests; null before the view goes
  virtual tresult PLUGIN_API setFrame(IPlugFrame* frame) = 0;
  virtual tresult PLUGIN_API canResize() = 0;
  virtual tresult PLUGIN_API checkSizeConstraint(ViewRect* rect) = 0;
  static constexpr Iid iid = InlineUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
};

// [UI thread] The host's side of a view.
class IPlugFrame : public FUnknown {
 public:
  // The view asks to be resized to newSize; the host calls onSize when it agrees
  virtual tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* newSize) = 0;
  static constexpr Iid iid = InlineUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
};

// [UI thread] A view the host may scale (Windows, where the view cannot ask the system).
class IPlugViewContentScaleSupport : public FUnknown {
 public:
  using ScaleFactor = float;
  virtual tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) = 0;
  static constexpr Iid iid = InlineUid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);
};

// The host's run loop on Linux, which a view's timers and descriptors join
// (got from the frame).
namespace Linux {

using FileDescriptor = int;
using TimerInterval = uint64;

class IEventHandler : public FUnknown {
 public:
  virtual void PLUGIN_API onFDIsSet(FileDescriptor fd) = 0;
  static constexpr Iid iid = InlineUid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
};

class ITimerHandler : public FUnknown {
 public:
  virtual void PLUGIN_API onTimer() = 0;
  static constexpr Iid iid = InlineUid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);
};

class IRunLoop : public FUnknown {
 public:
  virtual tresult PLUGIN_API registerEventHandler(IEventHandler* handler, FileDescriptor fd) = 0;
  virtual tresult PLUGIN_API unregisterEventHandler(IEventHandler* handler) = 0;
  virtual tresult PLUGIN_API registerTimer(ITimerHandler* handler, TimerInterval milliseconds) = 0;
  virtual tresult PLUGIN_API unregisterTimer(ITimerHandler* handler) = 0;
  static constexpr Iid iid = InlineUid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
};

}  // namespace Linux

namespace Vst {

// The name createView is asked for an editor by.
namespace ViewType {
inline constexpr FIDString kEditor = "editor";
}

// ---- VST types --------------------------------------------------------------

using TChar = char16;               // UTF-16 code unit
using String128 = TChar[128];       // fixed UTF-16 text, zero-terminated
using CString = const char8*;       // ASCII text
using MediaType = int32;            // MediaTypes
using BusDirection = int32;         // BusDirections
using BusType = int32;              // BusTypes
using IoMode = int32;               // IoModes
using UnitID = int32;               // unit identifier
using ParamValue = double;          // normalized value 0..1
using ParamID = uint32;             // parameter identifier 0..0x7FFFFFFF
using ProgramListID = int32;        // program list identifier
using CtrlNumber = int16;           // MIDI controller number
using TQuarterNotes = double;       // musical time in quarter notes
using TSamples = int64;             // time in frames
using ColorSpec = uint32;           // ARGB
using Sample32 = float;             // 32-bit sample
using Sample64 = double;            // 64-bit sample
using SampleRate = double;          // frames per second
using SpeakerArrangement = uint64;  // set of Speaker bits
using Speaker = uint64;             // one speaker bit
using KnobMode = int32;             // KnobModes

inline constexpr ParamID kNoParamId = 0xFFFFFFFFu;   // no parameter
inline constexpr ParamID kMinParamId = 0;            // lowest plugin parameter ID
inline constexpr ParamID kMaxParamId = 0x7FFFFFFFu;  // highest plugin parameter ID; above is the host's

// Class categories (PClassInfo::category).
inline constexpr const char* kVstAudioEffectClass = "Audio Module Class";
inline constexpr const char* kVstComponentControllerClass = "Component Controller Class";

// Standard PFactoryInfo::flags.
inline constexpr int32 kDefaultFactoryFlags = PFactoryInfo::kUnicode;

// Subcategories used here (PClassInfo2::subCategories).
namespace PlugType {
inline constexpr CString kFx = "Fx";               // uncategorized effect
inline constexpr CString kFxReverb = "Fx|Reverb";  // reverb, room simulation
inline constexpr CString kStereo = "Stereo";       // stereo-only plugin
}  // namespace PlugType

// PClassInfo2::classFlags of an audio effect class.
enum ComponentFlags : int32 {
  kDistributable = 1 << 0,        // processor and controller may run on different computers
  kSimpleModeSupported = 1 << 1,  // works in simple I/O mode
};

// Speakers and arrangements.
inline constexpr Speaker kSpeakerL = 1 << 0;   // left
inline constexpr Speaker kSpeakerR = 1 << 1;   // right
inline constexpr Speaker kSpeakerM = 1 << 19;  // mono
namespace SpeakerArr {
inline constexpr SpeakerArrangement kEmpty = 0;                       // no channels
inline constexpr SpeakerArrangement kMono = kSpeakerM;                // one channel
inline constexpr SpeakerArrangement kStereo = kSpeakerL | kSpeakerR;  // left, right
}  // namespace SpeakerArr

// ---- component ----------------------------------------------------------------

enum MediaTypes : int32 {
  kAudio = 0,      // audio bus
  kEvent,          // event bus
  kNumMediaTypes,  // count
};
enum BusDirections : int32 {
  kInput = 0,  // input bus
  kOutput,     // output bus
};
enum BusTypes : int32 {
  kMain = 0,  // main bus
  kAux,       // side chain
};
enum IoModes : int32 {
  kSimple = 0,         // 1:1 input/output (instruments)
  kAdvanced,           // n:m input/output (instruments)
  kOfflineProcessing,  // offline processing context
};

// One bus. Owner: the host.
struct BusInfo {
  MediaType mediaType;     // MediaTypes
  BusDirection direction;  // BusDirections
  int32 channelCount;      // channels of the current arrangement
  String128 name;          // bus name
  BusType busType;         // BusTypes
  uint32 flags;            // BusFlags bits
  enum BusFlags : uint32 {
    kDefaultActive = 1 << 0,     // host should activate it at instantiation
    kIsControlVoltage = 1 << 1,  // carries control signals, not audio
  };
};

// Relation of an input channel to an output bus. Owner: the host.
struct RoutingInfo {
  MediaType mediaType;  // MediaTypes
  int32 busIndex;       // bus index
  int32 channel;        // channel, -1 for all
};

// The processing part of a plugin.
class IComponent : public IPluginBase {
 public:
  // [UI thread] Class ID of the separate edit controller, if there is one
  virtual tresult PLUGIN_API getControllerClassId(TUID classId) = 0;
  // [UI thread] Before initialize: how the host will use the component (IoModes)
  virtual tresult PLUGIN_API setIoMode(IoMode mode) = 0;
  // [UI thread] Number of buses of a media type and direction
  virtual int32 PLUGIN_API getBusCount(MediaType type, BusDirection dir) = 0;
  // [UI thread] Fills the description of one bus
  virtual tresult PLUGIN_API getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus) = 0;
  // [UI thread] Fills outInfo with the output bus the input of inInfo feeds
  virtual tresult PLUGIN_API getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) = 0;
  // [UI thread] Switches one bus on or off
  virtual tresult PLUGIN_API activateBus(MediaType type, BusDirection dir, int32 index, TBool state) = 0;
  // [UI thread] Switches processing resources on or off
  virtual tresult PLUGIN_API setActive(TBool state) = 0;
  // [UI thread] Loads the complete state
  virtual tresult PLUGIN_API setState(IBStream* state) = 0;
  // [UI thread] Saves the complete state
  virtual tresult PLUGIN_API getState(IBStream* state) = 0;
  static constexpr Iid iid = InlineUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
};

// ---- attributes, messages, connections ----------------------------------------

// Keyed values of a message. Owner: the host.
class IAttributeList : public FUnknown {
 public:
  using AttrID = const char*;
  // Stores an integer under id
  virtual tresult PLUGIN_API setInt(AttrID id, int64 value) = 0;
  // Reads the integer under id
  virtual tresult PLUGIN_API getInt(AttrID id, int64& value) = 0;
  // Stores a float under id
  virtual tresult PLUGIN_API setFloat(AttrID id, double value) = 0;
  // Reads the float under id
  virtual tresult PLUGIN_API getFloat(AttrID id, double& value) = 0;
  // Stores a zero-terminated UTF-16 text under id
  virtual tresult PLUGIN_API setString(AttrID id, const TChar* string) = 0;
  // Reads the text under id into a buffer of sizeInBytes bytes
  virtual tresult PLUGIN_API getString(AttrID id, TChar* string, uint32 sizeInBytes) = 0;
  // Stores a copy of sizeInBytes bytes under id
  virtual tresult PLUGIN_API setBinary(AttrID id, const void* data, uint32 sizeInBytes) = 0;
  // Answers the bytes under id; the list keeps owning them
  virtual tresult PLUGIN_API getBinary(AttrID id, const void*& data, uint32& sizeInBytes) = 0;
  static constexpr Iid iid = InlineUid(0x1E5F0AEB, 0xCC7F4533, 0xA2544011, 0x38AD5EE4);
};

// Message between component and controller; made by IHostApplication::createInstance.
class IMessage : public FUnknown {
 public:
  // The message name
  virtual FIDString PLUGIN_API getMessageID() = 0;
  // Sets the message name (copied)
  virtual void PLUGIN_API setMessageID(FIDString id) = 0;
  // The payload, owned by the message
  virtual IAttributeList* PLUGIN_API getAttributes() = 0;
  static constexpr Iid iid = InlineUid(0x936F033B, 0xC6C047DB, 0xBB0882F8, 0x13C1E613);
};

// Link between a separate component and controller (hosts may put a proxy between).
class IConnectionPoint : public FUnknown {
 public:
  // [UI thread] Starts talking to other
  virtual tresult PLUGIN_API connect(IConnectionPoint* other) = 0;
  // [UI thread] Stops talking to other
  virtual tresult PLUGIN_API disconnect(IConnectionPoint* other) = 0;
  // [UI thread] A message from the other side
  virtual tresult PLUGIN_API notify(IMessage* message) = 0;
  static constexpr Iid iid = InlineUid(0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1);
};

// The host, passed to initialize.
class IHostApplication : public FUnknown {
 public:
  // Fills the host's name
  virtual tresult PLUGIN_API getName(String128 name) = 0;
  // Creates a host object of class cid (IMessage, IAttributeList), answering interface _iid
  virtual tresult PLUGIN_API createInstance(TUID cid, TUID _iid, void** obj) = 0;
  static constexpr Iid iid = InlineUid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);
};

// ---- edit controller ------------------------------------------------------------

// One parameter. Owner: the host.
struct ParameterInfo {
  ParamID id;                         // stable identifier
  String128 title;                    // name, e.g. "Volume"
  String128 shortTitle;               // short name, e.g. "Vol"
  String128 units;                    // unit, e.g. "dB"
  int32 stepCount;                    // 0 continuous, 1 toggle, else steps (max - min)
  ParamValue defaultNormalizedValue;  // default, normalized
  UnitID unitId;                      // unit the parameter belongs to
  int32 flags;                        // ParameterFlags bits
  enum ParameterFlags : int32 {
    kNoFlags = 0,                // none
    kCanAutomate = 1 << 0,       // automatable
    kIsReadOnly = 1 << 1,        // only the plugin changes it
    kIsWrapAround = 1 << 2,      // values wrap at the ends
    kIsList = 1 << 3,            // shown as a list
    kIsHidden = 1 << 4,          // not shown, read-only
    kIsProgramChange = 1 << 15,  // selects a program of unitId's program list
    kIsBypass = 1 << 16,         // the effect's bypass (only one)
  };
};

// IComponentHandler::restartComponent flags.
enum RestartFlags : int32 {
  kReloadComponent = 1 << 0,             // unload and reload
  kIoChanged = 1 << 1,                   // bus configuration changed
  kParamValuesChanged = 1 << 2,          // many parameter values changed
  kLatencyChanged = 1 << 3,              // latency changed
  kParamTitlesChanged = 1 << 4,          // parameter infos changed
  kMidiCCAssignmentChanged = 1 << 5,     // MIDI mapping changed
  kNoteExpressionChanged = 1 << 6,       // note expressions changed
  kIoTitlesChanged = 1 << 7,             // bus names changed
  kPrefetchableSupportChanged = 1 << 8,  // prefetch support changed
  kRoutingInfoChanged = 1 << 9,          // routing changed
  kKeyswitchChanged = 1 << 10,           // key switches changed
  kParamIDMappingChanged = 1 << 11,      // parameter IDs remapped
};

// The host's side of a controller.
class IComponentHandler : public FUnknown {
 public:
  // [UI thread] An edit gesture on parameter id starts
  virtual tresult PLUGIN_API beginEdit(ParamID id) = 0;
  // [UI thread] Parameter id has a new value from the plugin
  virtual tresult PLUGIN_API performEdit(ParamID id, ParamValue valueNormalized) = 0;
  // [UI thread] The edit gesture on parameter id ends
  virtual tresult PLUGIN_API endEdit(ParamID id) = 0;
  // [UI thread] Asks the host to reload what flags (RestartFlags) say changed
  virtual tresult PLUGIN_API restartComponent(int32 flags) = 0;
  static constexpr Iid iid = InlineUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
};

// Optional extension of the handler.
class IComponentHandler2 : public FUnknown {
 public:
  // [UI thread] The state changed beyond the parameters
  virtual tresult PLUGIN_API setDirty(TBool state) = 0;
  // [UI thread] Asks the host to show the editor
  virtual tresult PLUGIN_API requestOpenEditor(FIDString name = "editor") = 0;
  // [UI thread] The following edits share one timestamp
  virtual tresult PLUGIN_API startGroupEdit() = 0;
  // [UI thread] Ends the group of edits
  virtual tresult PLUGIN_API finishGroupEdit() = 0;
  static constexpr Iid iid = InlineUid(0xF040B4B3, 0xA36045EC, 0xABCDC045, 0xB4D5A2CC);
};

// Parameters, their texts and the state of the controller.
class IEditController : public IPluginBase {
 public:
  // [UI thread] Receives the component's state
  virtual tresult PLUGIN_API setComponentState(IBStream* state) = 0;
  // [UI thread] Loads the controller's own state
  virtual tresult PLUGIN_API setState(IBStream* state) = 0;
  // [UI thread] Saves the controller's own state
  virtual tresult PLUGIN_API getState(IBStream* state) = 0;
  // [UI thread] Number of parameters exported
  virtual int32 PLUGIN_API getParameterCount() = 0;
  // [UI thread] Fills the description of parameter paramIndex
  virtual tresult PLUGIN_API getParameterInfo(int32 paramIndex, ParameterInfo& info) = 0;
  // [UI thread] The text shown for a normalized value
  virtual tresult PLUGIN_API getParamStringByValue(ParamID id, ParamValue valueNormalized, String128 string) = 0;
  // [UI thread] The normalized value of a text
  virtual tresult PLUGIN_API getParamValueByString(ParamID id, TChar* string, ParamValue& valueNormalized) = 0;
  // [UI thread] A normalized value as the plain value it stands for
  virtual ParamValue PLUGIN_API normalizedParamToPlain(ParamID id, ParamValue valueNormalized) = 0;
  // [UI thread] A plain value as normalized value
  virtual ParamValue PLUGIN_API plainParamToNormalized(ParamID id, ParamValue plainValue) = 0;
  // [UI thread] Current normalized value
  virtual ParamValue PLUGIN_API getParamNormalized(ParamID id) = 0;
  // [UI thread] Sets a normalized value; never echoed back to the handler
  virtual tresult PLUGIN_API setParamNormalized(ParamID id, ParamValue value) = 0;
  // [UI thread] The host's handler, or null
  virtual tresult PLUGIN_API setComponentHandler(IComponentHandler* handler) = 0;
  // [UI thread] An editor view, or null when there is none
  virtual IPlugView* PLUGIN_API createView(FIDString name) = 0;
  static constexpr Iid iid = InlineUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
};

enum KnobModes : KnobMode {
  kCircularMode = 0,     // circular, jumps to the click
  kRelativCircularMode,  // circular, relative
  kLinearMode,           // vertical movement
};

// Optional controller extension.
class IEditController2 : public FUnknown {
 public:
  // [UI thread] The host's knob mode (KnobModes)
  virtual tresult PLUGIN_API setKnobMode(KnobMode mode) = 0;
  // [UI thread] Shows the help (or only checks that there is one)
  virtual tresult PLUGIN_API openHelp(TBool onlyCheck) = 0;
  // [UI thread] Shows the about box (or only checks that there is one)
  virtual tresult PLUGIN_API openAboutBox(TBool onlyCheck) = 0;
  static constexpr Iid iid = InlineUid(0x7F4EFE59, 0xF3204967, 0xAC27A3AE, 0xAFB63038);
};

// ---- units and programs -----------------------------------------------------------

inline constexpr UnitID kRootUnitId = 0;               // the plugin itself
inline constexpr UnitID kNoParentUnitId = -1;          // parent of the root unit
inline constexpr ProgramListID kNoProgramListId = -1;  // unit without programs
inline constexpr int32 kAllProgramInvalid = -1;        // notifyProgramListChange: every program

// One unit. Owner: the host.
struct UnitInfo {
  UnitID id;                    // unit identifier
  UnitID parentUnitId;          // kNoParentUnitId for the root
  String128 name;               // unit name
  ProgramListID programListId;  // its program list or kNoProgramListId
};

// One program list. Owner: the host.
struct ProgramListInfo {
  ProgramListID id;    // list identifier
  String128 name;      // list name
  int32 programCount;  // programs in the list
};

// Host callback for units, reached through the component handler.
class IUnitHandler : public FUnknown {
 public:
  // A unit was selected in the plugin's editor
  virtual tresult PLUGIN_API notifyUnitSelection(UnitID unitId) = 0;
  // Names of program programIndex of listId changed (kAllProgramInvalid: all)
  virtual tresult PLUGIN_API notifyProgramListChange(ProgramListID listId, int32 programIndex) = 0;
  static constexpr Iid iid = InlineUid(0x4B5147F8, 0x4654486B, 0x8DAB30BA, 0x163A3C56);
};

// Structure of the plugin and its program lists (controller extension).
class IUnitInfo : public FUnknown {
 public:
  // Number of units, the root included
  virtual int32 PLUGIN_API getUnitCount() = 0;
  // Fills the description of unit unitIndex
  virtual tresult PLUGIN_API getUnitInfo(int32 unitIndex, UnitInfo& info) = 0;
  // Number of program lists
  virtual int32 PLUGIN_API getProgramListCount() = 0;
  // Fills the description of program list listIndex
  virtual tresult PLUGIN_API getProgramListInfo(int32 listIndex, ProgramListInfo& info) = 0;
  // Fills the name of a program
  virtual tresult PLUGIN_API getProgramName(ProgramListID listId, int32 programIndex, String128 name) = 0;
  // Fills an attribute of a program
  virtual tresult PLUGIN_API getProgramInfo(ProgramListID listId, int32 programIndex, CString attributeId,
                                            String128 attributeValue) = 0;
  // kResultTrue if the program has pitch names
  virtual tresult PLUGIN_API hasProgramPitchNames(ProgramListID listId, int32 programIndex) = 0;
  // Fills the name of a pitch of a program
  virtual tresult PLUGIN_API getProgramPitchName(ProgramListID listId, int32 programIndex, int16 midiPitch,
                                                 String128 name) = 0;
  // The selected unit
  virtual UnitID PLUGIN_API getSelectedUnit() = 0;
  // Selects a unit
  virtual tresult PLUGIN_API selectUnit(UnitID unitId) = 0;
  // The unit a bus channel belongs to
  virtual tresult PLUGIN_API getUnitByBus(MediaType type, BusDirection dir, int32 busIndex, int32 channel,
                                          UnitID& unitId) = 0;
  // Loads preset data into a program or unit
  virtual tresult PLUGIN_API setUnitProgramData(int32 listOrUnitId, int32 programIndex, IBStream* data) = 0;
  static constexpr Iid iid = InlineUid(0x3D4BD6B5, 0x913A4FD2, 0xA886E768, 0xA5EB92C1);
};

// Program data access (component extension).
class IProgramListData : public FUnknown {
 public:
  // kResultTrue if the list's programs have data
  virtual tresult PLUGIN_API programDataSupported(ProgramListID listId) = 0;
  // Saves one program's data
  virtual tresult PLUGIN_API getProgramData(ProgramListID listId, int32 programIndex, IBStream* data) = 0;
  // Loads one program's data
  virtual tresult PLUGIN_API setProgramData(ProgramListID listId, int32 programIndex, IBStream* data) = 0;
  static constexpr Iid iid = InlineUid(0x8683B01F, 0x7B354F70, 0xA2651DEC, 0x353AF4FF);
};

// ---- processing -------------------------------------------------------------------

// Automation of one parameter within a block. Owner: the host; valid for process().
class IParamValueQueue : public FUnknown {
 public:
  // The parameter this queue automates
  virtual ParamID PLUGIN_API getParameterId() = 0;
  // Number of points in the block
  virtual int32 PLUGIN_API getPointCount() = 0;
  // Offset and normalized value of point index
  virtual tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, ParamValue& value) = 0;
  // Appends a point; index tells where it went
  virtual tresult PLUGIN_API addPoint(int32 sampleOffset, ParamValue value, int32& index) = 0;
  static constexpr Iid iid = InlineUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
};

// All parameter queues of a block. Owner: the host; valid for process().
class IParameterChanges : public FUnknown {
 public:
  // Number of queues
  virtual int32 PLUGIN_API getParameterCount() = 0;
  // Queue index, or null
  virtual IParamValueQueue* PLUGIN_API getParameterData(int32 index) = 0;
  // The queue for parameter id, made when missing; index tells where it is
  virtual IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) = 0;
  static constexpr Iid iid = InlineUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
};

// Musical time of a block.
struct FrameRate {
  enum FrameRateFlags : uint32 {
    kPullDownRate = 1 << 0,  // 0.1 % slower
    kDropRate = 1 << 1,      // drop frame
  };
  uint32 framesPerSecond;  // frames per second
  uint32 flags;            // FrameRateFlags bits
};

struct Chord {
  uint8 keyNote;    // key note
  uint8 rootNote;   // lowest note
  int16 chordMask;  // intervals above the key note, bit 0 = minor second
  enum Masks { kChordMask = 0x0FFF, kReservedMask = 0xF000 };
};

// Transport and time information. Owner: the host; valid for process().
struct ProcessContext {
  enum StatesAndFlags : uint32 {
    kPlaying = 1 << 1,                // transport running
    kCycleActive = 1 << 2,            // cycle on
    kRecording = 1 << 3,              // recording
    kSystemTimeValid = 1 << 8,        // systemTime valid
    kContTimeValid = 1 << 17,         // continousTimeSamples valid
    kProjectTimeMusicValid = 1 << 9,  // projectTimeMusic valid
    kBarPositionValid = 1 << 11,      // barPositionMusic valid
    kCycleValid = 1 << 12,            // cycle positions valid
    kTempoValid = 1 << 10,            // tempo valid
    kTimeSigValid = 1 << 13,          // time signature valid
    kChordValid = 1 << 18,            // chord valid
    kSmpteValid = 1 << 14,            // smpteOffsetSubframes and frameRate valid
    kClockValid = 1 << 15,            // samplesToNextClock valid
  };
  uint32 state;                    // StatesAndFlags bits
  double sampleRate;               // frames per second
  TSamples projectTimeSamples;     // project position in frames
  int64 systemTime;                // system time in ns
  TSamples continousTimeSamples;   // position without loops
  TQuarterNotes projectTimeMusic;  // project position in quarter notes
  TQuarterNotes barPositionMusic;  // last bar start
  TQuarterNotes cycleStartMusic;   // cycle start
  TQuarterNotes cycleEndMusic;     // cycle end
  double tempo;                    // beats per minute
  int32 timeSigNumerator;          // e.g. 3 of 3/4
  int32 timeSigDenominator;        // e.g. 4 of 3/4
  Chord chord;                     // current chord
  int32 smpteOffsetSubframes;      // SMPTE offset in 1/80 frames
  FrameRate frameRate;             // video frame rate
  int32 samplesToNextClock;        // frames to the next MIDI clock
};

// Which ProcessContext fields the processor needs (IProcessContextRequirements).
class IProcessContextRequirements : public FUnknown {
 public:
  enum Flags : uint32 {
    kNeedSystemTime = 1 << 0,            // systemTime
    kNeedContinousTimeSamples = 1 << 1,  // continousTimeSamples
    kNeedProjectTimeMusic = 1 << 2,      // projectTimeMusic
    kNeedBarPositionMusic = 1 << 3,      // barPositionMusic
    kNeedCycleMusic = 1 << 4,            // cycle positions
    kNeedSamplesToNextClock = 1 << 5,    // samplesToNextClock
    kNeedTempo = 1 << 6,                 // tempo
    kNeedTimeSignature = 1 << 7,         // time signature
    kNeedChord = 1 << 8,                 // chord
    kNeedFrameRate = 1 << 9,             // frame rate
    kNeedTransportState = 1 << 10,       // playing, cycle, recording
  };
  // [UI thread] Which ProcessContext fields process() needs (Flags)
  virtual uint32 PLUGIN_API getProcessContextRequirements() = 0;
  static constexpr Iid iid = InlineUid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
};

// ---- events (accepted and ignored by an effect) --------------------------------------

struct NoteOnEvent {
  int16 channel;   // channel
  int16 pitch;     // MIDI key 0..127
  float tuning;    // cents
  float velocity;  // 0..1
  int32 length;    // frames, optional
  int32 noteId;    // note identifier or -1
};
struct NoteOffEvent {
  int16 channel;   // channel
  int16 pitch;     // MIDI key 0..127
  float velocity;  // 0..1
  int32 noteId;    // note identifier or -1
  float tuning;    // cents
};
struct DataEvent {
  uint32 size;         // bytes
  uint32 type;         // DataTypes
  const uint8* bytes;  // payload, owned by the host
  enum DataTypes { kMidiSysEx = 0 };
};
struct PolyPressureEvent {
  int16 channel;   // channel
  int16 pitch;     // MIDI key 0..127
  float pressure;  // 0..1
  int32 noteId;    // note identifier or -1
};
struct ChordEvent {
  int16 root;         // MIDI key
  int16 bassNote;     // MIDI key
  int16 mask;         // bit 0 = root
  uint16 textLen;     // characters of text
  const TChar* text;  // chord name
};
struct ScaleEvent {
  int16 root;         // root key
  int16 mask;         // bit 0 = C
  uint16 textLen;     // characters of text
  const TChar* text;  // scale name
};
struct LegacyMIDICCOutEvent {
  uint8 controlNumber;  // controller
  int8 channel;         // channel
  int8 value;           // value
  int8 value2;          // second value (pitch bend, poly pressure)
};

using NoteExpressionTypeID = uint32;
using NoteExpressionValue = double;
// 32-bit Windows packs these two to 4 bytes.
#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(push, 4)
#endif
struct NoteExpressionValueEvent {
  NoteExpressionTypeID typeId;  // expression type
  int32 noteId;                 // note
  NoteExpressionValue value;    // normalized value
};
struct NoteExpressionTextEvent {
  NoteExpressionTypeID typeId;  // expression type
  int32 noteId;                 // note
  uint32 textLen;               // characters of text
  const TChar* text;            // UTF-16 text
};
#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(pop)
#endif

// One event of an event bus. Owner: the list.
struct Event {
  int32 busIndex;             // event bus
  int32 sampleOffset;         // frame within the block
  TQuarterNotes ppqPosition;  // musical position
  uint16 flags;               // EventFlags bits
  enum EventFlags { kIsLive = 1 << 0, kUserReserved1 = 1 << 14, kUserReserved2 = 1 << 15 };
  enum EventTypes {
    kNoteOnEvent = 0,
    kNoteOffEvent = 1,
    kDataEvent = 2,
    kPolyPressureEvent = 3,
    kNoteExpressionValueEvent = 4,
    kNoteExpressionTextEvent = 5,
    kChordEvent = 6,
    kScaleEvent = 7,
    kLegacyMIDICCOutEvent = 65535,
  };
  uint16 type;  // EventTypes
  union {
    NoteOnEvent noteOn;                            // kNoteOnEvent
    NoteOffEvent noteOff;                          // kNoteOffEvent
    DataEvent data;                                // kDataEvent
    PolyPressureEvent polyPressure;                // kPolyPressureEvent
    NoteExpressionValueEvent noteExpressionValue;  // kNoteExpressionValueEvent
    NoteExpressionTextEvent noteExpressionText;    // kNoteExpressionTextEvent
    ChordEvent chord;                              // kChordEvent
    ScaleEvent scale;                              // kScaleEvent
    LegacyMIDICCOutEvent midiCCOut;                // kLegacyMIDICCOutEvent
  };
};

// Events of a block. Owner: the host; valid for process().
class IEventList : public FUnknown {
 public:
  // Number of events
  virtual int32 PLUGIN_API getEventCount() = 0;
  // Copies event index into e
  virtual tresult PLUGIN_API getEvent(int32 index, Event& e) = 0;
  // Appends an event
  virtual tresult PLUGIN_API addEvent(Event& e) = 0;
  static constexpr Iid iid = InlineUid(0x3A2C4214, 0x346349FE, 0xB2C4F397, 0xB9695A44);
};

// ---- audio processor -----------------------------------------------------------------

enum SymbolicSampleSizes : int32 {
  kSample32,  // float samples
  kSample64,  // double samples
};
enum ProcessModes : int32 {
  kRealtime,  // real-time
  kPrefetch,  // ahead of time, real-time quality
  kOffline,   // offline rendering
};
inline constexpr uint32 kNoTail = 0;                 // getTailSamples: no tail
inline constexpr uint32 kInfiniteTail = kMaxInt32u;  // getTailSamples: never ends

// Processing setup. Owner: the host.
struct ProcessSetup {
  int32 processMode;         // ProcessModes
  int32 symbolicSampleSize;  // SymbolicSampleSizes
  int32 maxSamplesPerBlock;  // largest block in frames
  SampleRate sampleRate;     // frames per second
};

// Channel buffers of one bus. Owner: the host.
struct AudioBusBuffers {
  int32 numChannels;    // channels (0 when the host only flushes parameters)
  uint64 silenceFlags;  // bit per channel: all samples are 0
  union {
    Sample32** channelBuffers32;  // kSample32 buffers
    Sample64** channelBuffers64;  // kSample64 buffers
  };
};

// Everything one process() call carries. Owner: the host.
struct ProcessData {
  int32 processMode;                          // ProcessModes
  int32 symbolicSampleSize;                   // SymbolicSampleSizes
  int32 numSamples;                           // frames in the block
  int32 numInputs;                            // input audio buses
  int32 numOutputs;                           // output audio buses
  AudioBusBuffers* inputs;                    // input buses
  AudioBusBuffers* outputs;                   // output buses
  IParameterChanges* inputParameterChanges;   // changes for this block, may be null
  IParameterChanges* outputParameterChanges;  // changes from the plugin, may be null
  IEventList* inputEvents;                    // incoming events, may be null
  IEventList* outputEvents;                   // outgoing events, may be null
  ProcessContext* processContext;             // time information, may be null
};

class IAudioProcessor : public FUnknown {
 public:
  // [UI thread] Proposes bus arrangements; kResultTrue only if taken as asked
  virtual tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns, SpeakerArrangement* outputs,
                                                int32 numOuts) = 0;
  // [UI thread] Current arrangement of one bus
  virtual tresult PLUGIN_API getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr) = 0;
  // [UI thread] kResultTrue if the sample size (SymbolicSampleSizes) is supported
  virtual tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) = 0;
  // Latency in frames
  virtual uint32 PLUGIN_API getLatencySamples() = 0;
  // [UI thread] While inactive: sample rate, block size, sample size, mode
  virtual tresult PLUGIN_API setupProcessing(ProcessSetup& setup) = 0;
  // [UI or audio thread] While active: processing starts or stops
  virtual tresult PLUGIN_API setProcessing(TBool state) = 0;
  // [audio thread] Processes one block
  virtual tresult PLUGIN_API process(ProcessData& data) = 0;
  // Tail in frames, kNoTail or kInfiniteTail
  virtual uint32 PLUGIN_API getTailSamples() = 0;
  static constexpr Iid iid = InlineUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
};

}  // namespace Vst
}  // namespace vst3

#if defined(_WIN32)
#pragma pack(pop)
#endif

// ---- layout checks -----------------------------------------------------------------

static_assert(sizeof(vst3::TBool) == 1 && sizeof(vst3::Vst::TChar) == 2 && sizeof(vst3::TUID) == 16);
static_assert(sizeof(vst3::PFactoryInfo) == 452 && offsetof(vst3::PFactoryInfo, flags) == 448);
static_assert(sizeof(vst3::PClassInfo) == 116 && offsetof(vst3::PClassInfo, name) == 52);
static_assert(sizeof(vst3::PClassInfo2) == 440 && offsetof(vst3::PClassInfo2, classFlags) == 116 &&
              offsetof(vst3::PClassInfo2, subCategories) == 120 && offsetof(vst3::PClassInfo2, sdkVersion) == 376);
static_assert(sizeof(vst3::PClassInfoW) == 696 && offsetof(vst3::PClassInfoW, classFlags) == 180 &&
              offsetof(vst3::PClassInfoW, subCategories) == 184 && offsetof(vst3::PClassInfoW, vendor) == 312 &&
              offsetof(vst3::PClassInfoW, sdkVersion) == 568);
static_assert(sizeof(vst3::Vst::BusInfo) == 276 && offsetof(vst3::Vst::BusInfo, busType) == 268);
static_assert(sizeof(vst3::Vst::RoutingInfo) == 12);
static_assert(sizeof(vst3::Vst::UnitInfo) == 268 && offsetof(vst3::Vst::UnitInfo, programListId) == 264);
static_assert(sizeof(vst3::Vst::ProgramListInfo) == 264 && offsetof(vst3::Vst::ProgramListInfo, programCount) == 260);
static_assert(sizeof(vst3::Vst::Chord) == 4 && sizeof(vst3::Vst::FrameRate) == 8);
static_assert(sizeof(vst3::ViewRect) == 16 && offsetof(vst3::ViewRect, bottom) == 12);
static_assert(sizeof(vst3::Vst::NoteOnEvent) == 20 && sizeof(vst3::Vst::LegacyMIDICCOutEvent) == 4);
// Records with doubles or pointers, as laid out on 64-bit Linux and 64-bit Windows.
static_assert(sizeof(void*) != 8 ||
              (sizeof(vst3::Vst::ParameterInfo) == 792 && offsetof(vst3::Vst::ParameterInfo, stepCount) == 772 &&
               offsetof(vst3::Vst::ParameterInfo, defaultNormalizedValue) == 776 &&
               offsetof(vst3::Vst::ParameterInfo, flags) == 788));
static_assert(sizeof(void*) != 8 ||
              (sizeof(vst3::Vst::ProcessSetup) == 24 && offsetof(vst3::Vst::ProcessSetup, sampleRate) == 16));
static_assert(sizeof(void*) != 8 ||
              (sizeof(vst3::Vst::AudioBusBuffers) == 24 && offsetof(vst3::Vst::AudioBusBuffers, silenceFlags) == 8 &&
               offsetof(vst3::Vst::AudioBusBuffers, channelBuffers32) == 16));
static_assert(sizeof(void*) != 8 ||
              (sizeof(vst3::Vst::ProcessData) == 80 && offsetof(vst3::Vst::ProcessData, inputs) == 24 &&
               offsetof(vst3::Vst::ProcessData, inputParameterChanges) == 40 &&
               offsetof(vst3::Vst::ProcessData, processContext) == 72));
static_assert(sizeof(void*) != 8 ||
              (sizeof(vst3::Vst::ProcessContext) == 112 && offsetof(vst3::Vst::ProcessContext, tempo) == 72 &&
               offsetof(vst3::Vst::ProcessContext, chord) == 88 &&
               offsetof(vst3::Vst::ProcessContext, samplesToNextClock) == 104));
static_assert(sizeof(void*) != 8 ||
              (sizeof(vst3::Vst::NoteExpressionTextEvent) == 24 && sizeof(vst3::Vst::Event) == 48 &&
               offsetof(vst3::Vst::Event, type) == 18 && offsetof(vst3::Vst::Event, noteOn) == 24));
// Identifier byte order: the first word of IComponent's identifier leads with 0xE8 outside Windows, 0x31 on it.
static_assert(vst3::Vst::IComponent::iid[0] == static_cast<char>(NIMBO_VST3_COM_COMPATIBLE ? 0x31 : 0xE8));
static_assert(vst3::Vst::IComponent::iid[8] == static_cast<char>(0x92) &&
              vst3::Vst::IComponent::iid[15] == static_cast<char>(0x02));
