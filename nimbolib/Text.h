// Fixed-size text fields of the host interface.
#pragma once

#include <cstddef>

namespace nimbo {

// Copies at most size bytes, stopping after the NUL and padding with NULs;
// a text that fills the field is left unterminated, as the host records expect.
inline void CopyPadded(char* dst, const char* src, size_t size) {
  size_t i = 0;
  for (; i < size && src[i] != '\0'; ++i) dst[i] = src[i];
  for (; i < size; ++i) dst[i] = '\0';
}

}  // namespace nimbo
