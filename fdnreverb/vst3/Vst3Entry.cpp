// The module's entry points: the factory, and the load/unload calls each
// platform's hosts make. Nothing else is exported.
#include <atomic>

#include "cVst3Factory.h"
#include "vst3.h"

#if defined(_WIN32)
#define NIMBO_EXPORT extern "C"  // exported by the export definition file
#else
#define NIMBO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
// Hosts may pair entry and exit calls more than once per load.
std::atomic<int> gModuleUsers{0};
}  // namespace

NIMBO_EXPORT vst3::IPluginFactory* PLUGIN_API GetPluginFactory() {
  auto& factory = nimbovst3::cVst3Factory::Instance();
  factory.addRef();
  return &factory;
}

#if defined(_WIN32)
NIMBO_EXPORT bool PLUGIN_API InitDll() {
  ++gModuleUsers;
  return true;
}

NIMBO_EXPORT bool PLUGIN_API ExitDll() { return --gModuleUsers >= 0; }
#else
NIMBO_EXPORT bool ModuleEntry(void*) {
  ++gModuleUsers;
  return true;
}

NIMBO_EXPORT bool ModuleExit() { return --gModuleUsers >= 0; }
#endif
