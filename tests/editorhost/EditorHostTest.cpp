// The CLAP and VST3 editors in our X11 host, on an X server each test starts
// for itself: the window shows the view's very pixels, a drag with the real
// pointer reaches the host as one gesture, editors come and go often and two
// at once, hosts' odd orders do no harm, and the sound is the same with the
// editor open.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "HostTestSupport.h"
#include "cEditorView.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nimbo::cReverbCore;
using nimbo::editor::cEditorView;

const std::string kHost = NIMBOHALL_EDITORHOST;

// Where a drag upwards on a fresh view changes a continuous parameter, found
// by trying synthetic drags, so the test knows no layout.
struct sDrag {
  int x = 0, y = 0;
  int32_t id = -1;
};
constexpr int kDragSteps = 5;
constexpr int kDragStep = 8;

std::optional<sDrag> FindDrag() {
  struct sRecorder : nimbo::editor::iEditorController {
    int32_t changed = -1;
    void BeginGesture(int32_t) override {}
    void SetValue(int32_t id, float) override { changed = id; }
    void EndGesture(int32_t) override {}
    void SelectProgram(int32_t) override {}
  } recorder;
  const cReverbCore core;
  cEditorView view(core, recorder);
  uint32_t time = 0;
  for (int y = kDragSteps * kDragStep + 10; y < view.PixelHeight(); y += 8) {
    for (int x = 10; x < view.PixelWidth(); x += 8) {
      recorder.changed = -1;
      view.MouseDown(x, y, 0, time += 1000);
      for (int k = 1; k <= kDragSteps; ++k) view.MouseMove(x, y - k * kDragStep, 0);
      view.MouseUp(x, y - kDragSteps * kDragStep, 0);
      view.Key(nimbo::editor::eKey::kEscape, 0);
      view.Leave();
      if (cReverbCore::IsParameter(recorder.changed) && !core.IsStepped(recorder.changed))
        return sDrag{x, y, recorder.changed};
    }
  }
  return std::nullopt;
}

// The lines of a host's output that begin with `word`, split into fields after it.
std::vector<std::vector<std::string>> Lines(const std::string& output, const std::string& word) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string first;
    fields >> first;
    if (first != word) continue;
    lines.emplace_back();
    for (std::string field; fields >> field;) lines.back().push_back(field);
  }
  return lines;
}

// A parameter's values as the host read them, one per `values` command, for instance 0.
std::vector<double> ValuesOf(const std::string& output, int32_t id) {
  std::vector<double> values;
  for (const auto& line : Lines(output, "value"))
    if (line.size() == 3 && line[0] == "0" && line[1] == std::to_string(id)) values.push_back(std::stod(line[2]));
  return values;
}

class EditorHost : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/import"})
      ASSERT_TRUE(fs::exists(tool)) << tool << " is missing (Debian packages xvfb, xdotool, imagemagick)";
    m_X.emplace(m_Dir / "xvfb.log", "1280x1300x24");
    ASSERT_FALSE(m_X->Display().empty()) << hosttest::ReadFile(m_Dir / "xvfb.log");
    m_Environment = {"DISPLAY=" + m_X->Display()};
  }

  std::vector<std::string> Host(std::vector<std::string> options, const std::vector<std::string>& commands) const {
    std::vector<std::string> arguments = {kHost};
    if (GetParam() == "clap") arguments.insert(arguments.end(), {"--clap", NIMBOHALL_CLAP_PATH});
    else arguments.insert(arguments.end(), {"--vst3", NIMBOHALL_VST3_BUNDLE});
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), commands.begin(), commands.end());
    return arguments;
  }
  // Runs the host to its end; its output. A clean run prints "done", leaves no
  // registration behind and never lets the audio thread allocate.
  std::string RunHost(const std::vector<std::string>& options, const std::vector<std::string>& commands) {
    const hosttest::sRun run = hosttest::Run(Host(options, commands), m_Dir.Path(), m_Environment, 240);
    const std::string all = run.out + run.err;
    EXPECT_EQ(run.status, 0) << all;
    EXPECT_NE(run.out.find("\ndone\n"), std::string::npos) << all;
    EXPECT_EQ(all.find("left"), std::string::npos) << all;
    for (const auto& line : Lines(run.out, "audio-allocations")) EXPECT_EQ(line, std::vector<std::string>{"0"}) << all;
    return run.out;
  }
  hosttest::sRun Tool(const std::vector<std::string>& command) const {
    return hosttest::Run(command, m_Dir.Path(), m_Environment, 60);
  }

  hosttest::cTempDir m_Dir;
  std::optional<hosttest::cXServer> m_X;
  std::vector<std::string> m_Environment;
};

// The window shows exactly what the view paints, and a drag with the real
// pointer changes the value the host reads, as one gesture the host saw begin
// and end, while the audio thread runs.
TEST_P(EditorHost, ShowsTheViewAndADragReachesTheHost) {
  const std::optional<sDrag> drag = FindDrag();
  ASSERT_TRUE(drag) << "no control of the view moves with an upward drag";
  const fs::path stop = m_Dir / "stop";
  const fs::path output = m_Dir / "host.log";
  hosttest::cBackground host(
      Host({"--audio"}, {"values", "open", "until", stop.string(), "60000", "values", "events", "close"}),
      m_Environment, output);
  std::vector<std::string> editor;
  for (int k = 0; k < 600 && editor.size() != 5; ++k) {
    std::this_thread::sleep_for(50ms);
    const auto lines = Lines(hosttest::ReadFile(output), "editor");
    if (!lines.empty()) editor = lines[0];
  }
  ASSERT_EQ(editor.size(), 5u) << hosttest::ReadFile(output);
  const int x = std::stoi(editor[1]), y = std::stoi(editor[2]);
  const std::string width = editor[3], height = editor[4];

  // What a fresh view paints, against the screen, after the first timer ticks.
  struct sIdle : nimbo::editor::iEditorController {
    void BeginGesture(int32_t) override {}
    void SetValue(int32_t, float) override {}
    void EndGesture(int32_t) override {}
    void SelectProgram(int32_t) override {}
    bool HasBypass() const override { return true; }  // both formats have one
  } idle;
  const cReverbCore core;
  cEditorView view(core, idle);
  view.Paint();
  ASSERT_EQ(width + "x" + height, std::to_string(view.PixelWidth()) + "x" + std::to_string(view.PixelHeight()));
  // The pointer away from the editor, which would show what it hovers over.
  ASSERT_EQ(Tool({"/usr/bin/xdotool", "mousemove", "1279", "1299"}).status, 0);
  const fs::path shot = m_Dir / "editor.rgb";
  size_t differing = 0;
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(Tool({"/usr/bin/import", "-window", "root", "-crop", width + "x" + height + "+" + editor[1] + "+" + editor[2],
                    "-depth", "8", "rgb:" + shot.string()}).status, 0);
    const std::string rgb = hosttest::ReadFile(shot);
    ASSERT_EQ(rgb.size(), static_cast<size_t>(view.PixelWidth()) * view.PixelHeight() * 3);
    differing = 0;
    for (size_t k = 0; k < rgb.size() / 3; ++k) {
      const uint32_t pixel = view.Pixels()[k];
      const auto red = static_cast<unsigned char>(pixel >> 16), green = static_cast<unsigned char>(pixel >> 8),
                 blue = static_cast<unsigned char>(pixel);
      if (static_cast<unsigned char>(rgb[3 * k]) != red || static_cast<unsigned char>(rgb[3 * k + 1]) != green ||
          static_cast<unsigned char>(rgb[3 * k + 2]) != blue)
        ++differing;
    }
    if (differing == 0) break;
  }
  EXPECT_EQ(differing, 0u) << "pixels on the screen that are not the view's";

  std::vector<std::string> xdotool = {"/usr/bin/xdotool", "mousemove", std::to_string(x + drag->x),
                                      std::to_string(y + drag->y), "mousedown", "1"};
  for (int k = 1; k <= kDragSteps; ++k)
    xdotool.insert(xdotool.end(), {"sleep", "0.05", "mousemove", std::to_string(x + drag->x),
                                   std::to_string(y + drag->y - k * kDragStep)});
  xdotool.insert(xdotool.end(), {"sleep", "0.05", "mouseup", "1", "sleep", "0.3"});
  ASSERT_EQ(Tool(xdotool).status, 0);
  hosttest::WriteFile(stop, "");
  ASSERT_EQ(host.Stop(SIGKILL, 120s), 0) << hosttest::ReadFile(output);
  const std::string out = hosttest::ReadFile(output);

  const std::vector<double> values = ValuesOf(out, drag->id);
  ASSERT_EQ(values.size(), 2u) << out;
  EXPECT_NE(values[0], values[1]) << "parameter " << drag->id << " did not change\n" << out;
  // The drag's changes: begin, values, end, nothing of it outside.
  std::vector<std::string> kinds;
  double last = values[0];
  for (const auto& line : Lines(out, "event")) {
    if (line.size() < 3 || line[0] != "0" || line[2] != std::to_string(drag->id)) continue;
    kinds.push_back(line[1]);
    if (line[1] == "value") last = std::stod(line[3]);
  }
  ASSERT_GE(kinds.size(), 3u) << out;
  EXPECT_EQ(kinds.front(), "begin") << out;
  EXPECT_EQ(kinds.back(), "end") << out;
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "begin"), 1) << out;
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "end"), 1) << out;
  EXPECT_EQ(last, values[1]) << "the last value the host was told is not what it reads";
  EXPECT_EQ(Lines(out, "audio-allocations"), std::vector<std::vector<std::string>>{{"0"}}) << out;
}

// Twenty times open and closed, two instances at once, while the audio
// thread processes both; then each open once more for a while.
TEST_P(EditorHost, OpensAndClosesOftenWithTwoInstances) {
  const std::string out = RunHost({"--instances", "2", "--audio"}, {"cycle", "20", "open", "wait", "500", "close"});
  EXPECT_EQ(Lines(out, "editor").size(), 42u) << out;
}

// Hosts that ask the size before opening, open twice without closing, close
// twice, and close while the audio thread processes; strict embedders find
// the window mapped and its size fixed.
TEST_P(EditorHost, TakesHostQuirks) {
  const std::string out =
      RunHost({"--audio"}, {"size", "open", "wait", "200", "open", "wait", "200", "close", "close", "size"});
  const auto sizes = Lines(out, "size");
  ASSERT_EQ(sizes.size(), 2u) << out;
  EXPECT_EQ(sizes[0], sizes[1]);
  EXPECT_EQ(Lines(out, "editor").size(), 2u) << out;
  // Each time one window in the host's, mapped for XEmbed, of one fixed size.
  const std::string w = sizes[0][1], h = sizes[0][2];
  const std::vector<std::string> embedded = {"0", "0", "1", w, h, w, h, w, h};
  EXPECT_EQ(Lines(out, "embed"), (std::vector<std::vector<std::string>>{embedded, embedded})) << out;
}

// The host's scale, before the editor opens and while it is open: the window
// and what it tells embedders follow.
TEST_P(EditorHost, FollowsTheHostsScale) {
  const std::string out = RunHost({}, {"scale", "2", "open", "wait", "200", "scale", "1.5", "wait", "200", "size",
                                       "embed"});
  const std::string w2 = std::to_string(2 * cEditorView::kLogicalWidth), h2 = std::to_string(2 * cEditorView::kLogicalHeight);
  const std::string w15 = std::to_string(3 * cEditorView::kLogicalWidth / 2);
  const std::string h15 = std::to_string(3 * cEditorView::kLogicalHeight / 2);
  const auto embedded = Lines(out, "embed");
  ASSERT_EQ(embedded.size(), 2u) << out;
  EXPECT_EQ(embedded[0], (std::vector<std::string>{"0", "0", "1", w2, h2, w2, h2, w2, h2})) << out;
  EXPECT_EQ(embedded[1], (std::vector<std::string>{"0", "0", "1", w15, h15, w15, h15, w15, h15})) << out;
  EXPECT_EQ(Lines(out, "size"), (std::vector<std::vector<std::string>>{{"0", w15, h15}})) << out;
}

// The editor reads the effect and changes nothing by being open: bit for bit the same sound.
TEST_P(EditorHost, RendersTheSameWithTheEditorOpen) {
  const std::string blocks = "600";  // about three seconds of the audio thread's time
  RunHost({"--render", (m_Dir / "closed.f32").string(), blocks}, {"wait", "4000"});
  RunHost({"--render", (m_Dir / "open.f32").string(), blocks}, {"open", "wait", "2000", "close", "open", "wait", "2000"});
  const std::string closed = hosttest::ReadFile(m_Dir / "closed.f32");
  ASSERT_EQ(closed.size(), 600u * 256u * sizeof(float));
  EXPECT_TRUE(closed == hosttest::ReadFile(m_Dir / "open.f32"));
}

INSTANTIATE_TEST_SUITE_P(Formats, EditorHost, ::testing::Values("clap", "vst3"),
                         [](const ::testing::TestParamInfo<std::string>& format) { return format.param; });

}  // namespace
