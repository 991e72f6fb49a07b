// Counting replacements of the global allocation functions, for suites that
// check the audio thread allocates nothing. Linking CountingAllocator.cpp into
// a test executable replaces operator new and delete for the whole process: a
// plugin loaded with dlopen binds its references to them too, so its
// allocations are counted (suites check that they see them).
#pragma once

namespace testsupport {

long Allocations();
long Frees();
// Those of the calling thread only, for a thread that shares the process with others.
long ThreadAllocations();

}  // namespace testsupport
