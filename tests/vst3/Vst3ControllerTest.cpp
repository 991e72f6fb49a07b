// The edit controller as hosts read it: parameter descriptions, texts both
// ways, value curves, the program list, and program changes that reach the
// host without calling it back from inside its own call.
#include <cmath>
#include <string>

#include "Vst3Support.h"

namespace {

using namespace vst3;
using namespace vst3::Vst;
using namespace vst3test;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// What a VST 2.x host shows for the parameter's current value: display and unit.
std::string Vst2Text(nimbohost::cHostedEffect& effect, int32_t index) {
  const std::string value = Trimmed(effect.ParameterDisplay(index));
  const std::string unit = Trimmed(effect.ParameterLabel(index));
  return nimbohost::Cp1252ToUtf8(unit.empty() ? value : value + " " + unit);
}

TEST(Vst3Controller, DescribesTheVst2ParametersThenBypassAndProgram) {
  auto plugin = NewPlugin();
  auto vst2 = RunningVst2();
  ASSERT_TRUE(plugin && vst2);
  ASSERT_EQ(plugin->ParameterCount(), 20);
  for (int32_t i = 0; i < 18; ++i) {
    const auto info = plugin->Parameter(i);
    ASSERT_TRUE(info) << i;
    EXPECT_EQ(info->id, static_cast<ParamID>(i));
    EXPECT_EQ(info->shortTitle, nimbohost::Cp1252ToUtf8(vst2->ParameterName(i)));
    EXPECT_FALSE(info->title.empty());
    EXPECT_EQ(info->units, "");  // the value texts carry the unit
    EXPECT_EQ(info->flags & ParameterInfo::kCanAutomate, ParameterInfo::kCanAutomate);
    EXPECT_EQ(info->flags & (ParameterInfo::kIsBypass | ParameterInfo::kIsProgramChange), 0);
    // A fresh instance holds its defaults, as the VST 2.x one does.
    EXPECT_EQ(static_cast<float>(info->defaultNormalizedValue), vst2->GetParameter(i)) << info->title;
    EXPECT_EQ(static_cast<float>(plugin->Normalized(i)), vst2->GetParameter(i)) << info->title;
  }
  for (auto [id, steps] : {std::pair{0, 16}, {4, 5}, {16, 1}, {17, 1}, {1, 0}, {15, 0}})
    EXPECT_EQ(plugin->Parameter(id)->stepCount, steps) << id;

  const auto bypass = plugin->Parameter(18);
  ASSERT_TRUE(bypass);
  EXPECT_EQ(bypass->id, kBypass);
  EXPECT_EQ(bypass->stepCount, 1);
  EXPECT_EQ(bypass->defaultNormalizedValue, 0.0);
  EXPECT_EQ(bypass->flags & (ParameterInfo::kIsBypass | ParameterInfo::kCanAutomate),
            ParameterInfo::kIsBypass | ParameterInfo::kCanAutomate);

  const auto program = plugin->Parameter(19);
  ASSERT_TRUE(program);
  EXPECT_EQ(program->id, kProgram);
  EXPECT_EQ(program->stepCount, kNumPrograms - 1);
  EXPECT_EQ(program->flags & (ParameterInfo::kIsProgramChange | ParameterInfo::kIsList),
            ParameterInfo::kIsProgramChange | ParameterInfo::kIsList);
  EXPECT_FALSE(plugin->Parameter(20));
  EXPECT_FALSE(plugin->Parameter(-1));
}

// Every value a VST 2.x host can set shows the same text and unit in both
// formats; the text parses back to a value with the same text; the plain
// value a host computes maps back to the same setting.
TEST(Vst3Controller, TextsAndCurvesMatchTheVst2Build) {
  auto plugin = NewPlugin();
  auto vst2 = RunningVst2();
  ASSERT_TRUE(plugin && vst2);
  for (int32_t i = 0; i < 18; ++i) {
    for (float n : {0.0f, 0.001f, 0.1f, 0.25f, 0.33f, 0.5f, 0.618f, 0.75f, 0.9f, 0.999f, 1.0f}) {
      vst2->SetParameter(i, n);
      const std::string expected = Vst2Text(*vst2, i);
      const auto text = plugin->ValueText(i, n);
      ASSERT_TRUE(text);
      EXPECT_EQ(*text, expected) << "parameter " << i << " at " << n;

      const auto parsed = plugin->ValueFromText(i, *text);
      ASSERT_TRUE(parsed) << "\"" << *text << "\" does not parse back";
      EXPECT_EQ(plugin->ValueText(i, *parsed), *text) << "parameter " << i;

      const double plain = plugin->ToPlain(i, n);
      EXPECT_EQ(plugin->ValueText(i, plugin->ToNormalized(i, plain)), *text) << "parameter " << i << " plain " << plain;
    }
  }
  EXPECT_EQ(plugin->ValueText(kBypass, 1.0), "on");
  EXPECT_EQ(plugin->ValueFromText(kBypass, "off"), 0.0);
  EXPECT_EQ(plugin->ToPlain(kProgram, ProgramValue(34)), 34.0);
  EXPECT_EQ(plugin->ToNormalized(kProgram, 34.0), static_cast<float>(ProgramValue(34)));
  EXPECT_FALSE(plugin->ValueFromText(1, "not a delay"));
  EXPECT_FALSE(plugin->ValueText(20, 0.5));
}

TEST(Vst3Controller, ListsTheVst2ProgramsForTheProgramParameter) {
  auto plugin = NewPlugin();
  auto vst2 = RunningVst2();
  ASSERT_TRUE(plugin && vst2);
  ASSERT_GE(plugin->UnitCount(), 1);
  const auto root = plugin->Unit(0);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->id, kRootUnitId);
  EXPECT_EQ(root->parentUnitId, kNoParentUnitId);
  EXPECT_EQ(plugin->Parameter(19)->unitId, root->id);  // hosts find the list through the parameter's unit
  ASSERT_EQ(plugin->ProgramListCount(), 1);
  const auto list = plugin->ProgramList(0);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->id, root->programListId);
  ASSERT_EQ(list->programCount, kNumPrograms);
  for (int32_t k = 0; k < kNumPrograms; ++k) {
    const std::string name = nimbohost::Cp1252ToUtf8(vst2->ProgramName(k));
    EXPECT_EQ(plugin->ProgramName(list->id, k), name) << k;
    EXPECT_EQ(plugin->ValueText(kProgram, ProgramValue(k)), name) << k;
    EXPECT_EQ(plugin->ValueFromText(kProgram, name), static_cast<float>(ProgramValue(k))) << name;
  }
  EXPECT_FALSE(plugin->ProgramName(list->id, kNumPrograms));
  for (int32_t u = 1; u < plugin->UnitCount(); ++u) EXPECT_EQ(plugin->Unit(u)->parentUnitId, kRootUnitId);
}

// Loading a program from the host's list sets the VST 2.x program's values
// and never calls the host back from inside setParamNormalized (a host that
// holds its processing lock there hangs); the next block tells the host.
TEST(Vst3Controller, ProgramChangeReachesTheHostWithoutRestart) {
  auto plugin = RunningPlugin();
  auto vst2 = RunningVst2();
  ASSERT_TRUE(plugin && vst2);
  for (int32_t program : {34, 0, 63, 21}) {
    plugin->Handler().ClearCalls();
    ASSERT_EQ(plugin->SetNormalized(kProgram, ProgramValue(program)), kResultOk);
    vst2->Dispatch(effSetProgram, 0, program);
    EXPECT_TRUE(plugin->Handler().Calls().empty()) << "the effect called the host during a program change";
    EXPECT_EQ(plugin->Normalized(kProgram), static_cast<float>(ProgramValue(program)));
    for (int32_t i = 0; i < 18; ++i)
      EXPECT_EQ(static_cast<float>(plugin->Normalized(i)), vst2->GetParameter(i)) << "program " << program << " " << i;

    nimbohost::cBusBuffers buffers(2, 2, 64);
    auto out = nimbohost::cParameterChanges::Make();
    nimbohost::sProcessCall call = buffers.Call(64);
    call.outputChanges = out.get();
    ASSERT_EQ(plugin->Process(call), kResultOk);
    int32_t reported = 0;
    for (int32_t q = 0; q < out->getParameterCount(); ++q) {
      IParamValueQueue* queue = out->getParameterData(q);
      int32 offset = 0;
      double value = -1.0;
      ASSERT_EQ(queue->getPoint(queue->getPointCount() - 1, offset, value), kResultOk);
      EXPECT_EQ(value, plugin->Normalized(queue->getParameterId())) << queue->getParameterId();
      reported += queue->getParameterId() < 18;
    }
    EXPECT_GT(reported, 0) << "the new program's values were not reported";
  }
}

// A controller update that arrives after newer automation was processed
// (hosts echo values late from their GUI thread) must not undo it.
TEST(Vst3Controller, LateEchoDoesNotUndoAutomation) {
  auto plugin = RunningPlugin();
  ASSERT_TRUE(plugin);
  nimbohost::cBusBuffers buffers(2, 2, 64);
  auto queues = nimbohost::cParameterChanges::Make();
  queues->Add(15, 10, 0.8f);
  nimbohost::sProcessCall call = buffers.Call(64);
  call.inputChanges = queues.get();
  ASSERT_EQ(plugin->Process(call), kResultOk);
  plugin->SetNormalized(15, 0.2);
  EXPECT_EQ(static_cast<float>(plugin->Normalized(15)), 0.8f);

  // Stopped, the controller is the only way in: values set there hold.
  plugin->SetProcessing(false);
  plugin->SetNormalized(15, 0.2);
  EXPECT_EQ(static_cast<float>(plugin->Normalized(15)), 0.2f);
}

}  // namespace
