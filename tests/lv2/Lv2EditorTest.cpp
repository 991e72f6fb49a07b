// The editor in Debian's jalv.gtk3, through suil's X11-in-GTK3 wrapper, on a
// display and a JACK server of the test's own: the window shows what the view
// paints, and a drag on a control reaches the plugin's port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <thread>

#include "HostTestSupport.h"
#include "Lv2Ports.h"
#include "cEditorView.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using hosttest::cBackground;
using nimbo::cReverbCore;
using nimbo::editor::cEditorView;

const fs::path kBundle = NIMBOHALL_LV2_BUNDLE;
const fs::path kSuilWrapper = "/usr/lib/x86_64-linux-gnu/suil-0/libsuil_x11_in_gtk3.so";

// Polls until `ready` holds, for at most `time`.
template <class tCondition>
bool WaitUntil(tCondition ready, std::chrono::milliseconds time = 20s) {
  for (const auto end = std::chrono::steady_clock::now() + time; std::chrono::steady_clock::now() < end;) {
    if (ready()) return true;
    std::this_thread::sleep_for(100ms);
  }
  return ready();
}

// What the view asked for, as a host would see it.
struct sRecorder : nimbo::editor::iEditorController {
  std::vector<std::pair<int32_t, float>> values;
  void BeginGesture(int32_t) override {}
  void SetValue(int32_t id, float plain) override { values.emplace_back(id, plain); }
  void EndGesture(int32_t) override {}
  void SelectProgram(int32_t) override {}
  bool HasBypass() const override { return true; }  // the plugin has a bypass port
};

struct sDrag {
  int x = 0, y = 0;  // where it starts, in the view's pixels
  int32_t id = -1;   // the parameter it changes
  float value = 0;   // what it ends with
};

constexpr int kDragSteps = 4;
constexpr int kDragStep = 10;

// Sends the drag of the test to a view: press, four moves upwards, release.
void Drag(cEditorView& view, int x, int y, uint32_t timeMs) {
  view.MouseDown(x, y, 0, timeMs);
  for (int k = 1; k <= kDragSteps; ++k) view.MouseMove(x, y - k * kDragStep, 0);
  view.MouseUp(x, y - kDragSteps * kDragStep, 0);
}

// A place on a fresh view where dragging upwards changes a parameter with a
// continuous range, found by trying, so the test needs no layout of its own.
std::optional<sDrag> FindDrag(const cReverbCore& core) {
  sRecorder recorder;
  cEditorView view(core, recorder);
  uint32_t time = 0;
  for (int y = kDragSteps * kDragStep; y < view.PixelHeight(); y += 6) {
    for (int x = 0; x < view.PixelWidth(); x += 6) {
      recorder.values.clear();
      Drag(view, x, y, time += 1000);
      view.Key(nimbo::editor::eKey::kEscape, 0);
      view.Leave();
      if (recorder.values.empty()) continue;
      const auto [id, value] = recorder.values.back();
      if (cReverbCore::IsParameter(id) && !core.IsStepped(id)) return sDrag{x, y, id, value};
    }
  }
  return std::nullopt;
}

// A control port's value in a state jalv saved.
std::optional<float> SavedPortValue(const fs::path& state, const std::string& symbol) {
  const std::string text = hosttest::ReadFile(state);
  std::smatch m;
  if (!std::regex_search(text, m, std::regex("lv2:symbol \"" + symbol + "\" ;\\s*pset:value ([-0-9.eE+]+)")))
    return std::nullopt;
  return std::stof(m[1]);
}

struct sWindow {
  std::string id;
  int x = 0, y = 0;  // on the screen
};

class Lv2Editor : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef NIMBOHALL_SANITIZED
    GTEST_SKIP() << "third-party hosts cannot load a sanitized plugin";
#endif
    ASSERT_TRUE(fs::exists("/usr/bin/jalv.gtk3")) << "Debian's jalv is not installed";
    ASSERT_TRUE(fs::exists(kSuilWrapper)) << "suil's X11-in-GTK3 wrapper is missing";
    ASSERT_TRUE(fs::exists(kBundle / "nimbohall_ui.so"));
    StartDisplay();
    ASSERT_FALSE(m_Display.empty()) << hosttest::ReadFile(m_Dir / "xvfb.log");
    // JACK's clients meet theirs by name whatever the server: each name its own too.
    const std::string server = "nimbohall-ui-" + std::to_string(getpid());
    m_Client = server;
    m_Environment = {"DISPLAY=" + m_Display, "JACK_DEFAULT_SERVER=" + server, "HOME=" + m_Dir.Path().string(),
                     "LV2_PATH=" + kBundle.parent_path().string(), "NO_AT_BRIDGE=1", "GSETTINGS_BACKEND=memory"};
    m_Jack.emplace(std::vector<std::string>{"/usr/bin/jackd", "--no-realtime", "-n", server, "-d", "dummy", "-r",
                                            "48000", "-p", "512"},
                   m_Environment, m_Dir / "jackd.log");
    ASSERT_EQ(Tool({"/usr/bin/jack_wait", "-n", m_Client + "-wait", "-w", "-t", "10"}).status, 0)
        << hosttest::ReadFile(m_Dir / "jackd.log");
  }
  void TearDown() override {
    if (m_Jack) {
      EXPECT_EQ(m_Jack->Stop(SIGTERM, 0s), 0) << hosttest::ReadFile(m_Dir / "jackd.log");
    }
    m_Xvfb.reset();
  }

  void StartDisplay() {
    m_Xvfb.emplace(m_Dir / "xvfb.log");
    m_Display = m_Xvfb->Display();
  }

  hosttest::sRun Tool(const std::vector<std::string>& command) {
    return hosttest::Run(command, m_Dir.Path(), m_Environment, 30);
  }

  // Keys to a top-level window. With no window manager, the keyboard goes where
  // it is told, and to the window under the pointer inside that: the pointer
  // leaves the editor first.
  bool Keys(const std::string& window, const std::vector<std::string>& keys) {
    Tool({"/usr/bin/xdotool", "mousemove", "1270", "1014"});
    if (!WaitUntil([&] {
          Tool({"/usr/bin/xdotool", "windowfocus", "--sync", window});
          return Tool({"/usr/bin/xdotool", "getwindowfocus"}).out == window + "\n";
        }, 10s))
      return false;
    std::vector<std::string> command = {"/usr/bin/xdotool"};
    command.insert(command.end(), keys.begin(), keys.end());
    return Tool(command).status == 0;
  }
  // The first window whose whole name matches.
  std::string WindowNamed(const std::string& regex) {
    const std::string found = Tool({"/usr/bin/xdotool", "search", "--name", "^" + regex + "$"}).out;
    return found.substr(0, found.find('\n'));
  }

  // The editor's window: the innermost of the view's size (suil's socket around it has the same).
  std::optional<sWindow> FindEditor(int width, int height) {
    const std::string tree = Tool({"/usr/bin/xwininfo", "-root", "-tree"}).out;
    const std::regex line("(0x[0-9a-f]+) [^\n]*  (\\d+)x(\\d+)[+-]-?\\d+[+-]-?\\d+  \\+(-?\\d+)\\+(-?\\d+)");
    std::optional<sWindow> found;
    for (std::sregex_iterator m(tree.begin(), tree.end(), line), end; m != end; ++m)
      if (std::stoi((*m)[2]) == width && std::stoi((*m)[3]) == height)
        found = sWindow{(*m)[1], std::stoi((*m)[4]), std::stoi((*m)[5])};
    return found;
  }

  hosttest::cTempDir m_Dir;
  std::string m_Display;
  std::string m_Client;
  std::vector<std::string> m_Environment;
  std::optional<hosttest::cXServer> m_Xvfb;
  std::optional<cBackground> m_Jack;
};

// jalv starts with a preset of the bundle: the editor, told only the ports' values, shows that program.
TEST_F(Lv2Editor, ShowsInJalvAndADragChangesThePort) {
  constexpr int32_t kProgram = 5;
  auto core = std::make_unique<cReverbCore>();
  core->LoadProgram(kProgram);
  sRecorder recorder;
  cEditorView expected(*core, recorder);
  expected.Paint();
  const int width = expected.PixelWidth(), height = expected.PixelHeight();
  const std::optional<sDrag> drag = FindDrag(*core);
  ASSERT_TRUE(drag) << "no control of the view takes a drag";

  const std::string preset = std::string(nimbolv2::kPluginUri) + ":program:0" + std::to_string(kProgram);
  cBackground jalv({"/usr/bin/jalv.gtk3", "--jack-name", m_Client, "--preset", preset, nimbolv2::kPluginUri},
                   m_Environment, m_Dir / "jalv.log", m_Dir.Path());
  std::optional<sWindow> editor;
  ASSERT_TRUE(WaitUntil([&] { return (editor = FindEditor(width, height)).has_value() || !jalv.Running(); }))
      << hosttest::ReadFile(m_Dir / "jalv.log");
  ASSERT_TRUE(editor) << hosttest::ReadFile(m_Dir / "jalv.log");
  std::string hostWindow;
  ASSERT_TRUE(WaitUntil([&] { return !(hostWindow = WindowNamed("Nimbohall( - .*)?")).empty(); }));

  // Shown: the pixels on the screen are the view's (the pointer away, so nothing is hovered).
  Tool({"/usr/bin/xdotool", "mousemove", "1270", "1014"});
  const fs::path raw = m_Dir / "editor.rgb";
  std::vector<uint8_t> pixels;
  // Where the host has put it by now (it moves once the host's menu bar is laid out).
  const auto differing = [&] {
    if (!(editor = FindEditor(width, height))) return size_t(width) * height;
    Tool({"/usr/bin/import", "-window", "root", "-crop",
          std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(editor->x) + "+" +
              std::to_string(editor->y),
          "+repage", "-depth", "8", "rgb:" + raw.string()});
    const std::string bytes = hosttest::ReadFile(raw);
    pixels.assign(bytes.begin(), bytes.end());
    if (pixels.size() != size_t(width) * height * 3) return size_t(width) * height;
    size_t n = 0;
    for (size_t i = 0; i < size_t(width) * height; ++i) {
      const uint32_t want = expected.Pixels()[i];
      n += pixels[3 * i] != uint8_t(want >> 16) || pixels[3 * i + 1] != uint8_t(want >> 8) ||
           pixels[3 * i + 2] != uint8_t(want);
    }
    return n;
  };
  EXPECT_TRUE(WaitUntil([&] { return differing() == 0; }, 10s)) << differing() << " pixels differ from the view's";

  // The drag, then the host's values saved to a folder, as its "Save" does.
  const auto at = [&](int dy) {
    return std::vector<std::string>{"/usr/bin/xdotool", "mousemove", "--sync", std::to_string(editor->x + drag->x),
                                    std::to_string(editor->y + drag->y - dy)};
  };
  Tool(at(0));
  Tool({"/usr/bin/xdotool", "mousedown", "1"});
  for (int k = 1; k <= kDragSteps; ++k) Tool(at(k * kDragStep));
  Tool({"/usr/bin/xdotool", "mouseup", "1"});
  ASSERT_TRUE(Keys(hostWindow, {"key", "ctrl+s"}));
  std::string dialog;
  ASSERT_TRUE(WaitUntil([&] { return !(dialog = WindowNamed("Save State")).empty(); }));
  // A name, not a path: the dialog starts in the host's working folder, and a path would meet its completion.
  ASSERT_TRUE(Keys(dialog, {"type", "--delay", "20", "saved"}));
  // The chooser does not answer the first Enter after typing (its completion takes it): Enter until it goes.
  ASSERT_TRUE(WaitUntil([&] {
    if (WindowNamed("Save State").empty()) return true;
    Tool({"/usr/bin/xdotool", "key", "Return"});
    return WaitUntil([&] { return WindowNamed("Save State").empty(); }, 1s);
  }));
  const fs::path state = m_Dir / "saved" / "state.ttl";
  ASSERT_TRUE(WaitUntil([&] { return SavedPortValue(state, nimbolv2::kParameterSymbols[drag->id]).has_value(); }));
  const float before = core->Plain(drag->id), after = *SavedPortValue(state, nimbolv2::kParameterSymbols[drag->id]);
  EXPECT_NE(after, before) << nimbolv2::kParameterSymbols[drag->id];
  EXPECT_NEAR(after, drag->value, 1e-6 * std::fabs(drag->value)) << nimbolv2::kParameterSymbols[drag->id];
  // The other ports as they were.
  for (int32_t id = 0; id < nimbo::kNumParameters; ++id) {
    const std::optional<float> saved = SavedPortValue(state, nimbolv2::kParameterSymbols[id]);
    ASSERT_TRUE(saved) << nimbolv2::kParameterSymbols[id];
    if (id != drag->id) {
      EXPECT_NEAR(*saved, core->Plain(id), 1e-6f * std::fabs(core->Plain(id))) << nimbolv2::kParameterSymbols[id];
    }
  }

  // Closed from the host's menu ("Quit"): the UI and the plugin go, jalv ends well.
  EXPECT_TRUE(Keys(hostWindow, {"key", "ctrl+q"}));
  EXPECT_EQ(jalv.Stop(SIGINT), 0);
  const std::string log = hosttest::ReadFile(m_Dir / "jalv.log");
  EXPECT_TRUE(std::regex_search(log, std::regex("UI: +" + std::string(nimbolv2::kEditorUri) + "\n"))) << log;
  EXPECT_FALSE(std::regex_search(log, std::regex("[Ee]rror|[Ww]arning|[Ff]ail|[Cc]ritical"))) << log;
}

}  // namespace
