// The library as a host first meets it: entry points, the record of a fresh
// instance, the requests made to the host during construction, and the
// parameter entries.
#include <algorithm>
#include <cmath>
#include <limits>

#include "HostSupport.h"

using namespace shelltest;
using nimbohost::PluginEntry;

namespace {

constexpr int32_t kUniqueIdValue = static_cast<int32_t>(0xB45C2E01u);

// A host whose answers the test scripts and whose requests it inspects as they arrive.
struct sScriptedHost {
  struct sRequest {
    AEffect* effect;
    int32_t opcode, index;
    intptr_t value;
    void* ptr;
    float opt;
    bool bufferZeroed;  // all 1024 bytes at ptr were 0 when the request came
    int32_t numInputs, numOutputs, flags, uniqueId;
  };
  intptr_t version = 2400;
  std::vector<sRequest> requests;
};
thread_local sScriptedHost* tHost = nullptr;

intptr_t VSTCALLBACK ScriptedCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                      float opt) {
  sScriptedHost& host = *tHost;
  bool zeroed = false;
  if (ptr) {
    const char* bytes = static_cast<const char*>(ptr);
    zeroed = std::all_of(bytes, bytes + 1024, [](char c) { return c == 0; });
    // Longer than any field the effect keeps: it must cut, not overrun.
    std::memset(ptr, opcode == audioMasterGetVendorString ? 'v' : 'p', 1023);
  }
  host.requests.push_back({effect, opcode, index, value, ptr, opt, zeroed, effect->numInputs, effect->numOutputs,
                           effect->flags, effect->uniqueID});
  switch (opcode) {
    case audioMasterVersion: return host.version;
    case audioMasterGetSampleRate: return 48000;
    case audioMasterGetBlockSize: return 256;
    default: return 7;
  }
}

AEffect* CreateWithScriptedHost(PluginEntry entry, sScriptedHost& host) {
  tHost = &host;
  AEffect* record = entry(&ScriptedCallback);
  tHost = nullptr;
  return record;
}

void CloseRecord(AEffect* record) { record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f); }

std::vector<float> AllParameters(nimbohost::cHostedEffect& effect) {
  std::vector<float> values;
  for (int32_t i = 0; i < 18; ++i) values.push_back(effect.GetParameter(i));
  return values;
}

}  // namespace

TEST(Entry, BothNamesAreExportedAndRefuseANullCallback) {
  ASSERT_TRUE(Plugin().IsLoaded()) << Plugin().Error();
  for (const char* name : {"VSTPluginMain", "main"}) {
    SCOPED_TRACE(name);
    PluginEntry entry = Plugin().Symbol(name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry(nullptr), nullptr);

    std::string error;
    auto effect = nimbohost::cHostedEffect::Create(entry, {}, &error);
    ASSERT_TRUE(effect) << error;
    EXPECT_EQ(effect->EffectName(), "Nimbohall 0.4a");
    EXPECT_EQ(effect->Dispatch(effGetVstVersion), 2400);
  }
}

TEST(Entry, EveryCallMakesAnIndependentInstance) {
  auto a = NewEffect();
  auto b = NewEffect();
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->Record(), b->Record());
  a->SetParameter(15, 0.9f);
  EXPECT_EQ(a->GetParameter(15), 0.9f);
  EXPECT_NE(b->GetParameter(15), 0.9f);
  a->Dispatch(effSetProgram, 0, 5);
  EXPECT_EQ(a->Dispatch(effGetProgram), 5);
  EXPECT_EQ(b->Dispatch(effGetProgram), 0);
  EXPECT_EQ(b->CurrentProgramName(), "Temple of the Ancestors");
}

TEST(Entry, FreshRecordHoldsItsFixedValues) {
  sScriptedHost host;
  AEffect* e = CreateWithScriptedHost(Plugin().Entry(), host);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->magic, 0x56737450);
  EXPECT_EQ(std::memcmp(&e->magic, "PtsV", 4), 0);  // "VstP" read as a little-endian int32
  EXPECT_NE(e->dispatcher, nullptr);
  EXPECT_EQ(e->process, nullptr);
  EXPECT_NE(e->setParameter, nullptr);
  EXPECT_NE(e->getParameter, nullptr);
  EXPECT_EQ(e->numPrograms, 64);
  EXPECT_EQ(e->numParams, 18);
  EXPECT_EQ(e->numInputs, 2);
  EXPECT_EQ(e->numOutputs, 2);
  EXPECT_EQ(e->flags, 0x18);
  EXPECT_EQ(e->resvd1, 0);
  EXPECT_EQ(e->resvd2, 0);
  EXPECT_EQ(e->initialDelay, 0);
  EXPECT_EQ(e->realQualities, 0);
  EXPECT_EQ(e->offQualities, 0);
  EXPECT_EQ(e->ioRatio, 0.0f);
  EXPECT_EQ(e->object, nullptr);
  EXPECT_EQ(e->user, nullptr);
  EXPECT_EQ(e->uniqueID, kUniqueIdValue);
  EXPECT_EQ(e->uniqueID, -1269027327);
  EXPECT_EQ(e->version, 410);
  EXPECT_NE(e->processReplacing, nullptr);
  EXPECT_EQ(e->processDoubleReplacing, nullptr);
  EXPECT_TRUE(std::all_of(std::begin(e->future), std::end(e->future), [](char c) { return c == 0; }));
  CloseRecord(e);
}

TEST(Entry, OldHostsAreAskedOnlyForVersionAndId) {
  for (intptr_t version : {0, 1}) {
    SCOPED_TRACE(version);
    sScriptedHost host;
    host.version = version;
    AEffect* e = CreateWithScriptedHost(Plugin().Entry(), host);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(host.requests.size(), 2u);
    EXPECT_EQ(host.requests[0].opcode, audioMasterVersion);
    EXPECT_EQ(host.requests[1].opcode, audioMasterCurrentId);
    for (const auto& r : host.requests) EXPECT_EQ(r.effect, e);
    CloseRecord(e);
  }
}

TEST(Entry, CurrentHostsAreAskedSevenThingsInOrder) {
  sScriptedHost host;
  AEffect* e = CreateWithScriptedHost(Plugin().Entry(), host);
  ASSERT_NE(e, nullptr);
  const int32_t expected[] = {audioMasterVersion,          audioMasterCurrentId,     audioMasterGetVendorVersion,
                              audioMasterGetVendorString,  audioMasterGetProductString, audioMasterGetSampleRate,
                              audioMasterGetBlockSize};
  ASSERT_EQ(host.requests.size(), std::size(expected));
  for (size_t i = 0; i < host.requests.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& r = host.requests[i];
    EXPECT_EQ(r.opcode, expected[i]);
    EXPECT_EQ(r.effect, e);
    EXPECT_EQ(r.index, 0);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.opt, 0.0f);
    const bool wantsText = r.opcode == audioMasterGetVendorString || r.opcode == audioMasterGetProductString;
    EXPECT_EQ(r.ptr != nullptr, wantsText);
    if (wantsText) {
      EXPECT_TRUE(r.bufferZeroed);  // the product request too, after the vendor filled it
    }
    // The record is already identifiable but announces no channels or flags yet.
    EXPECT_EQ(r.uniqueId, kUniqueIdValue);
    EXPECT_EQ(r.numInputs, 0);
    EXPECT_EQ(r.numOutputs, 0);
    EXPECT_EQ(r.flags, 0);
  }
  EXPECT_EQ(e->numInputs, 2);  // and the overlong host strings did no harm
  CloseRecord(e);
}

TEST(Entry, SetParameterClampsAndIgnoresBadIndices) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  constexpr int32_t kModSpread = 10;  // linear 0..100 %
  struct {
    float sent, stored;
    const char* display;
  } const cases[] = {{1.5f, 1.0f, "100"},
                     {-0.2f, 0.0f, "0"},
                     {std::numeric_limits<float>::quiet_NaN(), 1.0f, "100"},
                     {0.25f, 0.25f, "25"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    fx->SetParameter(kModSpread, c.sent);
    EXPECT_EQ(fx->GetParameter(kModSpread), c.stored);
    EXPECT_EQ(fx->ParameterDisplay(kModSpread), c.display);
  }

  const std::vector<float> before = AllParameters(*fx);
  for (int32_t index : {18, -1, 1000}) {
    fx->SetParameter(index, 0.7f);
    EXPECT_EQ(fx->GetParameter(index), 0.0f);
  }
  EXPECT_EQ(AllParameters(*fx), before);
}

TEST(Entry, ARecordThatFailsTheCheckIsIgnored) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  AEffect* e = fx->Record();
  fx->Start(44100.0f, 64);
  const std::vector<float> before = AllParameters(*fx);

  for (int32_t op = 0; op <= 80; ++op) {
    sMarkedBuffer buffer(256);
    EXPECT_EQ(e->dispatcher(nullptr, op, 0, 0, buffer.data(), 0.0f), 0) << op;
    EXPECT_TRUE(buffer.Untouched()) << op;
  }

  e->uniqueID ^= 1;
  for (int32_t op = 0; op <= 80; ++op) {  // effClose (1) included: the instance must survive it
    sMarkedBuffer buffer(256);
    EXPECT_EQ(e->dispatcher(e, op, 0, 0, buffer.data(), 0.0f), 0) << op;
    EXPECT_TRUE(buffer.Untouched()) << op;
  }
  e->setParameter(e, 15, 0.123f);
  EXPECT_EQ(e->getParameter(e, 0), 0.0f);
  sStereoBlock block(64);
  e->processReplacing(e, block.in, block.out, 64);
  EXPECT_TRUE(block.OutputsUntouched());
  e->uniqueID ^= 1;

  EXPECT_EQ(AllParameters(*fx), before);
  EXPECT_EQ(fx->Dispatch(effGetProgram), 0);
  EXPECT_EQ(fx->Dispatch(effGetVstVersion), 2400);
}
