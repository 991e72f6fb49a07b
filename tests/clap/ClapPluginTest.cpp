// The CLAP plugin as a CLAP host drives it, checked against the VST 2.x build:
// what it declares, its parameters and texts, presets, state, sound, bypass
// and tail.
#include <algorithm>
#include <cstring>
#include <set>

#include <zlib.h>

#include "ClapSupport.h"
#include "CountingAllocator.h"

using namespace claptest;
using nimbohost::sClapParamEvent;

namespace {


std::vector<double> AllValues(const nimbohost::cClapInstance& clap) {
  std::vector<double> values;
  for (clap_id id = 0; id <= kBypass; ++id) values.push_back(clap.Value(id).value_or(NAN));
  return values;
}

bool IsStepped(const clap_param_info_t& info) { return (info.flags & CLAP_PARAM_IS_STEPPED) != 0; }

}  // namespace

TEST(ClapPlugin, EntryFactoryDescriptorAndPorts) {
  ASSERT_TRUE(Clap().IsLoaded()) << Clap().Error();
  const clap_plugin_factory_t* factory = Clap().PluginFactory();
  ASSERT_NE(factory, nullptr);
  ASSERT_EQ(factory->get_plugin_count(factory), 1u);
  const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->id, kPluginId);
  EXPECT_STREQ(d->name, "Nimbohall");
  EXPECT_STREQ(d->vendor, "Brannoch");
  EXPECT_TRUE(d->version && *d->version);
  std::set<std::string> features;
  for (const char* const* f = d->features; *f; ++f) features.insert(*f);
  EXPECT_EQ(features, (std::set<std::string>{"audio-effect", "reverb", "stereo"}));

  std::string error;
  EXPECT_FALSE(nimbohost::cClapInstance::Create(Clap(), "com.brannoch.other", &error));
  auto clap = NewClap();
  ASSERT_TRUE(clap);
  EXPECT_TRUE(clap->Params() && clap->State() && clap->Tail() && clap->PresetLoad() && clap->Latency());
  const clap_plugin_t* p = clap->Plugin();
  EXPECT_EQ(p->get_extension(p, "clap.preset-load.draft/2"), p->get_extension(p, "clap.preset-load/2"));
  EXPECT_EQ(clap->Latency()->get(p), 0u);
  for (bool input : {true, false}) {
    ASSERT_EQ(clap->AudioPorts()->count(p, input), 1u);
    clap_audio_port_info_t info{};
    ASSERT_TRUE(clap->AudioPorts()->get(p, 0, input, &info));
    EXPECT_EQ(info.channel_count, 2u);
    EXPECT_STREQ(info.port_type, CLAP_PORT_STEREO);
    EXPECT_TRUE(info.flags & CLAP_AUDIO_PORT_IS_MAIN);
    EXPECT_FALSE(info.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS);
    EXPECT_FALSE(clap->AudioPorts()->get(p, 1, input, &info));
  }
}

// IDs are the VST 2.x indices; names, groups and integer ranges are the VST 2.x ones.
TEST(ClapPlugin, ParametersAreTheVst2Parameters) {
  auto clap = NewClap();
  auto vst2 = NewVst2();
  ASSERT_TRUE(clap && vst2);
  const std::vector<clap_param_info_t> infos = clap->ParamInfos();
  ASSERT_EQ(infos.size(), 19u);
  for (clap_id i = 0; i < 18; ++i) {
    const clap_param_info_t& info = infos[i];
    VstParameterProperties props{};
    ASSERT_EQ(vst2->Dispatch(effGetParameterProperties, static_cast<int32_t>(i), 0, &props), 1);
    EXPECT_EQ(info.id, i);
    EXPECT_EQ(info.name, nimbohost::Cp1252ToUtf8(std::string(props.label, strnlen(props.label, 64))));
    EXPECT_EQ(info.module, nimbohost::Cp1252ToUtf8(std::string(props.categoryLabel, strnlen(props.categoryLabel, 24))));
    EXPECT_TRUE(info.flags & CLAP_PARAM_IS_AUTOMATABLE);
    EXPECT_FALSE(info.flags & CLAP_PARAM_IS_BYPASS);
    const bool integer = props.flags & kVstParameterUsesIntegerMinMax;
    EXPECT_EQ(IsStepped(info), integer) << info.name;
    EXPECT_EQ(info.min_value, integer ? props.minInteger : 0.0) << info.name;
    EXPECT_EQ(info.max_value, integer ? props.maxInteger : 1.0) << info.name;
    // A new instance reports its defaults.
    EXPECT_EQ(clap->Value(i).value(), info.default_value) << info.name;
  }
  EXPECT_EQ(infos[18].id, kBypass);
  EXPECT_EQ(infos[18].flags & (CLAP_PARAM_IS_BYPASS | CLAP_PARAM_IS_STEPPED),
            static_cast<uint32_t>(CLAP_PARAM_IS_BYPASS | CLAP_PARAM_IS_STEPPED));
  clap_param_info_t info{};
  EXPECT_FALSE(clap->Params()->get_info(clap->Plugin(), 19, &info));
  EXPECT_FALSE(clap->Value(19));
}

// Every parameter at telling values shows what a VST 2.x host shows, and the
// text reads back to a value with the same text.
TEST(ClapPlugin, TextsAreTheVst2TextsAndReadBack) {
  auto clap = NewClap();
  auto vst2 = NewVst2();
  ASSERT_TRUE(clap && vst2);
  const std::vector<clap_param_info_t> infos = clap->ParamInfos();
  for (clap_id id = 0; id < 18; ++id) {
    const auto index = static_cast<int32_t>(id);
    std::vector<std::pair<float, double>> probes;  // VST 2.x value, CLAP value
    if (IsStepped(infos[id])) {
      const double count = infos[id].max_value - infos[id].min_value + 1;
      for (double k = infos[id].min_value; k <= infos[id].max_value; ++k)
        probes.push_back({static_cast<float>((k - infos[id].min_value + 0.5) / count), k});
    } else {
      for (float n : {0.0f, 1e-4f, 0.01f, 0.1f, 0.25f, 0.3333f, 0.5f, 0.75f, 0.9f, 0.999f, 1.0f}) probes.push_back({n, n});
    }
    for (const auto& [n, value] : probes) {
      vst2->SetParameter(index, n);
      const std::string expected = Vst2Text(*vst2, index);
      const std::optional<std::string> text = clap->ValueText(id, value);
      ASSERT_TRUE(text);
      EXPECT_EQ(*text, expected) << infos[id].name << " at " << value;
      const std::optional<double> back = clap->TextValue(id, *text);
      ASSERT_TRUE(back) << infos[id].name << ": \"" << *text << "\" not read back";
      EXPECT_EQ(clap->ValueText(id, *back), *text) << infos[id].name;
    }
  }
  // What people type: units, SI prefixes, decimal commas, names, "off".
  const struct {
    clap_id id;
    const char* typed;
    const char* shown;
  } typed[] = {
      {1, "25ms", "25.00 ms"},    {1, "0.025", "25.00 ms"},      {1, "25 ms", "25.00 ms"},  {1, "2 µs", "2.000 µs"},
      {1, "2us", "2.000 µs"},     {2, "off", "off"},             {2, "16 × base", "16.00 × base"},
      {2, "16x", "16.00 × base"}, {3, "0,5", "0.50"},            {5, "90 deg", "90.00 °"},   {0, "Room2", "room2"},
      {4, "block1", "block1"},    {16, "on", "on"},              {15, "40 %", "40 %"},       {15, "500", "200 %"},
      {11, "off", "off"},         {9, "1.5 s", "1.500 s"},       {3, "0", "0.00"},           {2, "0", "0.10 × base"},
  };
  for (const auto& t : typed) {
    const std::optional<double> v = clap->TextValue(t.id, t.typed);
    ASSERT_TRUE(v) << t.typed;
    EXPECT_EQ(clap->ValueText(t.id, *v), t.shown) << t.typed;
  }
  for (const auto& [id, bad] : {std::pair<clap_id, const char*>{1, "fast"}, {1, "25 kg"}, {2, "1.5 m"},
                                {0, "cube"}, {15, ""}, {15, "nan"}, {15, "1e999"}, {40, "1"}})
    EXPECT_FALSE(clap->TextValue(id, bad)) << bad;
  EXPECT_EQ(clap->ValueText(kBypass, 1.0), "on");
  EXPECT_EQ(clap->TextValue(kBypass, "off"), 0.0);
}

// The discovery factory lists the 64 programs; loading one sets exactly the
// values the VST 2.x build has after switching to that program.
TEST(ClapPlugin, PresetsAreTheVst2Programs) {
  const auto presets = nimbohost::DiscoverClapPresets(Clap());
  ASSERT_TRUE(presets);
  ASSERT_EQ(presets->size(), 64u);
  auto clap = NewClap();
  auto vst2 = NewVst2();
  ASSERT_TRUE(clap && vst2);
  const std::vector<clap_param_info_t> infos = clap->ParamInfos();
  for (int32_t program = 0; program < 64; ++program) {
    const nimbohost::sClapPreset& preset = (*presets)[static_cast<size_t>(program)];
    EXPECT_EQ(preset.name, nimbohost::Cp1252ToUtf8(vst2->ProgramName(program)));
    EXPECT_EQ(preset.pluginIds, std::vector<std::string>{std::string("clap:") + kPluginId});
    EXPECT_TRUE(preset.flags & CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT);
    // Edits made before loading must not survive it.
    clap->Flush({{0, 15, 0.123}, {0, 0, 3.0}});
    ASSERT_TRUE(clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr,
                                                  preset.loadKey.c_str()));
    vst2->Dispatch(effSetProgram, 0, program);
    for (clap_id id = 0; id < 16; ++id) {
      if (IsStepped(infos[id]))
        EXPECT_EQ(clap->ValueText(id, clap->Value(id).value()), Vst2Text(*vst2, static_cast<int32_t>(id)));
      else
        EXPECT_EQ(clap->Value(id).value(), vst2->GetParameter(static_cast<int32_t>(id))) << preset.name << " " << id;
    }
  }
  EXPECT_EQ(clap->PresetsLoaded(), 64);
  EXPECT_GE(clap->Rescans(), 64);
  for (const char* key : {"64", "-1", "", "1x", "0x1"})
    EXPECT_FALSE(clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, key));
  EXPECT_FALSE(clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_FILE, "/tmp/x", "1"));
  EXPECT_EQ(clap->PresetErrors(), 6);
}

namespace {

// A state changed at one place, with a checksum that fits again.
std::vector<uint8_t> Forged(std::vector<uint8_t> state, size_t at, const void* bytes, size_t size) {
  std::memcpy(state.data() + at, bytes, size);
  // zlib's CRC-32 is the IEEE one the state format names.
  const auto crc = static_cast<uint32_t>(crc32(0L, state.data(), static_cast<uInt>(state.size() - 4)));
  std::memcpy(state.data() + state.size() - 4, &crc, 4);
  return state;
}

}  // namespace

// Saved settings come back exactly, through streams that move a byte or a few
// at a time; anything else is refused and leaves the settings as they were.
TEST(ClapPlugin, StateRoundTripsAndRefusesBadData) {
  auto original = NewClap();
  ASSERT_TRUE(original);
  ASSERT_TRUE(original->PresetLoad()->from_location(original->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN,
                                                      nullptr, "6"));  // stores "Damping" 5, beyond its range
  original->Flush({{0, 1, 0.4321}, {0, 13, 0.77}, {0, 4, 5.0}, {0, 17, 1.0}, {0, kBypass, 1.0}});
  const auto saved = original->SaveState(3);
  ASSERT_TRUE(saved);

  auto restored = NewClap();
  ASSERT_TRUE(restored);
  const int rescans = restored->Rescans();
  ASSERT_TRUE(restored->LoadState(*saved, 1));
  EXPECT_EQ(restored->Rescans(), rescans + 1);
  EXPECT_EQ(AllValues(*restored), AllValues(*original));
  EXPECT_EQ(restored->SaveState(), saved);

  const std::vector<double> before = AllValues(*restored);
  std::vector<std::vector<uint8_t>> bad = {
      {},
      std::vector<uint8_t>(saved->begin(), saved->end() - 1),
      std::vector<uint8_t>(saved->begin(), saved->begin() + 40),
      std::vector<uint8_t>(saved->size(), 0),
  };
  bad.push_back(*saved);
  bad.back().push_back(0);  // trailing data
  for (size_t at : {0ul, 5ul, 13ul, 30ul, 70ul, 100ul, 166ul}) {
    bad.push_back(*saved);
    bad.back()[at] ^= 0x10;  // corrupt: the checksum no longer fits
  }
  const uint32_t version = 2, program = 64, flags = 2;
  const float damping = 7.0f, geometry = 2.5f, inf = INFINITY;
  bad.push_back(Forged(*saved, 4, &version, 4));
  bad.push_back(Forged(*saved, 12, &program, 4));
  bad.push_back(Forged(*saved, 16, &flags, 4));
  bad.push_back(Forged(*saved, 20 + 4 * 3, &damping, 4));
  bad.push_back(Forged(*saved, 20 + 4 * 0, &geometry, 4));
  bad.push_back(Forged(*saved, 20 + 4 * 15, &inf, 4));
  bad.push_back(Forged(*saved, 92 + 4 * 2, &geometry, 4));  // a host value above 1
  bad.push_back(Forged(*saved, 0, "VST2", 4));  // foreign
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_FALSE(restored->LoadState(bad[i], 7)) << "blob " << i;
    EXPECT_EQ(AllValues(*restored), before) << "blob " << i;
  }
  EXPECT_EQ(restored->Rescans(), rescans + 1);
}
