// The part of the VST 3 ABI that our plug-ins use, declared from the
// published ABI: COM-style interfaces, each a vtable of functions in the
// order below after FUnknown's three, in the platform's standard calling
// convention; records with the natural alignment of the platform. An
// interface is a class with pure virtual functions and nothing else, so that
// the compiler lays out exactly that vtable. Each entry says what it does and
// from which thread a host calls it.
#pragma once

#include <cstdint>

namespace velmor::vst3 {

using int8 = int8_t;
using int16 = int16_t;
using int32 = int32_t;
using int64 = int64_t;
using uint32 = uint32_t;
using uint64 = uint64_t;
using tresult = int32_t;
using TBool = uint8_t;
using char16 = char16_t;
using TChar = char16_t;
using String128 = char16[128];  // NUL-terminated UTF-16
using ParamID = uint32_t;
using ParamValue = double;      // normalized, 0 to 1
using SpeakerArrangement = uint64_t;
using TUID = char[16];
using FIDString = const char*;

// Results. Windows uses COM's values; other systems their own small numbers.
#if defined(_WIN32)
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultTrue = 0;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kNoInterface = static_cast<tresult>(0x80004002u);
inline constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057u);
inline constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001u);
inline constexpr tresult kInternalError = static_cast<tresult>(0x80004005u);
#define VELMOR_VST3_API __stdcall
#else
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultTrue = 0;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kNoInterface = -1;
inline constexpr tresult kInvalidArgument = 2;
inline constexpr tresult kNotImplemented = 3;
inline constexpr tresult kInternalError = 4;
#define VELMOR_VST3_API
#endif

// An interface or class id from its four 32-bit words, in the byte order the
// platform stores ids in: COM's on Windows (the first word and the two
// halves of the second little-endian), the words' own big-endian order
// elsewhere.
struct Uid {
  char bytes[16];
};
constexpr Uid MakeUid(uint32 l1, uint32 l2, uint32 l3, uint32 l4) {
  Uid u{};
  auto be = [&](int at, uint32 v) {
    for (int i = 0; i < 4; ++i) u.bytes[at + i] = static_cast<char>(v >> (24 - 8 * i));
  };
#if defined(_WIN32)
  for (int i = 0; i < 4; ++i) u.bytes[i] = static_cast<char>(l1 >> (8 * i));
  u.bytes[4] = static_cast<char>(l2 >> 16), u.bytes[5] = static_cast<char>(l2 >> 24);
  u.bytes[6] = static_cast<char>(l2), u.bytes[7] = static_cast<char>(l2 >> 8);
#else
  be(0, l1);
  be(4, l2);
#endif
  be(8, l3);
  be(12, l4);
  return u;
}
inline bool SameUid(const char* a, const Uid& b) {
  for (int i = 0; i < 16; ++i)
    if (a[i] != b.bytes[i]) return false;
  return true;
}

inline constexpr Uid kFUnknownIid = MakeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
inline constexpr Uid kIPluginBaseIid = MakeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
inline constexpr Uid kIPluginFactoryIid = MakeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
inline constexpr Uid kIPluginFactory2Iid = MakeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
inline constexpr Uid kIPluginFactory3Iid = MakeUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
inline constexpr Uid kIComponentIid = MakeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
inline constexpr Uid kIAudioProcessorIid = MakeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
inline constexpr Uid kIEditControllerIid = MakeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
inline constexpr Uid kIBStreamIid = MakeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
inline constexpr Uid kIParameterChangesIid = MakeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
inline constexpr Uid kIParamValueQueueIid = MakeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
inline constexpr Uid kIHostApplicationIid = MakeUid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);
inline constexpr Uid kIComponentHandlerIid = MakeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);

// Every interface's first three entries.
class FUnknown {
 public:
  virtual tresult VELMOR_VST3_API queryInterface(const TUID iid, void** obj) = 0;  // [any thread] the object as interface iid
  virtual uint32 VELMOR_VST3_API addRef() = 0;   // [any thread] one more reference; the new count
  virtual uint32 VELMOR_VST3_API release() = 0;  // [any thread] one fewer; frees at 0; the new count
};

class IBStream : public FUnknown {
 public:
  enum { kIBSeekSet, kIBSeekCur, kIBSeekEnd };
  virtual tresult VELMOR_VST3_API read(void* buffer, int32 bytes, int32* read) = 0;          // up to bytes; how many in *read
  virtual tresult VELMOR_VST3_API write(void* buffer, int32 bytes, int32* written) = 0;     // bytes; how many in *written
  virtual tresult VELMOR_VST3_API seek(int64 position, int32 mode, int64* result) = 0;      // moves; the new position
  virtual tresult VELMOR_VST3_API tell(int64* position) = 0;                                // the position
};

class IPluginBase : public FUnknown {
 public:
  virtual tresult VELMOR_VST3_API initialize(FUnknown* context) = 0;  // [main thread] first, with the host's context
  virtual tresult VELMOR_VST3_API terminate() = 0;                    // [main thread] last
};

struct PFactoryInfo {
  enum { kUnicode = 1 << 4 };
  char vendor[64];  // the maker
  char url[256];    // its web page
  char email[128];  // its address
  int32 flags;      // kUnicode: getClassInfoUnicode has the names
};

struct PClassInfo {
  enum { kManyInstances = 0x7FFFFFFF };
  TUID cid;            // the class id
  int32 cardinality;   // kManyInstances
  char category[32];   // "Audio Module Class" or "Component Controller Class"
  char name[64];       // the class's name
};

struct PClassInfo2 {
  TUID cid;                 // the class id
  int32 cardinality;        // kManyInstances
  char category[32];        // as PClassInfo
  char name[64];            // the class's name
  uint32 classFlags;        // 0
  char subCategories[128];  // "Fx|EQ" and the like, '|' between
  char vendor[64];          // the maker
  char version[64];         // the plug-in's version
  char sdkVersion[64];      // the ABI version it was made for
};

struct PClassInfoW {
  TUID cid;                 // as PClassInfo2, with the texts in UTF-16
  int32 cardinality;
  char category[32];
  char16 name[64];
  uint32 classFlags;
  char subCategories[128];
  char16 vendor[64];
  char16 version[64];
  char16 sdkVersion[64];
};

class IPluginFactory : public FUnknown {
 public:
  virtual tresult VELMOR_VST3_API getFactoryInfo(PFactoryInfo* info) = 0;              // the maker
  virtual int32 VELMOR_VST3_API countClasses() = 0;                                    // how many classes
  virtual tresult VELMOR_VST3_API getClassInfo(int32 index, PClassInfo* info) = 0;     // class `index`
  virtual tresult VELMOR_VST3_API createInstance(FIDString cid, FIDString iid, void** obj) = 0;  // a new object of class cid as interface iid
};

class IPluginFactory2 : public IPluginFactory {
 public:
  virtual tresult VELMOR_VST3_API getClassInfo2(int32 index, PClassInfo2* info) = 0;  // class `index`, more of it
};

class IPluginFactory3 : public IPluginFactory2 {
 public:
  virtual tresult VELMOR_VST3_API getClassInfoUnicode(int32 index, PClassInfoW* info) = 0;  // class `index` in UTF-16
  virtual tresult VELMOR_VST3_API setHostContext(FUnknown* context) = 0;                    // the host's context
};

// --- component and processor ----------------------------------------------

enum MediaTypes : int32 { kAudio, kEvent };
enum BusDirections : int32 { kInput, kOutput };
enum BusTypes : int32 { kMain, kAux };
enum SymbolicSampleSizes : int32 { kSample32, kSample64 };
inline constexpr SpeakerArrangement kStereo = 0x3;  // left and right
inline constexpr uint32 kNoTail = 0, kInfiniteTail = 0xFFFFFFFFu;

struct BusInfo {
  enum { kDefaultActive = 1 };
  int32 mediaType;     // kAudio or kEvent
  int32 direction;     // kInput or kOutput
  int32 channelCount;  // channels
  String128 name;      // shown to users
  int32 busType;       // kMain or kAux
  uint32 flags;        // kDefaultActive
};

struct RoutingInfo {
  int32 mediaType;  // kAudio or kEvent
  int32 busIndex;   // the bus
  int32 channel;    // the channel, -1 for all
};

class IComponent : public IPluginBase {
 public:
  virtual tresult VELMOR_VST3_API getControllerClassId(TUID cid) = 0;                       // [main] the edit controller's class
  virtual tresult VELMOR_VST3_API setIoMode(int32 mode) = 0;                                // [main] simple, advanced or offline
  virtual int32 VELMOR_VST3_API getBusCount(int32 type, int32 direction) = 0;               // [main] buses of a kind
  virtual tresult VELMOR_VST3_API getBusInfo(int32 type, int32 direction, int32 index, BusInfo& bus) = 0;  // [main] bus `index`
  virtual tresult VELMOR_VST3_API getRoutingInfo(RoutingInfo& in, RoutingInfo& out) = 0;   // [main] which output an input goes to
  virtual tresult VELMOR_VST3_API activateBus(int32 type, int32 direction, int32 index, TBool state) = 0;  // [main] bus on or off
  virtual tresult VELMOR_VST3_API setActive(TBool state) = 0;                               // [main] ready to process, or not
  virtual tresult VELMOR_VST3_API setState(IBStream* state) = 0;                            // [main] loads a saved state
  virtual tresult VELMOR_VST3_API getState(IBStream* state) = 0;                            // [main] writes the state
};

struct ProcessSetup {
  int32 processMode;         // realtime, prefetch or offline
  int32 symbolicSampleSize;  // kSample32 or kSample64
  int32 maxSamplesPerBlock;  // the longest block to come
  double sampleRate;         // frames per second
};

struct AudioBusBuffers {
  int32 numChannels;         // channels in the bus
  uint64 silenceFlags;       // bit c: channel c is all zeros
  union {
    float** channelBuffers32;    // a buffer per channel (32-bit)
    double** channelBuffers64;   // a buffer per channel (64-bit)
  };
};

class IParamValueQueue : public FUnknown {
 public:
  virtual ParamID VELMOR_VST3_API getParameterId() = 0;   // the parameter
  virtual int32 VELMOR_VST3_API getPointCount() = 0;      // its points in this block
  virtual tresult VELMOR_VST3_API getPoint(int32 index, int32& sampleOffset, ParamValue& value) = 0;  // point `index`, in offset order
  virtual tresult VELMOR_VST3_API addPoint(int32 sampleOffset, ParamValue value, int32& index) = 0;   // (output queues) adds a point
};

class IParameterChanges : public FUnknown {
 public:
  virtual int32 VELMOR_VST3_API getParameterCount() = 0;                          // parameters with points in this block
  virtual IParamValueQueue* VELMOR_VST3_API getParameterData(int32 index) = 0;     // queue `index`
  virtual IParamValueQueue* VELMOR_VST3_API addParameterData(const ParamID& id, int32& index) = 0;  // (output) a queue for id
};

struct ProcessData {
  int32 processMode;                          // realtime, prefetch or offline
  int32 symbolicSampleSize;                   // kSample32 or kSample64
  int32 numSamples;                           // frames in the block; 0: parameters only
  int32 numInputs;                            // input buses
  int32 numOutputs;                           // output buses
  AudioBusBuffers* inputs;                    // one per input bus
  AudioBusBuffers* outputs;                   // one per output bus
  IParameterChanges* inputParameterChanges;   // points for this block, or null
  IParameterChanges* outputParameterChanges;  // for points the plug-in sends, or null
  void* inputEvents;                          // notes and the like (not used)
  void* outputEvents;                         // (not used)
  void* processContext;                       // transport (not used)
};

class IAudioProcessor : public FUnknown {
 public:
  virtual tresult VELMOR_VST3_API setBusArrangements(SpeakerArrangement* inputs, int32 ins, SpeakerArrangement* outputs,
                                                     int32 outs) = 0;  // [main] true: this arrangement is taken
  virtual tresult VELMOR_VST3_API getBusArrangement(int32 direction, int32 index, SpeakerArrangement& arrangement) = 0;  // [main]
  virtual tresult VELMOR_VST3_API canProcessSampleSize(int32 symbolicSize) = 0;  // [main] true for the sizes it processes
  virtual uint32 VELMOR_VST3_API getLatencySamples() = 0;                        // [main] frames of latency
  virtual tresult VELMOR_VST3_API setupProcessing(ProcessSetup& setup) = 0;      // [main, inactive] rate and sizes
  virtual tresult VELMOR_VST3_API setProcessing(TBool state) = 0;                // [main or audio, active] before and after processing
  virtual tresult VELMOR_VST3_API process(ProcessData& data) = 0;                // [audio] one block
  virtual uint32 VELMOR_VST3_API getTailSamples() = 0;                           // [main] frames of tail
};

// --- edit controller ------------------------------------------------------

struct ParameterInfo {
  enum { kCanAutomate = 1 << 0, kIsList = 1 << 3, kIsBypass = 1 << 16 };
  ParamID id;                         // stable: never changes
  String128 title;                    // shown to users
  String128 shortTitle;               // shorter
  String128 units;                    // "Hz" and the like
  int32 stepCount;                    // 0: continuous; n: n + 1 values
  ParamValue defaultNormalizedValue;  // normalized default
  int32 unitId;                       // 0: the root unit
  int32 flags;                        // kCanAutomate, kIsList, kIsBypass
};

class IComponentHandler : public FUnknown {
 public:
  virtual tresult VELMOR_VST3_API beginEdit(ParamID id) = 0;                     // a user begins changing id
  virtual tresult VELMOR_VST3_API performEdit(ParamID id, ParamValue value) = 0;  // id's new normalized value
  virtual tresult VELMOR_VST3_API endEdit(ParamID id) = 0;                       // the change ends
  virtual tresult VELMOR_VST3_API restartComponent(int32 flags) = 0;             // asks the host to reload what flags name
};

class IEditController : public IPluginBase {
 public:
  virtual tresult VELMOR_VST3_API setComponentState(IBStream* state) = 0;  // [main] the component's state, to follow
  virtual tresult VELMOR_VST3_API setState(IBStream* state) = 0;           // [main] the controller's own saved state
  virtual tresult VELMOR_VST3_API getState(IBStream* state) = 0;           // [main] writes it
  virtual int32 VELMOR_VST3_API getParameterCount() = 0;                   // [main] how many parameters
  virtual tresult VELMOR_VST3_API getParameterInfo(int32 index, ParameterInfo& info) = 0;  // [main] parameter `index`
  virtual tresult VELMOR_VST3_API getParamStringByValue(ParamID id, ParamValue value, String128 text) = 0;  // [main] as users read it
  virtual tresult VELMOR_VST3_API getParamValueByString(ParamID id, TChar* text, ParamValue& value) = 0;  // [main] from what users typed
  virtual ParamValue VELMOR_VST3_API normalizedParamToPlain(ParamID id, ParamValue value) = 0;  // [main]
  virtual ParamValue VELMOR_VST3_API plainParamToNormalized(ParamID id, ParamValue plain) = 0;  // [main]
  virtual ParamValue VELMOR_VST3_API getParamNormalized(ParamID id) = 0;                      // [main] current value
  virtual tresult VELMOR_VST3_API setParamNormalized(ParamID id, ParamValue value) = 0;      // [main] sets it
  virtual tresult VELMOR_VST3_API setComponentHandler(IComponentHandler* handler) = 0;       // [main] the host's handler
  virtual void* VELMOR_VST3_API createView(FIDString name) = 0;                             // [main] an editor: none
};

class IHostApplication : public FUnknown {
 public:
  virtual tresult VELMOR_VST3_API getName(String128 name) = 0;                               // the host's name
  virtual tresult VELMOR_VST3_API createInstance(TUID cid, TUID iid, void** obj) = 0;        // a host object (messages)
};

inline constexpr const char* kAudioEffectClass = "Audio Module Class";
inline constexpr const char* kComponentControllerClass = "Component Controller Class";
inline constexpr const char* kSdkVersion = "VST 3.7.9";

static_assert(sizeof(void*) != 8 || (sizeof(ProcessData) == 80 && sizeof(AudioBusBuffers) == 24 &&
                                     sizeof(ParameterInfo) == 792 && sizeof(BusInfo) == 276 &&
                                     sizeof(ProcessSetup) == 24 && sizeof(PClassInfo2) == 440 &&
                                     sizeof(PFactoryInfo) == 452));

}  // namespace velmor::vst3
