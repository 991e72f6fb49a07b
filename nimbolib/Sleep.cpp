#include "Atomic.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <time.h>
#endif

namespace nimbo {

void SleepOneMillisecond() {
#ifdef _WIN32
  Sleep(1);
#else
  timespec t{0, 1000000};
  while (nanosleep(&t, &t) != 0) {
  }
#endif
}

uint64_t CurrentThreadTag() {
#ifdef _WIN32
  return GetCurrentThreadId();
#else
  return static_cast<uint64_t>(pthread_self());
#endif
}

}  // namespace nimbo
