// The part of the CLAP 1.x plug-in ABI that our plug-ins use, declared from
// the published ABI: plain C records with the natural alignment of the
// platform, function pointers in its standard calling convention. Each
// field says what it holds; each entry point says on which thread a host
// may call it.
#pragma once

#include <cstdint>

namespace velmor::clap {

using Id = uint32_t;
inline constexpr Id kInvalidId = UINT32_MAX;
inline constexpr uint32_t kNameSize = 256;  // bytes of a name, NUL included
inline constexpr uint32_t kPathSize = 1024; // bytes of a module path, NUL included

struct Version {
  uint32_t major;     // 1 for every CLAP 1.x
  uint32_t minor;     // the minor version the plug-in was built against
  uint32_t revision;  // its revision
};
inline constexpr Version kVersion{1, 2, 0};

struct Host {
  Version clap_version;  // the host's CLAP version
  void* host_data;       // the host's own
  const char* name;      // the host's name
  const char* vendor;    // its maker, or null
  const char* url;       // its web page, or null
  const char* version;   // its version
  const void* (*get_extension)(const Host* host, const char* id);  // [thread-safe] a host extension, or null
  void (*request_restart)(const Host* host);   // [thread-safe] asks for deactivate and activate
  void (*request_process)(const Host* host);   // [thread-safe] asks for processing to start
  void (*request_callback)(const Host* host);  // [thread-safe] asks for on_main_thread
};

// --- events ---------------------------------------------------------------

inline constexpr uint16_t kCoreEventSpace = 0;
inline constexpr uint16_t kEventParamValue = 5;

struct EventHeader {
  uint32_t size;      // bytes of the whole event, header included
  uint32_t time;      // frame of the block it takes effect at
  uint16_t space_id;  // kCoreEventSpace for the events below
  uint16_t type;      // which event
  uint32_t flags;     // live, don't-record
};

struct EventParamValue {
  EventHeader header;  // type kEventParamValue
  Id param_id;         // the parameter
  void* cookie;        // the parameter's cookie from its info, or null
  int32_t note_id;     // -1: every note
  int16_t port_index;  // -1: every port
  int16_t channel;     // -1: every channel
  int16_t key;         // -1: every key
  double value;        // the plain value
};

struct InputEvents {
  void* ctx;  // the host's own
  uint32_t (*size)(const InputEvents* list);                         // how many events
  const EventHeader* (*get)(const InputEvents* list, uint32_t index);  // event `index`, in time order
};

struct OutputEvents {
  void* ctx;  // the host's own
  bool (*try_push)(const OutputEvents* list, const EventHeader* event);  // copies an event out
};

// --- processing -----------------------------------------------------------

struct AudioBuffer {
  float** data32;          // one buffer per channel (32-bit), or null
  double** data64;         // one buffer per channel (64-bit), or null
  uint32_t channel_count;  // channels of the port
  uint32_t latency;        // frames of latency to or from the interface
  uint64_t constant_mask;  // bit c: channel c holds one value throughout
};

enum ProcessStatus : int32_t {
  kProcessError = 0,               // the output is to be thrown away
  kProcessContinue = 1,            // keep calling
  kProcessContinueIfNotQuiet = 2,  // keep calling while the output sounds
  kProcessTail = 3,                // keep calling for the tail's length
  kProcessSleep = 4,               // nothing to do until input or events
};

struct Process {
  int64_t steady_time;                  // frames since some start, or -1
  uint32_t frames_count;                // frames in the block
  const void* transport;                // the transport at frame 0, or null
  const AudioBuffer* audio_inputs;      // one per input port
  AudioBuffer* audio_outputs;           // one per output port
  uint32_t audio_inputs_count;          // input ports
  uint32_t audio_outputs_count;         // output ports
  const InputEvents* in_events;         // events for this block, in time order
  const OutputEvents* out_events;       // events the plug-in sends
};

// --- the plug-in ----------------------------------------------------------

struct PluginDescriptor {
  Version clap_version;         // the CLAP version the plug-in was built against
  const char* id;               // unique and stable: "org.velmor.delay"
  const char* name;             // shown to users
  const char* vendor;           // its maker
  const char* url;              // its web page, or ""
  const char* manual_url;       // its manual, or ""
  const char* support_url;      // where to get help, or ""
  const char* version;          // its version
  const char* description;      // one sentence
  const char* const* features;  // null-terminated list: "audio-effect", "stereo", ...
};

struct Plugin {
  const PluginDescriptor* desc;  // the plug-in's descriptor
  void* plugin_data;             // the plug-in's own
  bool (*init)(const Plugin* plugin);      // [main-thread] after creation; false: destroy it
  void (*destroy)(const Plugin* plugin);   // [main-thread] frees everything
  bool (*activate)(const Plugin* plugin, double sample_rate, uint32_t min_frames,
                   uint32_t max_frames);   // [main-thread] ready to process at this rate
  void (*deactivate)(const Plugin* plugin);         // [main-thread] after activate
  bool (*start_processing)(const Plugin* plugin);   // [audio-thread] before a run of process calls
  void (*stop_processing)(const Plugin* plugin);    // [audio-thread] after one
  void (*reset)(const Plugin* plugin);              // [audio-thread] clears buffers and histories
  int32_t (*process)(const Plugin* plugin, const Process* process);  // [audio-thread] one block
  const void* (*get_extension)(const Plugin* plugin, const char* id); // [thread-safe] an extension, or null
  void (*on_main_thread)(const Plugin* plugin);     // [main-thread] after request_callback
};

inline constexpr const char* kPluginFactoryId = "clap.plugin-factory";

struct PluginFactory {
  uint32_t (*get_plugin_count)(const PluginFactory* factory);  // [thread-safe] how many plug-ins
  const PluginDescriptor* (*get_plugin_descriptor)(const PluginFactory* factory,
                                                   uint32_t index);  // [thread-safe] plug-in `index`
  const Plugin* (*create_plugin)(const PluginFactory* factory, const Host* host,
                                 const char* plugin_id);  // [main-thread] a new instance, or null
};

// The one symbol a CLAP library exports, named clap_entry.
struct PluginEntry {
  Version clap_version;                         // the CLAP version the library was built against
  bool (*init)(const char* plugin_path);        // [main-thread] first, with the library's path
  void (*deinit)();                             // [main-thread] last
  const void* (*get_factory)(const char* id);   // [thread-safe] a factory, or null
};

// --- extensions -----------------------------------------------------------

inline constexpr const char* kExtAudioPorts = "clap.audio-ports";
inline constexpr const char* kPortStereo = "stereo";
inline constexpr uint32_t kAudioPortIsMain = 1u << 0;

struct AudioPortInfo {
  Id id;                  // stable; may be the same for an input and an output
  char name[kNameSize];   // shown to users
  uint32_t flags;         // kAudioPortIsMain, 64-bit support
  uint32_t channel_count; // channels
  const char* port_type;  // kPortStereo, or null
  Id in_place_pair;       // the port whose buffers this one may share, or kInvalidId
};

struct PluginAudioPorts {
  uint32_t (*count)(const Plugin* plugin, bool is_input);  // [main-thread] ports of one direction
  bool (*get)(const Plugin* plugin, uint32_t index, bool is_input,
              AudioPortInfo* info);  // [main-thread] port `index` of one direction
};

inline constexpr const char* kExtParams = "clap.params";
inline constexpr uint32_t kParamIsStepped = 1u << 0;
inline constexpr uint32_t kParamIsBypass = 1u << 4;
inline constexpr uint32_t kParamIsAutomatable = 1u << 5;
inline constexpr uint32_t kParamIsEnum = 1u << 16;

struct ParamInfo {
  Id id;                   // stable: never changes
  uint32_t flags;          // stepped, bypass, automatable, enum
  void* cookie;            // handed back in events for this parameter, or null
  char name[kNameSize];    // shown to users
  char module[kPathSize];  // a group path such as "bands/low", or ""
  double min_value;        // lowest plain value
  double max_value;        // highest plain value
  double default_value;    // plain value of a new instance
};

struct PluginParams {
  uint32_t (*count)(const Plugin* plugin);  // [main-thread] how many parameters
  bool (*get_info)(const Plugin* plugin, uint32_t index, ParamInfo* info);  // [main-thread] parameter `index`
  bool (*get_value)(const Plugin* plugin, Id id, double* value);            // [main-thread] current plain value
  bool (*value_to_text)(const Plugin* plugin, Id id, double value, char* text,
                        uint32_t capacity);  // [main-thread] a value as users read it
  bool (*text_to_value)(const Plugin* plugin, Id id, const char* text,
                        double* value);  // [main-thread] the value users typed
  void (*flush)(const Plugin* plugin, const InputEvents* in,
                const OutputEvents* out);  // [active && !processing: audio-thread; !active: main-thread]
};

inline constexpr const char* kExtState = "clap.state";

struct OutputStream {
  void* ctx;  // the host's own
  int64_t (*write)(const OutputStream* stream, const void* buffer, uint64_t size);  // bytes taken, -1 on error
};

struct InputStream {
  void* ctx;  // the host's own
  int64_t (*read)(const InputStream* stream, void* buffer, uint64_t size);  // bytes read, 0 at the end, -1 on error
};

struct PluginState {
  bool (*save)(const Plugin* plugin, const OutputStream* stream);  // [main-thread] writes the state
  bool (*load)(const Plugin* plugin, const InputStream* stream);   // [main-thread] reads a saved state
};

inline constexpr const char* kExtLatency = "clap.latency";

struct PluginLatency {
  uint32_t (*get)(const Plugin* plugin);  // [main-thread, active] frames of latency
};

inline constexpr const char* kExtTail = "clap.tail";
inline constexpr const char* kExtThreadCheck = "clap.thread-check";

struct PluginTail {
  uint32_t (*get)(const Plugin* plugin);  // [main-thread, audio-thread] frames of tail; INT32_MAX: endless
};

// --- host extensions (what a host offers; our test host has these) ---------

struct HostLatency {
  void (*changed)(const Host* host);  // [main-thread] the plug-in's latency changed
};

struct HostParams {
  void (*rescan)(const Host* host, uint32_t flags);        // [main-thread] parameter values or infos changed
  void (*clear)(const Host* host, Id id, uint32_t flags);  // [main-thread] forget a parameter's references
  void (*request_flush)(const Host* host);                 // [thread-safe, not audio-thread] asks for flush
};

struct HostState {
  void (*mark_dirty)(const Host* host);  // [main-thread] the state changed since it was saved
};

struct HostThreadCheck {
  bool (*is_main_thread)(const Host* host);   // [thread-safe] whether the caller is on the main thread
  bool (*is_audio_thread)(const Host* host);  // [thread-safe] whether the caller is on an audio thread
};

static_assert(sizeof(EventHeader) == 16);
static_assert(sizeof(void*) != 8 || (sizeof(EventParamValue) == 56 && sizeof(AudioBuffer) == 32 &&
                                     sizeof(Process) == 64 && sizeof(ParamInfo) == 1320 &&
                                     sizeof(AudioPortInfo) == 288 && sizeof(PluginDescriptor) == 88));

}  // namespace velmor::clap
