// The view without a display: what it paints follows the core, and pointer
// and keys become the changes a host would see, in gesture order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "Program.h"
#include "../../nimbolib/TextEncoding.h"
#include "cEditorView.h"
#include "cReverbCore.h"

using nimbo::cReverbCore;
using nimbo::editor::cEditorView;
using nimbo::editor::eKey;
using nimbo::editor::sRect;

namespace {

// A host that applies every change at once and writes down what it saw.
struct sHost : nimbo::editor::iEditorController {
  cReverbCore& core;
  std::vector<std::string> log;
  std::vector<int32_t> programs;
  explicit sHost(cReverbCore& c) : core(c) {}
  void BeginGesture(int32_t id) override { log.push_back("begin " + std::to_string(id)); }
  void SetValue(int32_t id, float plain) override {
    core.SetPlain(id, plain);
    log.push_back("value " + std::to_string(id));
  }
  void EndGesture(int32_t id) override { log.push_back("end " + std::to_string(id)); }
  void SelectProgram(int32_t index) override {
    programs.push_back(index);
    core.SetProgram(index);
  }
};

int CentreX(sRect r) { return r.x + r.w / 2; }
int CentreY(sRect r) { return r.y + r.h / 2; }

bool Inside(int x, int y, sRect r) { return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h; }

// A visible difference: a shape repainted through a clip may differ from
// the whole shape by a unit of coverage at the clip's edge, never more.
bool Differs(uint32_t a, uint32_t b) {
  for (int shift = 0; shift < 24; shift += 8)
    if (std::abs(static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255)) > 2) return true;
  return false;
}

// Pixels that differ between two pictures of one size, outside the allowed rectangles.
int ChangedOutside(const std::vector<uint32_t>& a, const uint32_t* b, int w, int h, std::vector<sRect> allowed) {
  int changed = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      if (!Differs(a[i], b[i])) continue;
      bool ok = false;
      for (const sRect& r : allowed) ok = ok || Inside(x, y, r);
      changed += ok ? 0 : 1;
    }
  return changed;
}

std::vector<uint32_t> Picture(cEditorView& view) {
  view.Paint();
  return {view.Pixels(), view.Pixels() + static_cast<size_t>(view.PixelWidth()) * view.PixelHeight()};
}

class EditorView : public ::testing::TestWithParam<double> {};

// Host automation and program changes repaint the control that shows them
// (and the room where the sound changes), nothing else; an idle poll paints nothing.
TEST_P(EditorView, FollowsTheCoreAndPaintsOnlyWhatChanged) {
  cReverbCore core;
  sHost host(core);
  cEditorView view(core, host);
  view.SetScale(GetParam());
  ASSERT_EQ(view.PixelWidth(), static_cast<int>(cEditorView::kLogicalWidth * GetParam()));
  std::vector<uint32_t> before = Picture(view);
  EXPECT_GT(std::set<uint32_t>(before.begin(), before.end()).size(), 50u) << "a picture, not a blank";
  EXPECT_FALSE(view.Poll());
  EXPECT_TRUE(view.Paint().Empty());

  const sRect roomish = {0, 0, view.ControlRect(nimbo::kParamGeometry).x, view.PixelHeight()};
  for (int32_t id = 0; id < nimbo::kNumParameters; ++id) {
    const float old = core.Plain(id);
    core.SetNormalized(id, core.Normalized(id) > 0.5f ? 0.2f : 0.8f);
    if (core.Plain(id) == old) core.SetPlain(id, core.Parameter(id).maxValue);
    ASSERT_TRUE(view.Poll()) << id;
    const sRect dirty = view.Paint();
    EXPECT_FALSE(dirty.Empty());
    const uint32_t* after = view.Pixels();
    sRect control = view.ControlRect(id);
    const int edge = static_cast<int>(2 * GetParam());  // antialiased outlines
    control = {control.x - edge, control.y - edge, control.w + 2 * edge, control.h + 2 * edge};
    EXPECT_EQ(ChangedOutside(before, after, view.PixelWidth(), view.PixelHeight(), {control, roomish}), 0) << id;
    EXPECT_GT(ChangedOutside(before, after, view.PixelWidth(), view.PixelHeight(), {roomish}), 0)
        << "parameter " << id << " shows no change";
    char text[nimbo::kValueTextSize];
    core.ValueText(id, core.Plain(id), text);
    EXPECT_EQ(view.ShownText(id), nimbo::Cp1252ToUtf8(std::string(text))) << "the host's text for " << id;
    before.assign(after, after + before.size());
  }

  core.SetProgram(36);
  ASSERT_TRUE(view.Poll());
  const std::vector<uint32_t> program36 = Picture(view);
  EXPECT_EQ(view.ShownProgram(), "36 Drum room L+mod+sat");
  core.SetProgram(0);
  view.Poll();
  view.Paint();
  core.SetProgram(36);
  view.Poll();
  EXPECT_EQ(Picture(view), program36) << "the same settings must paint the same picture";
}

INSTANTIATE_TEST_SUITE_P(Scales, EditorView, ::testing::Values(1.0, 1.5, 2.0));

TEST(EditorViewInput, DragWheelSwitchAndDoubleClickAreGestures) {
  cReverbCore core;
  core.SetProgram(36);
  sHost host(core);
  cEditorView view(core, host);
  view.SetScale(2.0);

  const int32_t id = nimbo::kParamHalflife;
  const sRect knob = view.ControlRect(id);
  const float start = core.Normalized(id);
  view.MouseDown(CentreX(knob), CentreY(knob), 0, 1000);
  for (int k = 1; k <= 10; ++k) view.MouseMove(CentreX(knob), CentreY(knob) - 4 * k, 0);
  view.MouseUp(CentreX(knob), CentreY(knob) - 40, 0);
  ASSERT_GE(host.log.size(), 3u);
  EXPECT_EQ(host.log.front(), "begin 2");
  EXPECT_EQ(host.log.back(), "end 2");
  for (size_t i = 1; i + 1 < host.log.size(); ++i) EXPECT_EQ(host.log[i], "value 2");
  const float coarse = core.Normalized(id) - start;
  EXPECT_NEAR(coarse, 0.1f, 0.01f) << "20 logical pixels of 200 for the whole range";

  // Shift: ten times finer.
  const float before = core.Normalized(id);
  view.MouseDown(CentreX(knob), CentreY(knob), nimbo::editor::kModShift, 3000);
  view.MouseMove(CentreX(knob), CentreY(knob) - 40, nimbo::editor::kModShift);
  view.MouseUp(CentreX(knob), CentreY(knob) - 40, nimbo::editor::kModShift);
  EXPECT_NEAR(core.Normalized(id) - before, 0.01f, 0.002f);

  // Leaving mid-drag closes the gesture.
  host.log.clear();
  view.MouseDown(CentreX(knob), CentreY(knob), 0, 5000);
  view.MouseMove(CentreX(knob), CentreY(knob) + 30, 0);
  view.Leave();
  ASSERT_FALSE(host.log.empty());
  EXPECT_EQ(host.log.back(), "end 2");

  // A double click returns to what the program stores.
  view.MouseDown(CentreX(knob), CentreY(knob), 0, 7000);
  view.MouseUp(CentreX(knob), CentreY(knob), 0);
  view.MouseDown(CentreX(knob), CentreY(knob), 0, 7200);
  view.MouseUp(CentreX(knob), CentreY(knob), 0);
  EXPECT_EQ(core.Plain(id), core.ProgramValue(36, id));

  // The wheel: one gesture per step, up is more.
  host.log.clear();
  view.Wheel(CentreX(knob), CentreY(knob), 1.0f, 0);
  EXPECT_EQ(host.log, (std::vector<std::string>{"begin 2", "value 2", "end 2"}));
  EXPECT_GT(core.Plain(id), core.ProgramValue(36, id));

  // A switch toggles with a click.
  const sRect hold = view.ControlRect(nimbo::kParamHold);
  const float held = core.Plain(nimbo::kParamHold);
  view.MouseDown(CentreX(hold), CentreY(hold), 0, 9000);
  view.MouseUp(CentreX(hold), CentreY(hold), 0);
  EXPECT_NE(core.Plain(nimbo::kParamHold), held);

  // A picker: a click opens its names, a click on one picks it; the wheel steps.
  const sRect geometry = view.ControlRect(nimbo::kParamGeometry);
  core.SetPlain(nimbo::kParamGeometry, 0);
  view.Wheel(CentreX(geometry), CentreY(geometry), 1.0f, 0);
  EXPECT_EQ(core.Plain(nimbo::kParamGeometry), 1.0f);
  view.Wheel(CentreX(geometry), CentreY(geometry), -1.0f, 0);
  view.Wheel(CentreX(geometry), CentreY(geometry), -1.0f, 0);
  EXPECT_EQ(core.Plain(nimbo::kParamGeometry), 0.0f) << "stops at the first name";
  view.MouseDown(CentreX(geometry), CentreY(geometry), 0, 11000);
  view.MouseUp(CentreX(geometry), CentreY(geometry), 0);
  std::set<float> picked;
  for (int y = 0; y < view.PixelHeight(); y += 8) {
    for (int x = 0; x < view.PixelWidth() && picked.size() < 17; x += 16) {
      host.log.clear();
      view.MouseDown(x, y, 0, 20000 + static_cast<uint32_t>(y * 1000 + x));
      view.MouseUp(x, y, 0);
      if (host.log == std::vector<std::string>{"begin 0", "value 0", "end 0"})
        picked.insert(core.Plain(nimbo::kParamGeometry));
      // Reopen the list for the next try.
      view.Key(eKey::kEscape, 0);
      view.MouseDown(CentreX(geometry), CentreY(geometry), 0, 20500 + static_cast<uint32_t>(y * 1000 + x));
      view.MouseUp(CentreX(geometry), CentreY(geometry), 0);
    }
  }
  EXPECT_EQ(picked.size(), 17u) << "every geometry can be picked from the list";
}

TEST(EditorViewInput, TypedValuesUseTheCoresParserAndNonsenseChangesNothing) {
  cReverbCore core;
  sHost host(core);
  cEditorView view(core, host);
  uint32_t time = 0;
  const auto type = [&](int32_t id, const std::u32string& text, eKey last) {
    const sRect value = view.ValueRect(id);
    view.MouseDown(CentreX(value), CentreY(value), 0, time += 1000);
    view.MouseUp(CentreX(value), CentreY(value), 0);
    for (char32_t c : text) view.Text(c, 0);
    view.Key(last, 0);
  };
  type(nimbo::kParamBaseDelay, U"25 ms", eKey::kEnter);
  EXPECT_FLOAT_EQ(core.Plain(nimbo::kParamBaseDelay), 0.025f);
  type(nimbo::kParamHalflife, U"off", eKey::kEnter);
  EXPECT_EQ(core.Plain(nimbo::kParamHalflife), 0.0f);
  type(nimbo::kParamFbRot1, U"45\u00B0", eKey::kEnter);
  EXPECT_FLOAT_EQ(core.Plain(nimbo::kParamFbRot1), 45.0f);

  host.log.clear();
  const float dry = core.Plain(nimbo::kParamDryMix);
  type(nimbo::kParamDryMix, U"loud\u4E2D", eKey::kEnter);
  type(nimbo::kParamDryMix, U"50", eKey::kEscape);
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(core.Plain(nimbo::kParamDryMix), dry);
}

TEST(EditorViewInput, ProgramsStepAndEveryProgramIsInTheList) {
  cReverbCore core;
  sHost host(core);
  cEditorView view(core, host);
  // The header: previous, name, next, found by trying along its middle.
  std::set<int32_t> reached;
  for (int x = 0; x < view.PixelWidth(); x += 4) {
    const int32_t program = core.CurrentProgram();
    host.programs.clear();
    view.MouseDown(x, 26, 0, static_cast<uint32_t>(1000 * x));
    view.MouseUp(x, 26, 0);
    if (host.programs.size() == 1) reached.insert((host.programs[0] - program + nimbo::kNumPrograms) % nimbo::kNumPrograms);
    view.Key(eKey::kEscape, 0);
  }
  EXPECT_EQ(reached, (std::set<int32_t>{1, nimbo::kNumPrograms - 1})) << "next and previous, wrapping";

  // The list: open it from the name, pick whatever is under the pointer.
  std::set<int32_t> listed;
  for (int y = 56; y < view.PixelHeight(); y += 5) {
    for (int x = 20; x < view.PixelWidth(); x += 40) {
      host.programs.clear();
      view.MouseDown(view.PixelWidth() / 2, 26, 0, 0);
      view.MouseUp(view.PixelWidth() / 2, 26, 0);
      view.MouseDown(x, y, 0, 0);
      view.MouseUp(x, y, 0);
      listed.insert(host.programs.begin(), host.programs.end());
    }
  }
  EXPECT_EQ(listed.size(), static_cast<size_t>(nimbo::kNumPrograms));
}

}  // namespace

#ifdef NIMBOHALL_EDITOR_PICTURE
#include "EditorShot.h"

// The README's picture is what this build paints; when the look changes,
// `cmake --build build/default --target editor-screenshot` paints it again.
TEST(EditorPicture, TheReadmeShowsTodaysEditor) {
  int width = 0, height = 0, shotWidth = 0, shotHeight = 0;
  const std::vector<uint8_t> stored = nimbo::editor::ReadPng(NIMBOHALL_EDITOR_PICTURE, width, height);
  const std::vector<uint8_t> painted = nimbo::editor::ShotRgba(nimbo::editor::kShotProgram, 1.0, shotWidth, shotHeight);
  ASSERT_FALSE(stored.empty()) << NIMBOHALL_EDITOR_PICTURE << " is missing or not a PNG";
  EXPECT_EQ(width, shotWidth);
  EXPECT_EQ(height, shotHeight);
  EXPECT_TRUE(stored == painted) << "docs/editor.png is out of date: build the target editor-screenshot";
}
#endif
