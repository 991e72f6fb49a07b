// The program bank as a host sees it: the 64 names, switching with its
// save/load semantics, and renaming.
#include "HostSupport.h"

using namespace shelltest;

namespace {

struct sExpectedProgram {
  const char* name;  // Windows-1252
  const char* geometry;
  const char* plane;
};

// clang-format off
const sExpectedProgram kBank[64] = {
    {"Temple of the Ancestors", "room2", "dense1"},
    {"Open Stage in the Woods", "dense1", "dense1"},
    {"U-Boat Club Party", "hallway", "dense1"},
    {"Cardio Fitness", "sparse1", "dense1"},
    {"Very Small Dorm Room", "room1", "dense1"},
    {"Biohazard Container", "drum", "dense2"},
    {"It is Spring", "box2", "sparse2"},
    {"Oversized Shoe Box", "sphere", "dense2"},
    {"Moooooooooh!", "drum", "dense2"},
    {"Glass Dish (fragile)", "detuned", "dense1"},
    {"Trance I", "dense2", "dense1"},
    {"Trance II", "dense2", "dense1"},
    {"Airplaaaine", "box1", "dense1"},
    {"Stereo Airplaaaine", "box1", "dense1"},
    {"Laurel & Hardy", "fifths", "block1"},
    {"Howling Spirits", "box1", "block1"},
    {"Instant Honk", "box1", "dense1"},
    {"PWM-alyzer", "sphere", "dense1"},
    {"Rotating Speakers", "sphere", "dense2"},
    {"A very Battered Tape", "sphere", "dense1"},
    {"Auto Scratcher", "sphere", "dense1"},
    {"Chaos Scratcher", "octaves", "dense1"},
    {"Bass fatten I", "box2", "block2"},
    {"Bass fatten II", "box2", "block2"},
    {"Bass fatten III", "box2", "block2"},
    {"Tube Warmth", "sphere", "dense1"},
    {"Tube Presence", "sphere", "sparse1"},
    {"Tube Scream", "sphere", "block2"},
    {"Maximum Overdrive", "sphere", "dense1"},
    {"Psychotic Padded Room", "box2", "sparse2"},
    {"Washing Program (60\xB0)", "box2", "sparse1"},
    {"Washing Program (95\xB0)", "harmonic", "sparse2"},
    {"Major Glitch", "sphere", "dense1"},
    {"Drum room XS", "room2", "dense2"},
    {"Drum room S", "room2", "dense2"},
    {"Drum room M+mod", "room2", "dense2"},
    {"Drum room L+mod+sat", "room2", "dense2"},
    {"Keys insert XS", "sparse1", "dense1"},
    {"Keys insert S", "sparse1", "dense1"},
    {"Keys insert M+mod", "sparse1", "dense1"},
    {"Keys insert L+mod", "sparse1", "dense1"},
    {"Voice insert S+mod", "dense1", "dense1"},
    {"Voice insert L+mod", "dense1", "dense1"},
    {"Slapback insert S", "box2", "dense1"},
    {"Slapback insert L", "dense1", "dense1"},
    {"Straight Echo", "sphere", "dense1"},
    {"Stereo Echo", "fifths", "dense1"},
    {"Rotating Echo", "sphere", "block2"},
    {"Dispersing Echo", "box1", "dense1"},
    {"Laser Echo", "detuned", "dense1"},
    {"Early reflections I", "dense1", "dense1"},
    {"Early reflections II", "dense2", "dense1"},
    {"Early reflections III", "sparse1", "block1"},
    {"Early reflections IV", "sparse2", "block1"},
    {"E major -10c (Hymn)", "major", "dense1"},
    {"LPF (change inv)", "sphere", "block1"},
    {"HPF (change inv)", "sphere", "block1"},
    {"Auto wah-wah", "sphere", "block1"},
    {"DC notch (sharp)", "sphere", "block2"},
    {"DC notch (flat)", "sphere", "dense1"},
    {"L/R --> M/S", "sphere", "dense1"},
    {"M/S --> L/R", "sphere", "dense1"},
    {"Inverter", "sphere", "dense1"},
    {"Init", "sphere", "dense1"},
};
// clang-format on

constexpr int32_t kGeometry = 0, kDamping = 3, kFbPlane = 4, kDryMix = 14, kWetMix = 15, kHold = 16, kKeepTail = 17;

}  // namespace

TEST(Programs, AllSixtyFourNamesByteForByte) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  EXPECT_EQ(fx->Dispatch(effGetProgram), 0);
  EXPECT_EQ(fx->CurrentProgramName(), kBank[0].name);
  for (int32_t i = 0; i < 64; ++i) {
    SCOPED_TRACE(i);
    // 25 bytes are written: the name, NUL padding up to 24 bytes and a NUL at [24].
    sMarkedBuffer buffer(64);
    EXPECT_EQ(fx->Dispatch(effGetProgramNameIndexed, i, 3, buffer.data()), 1);
    const std::string written(buffer.data(), 25);
    std::string expected = kBank[i].name;
    expected.resize(25, '\0');
    EXPECT_EQ(written, expected);
    EXPECT_TRUE(buffer.Untouched(25));
  }
  for (int32_t index : {64, -1, INT32_MAX}) {
    sMarkedBuffer buffer(64);
    EXPECT_EQ(fx->Dispatch(effGetProgramNameIndexed, index, 0, buffer.data()), 0);
    EXPECT_TRUE(buffer.Untouched());
  }
}

TEST(Programs, SwitchingLoadsEachProgram) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  for (int32_t i = 63; i >= 0; --i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(fx->Dispatch(effSetProgram, 0, i), 0);
    EXPECT_EQ(fx->Dispatch(effGetProgram), i);
    EXPECT_EQ(fx->CurrentProgramName(), kBank[i].name);
    EXPECT_EQ(fx->ParameterDisplay(kGeometry), kBank[i].geometry);
    EXPECT_EQ(fx->ParameterDisplay(kFbPlane), kBank[i].plane);
  }
}

TEST(Programs, InitIsNeutral) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  fx->Dispatch(effSetProgram, 0, 63);
  const std::pair<int32_t, const char*> texts[] = {{0, "sphere"}, {1, "  1.000"}, {2, "off"},  {3, "off"},
                                                   {4, "dense1"}, {5, "0.00"},    {6, "0.00"}, {7, "0.00"},
                                                   {8, "off"},    {9, "  1.000"}, {10, "0"},   {11, "off"},
                                                   {12, "0"},     {13, "0"},      {14, "100"}, {15, "0"}};
  for (const auto& [index, text] : texts) EXPECT_EQ(fx->ParameterDisplay(index), text) << index;
  EXPECT_EQ(fx->ParameterLabel(1), "ms");
  EXPECT_EQ(fx->ParameterLabel(9), "s");
}

TEST(Programs, ASwitchStoresTheOutgoingEdits) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  fx->SetParameter(kWetMix, 0.5f);  // 50 %
  EXPECT_EQ(fx->ProgramName(0), kBank[0].name);
  fx->Dispatch(effSetProgram, 0, 5);
  EXPECT_EQ(fx->ParameterDisplay(kWetMix), "35");  // program 5's own value, untouched by the edit
  fx->SetParameter(kDryMix, 1.0f);
  fx->Dispatch(effSetProgram, 0, 0);
  EXPECT_EQ(fx->ParameterDisplay(kWetMix), "50");
  EXPECT_EQ(fx->GetParameter(kWetMix), 0.5f);
  fx->Dispatch(effSetProgram, 0, 5);
  EXPECT_EQ(fx->ParameterDisplay(kDryMix), "200");
}

TEST(Programs, SwitchesAreNotPartOfAProgram) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  fx->SetParameter(kHold, 1.0f);
  fx->SetParameter(kKeepTail, 1.0f);
  fx->Dispatch(effSetProgram, 0, 12);
  fx->Dispatch(effSetProgram, 0, 40);
  EXPECT_EQ(fx->ParameterDisplay(kHold), "on");
  EXPECT_EQ(fx->ParameterDisplay(kKeepTail), "on");
  EXPECT_EQ(fx->GetParameter(kHold), 0.75f);
}

TEST(Programs, AStoredValueAboveTheRangeIsKept) {
  // "It is Spring" stores Damping 5 against a maximum of 1.
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  fx->Dispatch(effSetProgram, 0, 6);
  EXPECT_EQ(fx->GetParameter(kDamping), 1.0f);
  EXPECT_EQ(fx->ParameterDisplay(kDamping), "5.00");
  fx->Dispatch(effSetProgram, 0, 7);
  fx->Dispatch(effSetProgram, 0, 6);
  EXPECT_EQ(fx->ParameterDisplay(kDamping), "5.00");  // and stays so through a switch
  fx->SetParameter(kDamping, 1.0f);
  EXPECT_EQ(fx->ParameterDisplay(kDamping), "1.00");
}

TEST(Programs, RenamingKeepsTwentyFourCharactersInBothRecords) {
  auto fx = NewEffect();
  ASSERT_TRUE(fx);
  fx->Dispatch(effSetProgram, 0, 3);
  std::string name = "A name of thirty characters..";
  name += "!";
  ASSERT_EQ(name.size(), 30u);
  EXPECT_EQ(fx->Dispatch(effSetProgramName, 0, 0, name.data()), 0);
  EXPECT_EQ(fx->CurrentProgramName(), name.substr(0, 24));
  EXPECT_EQ(fx->ProgramName(3), name.substr(0, 24));
  sMarkedBuffer buffer(64);
  fx->Dispatch(effGetProgramName, 0, 0, buffer.data());
  EXPECT_EQ(buffer.bytes[24], '\0');
  EXPECT_TRUE(buffer.Untouched(25));

  // The name lives in the slot: it survives switching away and back.
  fx->Dispatch(effSetProgram, 0, 4);
  EXPECT_EQ(fx->ProgramName(3), name.substr(0, 24));
  EXPECT_EQ(fx->CurrentProgramName(), kBank[4].name);
  fx->Dispatch(effSetProgram, 0, 3);
  EXPECT_EQ(fx->CurrentProgramName(), name.substr(0, 24));

  // A shorter name leaves nothing of the longer one behind.
  char shorter[] = "Hall";
  fx->Dispatch(effSetProgramName, 0, 0, shorter);
  sMarkedBuffer padded(64);
  fx->Dispatch(effGetProgramNameIndexed, 3, 0, padded.data());
  EXPECT_EQ(std::string(padded.data(), 25), std::string("Hall") + std::string(21, '\0'));
  EXPECT_EQ(fx->ProgramName(2), kBank[2].name);
}
