// The audio entry as a host drives it: what it refuses to touch, and that it
// never allocates or frees memory, with or without queued events.
#include <atomic>
#include <cstdlib>
#include <new>

#include "CountingAllocator.h"
#include "HostSupport.h"

using namespace shelltest;

// Allocations are counted process-wide, the plugin's included (CountingAllocator).
using testsupport::Allocations;
using testsupport::Frees;

namespace {

void QueueEvents(nimbohost::cHostedEffect& fx, std::initializer_list<int32_t> offsets) {
  sEventList events(offsets);
  ASSERT_EQ(fx.Dispatch(effProcessEvents, 0, 0, events.list()), 1);
}

}  // namespace

TEST(AudioEntry, DoesNothingBeforeOpen) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  sStereoBlock block(64);
  fx->ProcessReplacing(block.in, block.out, 64);
  EXPECT_TRUE(block.OutputsUntouched());
}

TEST(AudioEntry, RefusesMissingBuffersAndEmptyBlocks) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  fx->Start(44100.0f, 64);

  sStereoBlock block(64);
  fx->ProcessReplacing(nullptr, block.out, 64);
  fx->ProcessReplacing(block.in, nullptr, 64);
  fx->ProcessReplacing(block.in, block.out, 0);
  fx->ProcessReplacing(block.in, block.out, -64);
  for (int c = 0; c < 2; ++c) {
    float* in[2] = {block.in[0], block.in[1]};
    float* out[2] = {block.out[0], block.out[1]};
    in[c] = nullptr;
    fx->ProcessReplacing(in, block.out, 64);
    out[c] = nullptr;
    fx->ProcessReplacing(block.in, out, 64);
  }
  EXPECT_TRUE(block.OutputsUntouched());

  fx->ProcessReplacing(block.in, block.out, 64);
  EXPECT_FALSE(block.OutputsUntouched());  // the same block with every buffer present is processed
}

TEST(AudioEntry, NeverAllocatesOrFrees) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  const long beforeOpen = Allocations();
  fx->Dispatch(effOpen);
  ASSERT_GT(Allocations() - beforeOpen, 0) << "the plugin's allocations do not reach the counter";
  fx->Start(44100.0f, 64);

  sStereoBlock block(256);
  long allocations = 0, frees = 0;
  auto process = [&](int32_t frames) {
    const long a = Allocations(), f = Frees();
    fx->ProcessReplacing(block.in, block.out, frames);
    allocations += Allocations() - a;
    frees += Frees() - f;
  };
  for (int i = 0; i < 8; ++i) process(64);
  fx->SetParameter(1, 0.4f);  // parameter and program changes are applied inside the audio entry
  process(64);
  fx->Dispatch(effSetProgram, 0, 20);
  process(256);
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(frees, 0);

  for (int i = 0; i < 8; ++i) {
    QueueEvents(*fx, {0, 10, 10, 100, -5, 63});
    process(64);
  }
  process(256);  // delivers the events held back for a longer block
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(frees, 0);
}
