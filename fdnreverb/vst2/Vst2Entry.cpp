// The library's two entry names; a host looks for VSTPluginMain, then main.
#include <new>

#include "cVst2Reverb.h"

#if defined(_WIN32)
#define NIMBO_EXPORT extern "C"  // exported by the export definition file
#else
#define NIMBO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

NIMBO_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host) {
  if (!host) return nullptr;
  cVst2Reverb* effect = new (std::nothrow) cVst2Reverb(host);
  return effect ? effect->GetRecord() : nullptr;
}

#if !defined(_WIN32)
// C++ reserves the name main for the program entry, so the alias is given by
// its symbol name; on Windows the export definition file maps it instead.
extern "C" __attribute__((visibility("default"))) AEffect* NimbohallMainAlias(audioMasterCallback host) __asm__("main");
extern "C" AEffect* NimbohallMainAlias(audioMasterCallback host) { return VSTPluginMain(host); }
#endif
