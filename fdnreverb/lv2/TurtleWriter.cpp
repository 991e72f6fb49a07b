// Writes the bundle's Turtle from the core's parameter table and program bank,
// so that the metadata cannot drift from the code:
//
//   nimbohall_lv2_turtle BUNDLE_DIR LIBRARY_FILE_NAME [UI_LIBRARY_FILE_NAME]
//
// writes manifest.ttl, nimbohall.ttl and presets/program-NN.ttl; with the
// editor's library, they describe the editor too. Numbers are
// decimals (Turtle xsd:decimal, which lilv hands to hosts as floats; Ardour
// applies nothing else from a preset) with the fewest digits that read back
// to the same float. Texts are UTF-8.
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/port-groups/port-groups.h>
#include <lv2/port-props/port-props.h>
#include <lv2/presets/presets.h>
#include <lv2/ui/ui.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "../../nimbolib/TextEncoding.h"
#include "../cReverbCore.h"
#include "Lv2Ports.h"

namespace {

using namespace nimbolv2;
using namespace nimbo;
namespace fs = std::filesystem;

constexpr const char* kPrefixes =
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2: <" LV2_CORE_PREFIX "> .\n"
    "@prefix pg: <" LV2_PORT_GROUPS_PREFIX "> .\n"
    "@prefix pprops: <" LV2_PORT_PROPS_PREFIX "> .\n"
    "@prefix pset: <" LV2_PRESETS_PREFIX "> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <" LV2_UNITS_PREFIX "> .\n";
// Only where the editor is described.
constexpr const char* kEditorPrefixes =
    "@prefix opts: <" LV2_OPTIONS_PREFIX "> .\n"
    "@prefix ui: <" LV2_UI_PREFIX "> .\n"
    "@prefix urid: <" LV2_URID_PREFIX "> .\n";

std::string Prefixes(bool editor) { return std::string(kPrefixes) + (editor ? kEditorPrefixes : "") + "\n"; }

// No license has been chosen for the product: until one is, the metadata says what the law says.
constexpr const char* kLicenseText = "All rights reserved";

std::string Uri(const std::string& fragment) { return "<" + std::string(kPluginUri) + "#" + fragment + ">"; }

std::string PresetUri(int32_t program) {
  char text[64];
  std::snprintf(text, sizeof text, "<%s:program:%02d>", kPluginUri, program);
  return text;
}

std::string PresetFile(int32_t program) {
  char text[32];
  std::snprintf(text, sizeof text, "presets/program-%02d.ttl", program);
  return text;
}

std::string Number(float v) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed).ptr;
  std::string s(text, end);
  if (s.find('.') == std::string::npos) s += ".0";
  return s;
}

std::string Literal(const std::string& utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) throw std::runtime_error("control character in a text");
    out += c;
  }
  return out + "\"";
}

std::string Utf8(const char* cp1252) { return nimbo::Cp1252ToUtf8(std::string(cp1252)); }

// A group name as an LV2 symbol: "Input/Output" becomes "input_output".
std::string Symbolize(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (alnum) out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    else if (!out.empty() && out.back() != '_') out += '_';
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out;
}

bool IsSymbol(const std::string& s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  for (const char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

class cTurtleWriter {
 public:
  // uiLibrary: the editor's file name, empty where it is not built.
  cTurtleWriter(const cReverbCore& core, std::string uiLibrary) : m_Core(core), m_UiLibrary(std::move(uiLibrary)) {}
  std::string Manifest(const std::string& library) const;
  std::string Plugin() const;
  std::string Preset(int32_t program) const;

 private:
  std::string ProgramName(int32_t program) const;
  std::string ControlPort(int32_t id) const;
  // The LV2 unit of a parameter's unit text; custom units are named after the first port using them.
  std::string UnitOf(int32_t id) const;
  std::string CustomUnits() const;
  std::string Editor() const;

  const cReverbCore& m_Core;
  const std::string m_UiLibrary;
};

std::string cTurtleWriter::ProgramName(int32_t program) const {
  char name[kProgramNameSize] = {};
  m_Core.GetProgramName(program, name);
  return Utf8(name);
}

std::string cTurtleWriter::Manifest(const std::string& library) const {
  std::ostringstream t;
  t << Prefixes(!m_UiLibrary.empty());
  t << "<" << kPluginUri << ">\n  a lv2:Plugin ;\n  lv2:binary <" << library << "> ;\n  rdfs:seeAlso <nimbohall.ttl> .\n";
  if (!m_UiLibrary.empty())
    t << "\n<" << kEditorUri << ">\n  a ui:X11UI ;\n  ui:binary <" << m_UiLibrary << "> ;\n  rdfs:seeAlso <nimbohall.ttl> .\n";
  // Listed here with their labels, so hosts find the presets without reading every file.
  for (int32_t k = 0; k < kNumPrograms; ++k) {
    t << "\n" << PresetUri(k) << "\n  a pset:Preset ;\n  lv2:appliesTo <" << kPluginUri << "> ;\n  rdfs:label "
      << Literal(ProgramName(k)) << " ;\n  rdfs:seeAlso <" << PresetFile(k) << "> .\n";
  }
  return t.str();
}

std::string cTurtleWriter::UnitOf(int32_t id) const {
  const std::string unit = m_Core.Parameter(id).unit;
  if (unit.empty()) return {};
  if (unit == "s") return "units:s";
  if (unit == "%") return "units:pc";
  if (unit == "\xB0") return "units:degree";
  for (int32_t first = 0; first <= id; ++first)
    if (unit == m_Core.Parameter(first).unit) return Uri(std::string(kParameterSymbols[first]) + "_unit");
  return {};
}

std::string cTurtleWriter::CustomUnits() const {
  std::ostringstream t;
  std::set<std::string> written;
  for (int32_t id = 0; id < kNumParameters; ++id) {
    const nimbo::cParameter& p = m_Core.Parameter(id);
    const std::string unit = UnitOf(id);
    if (unit.empty() || unit.rfind("units:", 0) == 0 || !written.insert(unit).second) continue;
    std::string symbol = Utf8(p.unit), escaped;
    for (const char c : symbol) escaped += c == '%' ? std::string("%%") : std::string(1, c);
    const std::string format = *p.format ? p.format : "%f";
    t << unit << "\n  a units:Unit ;\n  rdfs:label " << Literal(symbol) << " ;\n  units:symbol " << Literal(symbol)
      << " ;\n  units:render " << Literal(format + " " + escaped) << " .\n\n";
  }
  return t.str();
}

std::string cTurtleWriter::ControlPort(int32_t id) const {
  const nimbo::cParameter& p = m_Core.Parameter(id);
  if (!IsSymbol(kParameterSymbols[id])) throw std::runtime_error("bad port symbol");
  std::ostringstream t;
  t << "    a lv2:InputPort , lv2:ControlPort ;\n";
  t << "    lv2:index " << id << " ;\n";
  t << "    lv2:symbol \"" << kParameterSymbols[id] << "\" ;\n";
  t << "    lv2:name " << Literal(Utf8(p.longName)) << " ;\n";
  t << "    lv2:shortName " << Literal(Utf8(p.shortName)) << " ;\n";
  t << "    pg:group " << Uri(Symbolize(p.groupName)) << " ;\n";
  // The factory programs' values must stay reachable; "off" (0) must be admitted.
  const float low = p.zeroIsOff ? 0.0f : m_Core.WideLow(id);
  t << "    lv2:minimum " << Number(low) << " ;\n";
  t << "    lv2:maximum " << Number(m_Core.WideHigh(id)) << " ;\n";
  t << "    lv2:default " << Number(m_Core.DefaultPlain(id)) << " ;\n";
  if (const std::string unit = UnitOf(id); !unit.empty()) t << "    units:unit " << unit << " ;\n";
  // A logarithmic port needs both bounds non-zero and of one sign: Ardour
  // drops the property otherwise, and jalv's slider would start at log(0).
  // The curves with an "off" at 0 are therefore linear ports here.
  if (p.IsSwitch()) {
    t << "    lv2:portProperty lv2:toggled ;\n";
  } else if (p.curve == nimbo::kCurveInteger) {
    t << "    lv2:portProperty lv2:integer";
    if (p.enumNames) t << " , lv2:enumeration";
    t << " ;\n";
  } else if (p.curve == nimbo::kCurveLog && low > 0.0f) {
    t << "    lv2:portProperty pprops:logarithmic ;\n";
  }
  if (p.enumNames && !p.IsSwitch()) {
    for (int32_t k = static_cast<int32_t>(p.minValue); k <= static_cast<int32_t>(p.maxValue); ++k)
      t << "    lv2:scalePoint [ rdfs:label " << Literal(Utf8(p.enumNames[k])) << " ; rdf:value " << Number(float(k))
        << " ] ;\n";
  }
  if (p.zeroIsOff) {
    char off[nimbo::kValueTextSize];
    m_Core.ValueText(id, 0.0f, off);
    t << "    lv2:scalePoint [ rdfs:label " << Literal(Utf8(off)) << " ; rdf:value 0.0 ] ;\n";
  }
  std::string text = t.str();
  text.resize(text.size() - 3);  // the last " ;\n"
  return text + "\n";
}

// An X11 child window driven by the host's idle calls, speaking through the
// control ports only. It draws at a fixed size per scale, so the host should
// not stretch it.
std::string cTurtleWriter::Editor() const {
  std::ostringstream t;
  t << "<" << kEditorUri << ">\n  a ui:X11UI ;\n"
    << "  lv2:requiredFeature ui:idleInterface , ui:parent ;\n"
    << "  lv2:optionalFeature ui:resize , ui:touch , ui:noUserResize , opts:options , urid:map ;\n"
    << "  lv2:extensionData ui:idleInterface , opts:interface ;\n"
    << "  opts:supportedOption ui:scaleFactor .\n\n";
  return t.str();
}

std::string cTurtleWriter::Plugin() const {
  std::ostringstream t;
  t << Prefixes(!m_UiLibrary.empty());
  if (!m_UiLibrary.empty()) t << Editor();
  // Audio and parameter groups.
  t << Uri("in") << "\n  a pg:StereoGroup , pg:InputGroup ;\n  lv2:symbol \"in\" ;\n  lv2:name \"Input\" .\n\n";
  t << Uri("out") << "\n  a pg:StereoGroup , pg:OutputGroup ;\n  lv2:symbol \"out\" ;\n  lv2:name \"Output\" ;\n"
    << "  pg:source " << Uri("in") << " .\n\n";
  std::set<std::string> groups;
  for (int32_t id = 0; id < kNumParameters; ++id) {
    const std::string name = Utf8(m_Core.Parameter(id).groupName), symbol = Symbolize(name);
    if (!IsSymbol(symbol)) throw std::runtime_error("parameter without a group");
    if (groups.insert(symbol).second)
      t << Uri(symbol) << "\n  a pg:Group ;\n  lv2:symbol \"" << symbol << "\" ;\n  lv2:name " << Literal(name)
        << " .\n\n";
  }
  t << CustomUnits();
  t << Uri("project") << "\n  a doap:Project ;\n  doap:name " << Literal(kProductName) << " ;\n"
    << "  doap:maintainer [ a foaf:Organization ; foaf:name " << Literal(kVendorName) << " ] .\n\n";
  t << Uri("license") << "\n  rdfs:label " << Literal(kLicenseText) << " .\n\n";

  t << "<" << kPluginUri << ">\n  a lv2:Plugin , lv2:ReverbPlugin ;\n";
  t << "  doap:name " << Literal(kProductName) << " ;\n";
  t << "  doap:license " << Uri("license") << " ;\n";
  t << "  lv2:project " << Uri("project") << " ;\n";
  t << "  rdfs:comment " << Literal(kDescription) << " ;\n";
  t << "  lv2:minorVersion " << kEffectVersion / 100 << " ;\n";
  t << "  lv2:microVersion " << kEffectVersion % 100 << " ;\n";
  t << "  lv2:optionalFeature lv2:hardRTCapable ;\n";
  if (!m_UiLibrary.empty()) t << "  ui:ui <" << kEditorUri << "> ;\n";
  t << "  pg:mainInput " << Uri("in") << " ;\n  pg:mainOutput " << Uri("out") << " ;\n";
  t << "  lv2:port [\n";
  for (int32_t id = 0; id < kNumParameters; ++id) t << ControlPort(id) << "  ] , [\n";
  t << "    a lv2:InputPort , lv2:ControlPort ;\n    lv2:index " << kEnabledPort << " ;\n    lv2:symbol \""
    << kEnabledSymbol << "\" ;\n    lv2:name \"Enabled\" ;\n    lv2:designation lv2:enabled ;\n"
    << "    lv2:portProperty lv2:toggled , lv2:connectionOptional ;\n"
    << "    lv2:minimum 0.0 ;\n    lv2:maximum 1.0 ;\n    lv2:default 1.0\n";
  for (const sAudioPort& a : kAudioPorts) {
    t << "  ] , [\n    a " << (a.input ? "lv2:InputPort" : "lv2:OutputPort") << " , lv2:AudioPort ;\n"
      << "    lv2:index " << a.index << " ;\n    lv2:symbol \"" << a.symbol << "\" ;\n    lv2:name \"" << a.name
      << "\" ;\n    lv2:designation " << (a.left ? "pg:left" : "pg:right") << " ;\n    pg:group "
      << Uri(a.input ? "in" : "out") << "\n";
  }
  t << "  ] .\n";
  return t.str();
}

std::string cTurtleWriter::Preset(int32_t program) const {
  std::ostringstream t;
  t << Prefixes(false);
  t << PresetUri(program) << "\n  a pset:Preset ;\n  lv2:appliesTo <" << kPluginUri << "> ;\n  rdfs:label "
    << Literal(ProgramName(program)) << " ;\n  lv2:port";
  const char* separator = " [\n";
  // The switches and the bypass are no part of a program: loading a preset leaves them alone.
  for (int32_t id = 0; id < kNumParameters; ++id) {
    if (!m_Core.IsProgramParameter(id)) continue;
    t << separator << "    lv2:symbol \"" << kParameterSymbols[id] << "\" ;\n    pset:value "
      << Number(m_Core.ProgramValue(program, id)) << "\n";
    separator = "  ] , [\n";
  }
  t << "  ] .\n";
  return t.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s BUNDLE_DIR LIBRARY_FILE_NAME [UI_LIBRARY_FILE_NAME]\n", argv[0]);
    return 2;
  }
  try {
    const fs::path bundle = argv[1];
    auto core = std::make_unique<cReverbCore>();
    const cTurtleWriter writer(*core, argc == 4 ? argv[3] : "");
    std::set<std::string> labels;
    for (int32_t k = 0; k < kNumPrograms; ++k) {
      char name[kProgramNameSize] = {};
      core->GetProgramName(k, name);
      if (!labels.insert(name).second) throw std::runtime_error(std::string("two programs named ") + name);
    }
    fs::remove_all(bundle / "presets");
    fs::create_directories(bundle / "presets");
    for (int32_t k = 0; k < kNumPrograms; ++k) WriteFile(bundle / PresetFile(k), writer.Preset(k));
    WriteFile(bundle / "nimbohall.ttl", writer.Plugin());
    WriteFile(bundle / "manifest.ttl", writer.Manifest(argv[2]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
