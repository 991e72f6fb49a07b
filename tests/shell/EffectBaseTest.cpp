// The generic effect from inside: what it keeps of the host, what its
// virtual operations receive, and its lifecycle.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "InsideSupport.h"

using namespace shelltest;

namespace {

intptr_t gHostVersion = 2400;

intptr_t VSTCALLBACK TalkativeHost(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
  switch (opcode) {
    case audioMasterVersion: return gHostVersion;
    case audioMasterCurrentId: return 77;
    case audioMasterGetVendorVersion: return 1234;
    case audioMasterGetVendorString: std::memset(ptr, 'v', 200); return 1;
    case audioMasterGetProductString: std::memset(ptr, 'p', 200); return 1;
    case audioMasterGetSampleRate: return 48000;
    case audioMasterGetBlockSize: return 256;
    default: return 0;
  }
}

class cInspectableEffect : public nimbo::cVSTeffect {
 public:
  cInspectableEffect() : cVSTeffect(&TalkativeHost, 1, 1) {}
  std::string Vendor() const { return std::string(m_HostVendor, sizeof m_HostVendor); }
  std::string Product() const { return std::string(m_HostProduct, sizeof m_HostProduct); }
  int32_t HostVersion() const { return m_HostVstVersion; }
  int32_t HostVendorVersion() const { return m_HostVendorVersion; }
  int32_t HostCurrentId() const { return m_HostCurrentId; }
  float SampleRate() const { return m_SampleRate; }
  int32_t BlockSize() const { return m_BlockSize; }
};

}  // namespace

TEST(EffectBase, KeepsTheHostsAnswersWithStringsCutTo63) {
  gHostVersion = 2400;
  auto* fx = new cInspectableEffect();
  EXPECT_EQ(fx->Vendor(), std::string(63, 'v') + '\0');
  EXPECT_EQ(fx->Product(), std::string(63, 'p') + '\0');
  EXPECT_EQ(fx->HostVersion(), 2400);
  EXPECT_EQ(fx->HostVendorVersion(), 1234);
  EXPECT_EQ(fx->HostCurrentId(), 77);
  EXPECT_EQ(fx->SampleRate(), 48000.0f);
  EXPECT_EQ(fx->BlockSize(), 256);
  Dispatch(fx->GetRecord(), effClose);

  gHostVersion = 1;
  fx = new cInspectableEffect();
  EXPECT_EQ(fx->Vendor(), std::string(64, '\0'));
  EXPECT_EQ(fx->HostCurrentId(), 77);
  EXPECT_EQ(fx->SampleRate(), 0.0f);
  EXPECT_EQ(fx->BlockSize(), 0);
  Dispatch(fx->GetRecord(), effClose);
}

TEST(EffectBase, ParameterChangesReachTheEffectUnclamped) {
  auto* fx = new cRecordingEffect();
  AEffect* e = fx->GetRecord();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float sent : {1.5f, -0.2f, nan, 0.4f}) e->setParameter(e, 1, sent);
  ASSERT_EQ(fx->changes.size(), 4u);
  EXPECT_EQ(fx->changes[0], std::make_pair(1, 1.5f));
  EXPECT_EQ(fx->changes[1], std::make_pair(1, -0.2f));
  EXPECT_EQ(fx->changes[2].first, 1);
  EXPECT_TRUE(std::isnan(fx->changes[2].second));
  EXPECT_EQ(fx->changes[3], std::make_pair(1, 0.4f));
  e->setParameter(e, 2, 0.5f);  // out of range: no notification either
  e->setParameter(e, -1, 0.5f);
  EXPECT_EQ(fx->changes.size(), 4u);
  Dispatch(e, effClose);
}

TEST(EffectBase, OpenRunsOnceAndCloseDestroys) {
  auto* fx = new cRecordingEffect();
  AEffect* e = fx->GetRecord();
  bool destroyed = false;
  fx->destroyed = &destroyed;
  Dispatch(e, effOpen);
  Dispatch(e, effOpen);
  EXPECT_EQ(fx->opens, 1);

  e->uniqueID ^= 1;  // a record that fails the check is not closed
  EXPECT_EQ(Dispatch(e, effClose), 0);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(fx->closes, 0);
  e->uniqueID ^= 1;

  EXPECT_EQ(Dispatch(e, effClose), 0);
  EXPECT_TRUE(destroyed);
}

TEST(EffectBase, RequestsReachTheirOperations) {
  auto* fx = new cRecordingEffect();
  AEffect* e = fx->GetRecord();
  char name[] = "Chamber";
  char text[] = "0.5";
  char buffer[64];
  VstPinProperties pin;
  struct {
    int32_t opcode, index;
    intptr_t value;
    void* ptr;
    float opt;
    intptr_t answer;
    const char* operation;  // null: no operation is reached
  } const rows[] = {
      {effSetProgram, 0, 2, nullptr, 0.0f, 0, "SetProgram 2"},
      {effSetProgram, 0, 4, nullptr, 0.0f, 0, nullptr},  // beyond numPrograms
      {effSetProgram, 0, 0, nullptr, 0.0f, 0, nullptr},  // the current one
      {effSetProgramName, 0, 0, name, 0.0f, 0, "SetProgramName Chamber"},
      {effGetProgramName, 3, 0, buffer, 0.0f, 0, "GetProgramName 0"},
      {effGetProgramNameIndexed, 3, 1, buffer, 0.0f, 1, "GetProgramName 3"},
      {effSetSampleRate, 0, 0, nullptr, 96000.0f, 0, "SampleRate 96000"},
      {effSetBlockSize, 0, 512, nullptr, 0.0f, 0, "BlockSize 512"},
      {effMainsChanged, 0, 0, nullptr, 0.0f, 0, "Mains off"},
      {effMainsChanged, 0, 7, nullptr, 0.0f, 0, "Mains on"},
      {effString2Parameter, 1, 0, text, 0.0f, 1, "StringToParameter 1 0.5"},
      {effGetInputProperties, 1, 0, &pin, 0.0f, 1, "InputPin 1"},
      {effGetOutputProperties, 3, 0, &pin, 0.0f, 1, "OutputPin 3"},
      {effCanDo, 0, 0, name, 0.0f, -1, "CanDo Chamber"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << "opcode " << r.opcode << " value " << r.value);
    fx->operations.clear();
    EXPECT_EQ(Dispatch(e, r.opcode, r.index, r.value, r.ptr, r.opt), r.answer);
    if (r.operation) {
      EXPECT_EQ(fx->operations, std::vector<std::string>{r.operation});
    } else {
      EXPECT_TRUE(fx->operations.empty());
    }
  }
  Dispatch(e, effClose);
}
