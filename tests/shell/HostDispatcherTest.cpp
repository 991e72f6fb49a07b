// Every dispatcher request as a host makes it: fixed answers, unknown opcodes,
// capabilities, identity strings, parameter properties and null pointers.
#include <algorithm>
#include <climits>
#include <set>

#include "HostSupport.h"

using namespace shelltest;

namespace {

const std::set<int32_t> kHandled = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 11, 12, 13, 14, 15, 22, 25, 26,
                                    27, 29, 33, 34, 35, 45, 47, 48, 49, 51, 56, 58, 63, 77};
}  // namespace

TEST(Dispatcher, FixedAnswers) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  struct {
    int32_t opcode, index;
    intptr_t value, answer;
  } const rows[] = {
      {effOpen, 0, 0, 0},
      {effGetProgram, 0, 0, 0},
      {effSetSampleRate, 0, 0, 0},
      {effSetBlockSize, 0, 64, 0},
      {effMainsChanged, 0, 1, 0},
      {effEditGetRect, 0, 0, 0},
      {effEditOpen, 0, 0, 0},
      {effEditClose, 0, 0, 0},
      {effIdentify, 0, 0, 0x4E764566},
      {effCanBeAutomated, 0, 0, 1},
      {effCanBeAutomated, 17, 0, 1},
      {effCanBeAutomated, 18, 0, 1},
      {effCanBeAutomated, -1, 0, 1},
      {effGetPlugCategory, 0, 0, 6},
      {effGetVendorVersion, 0, 0, 410},
      {effGetVstVersion, 0, 0, 2400},
      {effGetCurrentMidiProgram, 0, 0, -1},
      {effSetProcessPrecision, 0, 0, 1},
      {effSetProcessPrecision, 0, 1, 0},
  };
  for (const auto& r : rows)
    EXPECT_EQ(fx->Dispatch(r.opcode, r.index, r.value), r.answer) << "opcode " << r.opcode << " index " << r.index;

  // The reverb converts no text and describes no pins.
  char text[] = "0.5";
  EXPECT_EQ(fx->Dispatch(effString2Parameter, 0, 0, text), 0);
  for (int32_t op : {effGetInputProperties, effGetOutputProperties}) {
    sMarkedBuffer pin(sizeof(VstPinProperties));
    EXPECT_EQ(fx->Dispatch(op, 0, 0, pin.data()), 0);
    EXPECT_TRUE(pin.Untouched());
  }
}

TEST(Dispatcher, OpcodesOutsideTheTableAnswerZeroAndDoNothing) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  std::vector<int32_t> opcodes = {INT32_MIN, -1, INT32_MAX, 1000};
  for (int32_t op = 0; op <= 120; ++op)
    if (!kHandled.count(op)) opcodes.push_back(op);
  for (int32_t op : opcodes) {
    sMarkedBuffer buffer(512);
    EXPECT_EQ(fx->Dispatch(op, 0, 1, buffer.data(), 44100.0f), 0) << op;
    EXPECT_TRUE(buffer.Untouched()) << op;
  }
  EXPECT_EQ(fx->Dispatch(effGetProgram), 0);
  EXPECT_EQ(fx->CurrentProgramName(), "Temple of the Ancestors");
}

TEST(Dispatcher, CanDoAnswersFromTheTableExactly) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  const std::pair<const char*, intptr_t> table[] = {
      {"sendVstEvents", -1},       {"sendVstMidiEvent", -1},      {"sendVstTimeInfo", -1},
      {"receiveVstEvents", -1},    {"receiveVstMidiEvent", -1},   {"receiveVstTimeInfo", -1},
      {"offline", -1},             {"plugAsChannelInsert", 1},    {"plugAsSend", 1},
      {"mixDryWet", 1},            {"noRealTime", -1},            {"multipass", 0},
      {"metapass", 0},             {"1in1out", -1},               {"1in2out", -1},
      {"2in1out", -1},             {"2in2out", 1},                {"2in4out", -1},
      {"4in2out", -1},             {"4in4out", -1},               {"4in8out", -1},
      {"8in4out", -1},             {"8in8out", -1},               {"midiProgramNames", -1},
      {"bypass", -1},              {"conformsToWindowRules", 0},  {"LiveWithoutToolbar", 0},
      {"hasCockosExtensions", 0},
      // Not in the table: case, prefixes and suffixes do not match.
      {"2IN2OUT", 0}, {"Bypass", 0}, {"2in2out ", 0}, {"2in2", 0}, {"plugAsSendX", 0}, {"", 0}, {"sidechain", 0},
  };
  for (const auto& [text, answer] : table) {
    std::string copy = text;
    EXPECT_EQ(fx->Dispatch(effCanDo, 0, 0, copy.data()), answer) << '"' << text << '"';
  }
}

TEST(Dispatcher, IdentityStringsFitTheirBuffersExactly) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  struct {
    int32_t opcode;
    size_t size;  // the buffer the interface names, NUL included
    const char* text;
  } const rows[] = {{effGetEffectName, 33, "Nimbohall 0.4a"},
                    {effGetVendorString, 65, "Brannoch"},
                    {effGetProductString, 65, "Nimbohall FDN Processor 0.4a"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    sMarkedBuffer buffer(r.size + 16);
    EXPECT_EQ(fx->Dispatch(r.opcode, 0, 0, buffer.data()), 1);
    EXPECT_STREQ(buffer.data(), r.text);
    EXPECT_EQ(buffer.bytes[r.size - 1], '\0');
    EXPECT_TRUE(buffer.Untouched(r.size));
  }
}

TEST(Dispatcher, ParameterPropertiesOfAllEighteen) {
  struct sExpected {
    const char* shortLabel;
    const char* label;
    int32_t flags, minInteger, maxInteger;
    int16_t displayIndex, category, categorySize;
    const char* categoryLabel;
  };
  const sExpected table[] = {
      {"Geometry", "Geometry", 50, 0, 16, 0, 1, 4, "Delay Body"},
      {"Base dly", "Base delay time", 48, 0, 0, 1, 1, 4, "Delay Body"},
      {"Halflife", "Half life", 48, 0, 0, 2, 1, 4, "Delay Body"},
      {"Damping", "Damping", 48, 0, 0, 3, 1, 4, "Delay Body"},
      {"FB plane", "Feedback rotation plane", 50, 0, 5, 0, 2, 4, "Feedback"},
      {"FB rot 1", "Feedback rotation angle 1", 48, 0, 0, 1, 2, 4, "Feedback"},
      {"FB rot 2", "Feedback rotation angle 2", 48, 0, 0, 2, 2, 4, "Feedback"},
      {"FB inv", "Feedback inverter", 48, 0, 0, 3, 2, 4, "Feedback"},
      {"Mod dep", "Modulation depth", 48, 0, 0, 0, 3, 4, "Non-Linear"},
      {"Mod per", "Modulation period", 48, 0, 0, 1, 3, 4, "Non-Linear"},
      {"Mod spr", "Modulation spread", 48, 0, 0, 2, 3, 4, "Non-Linear"},
      {"Amp drv", "Amp saturation drive", 48, 0, 0, 3, 3, 4, "Non-Linear"},
      {"In dir", "Input rotation", 48, 0, 0, 0, 4, 4, "Input/Output"},
      {"Out dir", "Output rotation", 48, 0, 0, 1, 4, 4, "Input/Output"},
      {"Dry mix", "Dry mix", 48, 0, 0, 2, 4, 4, "Input/Output"},
      {"Wet mix", "Wet mix", 48, 0, 0, 3, 4, 4, "Input/Output"},
      {"Hold", "Hold", 51, 0, 1, 0, 5, 2, "Meta controls"},
      {"Dr. Who", "Dr. Who", 51, 0, 1, 1, 5, 2, "Meta controls"},
  };
  // Text fields are NUL-padded and not terminated when the text fills them.
  auto field = [](const char* text, size_t size) {
    std::string f(text, std::min(std::strlen(text), size));
    f.resize(size, '\0');
    return f;
  };

  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  for (int32_t i = 0; i < 18; ++i) {
    SCOPED_TRACE(i);
    const sExpected& x = table[i];
    sMarkedBuffer buffer(sizeof(VstParameterProperties));
    ASSERT_EQ(fx->Dispatch(effGetParameterProperties, i, 0, buffer.data()), 1);
    VstParameterProperties p;
    std::memcpy(&p, buffer.data(), sizeof p);
    EXPECT_EQ(p.flags, x.flags);
    EXPECT_EQ(p.minInteger, x.minInteger);
    EXPECT_EQ(p.maxInteger, x.maxInteger);
    EXPECT_EQ(std::string(p.shortLabel, sizeof p.shortLabel), field(x.shortLabel, sizeof p.shortLabel));
    EXPECT_EQ(std::string(p.label, sizeof p.label), field(x.label, sizeof p.label));
    EXPECT_EQ(p.displayIndex, x.displayIndex);
    EXPECT_EQ(p.category, x.category);
    EXPECT_EQ(p.numParametersInCategory, x.categorySize);
    EXPECT_EQ(std::string(p.categoryLabel, sizeof p.categoryLabel), field(x.categoryLabel, sizeof p.categoryLabel));
    // Everything else is zero, the marker bytes included.
    EXPECT_EQ(p.stepFloat, 0.0f);
    EXPECT_EQ(p.smallStepFloat, 0.0f);
    EXPECT_EQ(p.largeStepFloat, 0.0f);
    EXPECT_EQ(p.stepInteger, 0);
    EXPECT_EQ(p.largeStepInteger, 0);
    EXPECT_EQ(p.reserved, 0);
    EXPECT_TRUE(std::all_of(std::begin(p.future), std::end(p.future), [](char c) { return c == 0; }));
  }

  for (int32_t index : {18, -1}) {
    sMarkedBuffer buffer(sizeof(VstParameterProperties));
    EXPECT_EQ(fx->Dispatch(effGetParameterProperties, index, 0, buffer.data()), 0);
    EXPECT_TRUE(buffer.Untouched());
  }
}

TEST(Dispatcher, ParameterTextRequestsOutOfRangeWriteNothing) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  for (int32_t op : {effGetParamLabel, effGetParamDisplay, effGetParamName})
    for (int32_t index : {18, -1, INT32_MIN}) {
      sMarkedBuffer buffer(64);
      EXPECT_EQ(fx->Dispatch(op, index, 0, buffer.data()), 0);
      EXPECT_TRUE(buffer.Untouched()) << op << " " << index;
    }
}

TEST(Dispatcher, NullPointersAnswerZero) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  fx->Start(44100.0f, 64);
  for (int32_t op : {effSetProgramName, effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName,
                     effProcessEvents, effString2Parameter, effGetProgramNameIndexed, effGetInputProperties,
                     effGetOutputProperties, effGetEffectName, effGetVendorString, effGetProductString, effCanDo,
                     effGetParameterProperties})
    EXPECT_EQ(fx->Dispatch(op, 0, 0, nullptr), 0) << op;
  EXPECT_EQ(fx->CurrentProgramName(), "Temple of the Ancestors");
  EXPECT_EQ(fx->ProgramName(0), "Temple of the Ancestors");
}

TEST(Dispatcher, OpenRunsOnce) {
  // Open switches "Hold" off; a second effOpen must not do it again.
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  constexpr int32_t kHold = 16;
  fx->SetParameter(kHold, 1.0f);
  EXPECT_EQ(fx->Dispatch(effOpen), 0);
  EXPECT_EQ(fx->ParameterDisplay(kHold), "off");
  fx->SetParameter(kHold, 1.0f);
  EXPECT_EQ(fx->Dispatch(effOpen), 0);
  EXPECT_EQ(fx->ParameterDisplay(kHold), "on");
  EXPECT_EQ(fx->GetParameter(kHold), 0.75f);
}

TEST(Dispatcher, SetProgramIgnoresTheCurrentAndOutOfRangeNumbers) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  constexpr int32_t kBaseDelay = 1;
  fx->SetParameter(kBaseDelay, 0.3f);
  for (intptr_t value : {intptr_t{0}, intptr_t{-1}, intptr_t{64}, intptr_t{INT32_MAX}}) {
    EXPECT_EQ(fx->Dispatch(effSetProgram, 0, value), 0);
    EXPECT_EQ(fx->Dispatch(effGetProgram), 0) << value;
    EXPECT_EQ(fx->GetParameter(kBaseDelay), 0.3f) << value;  // not reloaded from the program
  }
  EXPECT_EQ(fx->Dispatch(effSetProgram, 0, 63), 0);
  EXPECT_EQ(fx->Dispatch(effGetProgram), 63);
  EXPECT_EQ(fx->CurrentProgramName(), "Init");
}

TEST(Dispatcher, ProcessEventsAnswers) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  fx->Start(44100.0f, 64);

  sEventList two(2);
  EXPECT_EQ(fx->Dispatch(effProcessEvents, 0, 0, two.list()), 1);
  EXPECT_EQ(fx->Dispatch(effProcessEvents, 0, 0, nullptr), 0);

  sEventList withHole(3);
  withHole.storage[3] = 0;  // the second pointer is null: skipped, and the answer says so
  EXPECT_EQ(fx->Dispatch(effProcessEvents, 0, 0, withHole.list()), 0);

  // The queue holds 1024 events; what does not fit is dropped until a block drains it.
  sStereoBlock block(64);
  fx->ProcessReplacing(block.in, block.out, 64);
  sEventList full(1024);
  EXPECT_EQ(fx->Dispatch(effProcessEvents, 0, 0, full.list()), 1);
  sEventList one(1);
  EXPECT_EQ(fx->Dispatch(effProcessEvents, 0, 0, one.list()), 0);
  fx->ProcessReplacing(block.in, block.out, 64);
  EXPECT_EQ(fx->Dispatch(effProcessEvents, 0, 0, one.list()), 1);
}
