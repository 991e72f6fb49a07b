// The library's one export, clap_entry, and its two factories: the plugin
// factory with one descriptor, and the preset-discovery factory that offers
// the 64 programs to host preset browsers without making an instance.
#include <cstdio>
#include <cstring>
#include <new>

#include "../../nimbolib/TextEncoding.h"
#include "cClapReverb.h"

using namespace nimbo;

namespace {

// ---- plugin factory ---------------------------------------------------------------------

uint32_t PluginCount(const clap_plugin_factory_t*) { return 1; }

const clap_plugin_descriptor_t* PluginDescriptor(const clap_plugin_factory_t*, uint32_t index) {
  return index == 0 ? &kClapDescriptor : nullptr;
}

const clap_plugin_t* CreatePlugin(const clap_plugin_factory_t*, const clap_host_t* host, const char* id) {
  if (!host || !id || std::strcmp(id, kClapDescriptor.id) != 0) return nullptr;
  cClapReverb* instance = new (std::nothrow) cClapReverb(host);
  return instance ? instance->Plugin() : nullptr;
}

const clap_plugin_factory_t kPluginFactory = {PluginCount, PluginDescriptor, CreatePlugin};

// ---- preset discovery -----------------------------------------------------------------------

const clap_preset_discovery_provider_descriptor_t kProviderDescriptor = {
    .clap_version = CLAP_VERSION_INIT,
    .id = "com.brannoch.nimbohall.programs",
    .name = "Nimbohall programs",
    .vendor = kVendorName,
};

struct sProvider {
  clap_preset_discovery_provider_t provider;
  const clap_preset_discovery_indexer_t* indexer;
};

const clap_preset_discovery_location_t kLocation = {
    .flags = CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT,
    .name = "Nimbohall programs",
    .kind = CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN,
    .location = nullptr,
};

bool ProviderInit(const clap_preset_discovery_provider_t* provider) {
  const auto* indexer = static_cast<const sProvider*>(provider->provider_data)->indexer;
  return indexer->declare_location && indexer->declare_location(indexer, &kLocation);
}

void ProviderDestroy(const clap_preset_discovery_provider_t* provider) {
  delete static_cast<const sProvider*>(provider->provider_data);
}

bool ProviderMetadata(const clap_preset_discovery_provider_t*, uint32_t kind, const char*,
                      const clap_preset_discovery_metadata_receiver_t* receiver) {
  if (kind != CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN || !receiver || !receiver->begin_preset) return false;
  const clap_universal_plugin_id_t plugin = {.abi = "clap", .id = kPluginId};
  for (int32_t i = 0; i < kNumPrograms; ++i) {
    char name[3 * kProgramNameSize + 1];
    nimbo::Cp1252ToUtf8(cReverbCore::FactoryProgramName(i), name, sizeof name);
    char key[8];
    std::snprintf(key, sizeof key, "%d", static_cast<int>(i));
    if (!receiver->begin_preset(receiver, name, key)) break;
    if (receiver->add_plugin_id) receiver->add_plugin_id(receiver, &plugin);
    if (receiver->set_flags) receiver->set_flags(receiver, CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT);
    if (receiver->add_creator) receiver->add_creator(receiver, kVendorName);
  }
  return true;
}

const void* ProviderExtension(const clap_preset_discovery_provider_t*, const char*) { return nullptr; }

uint32_t ProviderCount(const clap_preset_discovery_factory_t*) { return 1; }

const clap_preset_discovery_provider_descriptor_t* ProviderDescriptor(const clap_preset_discovery_factory_t*,
                                                                      uint32_t index) {
  return index == 0 ? &kProviderDescriptor : nullptr;
}

const clap_preset_discovery_provider_t* CreateProvider(const clap_preset_discovery_factory_t*,
                                                       const clap_preset_discovery_indexer_t* indexer,
                                                       const char* id) {
  if (!indexer || !id || std::strcmp(id, kProviderDescriptor.id) != 0) return nullptr;
  sProvider* p = new (std::nothrow) sProvider;
  if (!p) return nullptr;
  p->provider = {&kProviderDescriptor, p, ProviderInit, ProviderDestroy, ProviderMetadata, ProviderExtension};
  p->indexer = indexer;
  return &p->provider;
}

const clap_preset_discovery_factory_t kPresetFactory = {ProviderCount, ProviderDescriptor, CreateProvider};

// ---- entry -------------------------------------------------------------------------------------

bool EntryInit(const char*) { return true; }
void EntryDeinit() {}

const void* EntryFactory(const char* id) {
  if (!id) return nullptr;
  if (!std::strcmp(id, CLAP_PLUGIN_FACTORY_ID)) return &kPluginFactory;
  if (!std::strcmp(id, CLAP_PRESET_DISCOVERY_FACTORY_ID) || !std::strcmp(id, CLAP_PRESET_DISCOVERY_FACTORY_ID_COMPAT))
    return &kPresetFactory;
  return nullptr;
}

}  // namespace

extern "C" const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, EntryInit, EntryDeinit, EntryFactory};
