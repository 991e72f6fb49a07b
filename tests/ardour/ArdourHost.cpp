#include "ArdourHost.h"

#include <chrono>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace ardourtest {

namespace {

const std::filesystem::path kScripts = NIMBOHALL_ARDOUR_SCRIPTS;

std::string XmlText(std::string text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
  for (const auto& [entity, character] : kEntities)
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
      text.replace(at, std::char_traits<char>::length(entity), character);
  return text;
}

std::string Attribute(const std::string& element, const std::string& name) {
  std::smatch match;
  if (!std::regex_search(element, match, std::regex("\\s" + name + "=\"([^\"]*)\""))) return {};
  return XmlText(match[1]);
}

int IntAttribute(const std::string& element, const std::string& name) {
  const std::string value = Attribute(element, name);
  return value.empty() ? -1 : std::stoi(value);
}

// Ardour takes a cache file for current only when it is strictly newer than the
// plugin, in whole seconds, and the scanner stamps it with the time of the
// scan: a plugin written within the second before would be dropped as changed.
void WaitUntilASecondOld(const std::filesystem::path& plugin) {
  auto newest = std::filesystem::last_write_time(plugin);
  if (std::filesystem::is_directory(plugin))
    for (const auto& entry : std::filesystem::recursive_directory_iterator(plugin))
      newest = std::max(newest, entry.last_write_time());
  const auto age = std::filesystem::file_time_type::clock::now() - newest;
  if (age < std::chrono::milliseconds(1100)) std::this_thread::sleep_for(std::chrono::milliseconds(1100) - age);
}

}  // namespace

cArdour::cArdour(ePluginType type, std::filesystem::path searchPath)
    : m_Type(type), m_SearchPath(std::filesystem::absolute(searchPath)) {
  std::filesystem::create_directories(m_Home / "empty");
}

std::vector<std::string> cArdour::Environment() const {
  const std::string home = m_Home.Path().string();
  const std::string empty = (m_Home / "empty").string();
  auto path = [&](ePluginType type) { return type == m_Type ? m_SearchPath.string() : empty; };
  return {"HOME=" + home,
          "XDG_CONFIG_HOME=" + home + "/config",
          "XDG_CACHE_HOME=" + home + "/cache",
          "XDG_DATA_HOME=" + home + "/data",
          "LV2_PATH=" + path(ePluginType::kLV2),
          "LXVST_PATH=" + path(ePluginType::kVST2),
          "VST3_PATH=" + path(ePluginType::kVST3),
          "LADSPA_PATH=" + empty,
          "LD_LIBRARY_PATH=" ARDOUR_LIBRARY_DIR};
}

sScan cArdour::Scan(const std::filesystem::path& plugin) const {
  if (m_Type == ePluginType::kLV2) throw std::logic_error("Ardour reads LV2 bundles itself; it has no LV2 scanner");
  const bool vst3 = m_Type == ePluginType::kVST3;
  const std::string file = std::filesystem::absolute(plugin).string();
  WaitUntilASecondOld(file);
  sScan scan;
  scan.run = hosttest::Run({vst3 ? ARDOUR_VST3_SCANNER : ARDOUR_VST_SCANNER, "-f", file}, m_Home.Path(),
                           Environment(), 60);

  // One cache file per scanned plugin, named by a hash; it names its plugin.
  const std::filesystem::path caches = m_Home / "cache/ardour7";
  if (!std::filesystem::exists(caches)) return scan;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(caches)) {
    const std::string content = hosttest::ReadFile(entry.path());
    if (entry.is_regular_file() && content.find("\"" + file + "\"") != std::string::npos) scan.cache = content;
  }
  std::smatch match;
  if (!std::regex_search(scan.cache, match, std::regex(vst3 ? "<VST3Info[^>]*>" : "<VST2Info[^>]*>"))) return scan;
  const std::string info = match[0];
  scan.name = Attribute(info, "name");
  scan.vendor = Attribute(info, vst3 ? "vendor" : "creator");
  scan.category = Attribute(info, "category");
  scan.inputs = IntAttribute(info, "n_inputs");
  scan.outputs = IntAttribute(info, "n_outputs");
  return scan;
}

sRender cArdour::Render(const sRenderRequest& request, const hosttest::sAudio& input) const {
  sRender render;
  if (m_Type != ePluginType::kLV2) {
    const std::string suffix = m_Type == ePluginType::kVST3 ? ".vst3" : ".so";
    for (const auto& entry : std::filesystem::directory_iterator(m_SearchPath))
      if (entry.path().extension() == suffix) {
        const sScan scan = Scan(entry.path());
        if (scan.run.status != 0) {
          render.run = scan.run;
          return render;
        }
      }
  }

  static const char* const kTypeNames[] = {"LV2", "LXVST", "VST3"};
  const std::filesystem::path in = m_Home / "in.wav", out = m_Home / "out.wav",
                              session = m_Home / ("session-" + std::to_string(input.Frames()));
  hosttest::sAudio floatInput = input;
  floatInput.format = 0;  // 32-bit float WAV
  hosttest::WriteAudio(in, floatInput);
  std::filesystem::remove(out);

  std::vector<std::string> command = {ARDOUR_LUA,
                                      (kScripts / "render_session.lua").string(),
                                      "input=" + in.string(),
                                      "output=" + out.string(),
                                      "session=" + session.string(),
                                      std::string("type=") + kTypeNames[static_cast<int>(m_Type)],
                                      "plugin=" + request.plugin,
                                      "block=" + std::to_string(request.blockSize),
                                      "lead=" + std::to_string(request.leadSeconds),
                                      "tail=" + std::to_string(request.tailSeconds)};
  if (!request.preset.empty()) command.push_back("preset=" + request.preset);
  if (request.describe) command.push_back("describe=1");
  for (const auto& [label, value] : request.parameters) {
    std::ostringstream text;
    text.precision(9);
    text << "param=" << label << '=' << value;
    command.push_back(text.str());
  }
  command.insert(command.end(), request.extraArguments.begin(), request.extraArguments.end());
  render.run = hosttest::Run(command, m_Home.Path(), Environment(), 120);

  std::istringstream lines(render.run.out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "block") {
      words >> render.blockSize;
    } else if (key == "loaded") {
      words >> render.presetUri;
    } else if (key == "control") {
      sControl control;
      words >> control.index >> control.lower >> control.upper >> control.normal >> control.flags >> std::ws;
      std::getline(words, control.label);
      render.controls.push_back(control);
    } else if (key == "listed") {
      const size_t tab = line.find('\t');
      render.presets.emplace_back(line.substr(7, tab - 7), tab == std::string::npos ? "" : line.substr(tab + 1));
    }
  }
  if (render.run.status == 0 && std::filesystem::exists(out)) render.audio = hosttest::ReadAudio(out);
  return render;
}

}  // namespace ardourtest
