// The CLAP plugin's sound: bit for bit the VST 2.x build's, with parameter
// changes at frame offsets; sleep in silence; the bypass fade; the tail it
// reports; and an audio thread that allocates nothing.
#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "ClapSupport.h"
#include "CountingAllocator.h"

using namespace claptest;
using nimbohost::sClapParamEvent;

namespace {


// A parameter change at an absolute frame, in both formats' values.
struct sChange {
  uint32_t frame;
  int32_t id;
  float vst2;   // normalized
  double clap;  // normalized, or the plain integer of a stepped parameter
};

const std::vector<sChange> kChanges = {
    {3000, 15, 0.6f, 0.6},                // Wet mix
    {10000, 1, 0.55f, 0.55},              // Base dly: the lines change length mid-block
    {15000, 0, 7.5f / 17.0f, 7.0},        // Geometry: room1
    {15000, 12, 0.3f, 0.3},               // In dir, at the same frame
    {20000, 8, 0.4f, 0.4},                // Mod dep
    {30001, 16, 0.75f, 1.0},              // Hold on
    {40000, 16, 0.25f, 0.0},              // Hold off
    {41000, 14, 0.3f, 0.3},               // Dry mix
};
const std::vector<uint32_t> kBlocks = {512, 300, 1, 1024, 77, 4096};
constexpr uint32_t kFrames = 50000;

std::vector<float> RenderVst2(int32_t program, const sSignal& in) {
  auto vst2 = NewVst2();
  vst2->Dispatch(effSetProgram, 0, program);
  vst2->Start(static_cast<float>(kSampleRate), 4096);
  std::vector<float> left(kFrames), right(kFrames);
  size_t change = 0;
  for (uint32_t start = 0, b = 0; start < kFrames; start += kBlocks[b++ % kBlocks.size()]) {
    const uint32_t end = std::min(kFrames, start + kBlocks[b % kBlocks.size()]);
    // A host without sample-accurate automation: the same cuts, as separate blocks.
    for (uint32_t pos = start; pos < end;) {
      while (change < kChanges.size() && kChanges[change].frame <= pos) {
        vst2->SetParameter(kChanges[change].id, kChanges[change].vst2);
        ++change;
      }
      const uint32_t next = change < kChanges.size() ? std::min(end, kChanges[change].frame) : end;
      float* inputs[2] = {const_cast<float*>(&in.left[pos]), const_cast<float*>(&in.right[pos])};
      float* outputs[2] = {&left[pos], &right[pos]};
      vst2->ProcessReplacing(inputs, outputs, static_cast<int32_t>(next - pos));
      pos = next;
    }
  }
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

std::vector<float> RenderClap(int32_t program, const sSignal& in) {
  auto clap = NewClap();
  const std::string key = std::to_string(program);
  clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, key.c_str());
  clap->Activate(kSampleRate, 4096);
  std::vector<float> left(kFrames), right(kFrames);
  size_t change = 0;
  for (uint32_t start = 0, b = 0; start < kFrames; start += kBlocks[b++ % kBlocks.size()]) {
    const uint32_t end = std::min(kFrames, start + kBlocks[b % kBlocks.size()]);
    std::vector<sClapParamEvent> events;
    for (; change < kChanges.size() && kChanges[change].frame < end; ++change)
      events.push_back({kChanges[change].frame - start, static_cast<clap_id>(kChanges[change].id), kChanges[change].clap});
    clap->Process(&in.left[start], &in.right[start], &left[start], &right[start], end - start, events);
  }
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

// The CLAP and the VST 2.x build on one program, running, for blocks of `block`.
std::pair<std::unique_ptr<nimbohost::cClapInstance>, std::unique_ptr<nimbohost::cHostedEffect>> StartedPair(
    int32_t program, uint32_t block) {
  auto clap = NewClap();
  auto vst2 = NewVst2();
  const std::string key = std::to_string(program);
  clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, key.c_str());
  vst2->Dispatch(effSetProgram, 0, program);
  EXPECT_TRUE(clap->Activate(kSampleRate, block));
  vst2->Start(static_cast<float>(kSampleRate), block);
  return {std::move(clap), std::move(vst2)};
}

}  // namespace

TEST(ClapAudio, SoundsBitForBitLikeTheVst2BuildWithChangesAtFrameOffsets) {
  const sSignal in(kFrames);
  for (int32_t program : {0, 18, 34, 36, 47, 63}) {
    const std::vector<float> vst2 = RenderVst2(program, in);
    const std::vector<float> clap = RenderClap(program, in);
    ASSERT_EQ(vst2.size(), clap.size());
    size_t first = 0;
    while (first < vst2.size() && std::memcmp(&vst2[first], &clap[first], sizeof(float)) == 0) ++first;
    EXPECT_EQ(first, vst2.size()) << "program " << program << ": first difference at sample " << first;
    EXPECT_GT(*std::max_element(clap.begin(), clap.end()), 0.01f) << "program " << program << " is silent";
  }
}

// Sound, silence until the plugin sleeps, sound again: bit for bit the VST 2.x
// build until it sleeps, exact zeros while it does, within -140 dB of the VST
// 2.x build's peak after it wakes (its oscillator ran on), -120 dB for program
// 36, whose sound returns only 0.4 s after its sleep (see the next test).
// "Hold" holding a sound never sleeps.
TEST(ClapAudio, SleepsInSilenceAndWakesToTheVst2Sound) {
  constexpr uint32_t kBlock = 480, kSound = 24000, kSilence = 4 * 48000, kTotal = kSound + kSilence + kSound;
  const sSignal signal(kSound);
  std::vector<float> inL(kTotal), inR(kTotal);
  for (uint32_t i = 0; i < kSound; ++i) {
    inL[i] = inL[kTotal - kSound + i] = signal.left[i];
    inR[i] = inR[kTotal - kSound + i] = signal.right[i];
  }
  for (int32_t program : {35, 36}) {
    auto [clap, vst2] = StartedPair(program, kBlock);
    std::vector<float> cl(kTotal), cr(kTotal), vl(kTotal), vr(kTotal);
    uint32_t asleep = 0, sleeping = 0;  // first frame written asleep; blocks asleep
    for (uint32_t pos = 0; pos < kTotal; pos += kBlock) {
      const clap_process_status status = clap->Process(&inL[pos], &inR[pos], &cl[pos], &cr[pos], kBlock);
      float* in[2] = {&inL[pos], &inR[pos]};
      float* out[2] = {&vl[pos], &vr[pos]};
      vst2->ProcessReplacing(in, out, kBlock);
      if (status == CLAP_PROCESS_SLEEP) {
        if (sleeping++ > 0) {
          if (asleep == 0) asleep = pos;
          EXPECT_TRUE(std::all_of(&cl[pos], &cl[pos] + kBlock, [](float x) { return x == 0.0f; })) << pos;
        }
        EXPECT_LT(pos, kTotal - kSound) << "program " << program << ": asleep with sound at the input";
      } else {
        EXPECT_EQ(status, CLAP_PROCESS_TAIL) << pos;
      }
    }
    ASSERT_GT(asleep, kSound) << "program " << program << " never slept";
    EXPECT_EQ(std::memcmp(cl.data(), vl.data(), asleep * sizeof(float)), 0) << "program " << program;
    EXPECT_EQ(std::memcmp(cr.data(), vr.data(), asleep * sizeof(float)), 0) << "program " << program;
    float peak = 0.0f, worst = 0.0f;
    for (uint32_t i = 0; i < kTotal; ++i) {
      peak = std::max({peak, std::fabs(vl[i]), std::fabs(vr[i])});
      worst = std::max({worst, std::fabs(cl[i] - vl[i]), std::fabs(cr[i] - vr[i])});
    }
    EXPECT_LE(worst, peak * (program == 36 ? 1e-6f : 1e-7f)) << "program " << program;
    EXPECT_GT(*std::max_element(cl.begin() + kTotal - kSound, cl.end()), 0.01f) << "program " << program;
  }

  auto held = NewClap();
  held->PresetLoad()->from_location(held->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, "36");
  ASSERT_TRUE(held->Activate(kSampleRate, kBlock));
  std::vector<float> l(kBlock), r(kBlock);
  held->Process(signal.left.data(), signal.right.data(), l.data(), r.data(), kBlock);
  held->Flush({{0, 16, 1.0}});
  const std::vector<float> zeros(kBlock);
  for (uint32_t pos = 0; pos < kSilence; pos += kBlock)
    ASSERT_EQ(held->Process(zeros.data(), zeros.data(), l.data(), r.data(), kBlock), CLAP_PROCESS_CONTINUE) << pos;
  EXPECT_GT(*std::max_element(l.begin(), l.end()), 1e-3f);
}

// Bypass fades to the input over 10 ms, stays exactly the input, and fades back
// to a freshly cleared network; in between the output is always a mix of the two.
TEST(ClapAudio, BypassFadesToTheInputAndBack) {
  const sSignal in(24000);
  auto wet = NewClap();
  auto clap = NewClap();
  wet->Activate(kSampleRate, 512);
  clap->Activate(kSampleRate, 512);
  std::vector<float> wl(24000), wr(24000), ol(24000), or_(24000);
  wet->Process(in.left.data(), in.right.data(), wl.data(), wr.data(), 4000);
  clap->Process(in.left.data(), in.right.data(), ol.data(), or_.data(), 4000);
  ASSERT_EQ(wl, ol);
  // On at frame 4100 of the next block.
  wet->Process(&in.left[4000], &in.right[4000], &wl[4000], &wr[4000], 2000);
  clap->Process(&in.left[4000], &in.right[4000], &ol[4000], &or_[4000], 2000, {{100, kBypass, 1.0}});
  EXPECT_EQ(clap->Value(kBypass), 1.0);
  // The share of the input, where the two differ enough to tell: rising, and
  // not complete before 10 ms.
  const uint32_t ramp = 480;
  double mix = 0.0;
  for (uint32_t k = 4100; k < 4100 + ramp; ++k) {
    const double span = in.left[k] - wl[k];
    if (std::fabs(span) < 1e-3) continue;
    const double g = (ol[k] - wl[k]) / span;
    EXPECT_GE(g, mix - 1e-4) << k;
    EXPECT_LE(g, 1.0 + 1e-4) << k;
    if (k < 4100 + ramp - 10) {
      EXPECT_LT(g, 0.99) << k;
    }
    mix = std::max(mix, g);
  }
  EXPECT_GT(mix, 0.9);
  for (uint32_t k = 4100 + ramp; k < 6000; ++k) ASSERT_EQ(ol[k], in.left[k]) << k;
  // Off again: the network starts from silence, so its output is the dry part alone at first.
  clap->Process(&in.left[6000], &in.right[6000], &ol[6000], &or_[6000], 64, {{0, kBypass, 0.0}});
  EXPECT_NE(ol[6063], in.left[6063]);
  auto fresh = NewClap();
  fresh->Activate(kSampleRate, 512);
  EXPECT_EQ(clap->Value(kBypass), 0.0);
}

// The tail each program reports covers what a full-scale burst really leaves:
// nothing above -100 dBFS after it (renders stop at 30 s for the long ones);
// with "Hold" on it is endless and the host is asked to keep calling.
TEST(ClapAudio, ReportedTailCoversTheMeasuredDecay) {
  // The tail's definition: after a 0 dBFS impulse on both inputs, below -100 dBFS.
  constexpr uint32_t kBlock = 4800, kCap = 30 * 48000;
  std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
  for (int32_t program = 0; program < 64; ++program) {
    auto clap = NewClap();
    const std::string key = std::to_string(program);
    clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, key.c_str());
    ASSERT_TRUE(clap->Activate(kSampleRate, kBlock));
    const uint32_t tail = clap->Tail()->get(clap->Plugin());
    uint32_t last = 0;
    for (uint32_t pos = 0; pos < std::min(tail, kCap) + kBlock; pos += kBlock) {
      inL[0] = inR[0] = pos == 0 ? 1.0f : 0.0f;
      const clap_process_status status = clap->Process(inL.data(), inR.data(), outL.data(), outR.data(), kBlock);
      ASSERT_TRUE(status == CLAP_PROCESS_TAIL || status == CLAP_PROCESS_SLEEP) << status;
      for (uint32_t i = 0; i < kBlock; ++i)
        if (std::max(std::fabs(outL[i]), std::fabs(outR[i])) > 1e-5f) last = pos + i;
    }
    EXPECT_LE(last, tail) << "program " << program;
    if (program == 63) {
      clap->Flush({{0, 16, 1.0}});
      EXPECT_GE(clap->Tail()->get(clap->Plugin()), static_cast<uint32_t>(INT32_MAX));
      // Asleep after the tail, it holds nothing and may sleep on; never "tail".
      EXPECT_NE(clap->Process(inL.data(), inR.data(), outL.data(), outR.data(), kBlock), CLAP_PROCESS_TAIL);
    }
  }
}

// The worst case of waking: the sound back one block after the sleep, while
// the VST 2.x build still holds a residue near the signal's rounding (docs:
// performance.md, "Sleep"); about -114 dB of the peak at worst.
TEST(ClapAudio, WakingRightAfterTheSleepStaysWithinTheRoundingNoise) {
  constexpr uint32_t kBlock = 480, kSound = 24000;
  const sSignal signal(kSound);
  std::vector<float> inL(kBlock), inR(kBlock), cl(kBlock), cr(kBlock), vl(kBlock), vr(kBlock);
  for (int32_t program : {0, 8, 29, 35, 36}) {
    auto [clap, vst2] = StartedPair(program, kBlock);
    uint32_t back = 0;  // the frame the sound returns at
    float peak = 0.0f, worst = 0.0f;
    for (uint32_t pos = 0; back == 0 || pos < back + 3 * 48000; pos += kBlock) {
      ASSERT_LT(pos, 60u * 48000) << "program " << program << " never slept";
      for (uint32_t i = 0; i < kBlock; ++i) {
        const uint32_t f = pos + i, g = f - back;
        const bool sound = f < kSound || (back > 0 && f >= back && g < kSound);
        inL[i] = sound ? signal.left[f < kSound ? f : g] : 0.0f;
        inR[i] = sound ? signal.right[f < kSound ? f : g] : 0.0f;
      }
      const clap_process_status status = clap->Process(inL.data(), inR.data(), cl.data(), cr.data(), kBlock);
      float* in[2] = {inL.data(), inR.data()};
      float* out[2] = {vl.data(), vr.data()};
      vst2->ProcessReplacing(in, out, kBlock);
      for (uint32_t i = 0; i < kBlock; ++i) {
        peak = std::max({peak, std::fabs(vl[i]), std::fabs(vr[i])});
        worst = std::max({worst, std::fabs(cl[i] - vl[i]), std::fabs(cr[i] - vr[i])});
      }
      if (status == CLAP_PROCESS_SLEEP && back == 0) back = pos + 2 * kBlock;
    }
    EXPECT_LE(worst, peak * 3e-6f) << "program " << program;  // -110 dB
  }
}

// A host without a thread check still gets the measured tail on its main
// thread (the one init ran on) and the closed-form bound elsewhere, or once
// that thread processes too (it may ask between blocks, as an audio thread).
TEST(ClapAudio, WithoutAThreadCheckTheInitThreadMeasuresTheTail) {
  std::string error;
  auto bare = nimbohost::cClapInstance::Create(Clap(), kPluginId, &error, false);
  ASSERT_TRUE(bare && bare->Activate(kSampleRate, 512)) << error;
  uint32_t elsewhere = 0;
  std::thread([&] { elsewhere = bare->Tail()->get(bare->Plugin()); }).join();
  const uint32_t main = bare->Tail()->get(bare->Plugin());
  EXPECT_LT(main, elsewhere);
  std::vector<float> l(512), r(512);
  bare->Process(l.data(), r.data(), l.data(), r.data(), 512, {{0, 15, 0.1}});  // drier: a shorter measurement
  EXPECT_GT(bare->Tail()->get(bare->Plugin()), main) << "the bound, not a measurement";
}

TEST(ClapAudio, ProcessingAllocatesNothing) {
  auto clap = NewClap();
  const long beforeActivate = testsupport::Allocations();
  ASSERT_TRUE(clap->Activate(kSampleRate, 512));
  ASSERT_GT(testsupport::Allocations() - beforeActivate, 0) << "the plugin's allocations do not reach the counter";
  const sSignal in(512);
  std::vector<float> left(512), right(512);
  const std::vector<sClapParamEvent> events = {
      {0, 1, 0.3}, {10, 0, 4.0}, {10, 8, 0.5}, {200, kBypass, 1.0}, {300, 16, 1.0}, {511, 15, 0.9}};
  long allocations = 0, frees = 0;
  for (int block = 0; block < 200; ++block) {
    const std::vector<sClapParamEvent>& now = block % 3 == 0 ? events : std::vector<sClapParamEvent>{};
    const long a = testsupport::Allocations(), f = testsupport::Frees();
    clap->Process(in.left.data(), in.right.data(), left.data(), right.data(), 512, now);
    clap->Tail()->get(clap->Plugin());
    allocations += testsupport::Allocations() - a;
    frees += testsupport::Frees() - f;
  }
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(frees, 0);
}
