// Relaxed single-value access to plain fields shared between the host's
// threads: each 32-bit value is read or written whole, never torn, and the
// code stays free of data races without turning every record into atomics.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

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

void SleepOneMillisecond();

// The calling thread's identity as the system counts it (std::thread is
// missing from some Windows toolchains), to recognise a thread seen before.
uint64_t CurrentThreadTag();

// Serialises control threads over changes that span many values. The audio
// thread never takes it; contention is rare, so waiting sleeps.
class cControlMutex {
 public:
  void lock() {
    for (int spins = 0; m_bHeld.exchange(true, std::memory_order_acquire); ++spins)
      if (spins >= 64) SleepOneMillisecond();
  }
  // Never waits: for the audio thread, which may only take the lock when it is free.
  bool try_lock() { return !m_bHeld.exchange(true, std::memory_order_acquire); }
  void unlock() { m_bHeld.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> m_bHeld{false};
};

class cControlGuard {
 public:
  explicit cControlGuard(cControlMutex& mutex) : m_Mutex(mutex) { m_Mutex.lock(); }
  ~cControlGuard() { m_Mutex.unlock(); }
  cControlGuard(const cControlGuard&) = delete;
  cControlGuard& operator=(const cControlGuard&) = delete;

 private:
  cControlMutex& m_Mutex;
};

}  // namespace nimbo
