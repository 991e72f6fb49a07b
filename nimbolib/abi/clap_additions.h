// What the CLAP 1.1 headers at hand lack and CLAP 1.2 defines: the tail
// extension, the preset-load extension and the preset-discovery factory,
// with the two small types they use; and the posix-fd-support extension,
// which those headers leave out. Written field by field from the
// official layouts; the static_asserts pin sizes and offsets on every target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clap/plugin.h"
#include "clap/version.h"

extern "C" {

// ---- timestamp.h, universal-plugin-id.h -----------------------------------------

typedef uint64_t clap_timestamp_t;  // seconds since the UNIX epoch
static constexpr clap_timestamp_t CLAP_TIMESTAMP_UNKNOWN = 0;

typedef struct clap_universal_plugin_id {
  const char* abi;  // plugin ABI in lower case: "clap", "vst3", "vst2", ...
  const char* id;   // the ABI's own form: the CLAP plugin id, a signed VST 2.x ID, a UUID
} clap_universal_plugin_id_t;

// ---- ext/tail.h -------------------------------------------------------------------

static constexpr const char CLAP_EXT_TAIL[] = "clap.tail";

typedef struct clap_plugin_tail {
  // Tail length in samples; INT32_MAX or more means infinite. [main-thread, audio-thread]
  uint32_t(CLAP_ABI* get)(const clap_plugin_t* plugin);
} clap_plugin_tail_t;

typedef struct clap_host_tail {
  // The tail length changed. [audio-thread]
  void(CLAP_ABI* changed)(const clap_host_t* host);
} clap_host_tail_t;

// ---- ext/preset-load.h --------------------------------------------------------------

static constexpr const char CLAP_EXT_PRESET_LOAD[] = "clap.preset-load/2";
static constexpr const char CLAP_EXT_PRESET_LOAD_COMPAT[] = "clap.preset-load.draft/2";  // same layout

typedef struct clap_plugin_preset_load {
  // Loads the preset the discovery provider described; true on success. [main-thread]
  bool(CLAP_ABI* from_location)(const clap_plugin_t* plugin, uint32_t location_kind, const char* location,
                                const char* load_key);
} clap_plugin_preset_load_t;

typedef struct clap_host_preset_load {
  // from_location failed; os_error 0 when not applicable. [main-thread]
  void(CLAP_ABI* on_error)(const clap_host_t* host, uint32_t location_kind, const char* location,
                           const char* load_key, int32_t os_error, const char* msg);
  // The plugin loaded this preset (load_key set for containers, else null). [main-thread]
  void(CLAP_ABI* loaded)(const clap_host_t* host, uint32_t location_kind, const char* location,
                         const char* load_key);
} clap_host_preset_load_t;

// ---- factory/preset-discovery.h -------------------------------------------------------

static constexpr const char CLAP_PRESET_DISCOVERY_FACTORY_ID[] = "clap.preset-discovery-factory/2";
static constexpr const char CLAP_PRESET_DISCOVERY_FACTORY_ID_COMPAT[] = "clap.preset-discovery-factory/draft-2";

enum clap_preset_discovery_location_kind {
  CLAP_PRESET_DISCOVERY_LOCATION_FILE = 0,    // location is a file or folder path
  CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN = 1,  // presets inside the plugin; location is null
};

enum clap_preset_discovery_flags {
  CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT = 1 << 0,
  CLAP_PRESET_DISCOVERY_IS_USER_CONTENT = 1 << 1,
  CLAP_PRESET_DISCOVERY_IS_DEMO_CONTENT = 1 << 2,
  CLAP_PRESET_DISCOVERY_IS_FAVORITE = 1 << 3,
};

// Host side: receives one location's presets. Not thread-safe.
typedef struct clap_preset_discovery_metadata_receiver {
  void* receiver_data;  // reserved for the receiver
  // Reading failed; os_error 0 when not applicable.
  void(CLAP_ABI* on_error)(const struct clap_preset_discovery_metadata_receiver* receiver, int32_t os_error,
                           const char* error_message);
  // Starts a preset; name and load_key are mandatory in containers. false: stop calling.
  bool(CLAP_ABI* begin_preset)(const struct clap_preset_discovery_metadata_receiver* receiver, const char* name,
                               const char* load_key);
  // A plugin the preset is for.
  void(CLAP_ABI* add_plugin_id)(const struct clap_preset_discovery_metadata_receiver* receiver,
                                const clap_universal_plugin_id_t* plugin_id);
  void(CLAP_ABI* set_soundpack_id)(const struct clap_preset_discovery_metadata_receiver* receiver,
                                   const char* soundpack_id);
  // clap_preset_discovery_flags; inherited from the location when not set.
  void(CLAP_ABI* set_flags)(const struct clap_preset_discovery_metadata_receiver* receiver, uint32_t flags);
  void(CLAP_ABI* add_creator)(const struct clap_preset_discovery_metadata_receiver* receiver, const char* creator);
  void(CLAP_ABI* set_description)(const struct clap_preset_discovery_metadata_receiver* receiver,
                                  const char* description);
  void(CLAP_ABI* set_timestamps)(const struct clap_preset_discovery_metadata_receiver* receiver,
                                 clap_timestamp_t creation_time, clap_timestamp_t modification_time);
  // Free-form tag; plugin-features.h names are understood.
  void(CLAP_ABI* add_feature)(const struct clap_preset_discovery_metadata_receiver* receiver, const char* feature);
  void(CLAP_ABI* add_extra_info)(const struct clap_preset_discovery_metadata_receiver* receiver, const char* key,
                                 const char* value);
} clap_preset_discovery_metadata_receiver_t;

typedef struct clap_preset_discovery_filetype {
  const char* name;
  const char* description;     // optional
  const char* file_extension;  // without '.'; empty or null matches every file
} clap_preset_discovery_filetype_t;

typedef struct clap_preset_discovery_location {
  uint32_t flags;        // clap_preset_discovery_flags
  const char* name;      // of this location
  uint32_t kind;         // clap_preset_discovery_location_kind
  const char* location;  // path for FILE, null for PLUGIN
} clap_preset_discovery_location_t;

typedef struct clap_preset_discovery_soundpack {
  uint32_t flags;                      // clap_preset_discovery_flags
  const char* id;                      // sound pack identifier
  const char* name;                    // its name
  const char* description;             // optional
  const char* homepage_url;            // optional
  const char* vendor;                  // optional
  const char* image_path;              // optional, an image on disk
  clap_timestamp_t release_timestamp;  // CLAP_TIMESTAMP_UNKNOWN if not known
} clap_preset_discovery_soundpack_t;

typedef struct clap_preset_discovery_provider_descriptor {
  clap_version_t clap_version;  // CLAP_VERSION
  const char* id;               // reverse-DNS, like a plugin id
  const char* name;
  const char* vendor;  // optional
} clap_preset_discovery_provider_descriptor_t;

// Plugin side: one provider per indexer. Not thread-safe.
typedef struct clap_preset_discovery_provider {
  const clap_preset_discovery_provider_descriptor_t* desc;
  void* provider_data;  // reserved for the provider
  // Declares the locations, file types and sound packs; false on failure.
  bool(CLAP_ABI* init)(const struct clap_preset_discovery_provider* provider);
  void(CLAP_ABI* destroy)(const struct clap_preset_discovery_provider* provider);
  // Reports the presets of one location to the receiver; true on success.
  bool(CLAP_ABI* get_metadata)(const struct clap_preset_discovery_provider* provider, uint32_t location_kind,
                               const char* location, const clap_preset_discovery_metadata_receiver_t* receiver);
  // Not before init; the pointer is owned by the provider.
  const void*(CLAP_ABI* get_extension)(const struct clap_preset_discovery_provider* provider,
                                       const char* extension_id);
} clap_preset_discovery_provider_t;

// Host side: what the provider declares to. Not thread-safe.
typedef struct clap_preset_discovery_indexer {
  clap_version_t clap_version;  // CLAP_VERSION
  const char* name;
  const char* vendor;   // optional
  const char* url;      // optional
  const char* version;  // optional
  void* indexer_data;   // reserved for the indexer
  bool(CLAP_ABI* declare_filetype)(const struct clap_preset_discovery_indexer* indexer,
                                   const clap_preset_discovery_filetype_t* filetype);
  bool(CLAP_ABI* declare_location)(const struct clap_preset_discovery_indexer* indexer,
                                   const clap_preset_discovery_location_t* location);
  bool(CLAP_ABI* declare_soundpack)(const struct clap_preset_discovery_indexer* indexer,
                                    const clap_preset_discovery_soundpack_t* soundpack);
  const void*(CLAP_ABI* get_extension)(const struct clap_preset_discovery_indexer* indexer,
                                       const char* extension_id);
} clap_preset_discovery_indexer_t;

// Every function is thread-safe.
typedef struct clap_preset_discovery_factory {
  uint32_t(CLAP_ABI* count)(const struct clap_preset_discovery_factory* factory);
  // null on error; owned by the factory.
  const clap_preset_discovery_provider_descriptor_t*(CLAP_ABI* get_descriptor)(
      const struct clap_preset_discovery_factory* factory, uint32_t index);
  // null on error; freed with provider->destroy. No indexer calls before provider->init.
  const clap_preset_discovery_provider_t*(CLAP_ABI* create)(const struct clap_preset_discovery_factory* factory,
                                                            const clap_preset_discovery_indexer_t* indexer,
                                                            const char* provider_id);
} clap_preset_discovery_factory_t;

// ---- ext/posix-fd-support.h -----------------------------------------------------------

static constexpr const char CLAP_EXT_POSIX_FD_SUPPORT[] = "clap.posix-fd-support";

// Which events of a descriptor: wanted (register_fd, modify_fd) or happened (on_fd).
enum {
  CLAP_POSIX_FD_READ = 1 << 0,
  CLAP_POSIX_FD_WRITE = 1 << 1,
  CLAP_POSIX_FD_ERROR = 1 << 2,
};
typedef uint32_t clap_posix_fd_flags_t;

typedef struct clap_plugin_posix_fd_support {
  // A registered descriptor is ready; level-triggered. [main-thread]
  void(CLAP_ABI* on_fd)(const clap_plugin_t* plugin, int fd, clap_posix_fd_flags_t flags);
} clap_plugin_posix_fd_support_t;

typedef struct clap_host_posix_fd_support {
  // [main-thread] All three return true on success.
  bool(CLAP_ABI* register_fd)(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
  bool(CLAP_ABI* modify_fd)(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
  bool(CLAP_ABI* unregister_fd)(const clap_host_t* host, int fd);
} clap_host_posix_fd_support_t;

}  // extern "C"

// The formats we ship CLAP for are 64-bit.
#if INTPTR_MAX == INT64_MAX
namespace nimbo::clap_layout {
constexpr size_t P = sizeof(void*);
static_assert(sizeof(clap_universal_plugin_id_t) == 2 * P);
static_assert(sizeof(clap_plugin_tail_t) == P && sizeof(clap_host_tail_t) == P);
static_assert(sizeof(clap_plugin_preset_load_t) == P && sizeof(clap_host_preset_load_t) == 2 * P);
static_assert(sizeof(clap_preset_discovery_metadata_receiver_t) == 11 * P);
static_assert(offsetof(clap_preset_discovery_metadata_receiver_t, set_timestamps) == 8 * P);
static_assert(sizeof(clap_preset_discovery_filetype_t) == 3 * P);
static_assert(sizeof(clap_preset_discovery_location_t) == 32);
static_assert(offsetof(clap_preset_discovery_location_t, kind) == 2 * P);
static_assert(sizeof(clap_preset_discovery_soundpack_t) == 64);
static_assert(offsetof(clap_preset_discovery_soundpack_t, release_timestamp) == 56);
static_assert(sizeof(clap_preset_discovery_provider_descriptor_t) == 12 + 4 + 3 * P);
static_assert(sizeof(clap_preset_discovery_provider_t) == 6 * P);
static_assert(sizeof(clap_preset_discovery_indexer_t) == 12 + 4 + 9 * P);
static_assert(offsetof(clap_preset_discovery_indexer_t, declare_filetype) == 12 + 4 + 5 * P);
static_assert(sizeof(clap_preset_discovery_factory_t) == 3 * P);
static_assert(sizeof(clap_plugin_posix_fd_support_t) == P && sizeof(clap_host_posix_fd_support_t) == 3 * P);
static_assert(offsetof(clap_host_posix_fd_support_t, unregister_fd) == 2 * P);
}  // namespace nimbo::clap_layout
#endif
