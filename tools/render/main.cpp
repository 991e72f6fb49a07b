// nimbohall-render: renders audio files through a VST 2.x plugin (Nimbohall by
// default) the way a DAW drives it, tail included.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AnalysisReport.h"
#include "AudioFile.h"
#include "Decay.h"
#include "Demo.h"
#include "RenderError.h"
#include "RenderText.h"
#include "RoomAnalysis.h"
#include "ValueSearch.h"
#include "cVstHost.h"

namespace nimborender {
namespace {

constexpr const char* kDemoOutput = "nimbohall-demo.wav";
constexpr int32_t kMaxBlock = 16384;
constexpr double kMaxTailSeconds = 3600.0;
constexpr double kMeasureInputSeconds = 1.0;
constexpr double kMinRate = 8000.0;
constexpr double kMaxRate = 384000.0;
// Program changes bracketed as DAWs do; plugins that do not know them answer 0.
constexpr int32_t effBeginSetProgram = 67;
constexpr int32_t effEndSetProgram = 68;

constexpr const char* kUsage = R"(Usage: nimbohall-render [options] [INPUT [OUTPUT]]
       nimbohall-render --analyze [options] [LEFT RIGHT]

Renders INPUT through a VST 2.x plugin (Nimbohall unless --plugin says
otherwise) into OUTPUT, reverb tail included. Without INPUT it renders a
built-in demo to nimbohall-demo.wav. Either way it prints a one-line summary
(program, length, peak, whether --tail cut the tail). With --analyze it
measures the plugin's stereo impulse response instead and prints its room
acoustics (ISO 3382-1 measures per octave band, output correlation, echo
density).

Options:
  -p, --program P            program by number (from 0) or by name
  -s, --set NAME=VALUE       a parameter set to a value as a host shows it: a
                             number in the parameter's unit, optionally with
                             the unit ("Base dly=25ms"), or a named value
                             ("Geometry=room2", "Hold=on")
                             (also "x" for "×", a decimal comma; a value
                             the parameter already shows, such as a program's
                             own value beyond the control's range, stays)
  -n, --set-normalized NAME=X  a parameter set to a normalized value, 0 to 1
      --at TIME NAME=VALUE   a change during the render, as --set takes it,
                             at TIME: seconds ("2.5", "2.5s", "250ms") or
                             frames ("120000smp") from the start of the input;
                             repeatable
      --automation FILE      changes from a file, one "TIME NAME=VALUE" a
                             line ("#" starts a comment)
  -o, --output PATH          output file; its extension picks the format:
                             .wav (32-bit float), .flac, .aiff (24-bit),
                             .ogg, .caf, .w64, .rf64, .au
                             (default: INPUT's name with -render.wav)
  -t, --tail SECONDS         longest tail rendered after the input (or the
                             last timed change; default 30); it ends earlier
                             once the output stays below -90 dBFS for 0.25 s
  -b, --block N              frames per processing block (default 512)
  -r, --rate HZ              sample rate of the demo and of --analyze
                             (default 48000; a file renders at its own rate)
  -a, --analyze [LEFT RIGHT] measure the impulse response of the current
                             program and settings and print its analysis; or
                             analyse responses measured elsewhere: LEFT and
                             RIGHT are stereo files, the responses to an
                             impulse on the left and on the right input
      --json FILE            with --analyze: also write everything as JSON
      --plugin PATH          another VST 2.x plugin library
  -l, --list                 print the programs and parameters, then exit
  -h, --help                 print this text

Exit status: 0 done, 1 input or output file, 2 command line, 3 plugin,
4 program, parameter or value.
)";

struct sSetting {
  bool normalized;
  std::string name;
  std::string value;
};

// A --at change: TIME as given, frames or seconds.
struct sTimedSetting {
  double time = 0.0;
  bool inFrames = false;
  sSetting setting;
};

struct sOptions {
  std::optional<std::string> input;
  std::optional<std::string> output;
  std::optional<std::string> plugin;
  std::optional<std::string> program;
  std::vector<sSetting> settings;
  std::vector<sTimedSetting> timed;
  std::optional<std::string> json;
  std::vector<std::string> responses;  // files to analyse instead of a plugin
  std::optional<double> rate;
  double tailSeconds = 30.0;
  int32_t block = 512;
  bool list = false;
  bool help = false;
  bool analyze = false;
};

sSetting ParseSetting(const std::string& option, const std::string& text, bool normalized) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || Trim(text.substr(0, equals)).empty()) {
    throw cRenderError(kExitUsage, option + " needs NAME=VALUE, got '" + text + "'");
  }
  return {normalized, Trim(text.substr(0, equals)), text.substr(equals + 1)};
}

// "2.5", "2.5s", "250ms" (seconds) or "120000smp" (frames).
sTimedSetting ParseTime(const std::string& text) {
  const std::string trimmed = Trim(text);
  sTimedSetting timed;
  std::optional<double> value;
  if (trimmed.size() > 3 && trimmed.compare(trimmed.size() - 3, 3, "smp") == 0) {
    value = ParseNumber(trimmed.substr(0, trimmed.size() - 3));
    timed.inFrames = true;
    if (value && *value != std::floor(*value)) value.reset();
  } else if (const auto quantity = ParseQuantity(trimmed)) {
    const auto factor = quantity->unit.empty() ? std::optional<double>(1.0) : UnitFactor(quantity->unit, "s");
    if (factor) value = quantity->number * *factor;
  }
  if (!value || *value < 0.0 || *value > kMaxTailSeconds * kMaxRate) {
    throw cRenderError(kExitUsage, "--at needs a time in seconds (2.5, 2.5s, 250ms) or frames (120000smp), got '" +
                                       text + "'");
  }
  timed.time = *value;
  return timed;
}

// Lines "TIME NAME=VALUE"; blank lines and "#" comments skipped.
std::vector<sTimedSetting> ReadAutomation(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw cRenderError(kExitFile, "cannot read automation '" + path + "'");
  std::vector<sTimedSetting> changes;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    const size_t blank = line.find_first_of(" \t");
    try {
      if (blank == std::string::npos) throw cRenderError(kExitUsage, "expected TIME NAME=VALUE");
      sTimedSetting timed = ParseTime(line.substr(0, blank));
      timed.setting = ParseSetting("--at", Trim(line.substr(blank)), false);
      changes.push_back(timed);
    } catch (const cRenderError& error) {
      throw cRenderError(kExitUsage, path + ":" + std::to_string(number) + ": " + error.what());
    }
  }
  return changes;
}

sOptions ParseOptions(int argc, char** argv) {
  sOptions options;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> attached;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      attached = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
    }
    auto value = [&]() -> std::string {
      if (attached) return *attached;
      if (i + 1 >= argc) throw cRenderError(kExitUsage, arg + " needs a value");
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "-l" || arg == "--list") {
      options.list = true;
    } else if (arg == "-a" || arg == "--analyze") {
      options.analyze = true;
    } else if (arg == "--json") {
      options.json = value();
    } else if (arg == "-r" || arg == "--rate") {
      const std::string text = value();
      const auto rate = ParseNumber(text);
      if (!rate || *rate < kMinRate || *rate > kMaxRate || *rate != std::floor(*rate)) {
        throw cRenderError(kExitUsage, "--rate needs a whole number of hertz from 8000 to 384000, got '" + text + "'");
      }
      options.rate = *rate;
    } else if (arg == "-p" || arg == "--program") {
      options.program = value();
    } else if (arg == "-s" || arg == "--set") {
      options.settings.push_back(ParseSetting(arg, value(), false));
    } else if (arg == "-n" || arg == "--set-normalized") {
      options.settings.push_back(ParseSetting(arg, value(), true));
    } else if (arg == "--at") {
      sTimedSetting timed = ParseTime(value());
      if (i + 1 >= argc) throw cRenderError(kExitUsage, "--at needs TIME and NAME=VALUE");
      timed.setting = ParseSetting(arg, argv[++i], false);
      options.timed.push_back(timed);
    } else if (arg == "--automation") {
      for (const sTimedSetting& timed : ReadAutomation(value())) options.timed.push_back(timed);
    } else if (arg == "-o" || arg == "--output") {
      options.output = value();
    } else if (arg == "--plugin") {
      options.plugin = value();
    } else if (arg == "-t" || arg == "--tail") {
      const std::string text = value();
      const auto seconds = ParseNumber(text);
      if (!seconds || *seconds < 0.0 || *seconds > kMaxTailSeconds) {
        throw cRenderError(kExitUsage, "--tail needs seconds from 0 to 3600, got '" + text + "'");
      }
      options.tailSeconds = *seconds;
    } else if (arg == "-b" || arg == "--block") {
      const std::string text = value();
      const auto frames = ParseNumber(text);
      if (!frames || *frames < 1 || *frames > kMaxBlock || *frames != std::floor(*frames)) {
        throw cRenderError(kExitUsage, "--block needs a whole number of frames from 1 to 16384, got '" + text + "'");
      }
      options.block = static_cast<int32_t>(*frames);
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      throw cRenderError(kExitUsage, "unknown option '" + arg + "' (see --help)");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() > 2) throw cRenderError(kExitUsage, "too many file names (see --help)");
  if (options.analyze && !positional.empty()) {
    if (positional.size() != 2 || options.output) {
      throw cRenderError(kExitUsage, "--analyze takes no files, or the two responses LEFT RIGHT");
    }
    if (options.rate) throw cRenderError(kExitUsage, "--rate does not go with response files: they have their own");
    options.responses = positional;
    positional.clear();
  }
  if (!positional.empty()) options.input = positional[0];
  if (positional.size() == 2) {
    if (options.output) throw cRenderError(kExitUsage, "the output is given twice");
    options.output = positional[1];
  }
  if (options.analyze && options.output) throw cRenderError(kExitUsage, "--analyze writes no audio output");
  if (options.analyze && options.list) throw cRenderError(kExitUsage, "--analyze and --list do not go together");
  if (options.json && !options.analyze) throw cRenderError(kExitUsage, "--json goes with --analyze");
  if (!options.timed.empty() && (options.analyze || options.list)) {
    throw cRenderError(kExitUsage, "--at and --automation go with renders, not with --analyze or --list");
  }
  if (options.rate && options.input) {
    throw cRenderError(kExitUsage, "--rate is for the demo and --analyze; a file renders at its own sample rate");
  }
  return options;
}

std::string OwnDirectory() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

// Nimbohall as built beside the renderer, installed with it, or in the user's plugin folder.
std::string DefaultPlugin() {
  const std::filesystem::path own = OwnDirectory();
  std::vector<std::filesystem::path> candidates = {
      own / "nimbohall.so",
      own / NIMBOHALL_BUILD_PLUGIN,
      own / NIMBOHALL_INSTALLED_PLUGIN,
  };
  if (const char* home = std::getenv("HOME")) candidates.push_back(std::filesystem::path(home) / ".vst" / "nimbohall.so");
  std::string looked;
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate.lexically_normal().string();
    looked += (looked.empty() ? "" : ", ") + candidate.lexically_normal().string();
  }
  throw cRenderError(kExitPlugin, "no Nimbohall plugin found (looked for " + looked + "); name one with --plugin PATH");
}

struct sPlugin {
  std::string path;
  std::unique_ptr<nimbohost::cPluginLibrary> library;
  std::unique_ptr<nimbohost::cHostedEffect> effect;
};

sPlugin LoadPlugin(const std::string& requested, double sampleRate, int32_t block) {
  sPlugin plugin;
  // A bare file name means the file here, not a search of the library path.
  plugin.path = requested.find('/') == std::string::npos ? "./" + requested : requested;
  std::error_code error;
  if (!std::filesystem::exists(plugin.path, error)) {
    throw cRenderError(kExitPlugin, "cannot load plugin '" + requested + "': no such file");
  }
  plugin.library = std::make_unique<nimbohost::cPluginLibrary>(plugin.path);
  if (!plugin.library->IsLoaded()) {
    throw cRenderError(kExitPlugin, "cannot load plugin '" + requested + "': " + plugin.library->Error());
  }
  const nimbohost::PluginEntry entry = plugin.library->Entry();
  if (!entry) {
    throw cRenderError(kExitPlugin, "plugin '" + requested + "' has no VST 2.x entry (VSTPluginMain or main)");
  }
  nimbohost::sHostAnswers answers;
  answers.sampleRate = static_cast<intptr_t>(std::lround(sampleRate));
  answers.blockSize = block;
  std::string reason;
  plugin.effect = nimbohost::cHostedEffect::Create(entry, answers, &reason);
  if (!plugin.effect) {
    const bool nothing = reason == "the entry returned no effect";
    throw cRenderError(kExitPlugin, "plugin '" + requested + "' returned no effect" + (nothing ? "" : " (" + reason + ")"));
  }
  const AEffect* record = plugin.effect->Record();
  if (record->numInputs != 2 || record->numOutputs != 2) {
    auto count = [](int32_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
    throw cRenderError(kExitPlugin, "plugin '" + requested + "' has " + count(record->numInputs, "input") + " and " +
                                        count(record->numOutputs, "output") + "; 2 in and 2 out are needed");
  }
  if (!record->processReplacing) {
    throw cRenderError(kExitPlugin, "plugin '" + requested + "' has no replacing audio entry (processReplacing)");
  }
  return plugin;
}

std::string ProgramName(nimbohost::cHostedEffect& effect, int32_t index) {
  return Trim(PluginTextToUtf8(effect.ProgramName(index)));
}

void SelectProgram(nimbohost::cHostedEffect& effect, const std::string& wanted) {
  const int32_t count = effect.Record()->numPrograms;
  std::optional<int32_t> index;
  if (const auto number = ParseNumber(wanted); number && *number == std::floor(*number)) {
    if (*number < 0 || *number >= count) {
      throw cRenderError(kExitValue, "program " + Trim(wanted) + " does not exist (the plugin has " +
                                         (count > 0 ? "programs 0 to " + std::to_string(count - 1) : "no programs") +
                                         ")");
    }
    index = static_cast<int32_t>(*number);
  } else {
    const std::string name = Trim(wanted);
    for (bool ignoreCase : {false, true}) {
      for (int32_t i = 0; i < count && !index; ++i) {
        const std::string candidate = ProgramName(effect, i);
        if (ignoreCase ? EqualsIgnoreCase(candidate, name) : candidate == name) index = i;
      }
      if (index) break;
    }
    if (!index) throw cRenderError(kExitValue, "unknown program '" + name + "' (--list shows the programs)");
  }
  effect.Dispatch(effBeginSetProgram);
  effect.Dispatch(effSetProgram, 0, *index);
  effect.Dispatch(effEndSetProgram);
  if (effect.Dispatch(effGetProgram) != *index) {
    throw cRenderError(kExitPlugin, "the plugin did not switch to program " + std::to_string(*index));
  }
}

struct sChange {
  int32_t index = 0;
  std::optional<float> normalized;  // none: the parameter shows the value already and stays
};

sChange Resolve(cParameterFinder& finder, const sSetting& setting) {
  const auto index = finder.FindParameter(setting.name);
  if (!index) throw cRenderError(kExitValue, "unknown parameter '" + setting.name + "' (--list shows the parameters)");
  if (!setting.normalized) {
    if (finder.ShowsAlready(*index, setting.value)) return {*index, std::nullopt};
    return {*index, finder.FindNormalized(*index, setting.value)};
  }
  const auto number = ParseNumber(setting.value);
  if (!number) {
    throw cRenderError(kExitValue, finder.Name(*index) + ": normalized value '" + Trim(setting.value) +
                                       "' not understood (expected a number from 0 to 1)");
  }
  if (*number < 0.0 || *number > 1.0) {
    throw cRenderError(kExitValue, finder.Name(*index) + ": normalized value " + Trim(setting.value) +
                                       " is out of range (0 to 1)");
  }
  return {*index, static_cast<float>(*number)};
}

void ApplySettings(nimbohost::cHostedEffect& effect, const std::vector<sSetting>& settings) {
  if (settings.empty()) return;
  cParameterFinder finder(effect);
  for (const sSetting& setting : settings) {
    const sChange change = Resolve(finder, setting);
    if (change.normalized) effect.SetParameter(change.index, *change.normalized);
  }
}

void PrintList(nimbohost::cHostedEffect& effect, const std::string& pluginPath) {
  const AEffect* record = effect.Record();
  const std::string name = Trim(PluginTextToUtf8(effect.EffectName()));
  const std::string vendor = Trim(PluginTextToUtf8(effect.VendorString()));
  std::cout << (name.empty() ? std::filesystem::path(pluginPath).filename().string() : name)
            << (vendor.empty() ? "" : " by " + vendor) << " (" << pluginPath << ")\n";

  const int32_t current = static_cast<int32_t>(effect.Dispatch(effGetProgram));
  std::cout << "Programs:\n";
  if (record->numPrograms <= 0) std::cout << "  (none)\n";
  for (int32_t i = 0; i < record->numPrograms; ++i) {
    std::printf("%s%4d  %s\n", i == current ? " *" : "  ", i, ProgramName(effect, i).c_str());
    std::fflush(stdout);
  }

  std::cout << "Parameters:\n";
  cParameterFinder finder(effect);
  size_t width = 0;
  std::vector<sReading> readings;  // all of them before the range checks move anything
  for (int32_t i = 0; i < record->numParams; ++i) {
    width = std::max(width, DisplayWidth(finder.Name(i)));
    readings.push_back(finder.Read(i));
  }
  for (int32_t i = 0; i < record->numParams; ++i) {
    const std::string& parameter = finder.Name(i);
    const sReading& reading = readings[static_cast<size_t>(i)];
    std::string note;
    if (finder.BeyondSettableRange(i, reading)) {
      const auto range = finder.SettableRange(i);
      note = "  (the program's own value, beyond the " + ShownValue(range->first) + " to " + ShownValue(range->second) +
             " a host can set; --set takes it as it stands)";
    }
    std::cout << "  " << std::string(i < 10 ? 3 : i < 100 ? 2 : 1, ' ') << i << "  " << parameter
              << std::string(width - DisplayWidth(parameter) + 2, ' ') << ShownValue(reading) << note << "\n";
  }
}

// A bar on stderr for renders that take a while, and only on a terminal.
class cProgress {
 public:
  explicit cProgress(int64_t expectedFrames) : m_Expected(std::max<int64_t>(expectedFrames, 1)) {
    m_bEnabled = isatty(STDERR_FILENO) != 0;
  }
  ~cProgress() {
    if (m_bShown) std::fprintf(stderr, "\r%*s\r", 60, "");
  }
  void Update(int64_t frames, bool inTail, double sampleRate) {
    if (!m_bEnabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_Start < std::chrono::seconds(1) || now - m_Last < std::chrono::milliseconds(100)) return;
    m_Last = now;
    m_bShown = true;
    const double fraction = std::min(1.0, static_cast<double>(frames) / static_cast<double>(m_Expected));
    const int filled = static_cast<int>(fraction * 30.0);
    std::fprintf(stderr, "\rrendering [%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(30 - filled), '.').c_str(), static_cast<int>(fraction * 100.0));
    if (inTail) std::fprintf(stderr, "  tail %.1f s", static_cast<double>(frames - m_Expected) / sampleRate);
    std::fflush(stderr);
  }

 private:
  int64_t m_Expected;
  bool m_bEnabled = false;
  bool m_bShown = false;
  std::chrono::steady_clock::time_point m_Start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point m_Last{};
};

using InputSource = std::function<int64_t(float* left, float* right, int64_t frames)>;

struct sRenderResult {
  int64_t frames = 0;
  bool capped = false;
  float peak = 0.0f;
};

// A parameter change at a frame of the render.
struct sTimedChange {
  int64_t frame = 0;
  int32_t index = 0;
  float normalized = 0.0f;
};

// Writes to `output` and keeps in `keep`, either of them when given. Timed
// changes (sorted) cut the host block at their frame, as a DAW does. With
// `floor` the render goes on past the tail rule until that says so (within
// the --tail cap).
sRenderResult RenderThrough(nimbohost::cHostedEffect& effect, const InputSource& source, int64_t inputFrames,
                            double sampleRate, const sOptions& options, cOutputFile* output, sStereo* keep,
                            const std::vector<sTimedChange>& changes = {}, cFloorEnd* floor = nullptr) {
  const auto block = static_cast<size_t>(options.block);
  std::vector<float> inL(block), inR(block), outL(block), outR(block);
  const auto quietFrames = static_cast<int64_t>(std::llround(kQuietSeconds * sampleRate));
  const auto capFrames = static_cast<int64_t>(std::llround(options.tailSeconds * sampleRate));
  // The tail counts from the last change too: a freeze after the input still sounds.
  int64_t tailFrom = changes.empty() ? inputFrames : std::max(inputFrames, changes.back().frame);
  cTailEnd tail(tailFrom, quietFrames, capFrames);
  cProgress progress(inputFrames);
  size_t nextChange = 0;
  sRenderResult result;

  int64_t position = 0;
  int64_t inputLeft = inputFrames;
  int64_t keptFrames = 0;
  auto finished = [&] {
    return tail.Done(position) && (!floor || floor->Done() || position >= tailFrom + capFrames);
  };
  while (!finished()) {
    // Every call gets a whole block; the input's last one is filled up with silence.
    int64_t got = 0;
    if (inputLeft > 0) {
      got = source(inL.data(), inR.data(), std::min<int64_t>(inputLeft, options.block));
      inputLeft = got > 0 ? inputLeft - got : 0;
      if (got < options.block && inputLeft > 0) {
        // Shorter than its header said: the input ends here.
        inputLeft = 0;
        tailFrom = std::max(position + got, tailFrom);
        tail = cTailEnd(tailFrom, quietFrames, capFrames);
      }
    }
    std::fill(inL.begin() + got, inL.end(), 0.0f);
    std::fill(inR.begin() + got, inR.end(), 0.0f);
    std::fill(outL.begin(), outL.end(), 0.0f);
    std::fill(outR.begin(), outR.end(), 0.0f);
    for (int64_t done = 0; done < options.block;) {
      while (nextChange < changes.size() && changes[nextChange].frame <= position + done) {
        effect.SetParameter(changes[nextChange].index, changes[nextChange].normalized);
        ++nextChange;
      }
      int64_t stretch = options.block - done;
      if (nextChange < changes.size()) stretch = std::min(stretch, changes[nextChange].frame - position - done);
      const auto offset = static_cast<size_t>(done);
      float* inputs[2] = {inL.data() + offset, inR.data() + offset};
      float* outputs[2] = {outL.data() + offset, outR.data() + offset};
      effect.ProcessReplacing(inputs, outputs, static_cast<int32_t>(stretch));
      done += stretch;
    }
    int64_t kept = tail.Feed(outL.data(), outR.data(), position, options.block);
    if (floor && !floor->Done()) {
      kept = std::clamp<int64_t>(tailFrom + capFrames - position, 0, options.block);
      floor->Feed(outL.data(), outR.data(), kept);
    }
    keptFrames += kept;
    for (int64_t i = 0; i < kept; ++i) {
      result.peak = std::max({result.peak, std::fabs(outL[static_cast<size_t>(i)]), std::fabs(outR[static_cast<size_t>(i)])});
    }
    if (output) output->Write(outL.data(), outR.data(), kept);
    if (keep) {
      keep->left.insert(keep->left.end(), outL.begin(), outL.begin() + kept);
      keep->right.insert(keep->right.end(), outR.begin(), outR.begin() + kept);
    }
    position += options.block;
    progress.Update(std::min(position, tail.End()), position > inputFrames, sampleRate);
  }
  result.frames = keptFrames;
  result.capped = tail.End() == tailFrom + capFrames && capFrames > 0;
  return result;
}

std::string DefaultOutput(const std::string& input) {
  return std::filesystem::path(input).stem().string() + "-render.wav";
}

// The plugin loaded, started, on the requested program and settings.
sPlugin OpenConfigured(const sOptions& options, const std::string& pluginPath, double sampleRate) {
  sPlugin plugin = LoadPlugin(pluginPath, sampleRate, options.block);
  plugin.effect->Start(static_cast<float>(sampleRate), options.block);
  if (options.program) SelectProgram(*plugin.effect, *options.program);
  ApplySettings(*plugin.effect, options.settings);
  return plugin;
}

void Finish(sPlugin& plugin) {
  plugin.effect->Stop();
  plugin.effect->Close();
}

// A plugin parameter named "Hold" that reads "on" freezes the tail.
bool IsHeld(nimbohost::cHostedEffect& effect) {
  cParameterFinder finder(effect);
  const auto index = finder.FindParameter("Hold");
  return index && EqualsIgnoreCase(finder.Read(*index).display, "on");
}

struct sMeasurement {
  nimboanalysis::sImpulseResponses responses;
  nimboanalysis::sConditions conditions;
};

// A unit impulse on one input at a time, each through a fresh instance so
// nothing of the other's tail remains. The impulse opens a second of
// silence, so echoes that come later than the tail rule's quiet time are
// still heard; then the tail rule and cap as for files, and on past them to
// the noise floor (cFloorEnd).
sMeasurement MeasureResponses(const sOptions& options, const std::string& pluginPath, double sampleRate) {
  sMeasurement measurement;
  measurement.responses.sampleRate = sampleRate;
  const auto inputFrames = static_cast<int64_t>(std::llround(kMeasureInputSeconds * sampleRate));
  for (int input = 0; input < 2; ++input) {
    sPlugin plugin = OpenConfigured(options, pluginPath, sampleRate);
    if (input == 0) measurement.conditions.bHeld = IsHeld(*plugin.effect);
    const InputSource impulse = [input, inputFrames, next = int64_t{0}](float* l, float* r, int64_t frames) mutable {
      const int64_t count = std::min(frames, inputFrames - next);
      std::fill_n(l, count, 0.0f);
      std::fill_n(r, count, 0.0f);
      if (next == 0 && count > 0) (input == 0 ? l : r)[0] = 1.0f;
      next += count;
      return count;
    };
    sStereo response;
    cFloorEnd floor(sampleRate);
    const sRenderResult result =
        RenderThrough(*plugin.effect, impulse, inputFrames, sampleRate, options, nullptr, &response, {}, &floor);
    measurement.conditions.bTailCapped = measurement.conditions.bTailCapped || result.capped;
    measurement.responses.path[static_cast<size_t>(input)][0] = std::move(response.left);
    measurement.responses.path[static_cast<size_t>(input)][1] = std::move(response.right);
    Finish(plugin);
  }
  return measurement;
}

std::string ProgramTitle(nimbohost::cHostedEffect& effect) {
  if (effect.Record()->numPrograms <= 0) return "";
  const auto program = static_cast<int32_t>(effect.Dispatch(effGetProgram));
  return "program " + std::to_string(program) + " \"" + Trim(PluginTextToUtf8(effect.CurrentProgramName())) + "\"";
}

// RT60 for the demo summary: broadband T30 of the measured response, else T20.
std::string DecayText(const nimboanalysis::sAnalysis& analysis) {
  using nimboanalysis::eStatus;
  const auto& measures = analysis.Broadband().measures;
  char text[64];
  if (measures.t30.Has()) {
    std::snprintf(text, sizeof text, "%.2f s", measures.t30.value);
  } else if (measures.t20.Has()) {
    std::snprintf(text, sizeof text, "%.2f s (T20)", measures.t20.value);
  } else if (analysis.status == eStatus::kHeld) {
    std::snprintf(text, sizeof text, "n/a (Hold is on)");
  } else if (analysis.status == eStatus::kNotDecaying) {
    std::snprintf(text, sizeof text, "n/a (no decay within the --tail limit)");
  } else {
    std::snprintf(text, sizeof text, "n/a");
  }
  return text;
}

// The line every render prints: what was rendered and whether the tail is whole.
std::string RenderSummary(const std::string& output, nimbohost::cHostedEffect& effect, const sRenderResult& result,
                          double sampleRate, double tailSeconds) {
  char peakText[32];
  if (result.peak > 0.0f) {
    std::snprintf(peakText, sizeof peakText, "%.1f dBFS", 20.0 * std::log10(static_cast<double>(result.peak)));
  } else {
    std::snprintf(peakText, sizeof peakText, "-inf dBFS");
  }
  const std::string program = ProgramTitle(effect);
  char line[256];
  std::snprintf(line, sizeof line, "%.2f s, peak %s", static_cast<double>(result.frames) / sampleRate, peakText);
  std::string text = output + ": " + (program.empty() ? "" : program + ", ") + line;
  if (result.capped) {
    std::snprintf(line, sizeof line, ", tail cut at --tail %g s while still sounding", tailSeconds);
    text += line;
  }
  return text;
}

nlohmann::json PluginJson(nimbohost::cHostedEffect& effect, const std::string& pluginPath) {
  nlohmann::json parameters = nlohmann::json::array();
  cParameterFinder finder(effect);
  for (int32_t i = 0; i < effect.Record()->numParams; ++i) {
    const sReading reading = finder.Read(i);
    parameters.push_back({{"index", i}, {"name", finder.Name(i)}, {"display", reading.display}, {"unit", reading.unit}});
  }
  nlohmann::json program = nullptr;
  if (effect.Record()->numPrograms > 0) {
    program = {{"index", effect.Dispatch(effGetProgram)}, {"name", Trim(PluginTextToUtf8(effect.CurrentProgramName()))}};
  }
  return {{"plugin",
           {{"path", pluginPath},
            {"name", Trim(PluginTextToUtf8(effect.EffectName()))},
            {"vendor", Trim(PluginTextToUtf8(effect.VendorString()))},
            {"programs", effect.Record()->numPrograms}}},
          {"program", program},
          {"parameters", parameters}};
}

void WriteJson(const std::string& path, const nlohmann::json& json) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) file << json.dump() << "\n";
  if (!file) throw cRenderError(kExitFile, "cannot write JSON '" + path + "'");
}

void PrintAnalysis(const std::string& title, const nimboanalysis::sAnalysis& analysis, bool capped) {
  std::printf("%s, %.0f Hz, impulse response %.2f s%s\n", title.c_str(), analysis.sampleRate, analysis.lengthSeconds,
              capped ? " (cut at the --tail limit)" : "");
  std::fputs(nimboanalysis::FormatTable(analysis).c_str(), stdout);
}

nlohmann::json AnalysisDocument(const nlohmann::json& source, const nimboanalysis::sAnalysis& analysis) {
  nlohmann::json json = {{"format", "nimbohall-analysis"}, {"version", 2}};
  json.update(source);
  json.update(nimboanalysis::AnalysisJson(analysis));
  return json;
}

// Responses measured elsewhere (another host, another plugin format).
int AnalyzeFiles(const sOptions& options) {
  nimboanalysis::sImpulseResponses responses;
  for (size_t input = 0; input < 2; ++input) {
    cInputFile file(options.responses[input]);
    if (input == 1 && file.SampleRate() != responses.sampleRate) {
      throw cRenderError(kExitFile, "the responses have different sample rates");
    }
    responses.sampleRate = file.SampleRate();
    const auto frames = static_cast<size_t>(std::max<int64_t>(file.Frames(), 0));
    auto& [left, right] = responses.path[input];
    left.resize(frames);
    right.resize(frames);
    left.resize(static_cast<size_t>(file.Read(left.data(), right.data(), file.Frames())));
    right.resize(left.size());
  }
  const nimboanalysis::sAnalysis analysis = nimboanalysis::Analyze(responses);
  PrintAnalysis(options.responses[0] + ", " + options.responses[1], analysis, false);
  if (options.json) {
    WriteJson(*options.json,
              AnalysisDocument({{"plugin", nullptr},
                                {"program", nullptr},
                                {"parameters", nlohmann::json::array()},
                                {"measurement", {{"files", options.responses}}}},
                               analysis));
  }
  return kExitOk;
}

int RunAnalysis(const sOptions& options, const std::string& pluginPath) {
  const double sampleRate = options.rate.value_or(kDemoSampleRate);
  // Errors in the program or settings show before anything is rendered.
  sPlugin described = OpenConfigured(options, pluginPath, sampleRate);
  const sMeasurement measurement = MeasureResponses(options, pluginPath, sampleRate);
  const nimboanalysis::sAnalysis analysis = nimboanalysis::Analyze(measurement.responses, measurement.conditions);

  nimbohost::cHostedEffect& effect = *described.effect;
  const std::string name = Trim(PluginTextToUtf8(effect.EffectName()));
  const std::string program = ProgramTitle(effect);
  PrintAnalysis((name.empty() ? std::filesystem::path(described.path).filename().string() : name) +
                    (program.empty() ? "" : ": " + program),
                analysis, measurement.conditions.bTailCapped);

  if (options.json) {
    nlohmann::json source = PluginJson(effect, described.path);
    source["measurement"] = {{"block", options.block},
                             {"tail_cap_s", options.tailSeconds},
                             {"capped", measurement.conditions.bTailCapped},
                             {"held", measurement.conditions.bHeld}};
    WriteJson(*options.json, AnalysisDocument(source, analysis));
  }
  Finish(described);
  return kExitOk;
}

// Each change found on a scratch instance set up as the render's, in time
// order, so a value the parameter already shows at that point stays a no-op.
std::vector<sTimedChange> ResolveTimedChanges(const sOptions& options, const std::string& pluginPath,
                                              double sampleRate) {
  std::vector<sTimedSetting> timed = options.timed;
  if (timed.empty()) return {};
  auto frameOf = [sampleRate](const sTimedSetting& t) {
    return t.inFrames ? static_cast<int64_t>(t.time) : static_cast<int64_t>(std::llround(t.time * sampleRate));
  };
  std::stable_sort(timed.begin(), timed.end(),
                   [&](const sTimedSetting& a, const sTimedSetting& b) { return frameOf(a) < frameOf(b); });
  sPlugin scratch = OpenConfigured(options, pluginPath, sampleRate);
  cParameterFinder finder(*scratch.effect);
  std::vector<sTimedChange> changes;
  for (const sTimedSetting& t : timed) {
    const sChange change = Resolve(finder, t.setting);
    if (!change.normalized) continue;
    scratch.effect->SetParameter(change.index, *change.normalized);
    changes.push_back({frameOf(t), change.index, *change.normalized});
  }
  Finish(scratch);
  return changes;
}

int Run(int argc, char** argv) {
  const sOptions options = ParseOptions(argc, argv);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }

  // Input and output first: their mistakes are the cheapest to find.
  std::unique_ptr<cInputFile> input;
  sStereo demo;
  double sampleRate = options.rate.value_or(kDemoSampleRate);
  const bool isDemo = !options.input && !options.list && !options.analyze;
  std::string outputPath;
  int format = 0;
  if (!options.list && !options.analyze) {
    if (options.input) {
      input = std::make_unique<cInputFile>(*options.input);
      sampleRate = input->SampleRate();
    }
    outputPath = options.output ? *options.output : isDemo ? kDemoOutput : DefaultOutput(*options.input);
    format = OutputFormatFor(outputPath);
    std::error_code error;
    if (options.input && std::filesystem::equivalent(*options.input, outputPath, error)) {
      throw cRenderError(kExitFile, "output '" + outputPath + "' is the input file '" + *options.input +
                                        "': the render would replace it (name another output)");
    }
  }

  if (!options.responses.empty()) return AnalyzeFiles(options);
  const std::string pluginPath = options.plugin ? *options.plugin : DefaultPlugin();
  if (options.analyze) return RunAnalysis(options, pluginPath);
  sPlugin plugin = OpenConfigured(options, pluginPath, sampleRate);
  nimbohost::cHostedEffect& effect = *plugin.effect;

  if (options.list) {
    PrintList(effect, plugin.path);
    Finish(plugin);
    return kExitOk;
  }

  InputSource source;
  int64_t inputFrames = 0;
  if (input) {
    inputFrames = input->Frames();
    source = [&input](float* l, float* r, int64_t frames) { return input->Read(l, r, frames); };
  } else {
    demo = SynthesizeDemo(sampleRate);
    inputFrames = static_cast<int64_t>(demo.left.size());
    source = [&demo, next = size_t{0}](float* l, float* r, int64_t frames) mutable {
      const auto count = static_cast<size_t>(std::min<int64_t>(frames, static_cast<int64_t>(demo.left.size() - next)));
      std::copy_n(demo.left.begin() + static_cast<std::ptrdiff_t>(next), count, l);
      std::copy_n(demo.right.begin() + static_cast<std::ptrdiff_t>(next), count, r);
      next += count;
      return static_cast<int64_t>(count);
    };
  }

  const std::vector<sTimedChange> changes = ResolveTimedChanges(options, pluginPath, sampleRate);
  cOutputFile output(outputPath, format, static_cast<int>(std::lround(sampleRate)));
  const sRenderResult result =
      RenderThrough(effect, source, inputFrames, sampleRate, options, &output, nullptr, changes);
  output.Commit();
  std::string summary = RenderSummary(outputPath, effect, result, sampleRate, options.tailSeconds);
  if (isDemo) {
    const sMeasurement measurement = MeasureResponses(options, pluginPath, sampleRate);
    summary += ", RT60 " + DecayText(nimboanalysis::Analyze(measurement.responses, measurement.conditions));
  }
  std::printf("%s\n", summary.c_str());
  Finish(plugin);
  return kExitOk;
}

}  // namespace
}  // namespace nimborender

int main(int argc, char** argv) {
  try {
    return nimborender::Run(argc, argv);
  } catch (const nimborender::cRenderError& error) {
    std::fprintf(stderr, "nimbohall-render: %s\n", error.what());
    return error.Status();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "nimbohall-render: %s\n", error.what());
    return nimborender::kExitFile;
  }
}
