// The reported tail against the measured one, per program and sample rate
// (as a host asking from its main thread hears it; "bound": the closed-form
// answer the audio thread gets before any measurement): a 0 dBFS impulse on
// both inputs, fresh and after 37, 411 and 1999 blocks of silence (the
// modulation at other phases), each rendered until the output has stayed
// below -100 dBFS for 2 s (or 120 s have passed), through the format-neutral
// core as every format renders it while sound is present; "measured" is the
// longest, "fresh" the first alone.
//
//   nimbohall_tail_ratio [RATE...]   (default 44100 48000 96000)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cReverbCore.h"

using namespace nimbo;

int main(int argc, char** argv) {
  std::vector<float> rates;
  for (int i = 1; i < argc; ++i) rates.push_back(static_cast<float>(std::atof(argv[i])));
  if (rates.empty()) rates = {44100.0f, 48000.0f, 96000.0f};
  constexpr int32_t kBlock = 4096;
  constexpr float kFloor = 1e-5f;  // -100 dBFS
  std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
  std::printf("%-3s %-26s", "#", "program");
  for (float fs : rates) std::printf(" %8.0f Hz: fresh measured reported ratio  bound ratio", fs);
  std::printf("\n");
  double worstLow = INFINITY, worstHigh = 0.0;
  for (int32_t program = 0; program < kNumPrograms; ++program) {
    std::printf("%-3d %-26s", program, cReverbCore::FactoryProgramName(program));
    for (float fs : rates) {
      int64_t bound = 0, tail = 0, last = 0, fresh = 0;
      for (int wait : {0, 37, 411, 1999}) {
        cReverbCore core;
        if (!core.Open(fs)) return 1;
        core.LoadProgram(program);
        if (wait == 0) bound = core.TailFrames(), tail = core.TailFrames(true);
        std::fill(inL.begin(), inL.end(), 0.0f);
        for (int b = 0; b < wait; ++b) core.Process(inL.data(), inL.data(), outL.data(), outR.data(), 512);
        const int64_t cap = std::min<int64_t>(bound + kBlock, static_cast<int64_t>(120 * fs));
        int64_t end = 0;
        for (int64_t pos = 0; pos < cap && pos < end + static_cast<int64_t>(2 * fs); pos += kBlock) {
          std::fill(inL.begin(), inL.end(), 0.0f);
          if (pos == 0) inL[0] = 1.0f;
          inR = inL;
          core.Process(inL.data(), inR.data(), outL.data(), outR.data(), kBlock);
          for (int32_t i = 0; i < kBlock; ++i)
            if (std::max(std::fabs(outL[i]), std::fabs(outR[i])) > kFloor) end = pos + i + 1;
        }
        if (wait == 0) fresh = end;
        last = std::max(last, end);
      }
      const double ratio = last > 0 ? static_cast<double>(tail) / static_cast<double>(last) : INFINITY;
      const double loose = last > 0 ? static_cast<double>(bound) / static_cast<double>(last) : INFINITY;
      if (last > 0) worstLow = std::min(worstLow, ratio), worstHigh = std::max(worstHigh, ratio);
      std::printf("   %8lld %8lld %8lld %5.2f %6.0f", static_cast<long long>(fresh), static_cast<long long>(last),
                  static_cast<long long>(tail), ratio, loose);
    }
    std::printf("\n");
  }
  std::printf("reported / measured: lowest %.2f, highest %.2f (programs whose output never passes -100 dBFS left out)\n",
              worstLow, worstHigh);
  return 0;
}
