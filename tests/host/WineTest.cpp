// The Windows DLLs, loaded by LoadLibrary in a Windows host under Wine, must
// answer exactly as the Linux plugin does and sound the same: the report host
// runs on each binary, the texts are compared byte for byte and the audio
// within a tight tolerance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <sstream>

#include "HostTestSupport.h"

namespace {

namespace fs = std::filesystem;

// Largest difference allowed, relative to the render's peak: room for the
// last bits of the math libraries, nothing that could be heard.
constexpr double kTolerance = 1e-5;
constexpr int kWineTimeout = 1500;

struct sReport {
  std::vector<std::string> lines;
  std::vector<float> audio;
};

sReport Load(const fs::path& text, const fs::path& audio) {
  sReport report;
  std::ifstream in(text, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    report.lines.push_back(line);
  }
  std::ifstream raw(audio, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
  report.audio.resize(bytes.size() / sizeof(float));
  std::memcpy(report.audio.data(), bytes.data(), report.audio.size() * sizeof(float));
  return report;
}

std::string WindowsPath(const fs::path& path) {
  std::string out = "Z:" + fs::absolute(path).lexically_normal().string();
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

sReport LinuxReport(const fs::path& work, const std::string& host = NIMBOHALL_HOSTREPORT_PATH,
                    const std::string& plugin = NIMBOHALL_PLUGIN_PATH) {
  const fs::path text = work / (fs::path(plugin).filename().string() + ".onLinux.txt");
  const fs::path audio = work / (fs::path(plugin).filename().string() + ".onLinux.f32");
  const auto run = hosttest::Run({host, plugin, text.string(), audio.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  return Load(text, audio);
}

std::vector<std::string> WineEnvironment(const fs::path& work) {
  return {
      "WINEPREFIX=" + (work / "prefix").string(),
      "WINEDEBUG=-all",
      "WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=",
      // Without effect where 32-bit code runs natively; where it runs under
      // qemu-i386 instead, Wine needs the whole 32-bit address space.
      "QEMU_RESERVED_VA=0xf7000000",
  };
}

// One 64-bit prefix serves both tests: it runs 32-bit programs too, and it is
// made by the 64-bit loader, which is quick even where 32-bit code is emulated.
bool EnsurePrefix(const fs::path& work) {
  const std::string wine64 = NIMBOHALL_WINE64;
  if (fs::exists(work / "prefix" / "system.reg") || wine64.find("NOTFOUND") != std::string::npos) return true;
  std::vector<std::string> environment = WineEnvironment(work);
  environment.push_back("WINEARCH=win64");
  const auto run = hosttest::Run({wine64, "wineboot", "--init"}, work, environment, kWineTimeout);
  hosttest::WriteFile(work / "prefix.log", run.out + run.err);
  if (run.status != 0) ADD_FAILURE() << "cannot make the Wine prefix (status " << run.status << "): " << run.err;
  // The boot leaves its server and desktop running, without a display: a
  // window program started before they end would join them and show nothing.
  const fs::path server = fs::path(wine64).parent_path() / "wineserver";
  hosttest::Run({fs::exists(server) ? server.string() : "wineserver", "-w"}, work, environment, kWineTimeout);
  return run.status == 0;
}

// Runs the Windows report host on the DLL; empty with a failure when it cannot.
sReport WineReport(const std::string& name, const std::string& wine, const std::string& host, const std::string& dll) {
  for (const auto& [what, path] : {std::pair<std::string, std::string>{"Wine", wine}, {"the report host", host},
                                   {"the plugin", dll}}) {
    if (path.empty() || path.find("NOTFOUND") != std::string::npos || !fs::exists(path)) {
      ADD_FAILURE() << name << ": " << what << " not found (" << path
                    << "); build the win32 and win64 presets and install wine, wine64 and wine32:i386";
      return {};
    }
  }
  const fs::path work = fs::path(NIMBOHALL_WINE_WORK);
  fs::create_directories(work);
  const fs::path text = work / (name + ".txt");
  const fs::path audio = work / (name + ".f32");
  fs::remove(text);
  fs::remove(audio);
  const std::vector<std::string> environment = WineEnvironment(work);
  if (!EnsurePrefix(work)) return {};
  const auto run = hosttest::Run({wine, host, WindowsPath(dll), WindowsPath(text), WindowsPath(audio)}, work,
                                 environment, kWineTimeout);
  hosttest::WriteFile(work / (name + ".log"), run.out + run.err);
  if (run.status != 0 || !fs::exists(text)) {
    ADD_FAILURE() << name << ": the report host failed under Wine (status " << run.status << "): " << run.err;
    return {};
  }
  return Load(text, audio);
}

void Compare(const std::string& name, const sReport& onLinux, const sReport& onWindows) {
  ASSERT_FALSE(onWindows.lines.empty()) << name << ": no report";
  // Texts byte for byte, line by line, so a failure shows where.
  int shown = 0;
  for (size_t i = 0; i < std::max(onLinux.lines.size(), onWindows.lines.size()) && shown < 10; ++i) {
    const std::string a = i < onLinux.lines.size() ? onLinux.lines[i] : "(none)";
    const std::string b = i < onWindows.lines.size() ? onWindows.lines[i] : "(none)";
    if (a != b) {
      ADD_FAILURE() << name << " report line " << i + 1 << "\n  Linux:   " << a << "\n  Windows: " << b;
      ++shown;
    }
  }
  ASSERT_EQ(onLinux.lines, onWindows.lines) << name << ": reports differ";
  ASSERT_EQ(onLinux.audio.size(), onWindows.audio.size()) << name << ": audio lengths differ";

  // Audio render by render, as the report's "render" lines list them.
  size_t offset = 0;
  double worstOverall = 0.0;
  for (const std::string& line : onLinux.lines) {
    if (line.rfind("render ", 0) != 0) continue;
    const size_t at = line.find("frames=");
    ASSERT_NE(at, std::string::npos) << line;
    const size_t count = 2 * std::stoul(line.substr(at + 7));
    ASSERT_LE(offset + count, onLinux.audio.size()) << line;
    double peak = 0.0;
    double worst = 0.0;
    for (size_t i = offset; i < offset + count; ++i) {
      peak = std::max(peak, static_cast<double>(std::fabs(onLinux.audio[i])));
      const double difference = std::fabs(static_cast<double>(onLinux.audio[i]) - onWindows.audio[i]);
      worst = std::isnan(difference) ? INFINITY : std::max(worst, difference);
    }
    ASSERT_TRUE(std::isfinite(peak)) << name << " " << line << ": the Linux render is not finite";
    const double relative = peak > 0.0 ? worst / peak : worst;
    EXPECT_LE(relative, kTolerance) << name << " " << line << ": max difference " << worst << " at peak " << peak;
    worstOverall = std::max(worstOverall, relative);
    offset += count;
  }
  EXPECT_EQ(offset, onLinux.audio.size()) << name << ": audio not covered by the report";
  ::testing::Test::RecordProperty(name + "_max_relative_difference", std::to_string(worstOverall));
  std::printf("%s: largest difference to Linux %.3g of the peak\n", name.c_str(), worstOverall);
}

TEST(WindowsBuildsUnderWine, Win32DllAnswersAndSoundsLikeLinux) {
  const fs::path work = fs::path(NIMBOHALL_WINE_WORK);
  fs::create_directories(work);
  const sReport onLinux = LinuxReport(work);
  const sReport onWindows = WineReport("win32", NIMBOHALL_WINE32, NIMBOHALL_WIN32_HOST, NIMBOHALL_WIN32_DLL);
  Compare("win32", onLinux, onWindows);
}

TEST(WindowsBuildsUnderWine, Win64DllAnswersAndSoundsLikeLinux) {
  const fs::path work = fs::path(NIMBOHALL_WINE_WORK);
  fs::create_directories(work);
  const sReport onLinux = LinuxReport(work);
  const sReport onWindows = WineReport("win64", NIMBOHALL_WINE64, NIMBOHALL_WIN64_HOST, NIMBOHALL_WIN64_DLL);
  Compare("win64", onLinux, onWindows);
}

}  // namespace

// The 64-bit Windows .clap through the CLAP report host: descriptor, parameter
// infos, texts both ways, presets, state and sound as on Linux.
TEST(WindowsBuildsUnderWine, Win64ClapAnswersAndSoundsLikeLinux) {
  const fs::path work = fs::path(NIMBOHALL_WINE_WORK);
  fs::create_directories(work);
  const sReport onLinux = LinuxReport(work, NIMBOHALL_CLAPREPORT_PATH, NIMBOHALL_CLAP_PATH);
  const sReport onWindows = WineReport("win64-clap", NIMBOHALL_WINE64, NIMBOHALL_WIN64_CLAPHOST, NIMBOHALL_WIN64_CLAP);
  Compare("win64-clap", onLinux, onWindows);
}

// The 64-bit Windows VST3 bundle through the VST3 report host: module, factory
// and class infos, buses, parameter infos, texts both ways, programs, state
// and sound as on Linux.
TEST(Vst3UnderWine, Win64BundleAnswersAndSoundsLikeLinux) {
  const fs::path work = fs::path(NIMBOHALL_WINE_WORK);
  fs::create_directories(work);
  const sReport onLinux = LinuxReport(work, NIMBOHALL_VST3REPORT_PATH, NIMBOHALL_VST3_BUNDLE);
  const sReport onWindows = WineReport("win64-vst3", NIMBOHALL_WINE64, NIMBOHALL_WIN64_VST3_HOST, NIMBOHALL_WIN64_VST3_BUNDLE);
  ASSERT_GT(onLinux.lines.size(), 100u);
  ASSERT_FALSE(onLinux.audio.empty());
  Compare("win64-vst3", onLinux, onWindows);
}

#ifdef NIMBOHALL_WIN64_EDITORHOST
// The 64-bit CLAP and VST3 editors embedded in a Win32 window of our own host,
// both at once after a few open/close cycles, on an Xvfb of the test's own:
// each shows the view (many colours, not a blank or black window) and the host
// closes everything cleanly.
TEST(EditorsUnderWine, Win64ClapAndVst3EditorsShowAndClose) {
  for (const std::string path : {NIMBOHALL_WIN64_EDITORHOST, NIMBOHALL_WIN64_CLAP, NIMBOHALL_WIN64_VST3_BUNDLE})
    ASSERT_TRUE(fs::exists(path)) << path << " is missing; build the win64 preset";
  ASSERT_TRUE(fs::exists("/usr/bin/Xvfb") && fs::exists("/usr/bin/import")) << "install xvfb and imagemagick";
  const fs::path work = fs::path(NIMBOHALL_WINE_WORK);
  fs::create_directories(work);
  if (!EnsurePrefix(work)) return;
  hosttest::cTempDir dir;
  hosttest::cXServer x(dir / "xvfb.log", "1280x1300x24");
  ASSERT_FALSE(x.Display().empty()) << hosttest::ReadFile(dir / "xvfb.log");
  std::vector<std::string> environment = WineEnvironment(work);
  environment.push_back("DISPLAY=" + x.Display());
  const fs::path stop = dir / "stop", output = dir / "host.out";
  hosttest::cBackground host({NIMBOHALL_WINE64, NIMBOHALL_WIN64_EDITORHOST, "--clap", WindowsPath(NIMBOHALL_WIN64_CLAP),
                              "--vst3", WindowsPath(NIMBOHALL_WIN64_VST3_BUNDLE), "--cycles", "3", "--seconds", "120",
                              "--stop", WindowsPath(stop)},
                             environment, output);
  std::vector<std::vector<std::string>> editors;
  for (int k = 0; k < 1200 && editors.size() < 2 && host.Running(); ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    editors.clear();
    std::istringstream lines(hosttest::ReadFile(output));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
      if (words.size() == 6 && words[0] == "editor") editors.push_back(words);
    }
  }
  ASSERT_EQ(editors.size(), 2u) << hosttest::ReadFile(output);
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the first paints
  for (const auto& editor : editors) {
    ASSERT_EQ(editor[4] + "x" + editor[5], "900x560") << editor[1];
    const fs::path shot = dir / (editor[1] + ".rgb");
    const auto run = hosttest::Run({"/usr/bin/import", "-window", "root", "-crop",
                                    editor[4] + "x" + editor[5] + "+" + editor[2] + "+" + editor[3], "-depth", "8",
                                    "rgb:" + shot.string()},
                                   dir.Path(), {"DISPLAY=" + x.Display()}, 60);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string rgb = hosttest::ReadFile(shot);
    std::set<uint32_t> colours;
    for (size_t k = 0; k + 2 < rgb.size(); k += 3)
      colours.insert(static_cast<uint32_t>(static_cast<unsigned char>(rgb[k])) << 16 |
                     static_cast<uint32_t>(static_cast<unsigned char>(rgb[k + 1])) << 8 |
                     static_cast<unsigned char>(rgb[k + 2]));
    EXPECT_GT(colours.size(), 200u) << editor[1] << ": the editor's window looks blank";
  }
  hosttest::WriteFile(stop, "");
  ASSERT_EQ(host.Stop(SIGKILL, std::chrono::seconds(60)), 0) << hosttest::ReadFile(output);
  const std::string out = hosttest::ReadFile(output);
  EXPECT_NE(out.find("closed"), std::string::npos) << out;
}
#endif
