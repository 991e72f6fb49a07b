// How the audio entry cuts a host block at queued events: the exact sequence
// of event deliveries and stretches the effect sees.
#include <cstring>
#include <string>

#include "InsideSupport.h"

using namespace shelltest;

namespace {

struct sEvent {
  int32_t offset;
  int32_t tag;  // carried in the flags field, to tell events apart
};

class EventQueue : public testing::Test {
 protected:
  void SetUp() override {
    fx = new cRecordingEffect();
    e = fx->GetRecord();
    Dispatch(e, effOpen);
  }
  void TearDown() override { Dispatch(e, effClose); }

  intptr_t Send(std::initializer_list<sEvent> list) {
    std::vector<VstEvent> events;
    for (const sEvent& s : list) events.push_back({1, 24, s.offset, s.tag, {}});
    std::vector<intptr_t> storage(2 + events.size());
    for (size_t i = 0; i < events.size(); ++i) storage[2 + i] = reinterpret_cast<intptr_t>(&events[i]);
    auto* header = reinterpret_cast<VstEvents*>(storage.data());
    header->numEvents = static_cast<int32_t>(events.size());
    return Dispatch(e, effProcessEvents, 0, 0, header);
  }

  // Runs one block and describes what the effect saw: "E<tag>" per event, "P<frames>" per stretch.
  std::string Block(int32_t frames) {
    in.assign(2, std::vector<float>(static_cast<size_t>(frames)));
    out.assign(2, std::vector<float>(static_cast<size_t>(frames)));
    float* inputs[2] = {in[0].data(), in[1].data()};
    float* outputs[2] = {out[0].data(), out[1].data()};
    fx->calls.clear();
    e->processReplacing(e, inputs, outputs, frames);
    std::string seen;
    for (const auto& c : fx->calls) {
      if (!seen.empty()) seen += ' ';
      seen += c.isEvent ? 'E' : 'P';
      seen += std::to_string(c.isEvent ? c.event.flags : c.frames);
    }
    return seen;
  }

  cRecordingEffect* fx = nullptr;
  AEffect* e = nullptr;
  std::vector<std::vector<float>> in, out;
};

}  // namespace

TEST_F(EventQueue, WithoutEventsTheBlockIsOneStretch) {
  EXPECT_EQ(Block(64), "P64");
  EXPECT_EQ(fx->calls[0].in[0], in[0].data());
  EXPECT_EQ(fx->calls[0].out[1], out[1].data());
}

TEST_F(EventQueue, BlocksAreCutAtEventOffsets) {
  EXPECT_EQ(Send({{0, 1}, {10, 2}, {10, 3}}), 1);
  EXPECT_EQ(Block(64), "E1 P10 E2 E3 P54");
  // Each stretch sees the host's buffers from its first frame on.
  const auto& tail = fx->calls[4];
  EXPECT_EQ(tail.in[0], in[0].data() + 10);
  EXPECT_EQ(tail.in[1], in[1].data() + 10);
  EXPECT_EQ(tail.out[0], out[0].data() + 10);
  EXPECT_EQ(tail.out[1], out[1].data() + 10);
  EXPECT_EQ(Block(64), "P64");  // delivered events are gone
}

TEST_F(EventQueue, EqualOffsetsKeepArrivalOrderAcrossLists) {
  EXPECT_EQ(Send({{5, 1}, {3, 2}}), 1);
  EXPECT_EQ(Send({{5, 3}, {63, 4}}), 1);
  EXPECT_EQ(Block(64), "P3 E2 P2 E1 E3 P58 E4 P1");
}

TEST_F(EventQueue, AnEventBeyondTheBlockWaitsForALongEnoughBlock) {
  EXPECT_EQ(Send({{100, 1}, {64, 2}}), 1);
  EXPECT_EQ(Block(64), "P64");
  EXPECT_EQ(Block(32), "P32");
  EXPECT_EQ(Send({{20, 3}}), 1);  // a later, earlier event is not held back by them
  EXPECT_EQ(Block(64), "P20 E3 P44");  // an offset equal to the block length is not in it
  EXPECT_EQ(Block(128), "P64 E2 P36 E1 P28");
}

TEST_F(EventQueue, ANegativeOffsetIsDeliveredAtTheStartOfTheNextBlock) {
  EXPECT_EQ(Send({{3, 1}, {-5, 2}, {0, 3}, {INT32_MIN, 4}}), 1);
  EXPECT_EQ(Block(64), "E4 E2 E3 P3 E1 P61");
  EXPECT_EQ(Block(64), "P64");
}

TEST_F(EventQueue, EventsAreCopiedAsTheirFirst32Bytes) {
  // A longer host event: only its common head is kept, byte for byte.
  struct {
    VstEvent head;
    char tail[32];
  } longEvent;
  std::memset(&longEvent, 0x5C, sizeof longEvent);
  longEvent.head = {6, 56, 0, 77, {}};
  for (int i = 0; i < 16; ++i) longEvent.head.data[i] = static_cast<char>(i * 7 + 1);
  intptr_t storage[3] = {1, 0, reinterpret_cast<intptr_t>(&longEvent)};
  EXPECT_EQ(Dispatch(e, effProcessEvents, 0, 0, storage), 1);
  std::memset(&longEvent, 0, sizeof longEvent);  // the host may reuse its memory at once

  EXPECT_EQ(Block(8), "E77 P8");
  const VstEvent& got = fx->calls[0].event;
  EXPECT_EQ(got.type, 6);
  EXPECT_EQ(got.byteSize, 56);
  EXPECT_EQ(got.deltaFrames, 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(got.data[i], static_cast<char>(i * 7 + 1));
}

TEST_F(EventQueue, ANullEventIsSkipped) {
  VstEvent a{1, 24, 2, 1, {}}, b{1, 24, 4, 2, {}};
  intptr_t storage[5] = {3, 0, reinterpret_cast<intptr_t>(&a), 0, reinterpret_cast<intptr_t>(&b)};
  EXPECT_EQ(Dispatch(e, effProcessEvents, 0, 0, storage), 0);
  EXPECT_EQ(Block(8), "P2 E1 P2 E2 P4");
}

TEST_F(EventQueue, AFullQueueDropsWhatDoesNotFit) {
  std::vector<VstEvent> events(nimbo::kEventQueueCapacity + 1);
  std::vector<intptr_t> storage(2 + events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    events[i] = {1, 24, 0, static_cast<int32_t>(i), {}};
    storage[2 + i] = reinterpret_cast<intptr_t>(&events[i]);
  }
  storage[0] = static_cast<intptr_t>(events.size());
  EXPECT_EQ(Dispatch(e, effProcessEvents, 0, 0, storage.data()), 0);
  EXPECT_EQ(Send({{0, 9999}}), 0);

  Block(4);
  ASSERT_EQ(fx->calls.size(), static_cast<size_t>(nimbo::kEventQueueCapacity) + 1);
  for (int32_t i = 0; i < nimbo::kEventQueueCapacity; ++i) EXPECT_EQ(fx->calls[static_cast<size_t>(i)].event.flags, i);
  EXPECT_EQ(Send({{0, 5}}), 1);  // room again once delivered
  EXPECT_EQ(Block(4), "E5 P4");
}

TEST(EventQueueChannels, ChannelsBeyondTheRecordsCountsAreNull) {
  auto* fx = new cRecordingEffect(1, 2);
  AEffect* e = fx->GetRecord();
  Dispatch(e, effOpen);
  float in0[16] = {}, out0[16] = {}, out1[16] = {};
  float* inputs[1] = {in0};
  float* outputs[2] = {out0, out1};
  intptr_t storage[3] = {1, 0, 0};
  VstEvent event{1, 24, 6, 0, {}};
  storage[2] = reinterpret_cast<intptr_t>(&event);
  Dispatch(e, effProcessEvents, 0, 0, storage);
  e->processReplacing(e, inputs, outputs, 16);
  ASSERT_EQ(fx->calls.size(), 3u);
  EXPECT_EQ(fx->calls[2].in[0], in0 + 6);
  EXPECT_EQ(fx->calls[2].in[1], nullptr);
  EXPECT_EQ(fx->calls[2].out[1], out1 + 6);
  Dispatch(e, effClose);
}
