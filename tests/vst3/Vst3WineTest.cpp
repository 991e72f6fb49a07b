// The Windows bundle, loaded by LoadLibrary in a Windows host under Wine,
// must answer exactly as the Linux one does and sound the same: the VST3
// report host runs on each bundle, the texts are compared byte for byte and
// the audio within the tolerance the VST 2.x comparison allows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "HostTestSupport.h"

namespace {

namespace fs = std::filesystem;

constexpr double kTolerance = 1e-5;  // of the render's peak: the last bits of the math libraries
constexpr int kWineTimeout = 1500;

struct sReport {
  std::vector<std::string> lines;
  std::vector<float> audio;
};

sReport Load(const fs::path& text, const fs::path& audio) {
  sReport report;
  std::istringstream in(hosttest::ReadFile(text));
  for (std::string line; std::getline(in, line);) report.lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
  const std::string bytes = hosttest::ReadFile(audio);
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

// The prefix the VST 2.x Wine tests make, shared (and locked) with them.
std::vector<std::string> WineEnvironment(const fs::path& work) {
  return {"WINEPREFIX=" + (work / "prefix").string(), "WINEDEBUG=-all",
          "WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=", "WINEARCH=win64"};
}

TEST(Vst3UnderWine, Win64BundleAnswersAndSoundsLikeLinux) {
  const std::string wine = NIMBOHALL_WINE64, host = NIMBOHALL_WIN64_VST3_HOST, bundle = NIMBOHALL_WIN64_VST3_BUNDLE;
  for (const std::string& path : {wine, host, bundle}) {
    ASSERT_TRUE(path.find("NOTFOUND") == std::string::npos && fs::exists(path))
        << path << " not found; build the win64 preset and install wine64";
  }
  const fs::path work = NIMBOHALL_WINE_WORK;
  fs::create_directories(work);
  const auto environment = WineEnvironment(work);
  if (!fs::exists(work / "prefix" / "system.reg")) {
    const auto boot = hosttest::Run({wine, "wineboot", "--init"}, work, environment, kWineTimeout);
    ASSERT_EQ(boot.status, 0) << "cannot make the Wine prefix: " << boot.err;
  }

  const auto native = hosttest::Run({NIMBOHALL_VST3REPORT_PATH, NIMBOHALL_VST3_BUNDLE, (work / "vst3-linux.txt").string(),
                                    (work / "vst3-linux.f32").string()});
  ASSERT_EQ(native.status, 0) << native.err;
  const auto windows = hosttest::Run({wine, host, WindowsPath(bundle), WindowsPath(work / "vst3-win64.txt"),
                                      WindowsPath(work / "vst3-win64.f32")},
                                     work, environment, kWineTimeout);
  hosttest::WriteFile(work / "vst3-win64.log", windows.out + windows.err);
  ASSERT_EQ(windows.status, 0) << "the report host failed under Wine: " << windows.err;

  const sReport onLinux = Load(work / "vst3-linux.txt", work / "vst3-linux.f32");
  const sReport onWindows = Load(work / "vst3-win64.txt", work / "vst3-win64.f32");
  ASSERT_GT(onLinux.lines.size(), 100u);
  for (size_t i = 0; i < std::max(onLinux.lines.size(), onWindows.lines.size()); ++i) {
    ASSERT_EQ(i < onLinux.lines.size() ? onLinux.lines[i] : "(none)",
              i < onWindows.lines.size() ? onWindows.lines[i] : "(none)")
        << "report line " << i + 1;
  }
  ASSERT_EQ(onLinux.audio.size(), onWindows.audio.size());
  ASSERT_FALSE(onLinux.audio.empty());
  double peak = 0.0, worst = 0.0;
  for (size_t i = 0; i < onLinux.audio.size(); ++i) {
    peak = std::max(peak, static_cast<double>(std::fabs(onLinux.audio[i])));
    const double difference = std::fabs(static_cast<double>(onLinux.audio[i]) - onWindows.audio[i]);
    worst = std::isnan(difference) ? INFINITY : std::max(worst, difference);
  }
  EXPECT_GT(peak, 0.0);
  EXPECT_LE(worst, kTolerance * peak) << "largest difference " << worst << " at peak " << peak;
  std::printf("vst3 win64: largest difference to Linux %.3g of the peak\n", peak > 0.0 ? worst / peak : worst);
}

}  // namespace
