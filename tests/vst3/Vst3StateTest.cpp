// Saved state: it brings back every setting and the sound, through streams
// that move any number of bytes per call, and a state that is truncated,
// extended, corrupt or foreign is refused with the settings left as they were.
#include "Vst3Support.h"

namespace {

using namespace vst3;
using namespace vst3::Vst;
using namespace vst3test;
using nimbohost::cMemoryStream;

std::vector<char> SavedState(cVst3Plugin& plugin, int32 bytesPerCall = 0) {
  auto stream = cMemoryStream::Make({}, bytesPerCall);
  EXPECT_EQ(plugin.GetState(*stream.get()), kResultOk);
  return stream->Bytes();
}

tresult LoadState(cVst3Plugin& plugin, std::vector<char> bytes, int32 bytesPerCall = 0) {
  auto stream = cMemoryStream::Make(std::move(bytes), bytesPerCall);
  return plugin.SetState(*stream.get());
}

// A plugin moved away from its defaults in every kind of setting.
std::unique_ptr<cVst3Plugin> EditedPlugin() {
  auto plugin = NewPlugin();
  if (!plugin) return nullptr;
  plugin->SetNormalized(kProgram, ProgramValue(34));
  plugin->SetNormalized(15, 0.37);
  plugin->SetNormalized(0, 3.0 / 16);
  plugin->SetNormalized(17, 1.0);
  plugin->SetNormalized(kBypass, 1.0);
  return plugin;
}

TEST(Vst3State, RoundTripsThroughStreamsOfAnyStep) {
  auto original = EditedPlugin();
  ASSERT_TRUE(original);
  const std::vector<char> saved = SavedState(*original);
  ASSERT_FALSE(saved.empty());
  for (int32 step : {1, 3, 7}) EXPECT_EQ(SavedState(*original, step), saved) << step << " bytes per call";

  for (int32 step : {0, 1, 5}) {
    auto copy = NewPlugin();
    ASSERT_TRUE(copy);
    ASSERT_EQ(LoadState(*copy, saved, step), kResultOk) << step << " bytes per call";
    for (ParamID id = 0; id < 20; ++id) EXPECT_EQ(copy->Normalized(id), original->Normalized(id)) << id;
    EXPECT_EQ(SavedState(*copy), saved);
  }

  // The restored instance sounds like the one saved.
  original->SetNormalized(kBypass, 0.0);
  auto copy = NewPlugin();
  ASSERT_TRUE(copy);
  ASSERT_EQ(LoadState(*copy, SavedState(*original)), kResultOk);
  for (auto* p : {original.get(), copy.get()}) {
    p->Setup(48000.0, 256);
    p->SetActive(true);
    p->SetProcessing(true);
  }
  const sStereo in = TestInput(12000);
  EXPECT_TRUE(BitIdentical(RenderVst3(*original, in, 256, {}), RenderVst3(*copy, in, 256, {})));

  // The controller keeps no state of its own; any stream does.
  auto empty = cMemoryStream::Make();
  EXPECT_EQ(copy->GetControllerState(*empty.get()), kResultOk);
  EXPECT_EQ(copy->SetControllerState(*empty.get()), kResultOk);
}

TEST(Vst3State, RefusesBadStateAndKeepsTheSettings) {
  auto plugin = EditedPlugin();
  auto other = NewPlugin();
  ASSERT_TRUE(plugin && other);
  const std::vector<char> before = SavedState(*plugin);
  std::vector<char> good = SavedState(*other);
  std::vector<std::pair<std::string, std::vector<char>>> bad = {
      {"empty", {}},
      {"truncated", std::vector<char>(good.begin(), good.end() - 1)},
      {"extended", [&] { auto b = good; b.push_back(0); return b; }()},
      {"doubled", [&] { auto b = good; b.insert(b.end(), good.begin(), good.end()); return b; }()},
      {"foreign", std::vector<char>(good.size(), 'x')},
  };
  for (size_t at = 0; at < good.size(); ++at) {
    auto flipped = good;
    flipped[at] = static_cast<char>(flipped[at] ^ (1 << (at % 8)));
    bad.emplace_back("bit flipped at byte " + std::to_string(at), flipped);
  }
  for (const auto& [what, bytes] : bad) {
    for (int32 step : {0, 2}) {
      EXPECT_NE(LoadState(*plugin, bytes, step), kResultOk) << what;
      ASSERT_EQ(SavedState(*plugin), before) << what << ": the settings changed";
    }
  }
  EXPECT_EQ(LoadState(*plugin, good, 1), kResultOk);  // the same state, whole, is taken
  EXPECT_EQ(SavedState(*plugin), good);
}

}  // namespace

namespace {

void PutBig(std::vector<char>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

// What a VST 2.x host saves of the VST 2.x build (its bank, behind the block
// VST3 hosts add), read through the effect's own entries.
std::vector<char> Vst2HostBank(nimbohost::cHostedEffect& vst2, int32_t current) {
  std::vector<char> bank;
  for (const char* tag : {"VstW"}) bank.insert(bank.end(), tag, tag + 4);
  for (uint32_t v : {8u, 1u, 0u}) PutBig(bank, v);
  bank.insert(bank.end(), {'C', 'c', 'n', 'K'});
  PutBig(bank, 0);  // size: readers do not rely on it
  bank.insert(bank.end(), {'F', 'x', 'B', 'k'});
  for (uint32_t v : {2u, 0xB45C2E01u, 410u, 64u, static_cast<uint32_t>(current)}) PutBig(bank, v);
  bank.insert(bank.end(), 124, '\0');
  for (int32_t program = 0; program < kNumPrograms; ++program) {
    vst2.Dispatch(effSetProgram, 0, program);
    bank.insert(bank.end(), {'C', 'c', 'n', 'K'});
    PutBig(bank, 0);
    bank.insert(bank.end(), {'F', 'x', 'C', 'k'});
    for (uint32_t v : {1u, 0xB45C2E01u, 410u, 18u}) PutBig(bank, v);
    std::string name = vst2.ProgramName(program);
    name.resize(28, '\0');
    bank.insert(bank.end(), name.begin(), name.end());
    for (int32_t id = 0; id < 18; ++id) {
      const float v = vst2.GetParameter(id);
      uint32_t bits;
      std::memcpy(&bits, &v, 4);
      PutBig(bank, bits);
    }
  }
  vst2.Dispatch(effSetProgram, 0, current);
  return bank;
}

}  // namespace

// A project saved with the VST 2.x build opens with the VST3 one in its place:
// the host hands over the bank it saved, and the mix sounds the same.
TEST(Vst3State, TakesOverTheBankAVst2HostSaved) {
  auto vst2 = RunningVst2();
  ASSERT_TRUE(vst2);
  vst2->Dispatch(effSetProgram, 0, 36);
  vst2->SetParameter(15, 0.37f);  // an edit the project keeps
  vst2->SetParameter(17, 1.0f);
  vst2->Dispatch(effSetProgram, 0, 34);
  vst2->SetParameter(1, 0.61f);
  const std::vector<char> bank = Vst2HostBank(*vst2, 34);

  auto plugin = NewPlugin();
  ASSERT_TRUE(plugin);
  ASSERT_EQ(LoadState(*plugin, bank, 7), kResultOk);
  EXPECT_EQ(plugin->Normalized(kProgram), static_cast<float>(ProgramValue(34)));
  for (int32_t id = 0; id < 18; ++id) EXPECT_EQ(static_cast<float>(plugin->Normalized(id)), vst2->GetParameter(id)) << id;
  plugin->SetNormalized(kProgram, ProgramValue(36));
  EXPECT_EQ(static_cast<float>(plugin->Normalized(15)), 0.37f);  // the edit of another program came along

  vst2->Dispatch(effSetProgram, 0, 36);
  plugin->Setup(44100.0, 512);
  plugin->SetActive(true);
  plugin->SetProcessing(true);
  const sStereo in = TestInput(20000);
  EXPECT_TRUE(BitIdentical(RenderVst3(*plugin, in, 512, {}), RenderVst2(*vst2, in, 512, {})));
  std::vector<char> foreign = bank;
  foreign[35] ^= 1;  // another plugin's unique ID
  EXPECT_EQ(LoadState(*plugin, foreign), kInvalidArgument);
}
