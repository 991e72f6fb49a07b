// One libFuzzer target per plugin entry, so each gets fuzzing time of its own.
#include <cstddef>
#include <cstdint>

void NIMBOHALL_FUZZ_ENTRY(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  NIMBOHALL_FUZZ_ENTRY(data, size);
  return 0;
}
