// Relaxed single-value access to plain fields shared between the host's
// threads: each 32-bit value is read or written whole, never torn, and the
// code stays free of data races without turning every record into atomics.
#pragma once

#include <atomic>
#include <cstddef>

namespace nimbo {

template <class T>
inline T LoadShared(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

template <class T>
inline void StoreShared(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

// Text fields that one thread may rewrite while another copies them out.
inline void StoreSharedText(char* dst, const char* src, size_t count) {
  for (size_t i = 0; i < count; ++i) StoreShared(dst[i], src[i]);
}

inline void LoadSharedText(char* dst, const char* src, size_t count) {
  for (size_t i = 0; i < count; ++i) dst[i] = LoadShared(src[i]);
}

}  // namespace nimbo
