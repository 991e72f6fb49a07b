// Soak: a long stretch of audio, offline and as fast as it runs, through the
// built plugin, with random program and parameter changes every few blocks,
// random block sizes, suspends, sample-rate changes and queued events.
// Checks: no allocation at all after the first block (counted by replacing
// the global allocation functions, which the plugin's references bind to),
// resident memory flat, output finite. Prints time per frame early and late
// in the run, to show there is no slowdown.
//
//   robust_soak                        short run, as the test suite runs it
//   robust_soak --audio-minutes=30     the long run
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "CountingAllocator.h"
#include "RobustSupport.h"
#include "cVstHost.h"

#include <time.h>
#include <unistd.h>

using namespace robust;

namespace {
double gAudioMinutes = 5.0;
}  // namespace

namespace {

constexpr int32_t kMaxBlock = 4096;
// Sanitizers map shadow memory and fake stack frames as the run goes: the
// resident size then says nothing about the plugin, so it is only reported.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
constexpr double kStreamRate = 44100.0;  // audio length is counted at this rate

long ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * sysconf(_SC_PAGESIZE);
}

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Mostly ordinary host blocks, now and then a single frame or the largest.
int32_t BlockSize(sRandom& random) {
  switch (random.Below(8)) {
    case 0: return 1 + static_cast<int32_t>(random.Below(16));
    case 1: return kMaxBlock;
    default: return 32 + static_cast<int32_t>(random.Below(1024));
  }
}

// The same work before and after the run, so the two times compare like with
// like: a fixed program with fixed settings, fixed noise, fixed blocks. Best of
// three, which is the least disturbed by whatever else the machine runs.
double Probe(AEffect* e, std::vector<float>& inL, std::vector<float>& inR, std::vector<float>& outL,
             std::vector<float>& outR) {
  constexpr int32_t kProbeProgram = 36;  // modulation, saturation and feedback: the heaviest path
  constexpr int32_t kBlock = 512, kBlocks = 172;  // two seconds
  double best = 1e30;
  for (int round = 0; round < 3; ++round) {
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 44100.0f);
    e->setParameter(e, 16, 0.0f);  // "Hold" off
    e->setParameter(e, 17, 0.0f);  // "Dr. Who" off
    // Two switches: the second always lands, and clears the network.
    e->dispatcher(e, effSetProgram, 0, kProbeProgram - 1, nullptr, 0.0f);
    e->dispatcher(e, effSetProgram, 0, kProbeProgram, nullptr, 0.0f);
    static constexpr float kSettings[16] = {0.5f, 0.4f, 0.6f, 0.7f, 0.2f, 0.5f, 0.1f, 0.9f,
                                            0.5f, 0.5f, 1.0f, 0.3f, 0.25f, 0.75f, 0.5f, 0.5f};
    for (int32_t i = 0; i < 16; ++i) e->setParameter(e, i, kSettings[i]);
    sRandom noise(99);
    double seconds = 0;
    for (int32_t b = 0; b < kBlocks; ++b) {
      for (int32_t i = 0; i < kBlock; ++i) {
        inL[i] = 0.5f * noise.Signed();
        inR[i] = 0.5f * noise.Signed();
      }
      float* in[2] = {inL.data(), inR.data()};
      float* out[2] = {outL.data(), outR.data()};
      const double start = ThreadSeconds();
      e->processReplacing(e, in, out, kBlock);
      seconds += ThreadSeconds() - start;
    }
    best = std::min(best, seconds);
  }
  return 1e9 * best / (kBlocks * kBlock);
}

}  // namespace

TEST(Soak, LongRandomUseKeepsMemoryFlatAndOutputFinite) {
  const nimbohost::cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  std::string error;
  auto fx = nimbohost::cHostedEffect::Create(library.Entry(), {}, &error);
  ASSERT_TRUE(fx) << library.Error() << error;
  fx->Start(44100.0f, kMaxBlock);
  AEffect* e = fx->Record();

  // Everything the loop touches exists before the first block.
  std::vector<float> inL(kMaxBlock), inR(kMaxBlock), outL(kMaxBlock), outR(kMaxBlock);
  VstEvent events[8] = {};
  intptr_t eventList[2 + 8] = {};
  char text[64] = {};
  sRandom random(20261208);
  float phase = 0.0f;

  const long long totalFrames = static_cast<long long>(gAudioMinutes * 60.0 * kStreamRate);
  long long frames = 0, blocks = 0, changes = 0, nonFinite = 0;
  long allocationsAfterFirstBlock = 0, rssAfterFirstBlock = 0, rssPeak = 0;
  long long nextRssCheck = 0;
  double processSeconds = 0;
  int32_t untilChange = 1;
  float peak = 0.0f;

  const double earlyNs = Probe(e, inL, inR, outL, outR);
  while (frames < totalFrames) {
    const int32_t n = BlockSize(random);
    // Noise over a quiet sine, silences for the tail to ring out, now and then denormals.
    const uint32_t kind = random.Below(8);
    for (int32_t i = 0; i < n; ++i) {
      phase += 0.031f;
      if (phase > 6.2831855f) phase -= 6.2831855f;
      const float tone = 0.1f * std::sin(phase);
      if (kind < 5) {
        inL[i] = tone + 0.6f * random.Signed();
        inR[i] = -tone + 0.6f * random.Signed();
      } else {
        inL[i] = inR[i] = kind == 7 ? 1e-39f * random.Signed() : 0.0f;
      }
    }
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    const double start = ThreadSeconds();
    e->processReplacing(e, in, out, n);
    const double spent = ThreadSeconds() - start;
    for (int32_t i = 0; i < n; ++i) {
      if (!std::isfinite(outL[i]) || !std::isfinite(outR[i])) ++nonFinite;
      peak = std::max(peak, std::max(std::fabs(outL[i]), std::fabs(outR[i])));
    }
    if (blocks == 0) {
      allocationsAfterFirstBlock = testsupport::Allocations();
      rssAfterFirstBlock = rssPeak = ResidentBytes();
    } else {
      processSeconds += spent;
    }
    frames += n;
    ++blocks;
    if (frames >= nextRssCheck) {
      rssPeak = std::max(rssPeak, ResidentBytes());
      nextRssCheck = frames + static_cast<long long>(kStreamRate * 10);
    }

    if (--untilChange > 0) continue;
    untilChange = 1 + static_cast<int32_t>(random.Below(8));
    ++changes;
    const uint32_t what = random.Below(100);
    if (what < 40) {
      const int32_t index = static_cast<int32_t>(random.Below(18));
      const float value = random.Below(10) == 0 ? static_cast<float>(random.Below(2)) : random.Unit();
      e->setParameter(e, index, value);
    } else if (what < 60) {
      e->dispatcher(e, effSetProgram, 0, random.Below(64), nullptr, 0.0f);
    } else if (what < 65) {
      std::snprintf(text, sizeof text, "Soaked %u", random.Below(100000));
      e->dispatcher(e, effSetProgramName, 0, 0, text, 0.0f);
    } else if (what < 70) {
      e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0.0f);
      e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    } else if (what < 73) {
      static constexpr float kRates[] = {44100.0f, 48000.0f, 88200.0f, 96000.0f, 22050.0f};
      e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, kRates[random.Below(5)]);
    } else if (what < 83) {
      const int32_t count = 1 + static_cast<int32_t>(random.Below(8));
      for (int32_t i = 0; i < count; ++i) {
        events[i] = VstEvent{1, 24, static_cast<int32_t>(random.Below(2 * kMaxBlock)) - 16, 0, {}};
        eventList[2 + i] = reinterpret_cast<intptr_t>(&events[i]);
      }
      eventList[0] = count;
      e->dispatcher(e, effProcessEvents, 0, 0, eventList, 0.0f);
    } else if (what < 93) {
      const int32_t index = static_cast<int32_t>(random.Below(18));
      e->dispatcher(e, effGetParamDisplay, index, 0, text, 0.0f);
      e->dispatcher(e, effGetParamLabel, index, 0, text, 0.0f);
    }
  }

  const double lateNs = Probe(e, inL, inR, outL, outR);
  const long allocations = testsupport::Allocations() - allocationsAfterFirstBlock;
  const long rssGrowth = rssPeak - rssAfterFirstBlock;
  const double averageNs = 1e9 * processSeconds / static_cast<double>(frames);
  std::printf(
      "[ soak     ] %.1f min of audio in %lld blocks, %lld random changes\n"
      "[ soak     ] allocations after the first block: %ld; resident %.1f MiB after it, peak growth %ld KiB\n"
      "[ soak     ] CPU per frame: %.1f ns on average; same probe before and after the run %.1f ns and %.1f ns "
      "(after/before %.3f)\n"
      "[ soak     ] non-finite samples: %lld; peak |output| %.3f\n",
      static_cast<double>(frames) / kStreamRate / 60.0, blocks, changes, allocations,
      static_cast<double>(rssAfterFirstBlock) / 1048576.0, rssGrowth / 1024, averageNs, earlyNs, lateNs,
      lateNs / earlyNs, nonFinite, static_cast<double>(peak));

  EXPECT_EQ(allocations, 0);
  if (kResidentSizeMeaningful) {
    EXPECT_LE(rssGrowth, 1 << 20);
  }
  EXPECT_EQ(nonFinite, 0);
  EXPECT_GT(peak, 0.01f);  // it did sound
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--audio-minutes=", 16) == 0) gAudioMinutes = std::atof(argv[i] + 16);
  }
  return RUN_ALL_TESTS();
}
