// The LV2 library loaded with dlopen and driven through its descriptor, as a host drives it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <array>
#include <functional>
#include <limits>

#include "CountingAllocator.h"
#include "HostTestSupport.h"
#include "Lv2Ports.h"

namespace {

using namespace nimbo;
using namespace nimbolv2;
using sControls = std::array<float, kEnabledPort + 1>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr int kBlock = 256;

const LV2_Descriptor* Descriptor() {
  static void* library = dlopen(NIMBOHALL_LV2_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  const auto entry = reinterpret_cast<LV2_Descriptor_Function>(library ? dlsym(library, "lv2_descriptor") : nullptr);
  return entry ? entry(0) : nullptr;
}

struct sDrive {
  std::function<void(int block, sControls& controls)> change = nullptr;  // before each block
  bool connectControls = true, connectEnabled = true, inPlace = false, zeroFrameRuns = false;
};

// A fresh instance at 48 kHz, interleaved output. Controls start as NaN: the plugin keeps its own values.
std::vector<float> Render(const hosttest::sAudio& input, const sDrive& drive = {}) {
  const LV2_Descriptor* d = Descriptor();
  LV2_Handle h = d->instantiate(d, 48000.0, NIMBOHALL_LV2_BUNDLE, nullptr);
  sControls controls;
  controls.fill(kNaN);
  for (uint32_t p = 0; p <= kEnabledPort; ++p)
    if (p < kEnabledPort ? drive.connectControls : drive.connectEnabled) d->connect_port(h, p, &controls[p]);
  float in[2][kBlock], out[2][kBlock];
  float(&to)[2][kBlock] = drive.inPlace ? in : out;
  d->connect_port(h, kInLeftPort, in[0]), d->connect_port(h, kInRightPort, in[1]);
  d->connect_port(h, kOutLeftPort, to[0]), d->connect_port(h, kOutRightPort, to[1]);
  d->activate(h);
  std::vector<float> result;
  for (int b = 0; b * kBlock < input.Frames(); ++b) {
    for (int i = 0; i < kBlock; ++i)
      for (int c = 0; c < 2; ++c) in[c][i] = b * kBlock + i < input.Frames() ? input.At(b * kBlock + i, c) : 0.0f;
    if (drive.change) drive.change(b, controls);
    const long allocations = testsupport::Allocations();
    if (drive.zeroFrameRuns) d->run(h, 0);
    d->run(h, kBlock);
    EXPECT_EQ(testsupport::Allocations(), allocations) << "run allocates";
    for (int i = 0; i < kBlock; ++i) result.insert(result.end(), {to[0][i], to[1][i]});
  }
  d->deactivate(h);
  d->cleanup(h);
  return result;
}

std::vector<float> With(const hosttest::sAudio& input, uint32_t port, float v) {
  return Render(input, {.change = [=](int, sControls& c) { c[port] = v; }});
}

// Out-of-range values clamp, non-finite ones leave the last good value; in place and with empty runs between.
TEST(Lv2Plugin, ClampsAndKeepsTheLastFiniteValue) {
  const hosttest::sAudio input = hosttest::TestSignal(48000, 0.4, 2);
  const std::vector<float> expected = Render(input, {.change = [](int, sControls& c) {
    c[kParamGeometry] = 16, c[kParamBaseDelay] = 1, c[kParamHalflife] = 0, c[kParamDamping] = 5;  // as "It is Spring"
    c[kParamFbRot1] = 180, c[kParamAmpDrive] = 30, c[kParamDryMix] = 0;
  }});
  const auto change = [](int b, sControls& c) {
    if (b == 0) {
      c[kParamGeometry] = 40, c[kParamBaseDelay] = 5, c[kParamHalflife] = -3, c[kParamDamping] = 9;
      c[kParamFbRot1] = 500, c[kParamAmpDrive] = 1e9f, c[kParamDryMix] = -10;
    } else {
      c[kParamGeometry] = kNaN, c[kParamBaseDelay] = kInf, c[kParamHalflife] = -kInf, c[kParamDamping] = kNaN;
    }
  };
  EXPECT_EQ(expected, Render(input, {.change = change, .inPlace = true, .zeroFrameRuns = true}));
  EXPECT_NE(expected, Render(input));  // the settings are heard
  EXPECT_EQ(Render(input, {.connectControls = false, .connectEnabled = false}), Render(input));
}

TEST(Lv2Plugin, TogglesAndBypassFollowLv2Rules) {
  const hosttest::sAudio input = hosttest::TestSignal(48000, 0.3, 2);
  const std::vector<float> processed = Render(input);
  EXPECT_EQ(With(input, kParamHold, 0.25f), With(input, kParamHold, 1));  // above 0 is on
  EXPECT_NE(With(input, kParamHold, 1), processed);
  EXPECT_EQ(With(input, kEnabledPort, -1), With(input, kEnabledPort, 0));  // below 0 bypasses too

  // Off at block 4: a 10 ms fade, then the input itself; on again at block 12.
  const std::vector<float> out = Render(input, {.change = [](int b, sControls& c) { c[kEnabledPort] = b < 4 || b >= 12; }});
  const size_t off = 2 * 4 * kBlock, fade = 2 * 480, on = 2 * 12 * kBlock;
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + off, processed.begin()));
  for (size_t i = off; i < off + fade; i += fade / 4) EXPECT_NE(out[i], input.samples[i]) << i;
  EXPECT_TRUE(std::equal(out.begin() + off + fade, out.begin() + on, input.samples.begin() + off + fade));
  EXPECT_FALSE(std::equal(out.begin() + on + fade, out.begin() + input.samples.size(), input.samples.begin() + on + fade));
}

TEST(Lv2Plugin, RefusesUnusableSampleRatesAndRunsUnconnected) {
  const LV2_Descriptor* d = Descriptor();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->instantiate(d, 0.0, NIMBOHALL_LV2_BUNDLE, nullptr), nullptr);
  EXPECT_EQ(d->instantiate(d, kNaN, NIMBOHALL_LV2_BUNDLE, nullptr), nullptr);
  const long allocations = testsupport::Allocations();
  LV2_Handle h = d->instantiate(d, 44100.0, NIMBOHALL_LV2_BUNDLE, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_GT(testsupport::Allocations(), allocations);  // the count sees the plugin's allocations
  d->activate(h);
  d->run(h, 512);
  d->cleanup(h);
}

}  // namespace
