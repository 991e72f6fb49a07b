// The editor's view: one fixed layout in logical pixels, painted at the
// host's scale. The core owns every value, text, curve and program; the view
// only reads it and asks its controller for changes.
#include "cEditorView.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "../ParameterTable.h"
#include "../../nimbolib/TextEncoding.h"
#include "RoomModel.h"
#include "cCanvas.h"

namespace nimbo::editor {
namespace {

// ---- look ---------------------------------------------------------------------------------

constexpr tColor kBackground = Rgb(0x14171C);
constexpr tColor kPanel = Rgb(0x1C2027);
constexpr tColor kPanelEdge = Rgb(0x2A303A);
constexpr tColor kWell = Rgb(0x252A33);
constexpr tColor kTrack = Rgb(0x363D49);
constexpr tColor kText = Rgb(0xE4E8EE);
constexpr tColor kTextDim = Rgb(0x8C95A4);
constexpr tColor kTextFaint = Rgb(0x5C6575);
constexpr tColor kAccent = Rgb(0x4FD1C5);
constexpr tColor kAccentDim = Rgb(0x4FD1C5, 60);
constexpr tColor kWarning = Rgb(0xE5736A);
constexpr tColor kHover = Rgb(0xFFFFFF, 14);
constexpr tColor kGrid = Rgb(0xFFFFFF, 16);
constexpr tColor kLineColours[kNumLines] = {Rgb(0x7C8BA1, 170), Rgb(0x9AA6B8, 150), Rgb(0x6F7F96, 150),
                                            Rgb(0xB1BBCB, 130)};

constexpr float kTitleSize = 18, kGroupSize = 11, kNameSize = 11, kValueSize = 12, kSmallSize = 10;

// ---- layout (logical pixels) ----------------------------------------------------------------

struct sBox {
  float x = 0, y = 0, w = 0, h = 0;
  bool Contains(float px, float py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

constexpr float kMargin = 16;
constexpr float kHeaderHeight = 52;
constexpr sBox kRoomPanel = {kMargin, kHeaderHeight + 8, 500, 560 - kHeaderHeight - 8 - kMargin};
constexpr float kControlsX = kRoomPanel.x + kRoomPanel.w + 12;
constexpr float kControlsW = 900 - kMargin - kControlsX;
constexpr float kGroupHeight = 96;
constexpr float kGroupGap = 8;
constexpr float kMetaHeight = kRoomPanel.h - 4 * (kGroupHeight + kGroupGap);

constexpr sBox kT60Plot = {kRoomPanel.x + 46, kRoomPanel.y + 40, kRoomPanel.w - 62, 232};
constexpr sBox kEdcPlot = {kRoomPanel.x + 46, kT60Plot.y + kT60Plot.h + 62, kRoomPanel.w - 62, 104};

constexpr sBox kPrevButton = {330, 12, 28, 28};
constexpr sBox kProgramBox = {362, 12, 300, 28};
constexpr sBox kNextButton = {666, 12, 28, 28};
constexpr sBox kBypassButton = {900 - kMargin - 96, 12, 96, 28};

sBox GroupBox(int32_t group) {  // groups 1..5
  const float y = kRoomPanel.y + static_cast<float>(group - 1) * (kGroupHeight + kGroupGap);
  return {kControlsX, y, kControlsW, group == 5 ? kMetaHeight : kGroupHeight};
}

// The control of a parameter: a knob cell, a picker cell or a switch.
sBox ControlBox(int32_t id) {
  const sParameterSpec& spec = kParameterTable[id];
  const sBox group = GroupBox(spec.group);
  if (spec.group == 5) {
    const float w = (group.w - 36) / 2;
    return {group.x + 12 + static_cast<float>(spec.indexInGroup) * (w + 12), group.y + 28, w, group.h - 40};
  }
  const float w = group.w / 4;
  return {group.x + static_cast<float>(spec.indexInGroup) * w, group.y + 22, w, group.h - 24};
}

bool IsPicker(int32_t id) { return id == kParamGeometry || id == kParamFbPlane; }
bool IsSwitch(int32_t id) { return id == kParamHold || id == kParamKeepTail; }

// Within a knob or picker cell: the part that is dragged, and the value text.
sBox DialBox(int32_t id) {
  const sBox c = ControlBox(id);
  if (IsPicker(id)) return {c.x + 6, c.y + 24, c.w - 12, 30};
  return {c.x + c.w / 2 - 20, c.y + 14, 40, 40};
}
// Pickers show their value in the picker itself.
sBox ValueBox(int32_t id) {
  if (IsPicker(id) || IsSwitch(id)) return {};
  const sBox c = ControlBox(id);
  return {c.x + 2, c.y + c.h - 18, c.w - 4, 17};
}

// The program list: the bank's blocks, named by what their programs are,
// in four columns.
struct sCategory {
  const char* name;
  int32_t first, last;
  int column;
};
constexpr sCategory kCategories[] = {
    {"Spaces", 0, 4, 0},          {"Curious places", 5, 9, 0},     {"Start from scratch", 63, 63, 0},
    {"Motion & modulation", 10, 21, 1}, {"Echoes & reflections", 45, 53, 1}, {"Drive & colour", 22, 32, 2},
    {"Filters & utilities", 54, 62, 2}, {"Rooms & inserts", 33, 44, 3},
};
constexpr sBox kListPanel = {kMargin, kHeaderHeight, 900 - 2 * kMargin, 560 - kHeaderHeight - kMargin};
constexpr float kListRow = 17, kListHeader = 26;

struct sListEntry {
  int32_t program;  // -1: a heading
  const sCategory* category;
  sBox box;
};

std::vector<sListEntry> ProgramListLayout() {
  std::vector<sListEntry> entries;
  const float columnW = (kListPanel.w - 24) / 4;
  float y[4] = {};
  for (float& v : y) v = kListPanel.y + 40;
  for (const sCategory& c : kCategories) {
    const float x = kListPanel.x + 12 + static_cast<float>(c.column) * columnW;
    float& cy = y[c.column];
    entries.push_back({-1, &c, {x, cy, columnW - 8, kListHeader}});
    cy += kListHeader;
    for (int32_t p = c.first; p <= c.last; ++p) {
      entries.push_back({p, &c, {x, cy, columnW - 8, kListRow}});
      cy += kListRow;
    }
    cy += 8;
  }
  return entries;
}

// A picker's list of names, below its cell (above when it would not fit).
sBox PickerListBox(int32_t id) {
  const sBox d = DialBox(id);
  const int count = static_cast<int>(kParameterTable[id].max - kParameterTable[id].min) + 1;
  const int columns = count > 8 ? 2 : 1;
  const float w = 110.0f * static_cast<float>(columns);
  const float h = static_cast<float>((count + columns - 1) / columns) * 20 + 8;
  float x = std::min(d.x, 900 - kMargin - w);
  float y = d.y + d.h + 2;
  if (y + h > 560 - 4) y = d.y - h - 2;
  return {x, y, w, h};
}
sBox PickerItemBox(int32_t id, int index) {
  const sBox list = PickerListBox(id);
  const int count = static_cast<int>(kParameterTable[id].max - kParameterTable[id].min) + 1;
  const int columns = count > 8 ? 2 : 1;
  const int rows = (count + columns - 1) / columns;
  return {list.x + 4 + static_cast<float>(index / rows) * 110, list.y + 4 + static_cast<float>(index % rows) * 20, 106,
          20};
}

// ---- texts ----------------------------------------------------------------------------------

// The core's texts are Windows-1252; the canvas takes UTF-8. A typed
// character Windows-1252 cannot hold is refused, not turned into '?'.
int ToWindows1252(uint32_t cp) {
  const unsigned char c = Cp1252FromCodePoint(cp);
  return c == '?' && cp != '?' ? -1 : c;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf8(const char* windows1252) { return Cp1252ToUtf8(std::string(windows1252)); }

std::string Utf8(const std::vector<uint32_t>& text) {
  std::string out;
  for (uint32_t cp : text) AppendUtf8(out, cp);
  return out;
}

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Seconds as a short axis or readout text.
std::string SecondsText(double s) {
  if (s < 1.0) return Format("%.0f ms", s * 1000.0);
  if (s < 10.0) return Format("%.2f s", s);
  if (s < 100.0) return Format("%.1f s", s);
  return Format("%.0f s", s);
}

// An axis tick: no more digits than the tick has ("2.5 s", "500 ms", "0").
std::string TickText(double s) {
  if (s <= 0.0) return "0";
  if (s < 1.0) return Format("%g ms", std::round(s * 1e4) / 10.0);
  return Format("%g s", std::round(s * 1e3) / 1e3);
}

// The step of the 1-2-5 series that puts at most `most` ticks on a span
// (positive and finite; anything else would never find one).
double TickStep(double span, int most) {
  if (!(span > 0.0 && std::isfinite(span))) return 1.0;
  double decade = std::pow(10.0, std::floor(std::log10(span / most)));
  for (;; decade *= 10.0)
    for (double m : {1.0, 2.0, 5.0})
      if (span / (m * decade) <= most) return m * decade;
}

std::string FrequencyText(double f) { return f >= 1000.0 ? Format("%gk", f / 1000.0) : Format("%g", f); }

constexpr double kMinHz = 20.0, kMaxHz = 20000.0;
constexpr float kRoomRate = 48000.0f;
constexpr float kDragPixels = 200;  // the whole range, in logical pixels
constexpr float kStepPixels = 14;   // one step of a picker or switch
constexpr uint32_t kDoubleClickMs = 400;

}  // namespace

// ---- state ------------------------------------------------------------------------------------

struct cEditorView::sImpl {
  const cReverbCore& core;
  iEditorController& controller;
  double scale = 1.0;
  cCanvas canvas;
  sRect dirty;

  // What the view last showed, to find what the host changed.
  float shown[kNumParameters] = {};
  int32_t shownProgram = -1;
  char shownProgramName[kProgramNameSize] = {};
  bool shownBypass = false;
  std::string paintedText[kNumParameters], paintedProgram;

  sRoomResponse room;
  bool roomStale = true;

  // Pointer state.
  int32_t hover = -1;        // a parameter, or one of the kHit... below
  int32_t dragging = -1;     // the parameter whose gesture is open
  float dragStartY = 0, dragStartN = 0, dragLastY = 0, dragN = 0, dragPlain = 0;
  bool dragFine = false;
  int32_t lastDown = -1;
  uint32_t lastDownMs = 0;
  bool hasLastDown = false;

  // Overlays.
  int32_t pickerOpen = -1;   // the parameter whose list is open
  int32_t pickerHover = -1;
  bool programListOpen = false;
  int32_t listHover = -1;
  std::vector<sListEntry> listLayout = ProgramListLayout();

  // Typing a value.
  int32_t editing = -1;
  std::vector<uint32_t> editText;
  size_t editCursor = 0;
  bool editAll = false;  // the whole text is selected: typing replaces it
  bool editRefused = false;

  sImpl(const cReverbCore& c, iEditorController& ctl) : core(c), controller(ctl) {}

  float S(float v) const { return static_cast<float>(v * scale); }
  sRect Pixels(const sBox& b) const {
    const int x0 = static_cast<int>(std::floor(b.x * scale)), y0 = static_cast<int>(std::floor(b.y * scale));
    const int x1 = static_cast<int>(std::ceil((b.x + b.w) * scale)), y1 = static_cast<int>(std::ceil((b.y + b.h) * scale));
    return {x0, y0, x1 - x0, y1 - y0};
  }
  void Dirty(const sBox& b) { Dirty(Pixels(b)); }
  void Dirty(sRect r) {
    r.x -= 1, r.y -= 1, r.w += 2, r.h += 2;  // antialiased edges
    const int x0 = std::max(0, r.x), y0 = std::max(0, r.y);
    const int x1 = std::min(canvas.Width(), r.x + r.w), y1 = std::min(canvas.Height(), r.y + r.h);
    if (x1 <= x0 || y1 <= y0) return;
    if (dirty.Empty()) {
      dirty = {x0, y0, x1 - x0, y1 - y0};
      return;
    }
    const int dx1 = std::max(dirty.x + dirty.w, x1), dy1 = std::max(dirty.y + dirty.h, y1);
    dirty.x = std::min(dirty.x, x0), dirty.y = std::min(dirty.y, y0);
    dirty.w = dx1 - dirty.x, dirty.h = dy1 - dirty.y;
  }
  void DirtyAll() { Dirty(sRect{0, 0, canvas.Width(), canvas.Height()}); }
  void DirtyControl(int32_t id) {
    if (cReverbCore::IsParameter(id)) Dirty(ControlBox(id));
  }

  void Snapshot() {
    for (int32_t id = 0; id < kNumParameters; ++id) shown[id] = core.Plain(id);
    shownProgram = core.CurrentProgram();
    core.GetProgramName(shownProgram, shownProgramName);
    shownBypass = core.Bypassed();
  }

  // ---- changes asked of the host ----

  void Change(int32_t id, float plain) {
    dragPlain = plain;
    controller.SetValue(id, plain);
  }
  void OneChange(int32_t id, float plain) {
    controller.BeginGesture(id);
    controller.SetValue(id, plain);
    controller.EndGesture(id);
  }
  float StepPlain(int32_t id, float plain, int steps) const {
    const cParameter& p = core.Parameter(id);
    return std::clamp(std::round(plain) + static_cast<float>(steps), p.minValue, p.maxValue);
  }
  void EndDrag() {
    if (dragging < 0) return;
    const int32_t id = dragging;
    dragging = -1;
    controller.EndGesture(id);
    DirtyControl(id);
  }
  void CloseOverlays() {
    if (pickerOpen >= 0 || programListOpen) DirtyAll();
    pickerOpen = -1;
    pickerHover = -1;
    programListOpen = false;
    listHover = -1;
  }

  // ---- typing ----

  void StartEditing(int32_t id) {
    EndEditing();
    editing = id;
    char text[kValueTextSize];
    core.ValueText(id, core.Plain(id), text);
    editText.clear();
    for (const char* p = text; *p; ++p) editText.push_back(Cp1252CodePoint(static_cast<unsigned char>(*p)));
    editCursor = editText.size();
    editAll = true;
    editRefused = false;
    DirtyControl(id);
  }
  void EndEditing() {
    if (editing < 0) return;
    DirtyControl(editing);
    editing = -1;
    editText.clear();
  }
  bool CommitEditing() {
    std::string text;
    for (uint32_t cp : editText) {
      const int c = ToWindows1252(cp);
      if (c <= 0) return Refuse();
      text += static_cast<char>(c);
    }
    float plain = 0;
    if (!core.ParseValue(editing, text.c_str(), plain)) return Refuse();
    OneChange(editing, plain);
    EndEditing();
    return true;
  }
  bool Refuse() {
    editRefused = true;
    DirtyControl(editing);
    return false;
  }

  // ---- hit testing ----

  static constexpr int32_t kHitPrev = 100, kHitNext = 101, kHitProgram = 102, kHitBypass = 103;

  int32_t HitControl(float x, float y) const {
    for (int32_t id = 0; id < kNumParameters; ++id)
      if (ControlBox(id).Contains(x, y)) return id;
    if (kPrevButton.Contains(x, y)) return kHitPrev;
    if (kNextButton.Contains(x, y)) return kHitNext;
    if (kProgramBox.Contains(x, y)) return kHitProgram;
    if (controller.HasBypass() && kBypassButton.Contains(x, y)) return kHitBypass;
    return -1;
  }
  sBox HitBox(int32_t hit) const {
    switch (hit) {
      case kHitPrev: return kPrevButton;
      case kHitNext: return kNextButton;
      case kHitProgram: return kProgramBox;
      case kHitBypass: return kBypassButton;
      default: return cReverbCore::IsParameter(hit) ? ControlBox(hit) : sBox{};
    }
  }
  int32_t HitPickerItem(float x, float y) const {
    const int count = static_cast<int>(kParameterTable[pickerOpen].max - kParameterTable[pickerOpen].min) + 1;
    for (int i = 0; i < count; ++i)
      if (PickerItemBox(pickerOpen, i).Contains(x, y)) return i;
    return -1;
  }
  int32_t HitListEntry(float x, float y) const {
    for (const sListEntry& e : listLayout)
      if (e.program >= 0 && e.box.Contains(x, y)) return e.program;
    return -1;
  }
  void SetHover(int32_t hit) {
    if (hit == hover) return;
    Dirty(HitBox(hover));
    Dirty(HitBox(hit));
    hover = hit;
  }

  // ---- painting ----

  void PaintAll();
  void PaintHeader();
  void PaintRoom();
  void PaintGroup(int32_t group);
  void PaintKnob(int32_t id);
  void PaintPicker(int32_t id);
  void PaintSwitch(int32_t id);
  void PaintValueText(int32_t id);
  void PaintPickerList();
  void PaintProgramList();

  void RoundRect(const sBox& b, float r, tColor c) { canvas.FillRoundedRect(S(b.x), S(b.y), S(b.w), S(b.h), S(r), c); }
  void RoundFrame(const sBox& b, float r, float width, tColor c) {
    canvas.StrokeRoundedRect(S(b.x), S(b.y), S(b.w), S(b.h), S(r), S(width), c);
  }
  void Label(const sBox& b, std::string_view text, float size, tColor c, eFont font = eFont::kRegular,
             eAlign align = eAlign::kLeft) {
    canvas.TextIn(Pixels(b), text, S(size), c, font, align);
  }
  bool Visible(const sBox& b) const {
    const sRect r = Pixels(b), clip = canvas.Clip();
    return r.x < clip.x + clip.w && clip.x < r.x + r.w && r.y < clip.y + clip.h && clip.y < r.y + r.h;
  }
};

void cEditorView::sImpl::PaintAll() {
  canvas.FillRect({0, 0, canvas.Width(), canvas.Height()}, kBackground);
  PaintHeader();
  if (programListOpen) {
    PaintProgramList();
    return;
  }
  PaintRoom();
  for (int32_t group = 1; group <= 5; ++group) PaintGroup(group);
  if (pickerOpen >= 0) PaintPickerList();
}

void cEditorView::sImpl::PaintHeader() {
  Label({kMargin, 12, 160, 28}, "NIMBOHALL", kTitleSize, kText, eFont::kBold);
  Label({kMargin + 128, 12, 150, 28}, "four-line hall", kSmallSize, kTextFaint);

  for (const sBox* b : {&kPrevButton, &kNextButton}) {
    const bool hot = hover == (b == &kPrevButton ? kHitPrev : kHitNext);
    RoundRect(*b, 6, hot ? kTrack : kWell);
    const float cx = S(b->x + b->w / 2), cy = S(b->y + b->h / 2), d = S(b == &kPrevButton ? 4.0f : -4.0f);
    const sPoint arrow[] = {{cx + d, cy - S(6)}, {cx - d, cy}, {cx + d, cy + S(6)}};
    canvas.StrokePolyline(arrow, S(2), kText);
  }

  const int32_t program = core.CurrentProgram();
  const bool hot = hover == kHitProgram || programListOpen;
  RoundRect(kProgramBox, 6, hot ? kTrack : kWell);
  Label({kProgramBox.x + 10, kProgramBox.y, 30, kProgramBox.h}, Format("%02.0f", program), kValueSize, kAccent,
        eFont::kBold);
  char name[kProgramNameSize] = {};
  core.GetProgramName(program, name);
  Label({kProgramBox.x + 40, kProgramBox.y, kProgramBox.w - 64, kProgramBox.h}, Utf8(name), 13, kText);
  paintedProgram = Format("%02.0f ", program) + Utf8(name);
  const float cx = S(kProgramBox.x + kProgramBox.w - 16), cy = S(kProgramBox.y + kProgramBox.h / 2);
  const sPoint caret[] = {{cx - S(5), cy - S(2.5f)}, {cx + S(5), cy - S(2.5f)}, {cx, cy + S(3.5f)}};
  canvas.FillPolygon(caret, kTextDim);

  if (controller.HasBypass()) {
    const bool on = core.Bypassed();
    RoundRect(kBypassButton, 14, on ? kWarning : (hover == kHitBypass ? kTrack : kWell));
    Label(kBypassButton, on ? "Bypassed" : "Bypass", kNameSize, on ? kBackground : kTextDim, eFont::kBold,
          eAlign::kCentre);
  }
}

void cEditorView::sImpl::PaintRoom() {
  if (!Visible(kRoomPanel)) return;
  if (roomStale) {
    ComputeRoom(core, kRoomRate, room);
    roomStale = false;
  }
  RoundRect(kRoomPanel, 10, kPanel);
  RoundFrame(kRoomPanel, 10, 1, kPanelEdge);

  // Decay time against frequency.
  Label({kRoomPanel.x + 14, kRoomPanel.y + 10, 200, 18}, "DECAY TIME (T60) BY FREQUENCY", kGroupSize, kTextDim, eFont::kBold);
  int k1 = 0;
  for (int i = 0; i < sRoomResponse::kPoints; ++i)
    if (std::abs(std::log(room.frequency[i] / 1000.0f)) < std::abs(std::log(room.frequency[k1] / 1000.0f))) k1 = i;
  const std::string readout = room.frozen ? std::string("held: the tail does not decay")
                                          : "1 kHz  " + SecondsText(room.meanT60[k1]);
  Label({kRoomPanel.x + kRoomPanel.w - 214, kRoomPanel.y + 10, 200, 18}, readout, kNameSize,
        room.frozen ? kAccent : kText, eFont::kRegular, eAlign::kRight);

  float top = 0.0f;
  for (int i = 0; i < sRoomResponse::kPoints; ++i)
    for (int l = 0; l < kNumLines; ++l)
      if (std::isfinite(room.t60[l][i])) top = std::max(top, room.t60[l][i]);
  static constexpr double kNice[] = {0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
  double axisTop = kNice[std::size(kNice) - 1];
  for (double n : kNice)
    if (n >= top * 1.08) {
      axisTop = n;
      break;
    }
  const sBox p = kT60Plot;
  RoundRect(p, 4, kWell);
  auto xOf = [&](double f) { return p.x + static_cast<float>(std::log(f / kMinHz) / std::log(kMaxHz / kMinHz)) * p.w; };
  auto yOf = [&](double t) { return p.y + p.h - static_cast<float>(std::clamp(t / axisTop, 0.0, 1.04)) * p.h; };
  for (double f : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
    const float x = xOf(f);
    canvas.FillRect(Pixels({x, p.y, 1 / static_cast<float>(scale), p.h}), kGrid);
    Label({x - 20, p.y + p.h + 4, 40, 14}, FrequencyText(f), kSmallSize, kTextFaint, eFont::kRegular, eAlign::kCentre);
  }
  const double tStep = TickStep(axisTop, 5);
  for (double t = 0.0; t <= axisTop * 1.0001; t += tStep) {
    const float y = yOf(t);
    canvas.FillRect(Pixels({p.x, y, p.w, 1 / static_cast<float>(scale)}), kGrid);
    Label({p.x - 46, y - 7, 42, 14}, TickText(t), kSmallSize, kTextFaint, eFont::kRegular, eAlign::kRight);
  }

  std::vector<sPoint> curve(sRoomResponse::kPoints);
  auto plot = [&](const float* t60, float width, tColor colour) {
    for (int i = 0; i < sRoomResponse::kPoints; ++i) {
      const float t = std::isfinite(t60[i]) ? t60[i] : static_cast<float>(axisTop * 1.04);
      curve[static_cast<size_t>(i)] = {S(xOf(room.frequency[i])), S(yOf(t))};
    }
    canvas.StrokePolyline(curve, S(width), colour);
  };
  const sRect clip = canvas.Clip();
  const sRect plotPixels = Pixels(p);
  canvas.SetClip(plotPixels);
  if (const sRect inner = canvas.Clip(); inner.x < clip.x || inner.y < clip.y || inner.w > clip.w || inner.h > clip.h) {
    // Keep the paint's own clip: draw only where both hold.
    const int x0 = std::max(clip.x, plotPixels.x), y0 = std::max(clip.y, plotPixels.y);
    const int x1 = std::min(clip.x + clip.w, plotPixels.x + plotPixels.w);
    const int y1 = std::min(clip.y + clip.h, plotPixels.y + plotPixels.h);
    canvas.SetClip({x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)});
  }
  for (int l = 0; l < kNumLines; ++l) plot(room.t60[l], 1.2f, kLineColours[l]);
  std::vector<sPoint> area = {{S(p.x), S(p.y + p.h)}};
  for (int i = 0; i < sRoomResponse::kPoints; ++i) {
    const float t = std::isfinite(room.meanT60[i]) ? room.meanT60[i] : static_cast<float>(axisTop * 1.04);
    area.push_back({S(xOf(room.frequency[i])), S(yOf(t))});
  }
  area.push_back({S(p.x + p.w), S(p.y + p.h)});
  canvas.FillPolygon(area, kAccentDim);
  plot(room.meanT60, 2.4f, kAccent);
  canvas.SetClip(clip);

  // The legend.
  const float ly = p.y + p.h + 22;
  canvas.FillRect(Pixels({p.x, ly + 6, 14, 2.4f}), kAccent);
  Label({p.x + 20, ly, 120, 14}, "mean of the lines", kSmallSize, kTextDim);
  canvas.FillRect(Pixels({p.x + 140, ly + 6, 14, 1.2f}), kLineColours[1]);
  Label({p.x + 160, ly, 120, 14}, "each delay line", kSmallSize, kTextDim);

  // The energy decay of the mean.
  const sBox e = kEdcPlot;
  Label({kRoomPanel.x + 14, e.y - 22, 200, 18}, "ENERGY DECAY", kGroupSize, kTextDim, eFont::kBold);
  RoundRect(e, 4, kWell);
  constexpr double kFloorDb = -80.0;
  auto exOf = [&](double s) { return e.x + static_cast<float>(s / room.edcSeconds) * e.w; };
  auto eyOf = [&](double db) { return e.y + static_cast<float>(std::clamp(db / kFloorDb, 0.0, 1.0)) * e.h; };
  for (double db : {-20.0, -40.0, -60.0}) {
    canvas.FillRect(Pixels({e.x, eyOf(db), e.w, 1 / static_cast<float>(scale)}), kGrid);
    Label({e.x - 46, eyOf(db) - 7, 42, 14}, Format("%.0f dB", db), kSmallSize, kTextFaint, eFont::kRegular,
          eAlign::kRight);
  }
  if (room.edcSeconds > 0.0f && std::isfinite(room.edcSeconds)) {
    const double step = TickStep(room.edcSeconds, 6);
    for (double s = step; s <= room.edcSeconds * 1.0001; s += step) {
      canvas.FillRect(Pixels({exOf(s), e.y, 1 / static_cast<float>(scale), e.h}), kGrid);
      const bool last = exOf(s) > e.x + e.w - 20;  // kept inside the plot's edge
      Label({exOf(s) - (last ? 40 : 20), e.y + e.h + 4, 40, 14}, TickText(s), kSmallSize, kTextFaint,
            eFont::kRegular, last ? eAlign::kRight : eAlign::kCentre);
    }
    std::vector<sPoint> decay = {{S(e.x), S(e.y + e.h)}};
    std::vector<sPoint> line;
    for (int i = 0; i < sRoomResponse::kEdcPoints; ++i) {
      const double s = room.edcSeconds * i / (sRoomResponse::kEdcPoints - 1);
      const sPoint q = {S(exOf(s)), S(eyOf(room.frozen ? 0.0 : room.edcDb[i]))};
      decay.push_back(q);
      line.push_back(q);
    }
    decay.push_back({S(e.x + e.w), S(e.y + e.h)});
    canvas.FillPolygon(decay, kAccentDim);
    canvas.StrokePolyline(line, S(2), kAccent);
  }
}

void cEditorView::sImpl::PaintGroup(int32_t group) {
  const sBox g = GroupBox(group);
  if (!Visible(g)) return;
  RoundRect(g, 8, kPanel);
  RoundFrame(g, 8, 1, kPanelEdge);
  std::string title = kGroupNames[group];
  for (char& c : title) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Label({g.x + 12, g.y + 5, g.w - 24, 16}, title, kGroupSize, kTextDim, eFont::kBold);
  for (int32_t id = 0; id < kNumParameters; ++id) {
    if (kParameterTable[id].group != group || !Visible(ControlBox(id))) continue;
    if (IsSwitch(id)) PaintSwitch(id);
    else if (IsPicker(id)) PaintPicker(id);
    else PaintKnob(id);
  }
}

void cEditorView::sImpl::PaintValueText(int32_t id) {
  const sBox v = ValueBox(id);
  if (editing == id) {
    RoundRect(v, 3, kBackground);
    RoundFrame(v, 3, 1, editRefused ? kWarning : kAccent);
    const std::string text = Utf8(editText);
    const float width = canvas.TextWidth(text, S(kValueSize));
    const float left = S(v.x + v.w / 2) - width / 2;
    if (editAll && !editText.empty())
      canvas.FillRoundedRect(left - S(2), S(v.y + 2), width + S(4), S(v.h - 4), S(2), Rgb(0x4FD1C5, 90));
    canvas.TextIn(Pixels(v), text, S(kValueSize), kText, eFont::kRegular, eAlign::kCentre);
    std::string before = Utf8(std::vector<uint32_t>(editText.begin(), editText.begin() + static_cast<long>(editCursor)));
    const float cx = left + canvas.TextWidth(before, S(kValueSize));
    canvas.FillRect(Pixels({cx / static_cast<float>(scale), v.y + 3, 1, v.h - 6}), kAccent);
    return;
  }
  char text[kValueTextSize];
  core.ValueText(id, core.Plain(id), text);
  paintedText[id] = Utf8(text);
  Label(v, paintedText[id], kValueSize, hover == id ? kText : Rgb(0xCED4DE), eFont::kRegular, eAlign::kCentre);
}

void cEditorView::sImpl::PaintKnob(int32_t id) {
  const sBox c = ControlBox(id);
  if (hover == id || dragging == id) RoundRect(c, 6, kHover);
  Label({c.x, c.y, c.w, 14}, kParameterTable[id].shortName, kNameSize, kTextDim, eFont::kRegular, eAlign::kCentre);
  const sBox d = DialBox(id);
  const float cx = S(d.x + d.w / 2), cy = S(d.y + d.h / 2), r = S(d.w / 2 - 3);
  constexpr float kSweep = 2.356194f;  // 135 degrees each side of the top
  const float n = std::clamp(core.Normalized(id), 0.0f, 1.0f);
  canvas.FillCircle(cx, cy, r - S(4), kWell);
  canvas.StrokeArc(cx, cy, r, -kSweep, kSweep, S(3.5f), kTrack);
  const float a = -kSweep + 2 * kSweep * n;
  if (n > 0.0f) canvas.StrokeArc(cx, cy, r, -kSweep, a, S(3.5f), dragging == id ? Rgb(0x7FE3D9) : kAccent);
  const float inner = r - S(13), outer = r - S(5);
  const sPoint tick[] = {{cx + inner * std::sin(a), cy - inner * std::cos(a)},
                         {cx + outer * std::sin(a), cy - outer * std::cos(a)}};
  canvas.StrokePolyline(tick, S(2), kText);
  PaintValueText(id);
}

void cEditorView::sImpl::PaintPicker(int32_t id) {
  const sBox c = ControlBox(id);
  if (hover == id || dragging == id) RoundRect(c, 6, kHover);
  Label({c.x, c.y, c.w, 14}, kParameterTable[id].shortName, kNameSize, kTextDim, eFont::kRegular, eAlign::kCentre);
  const sBox d = DialBox(id);
  const bool open = pickerOpen == id;
  RoundRect(d, 5, open ? kTrack : kWell);
  RoundFrame(d, 5, 1, open || dragging == id ? kAccent : kPanelEdge);
  const int32_t index = static_cast<int32_t>(core.Plain(id) - kParameterTable[id].min);
  const char* const* names = kParameterTable[id].enumNames;
  paintedText[id] = names[std::clamp(index, 0, static_cast<int32_t>(kParameterTable[id].max))];
  Label({d.x + 8, d.y, d.w - 24, d.h}, paintedText[id], kValueSize, kText, eFont::kBold);
  const float cx = S(d.x + d.w - 11), cy = S(d.y + d.h / 2);
  const sPoint caret[] = {{cx - S(4), cy - S(2)}, {cx + S(4), cy - S(2)}, {cx, cy + S(3)}};
  canvas.FillPolygon(caret, kTextDim);
}

void cEditorView::sImpl::PaintSwitch(int32_t id) {
  const sBox c = ControlBox(id);
  const bool on = core.Plain(id) != 0.0f;
  RoundRect(c, 8, on ? kAccent : (hover == id ? kTrack : kWell));
  if (!on) RoundFrame(c, 8, 1, kPanelEdge);
  const tColor ink = on ? kBackground : kText;
  Label({c.x + 14, c.y, c.w - 70, c.h}, kParameterTable[id].longName, 14, ink, eFont::kBold);
  // A lamp and the state, as the host would name it.
  const float lx = S(c.x + c.w - 22), ly = S(c.y + c.h / 2);
  canvas.FillCircle(lx, ly, S(6), on ? kBackground : kTrack);
  if (on) canvas.FillCircle(lx, ly, S(3.5f), kAccent);
  char text[kValueTextSize];
  core.ValueText(id, core.Plain(id), text);
  paintedText[id] = Utf8(text);
  Label({c.x + c.w - 72, c.y, 40, c.h}, paintedText[id], kNameSize, on ? kBackground : kTextDim, eFont::kRegular,
        eAlign::kRight);
}

void cEditorView::sImpl::PaintPickerList() {
  const sBox list = PickerListBox(pickerOpen);
  canvas.FillRoundedRect(S(list.x + 2), S(list.y + 4), S(list.w), S(list.h), S(6), Rgb(0x000000, 110));
  RoundRect(list, 6, Rgb(0x232832));
  RoundFrame(list, 6, 1, kAccent);
  const int count = static_cast<int>(kParameterTable[pickerOpen].max - kParameterTable[pickerOpen].min) + 1;
  const int current = static_cast<int>(core.Plain(pickerOpen) - kParameterTable[pickerOpen].min);
  for (int i = 0; i < count; ++i) {
    const sBox item = PickerItemBox(pickerOpen, i);
    if (i == pickerHover) RoundRect(item, 4, kTrack);
    Label({item.x + 8, item.y, item.w - 12, item.h}, kParameterTable[pickerOpen].enumNames[i], kValueSize,
          i == current ? kAccent : kText, i == current ? eFont::kBold : eFont::kRegular);
  }
}

void cEditorView::sImpl::PaintProgramList() {
  RoundRect(kListPanel, 10, kPanel);
  RoundFrame(kListPanel, 10, 1, kAccent);
  Label({kListPanel.x + 14, kListPanel.y + 10, 300, 18}, "PROGRAMS", kGroupSize, kTextDim, eFont::kBold);
  Label({kListPanel.x + kListPanel.w - 314, kListPanel.y + 10, 300, 18}, "Escape or click outside to close",
        kSmallSize, kTextFaint, eFont::kRegular, eAlign::kRight);
  const int32_t current = core.CurrentProgram();
  for (const sListEntry& entry : listLayout) {
    if (!Visible(entry.box)) continue;
    if (entry.program < 0) {
      Label({entry.box.x + 6, entry.box.y + 6, entry.box.w, 16}, entry.category->name, kNameSize, kAccent,
            eFont::kBold);
      continue;
    }
    if (entry.program == listHover) RoundRect(entry.box, 4, kTrack);
    char name[kProgramNameSize] = {};
    core.GetProgramName(entry.program, name);
    const bool isCurrent = entry.program == current;
    Label({entry.box.x + 6, entry.box.y, 24, entry.box.h}, Format("%.0f", entry.program), kSmallSize,
          kTextFaint, eFont::kRegular, eAlign::kLeft);
    Label({entry.box.x + 30, entry.box.y, entry.box.w - 34, entry.box.h}, Utf8(name), kNameSize + 1,
          isCurrent ? kAccent : kText, isCurrent ? eFont::kBold : eFont::kRegular);
  }
}

// ---- the view ---------------------------------------------------------------------------------

cEditorView::cEditorView(const cReverbCore& model, iEditorController& controller)
    : m(std::make_unique<sImpl>(model, controller)) {
  m->Snapshot();
  SetScale(1.0);
}

cEditorView::~cEditorView() = default;

void cEditorView::SetScale(double scale) {
  scale = std::isfinite(scale) ? std::clamp(scale, 1.0, 4.0) : 1.0;
  if (scale == m->scale && m->canvas.Width() > 0) return;
  m->scale = scale;
  m->canvas.Resize(PixelWidth(), PixelHeight());
  m->dirty = {};
  m->DirtyAll();
}

double cEditorView::Scale() const { return m->scale; }
int cEditorView::PixelWidth() const { return static_cast<int>(std::lround(kLogicalWidth * m->scale)); }
int cEditorView::PixelHeight() const { return static_cast<int>(std::lround(kLogicalHeight * m->scale)); }

bool cEditorView::Poll() {
  bool roomChanged = false;
  for (int32_t id = 0; id < kNumParameters; ++id) {
    const float v = m->core.Plain(id);
    if (v == m->shown[id] || (v != v && m->shown[id] != m->shown[id])) continue;
    m->shown[id] = v;
    m->DirtyControl(id);
    if (m->pickerOpen == id) m->Dirty(PickerListBox(id));
    if (id != kParamInDir && id != kParamOutDir && id != kParamDryMix && id != kParamWetMix) roomChanged = true;
  }
  const int32_t program = m->core.CurrentProgram();
  char name[kProgramNameSize] = {};
  m->core.GetProgramName(program, name);
  if (program != m->shownProgram || std::strcmp(name, m->shownProgramName) != 0) {
    m->shownProgram = program;
    std::memcpy(m->shownProgramName, name, sizeof name);
    m->Dirty(kProgramBox);
    if (m->programListOpen) m->Dirty(kListPanel);
  }
  if (m->core.Bypassed() != m->shownBypass) {
    m->shownBypass = !m->shownBypass;
    m->Dirty(kBypassButton);
  }
  if (roomChanged) {
    m->roomStale = true;
    if (!m->programListOpen) m->Dirty(kRoomPanel);
  }
  return !m->dirty.Empty();
}

sRect cEditorView::Paint() {
  const sRect dirty = m->dirty;
  if (dirty.Empty()) return {};
  m->dirty = {};
  m->canvas.SetClip(dirty);
  m->PaintAll();
  m->canvas.ResetClip();
  return dirty;
}

const uint32_t* cEditorView::Pixels() const { return m->canvas.Pixels(); }
void cEditorView::Invalidate() { m->DirtyAll(); }

sRect cEditorView::ControlRect(int32_t id) const {
  return cReverbCore::IsParameter(id) ? m->Pixels(ControlBox(id)) : sRect{};
}
sRect cEditorView::ValueRect(int32_t id) const {
  return cReverbCore::IsParameter(id) && ValueBox(id).w > 0 ? m->Pixels(ValueBox(id)) : sRect{};
}
std::string cEditorView::ShownText(int32_t id) const { return cReverbCore::IsParameter(id) ? m->paintedText[id] : ""; }
std::string cEditorView::ShownProgram() const { return m->paintedProgram; }

void cEditorView::MouseDown(int px, int py, uint32_t modifiers, uint32_t timeMs) {
  sImpl& s = *m;
  const float x = static_cast<float>(px / s.scale), y = static_cast<float>(py / s.scale);
  s.EndDrag();

  if (s.programListOpen) {
    const int32_t program = s.HitListEntry(x, y);
    s.CloseOverlays();
    if (program >= 0) s.controller.SelectProgram(program);
    return;
  }
  if (s.pickerOpen >= 0) {
    const int32_t id = s.pickerOpen;
    const int32_t item = s.HitPickerItem(x, y);
    s.CloseOverlays();
    if (item >= 0) s.OneChange(id, kParameterTable[id].min + static_cast<float>(item));
    return;
  }

  const int32_t hit = s.HitControl(x, y);
  if (s.editing >= 0 && !(hit == s.editing && ValueBox(hit).Contains(x, y))) s.EndEditing();
  const bool doubleClick = s.hasLastDown && hit == s.lastDown && timeMs - s.lastDownMs < kDoubleClickMs;
  s.lastDown = hit, s.lastDownMs = timeMs, s.hasLastDown = true;

  switch (hit) {
    case sImpl::kHitPrev:
    case sImpl::kHitNext: {
      const int32_t step = hit == sImpl::kHitPrev ? kNumPrograms - 1 : 1;
      s.controller.SelectProgram((s.core.CurrentProgram() + step) % kNumPrograms);
      return;
    }
    case sImpl::kHitProgram:
      s.programListOpen = true;
      s.DirtyAll();
      return;
    case sImpl::kHitBypass: s.controller.SetBypass(!s.core.Bypassed()); return;
    default: break;
  }
  if (!cReverbCore::IsParameter(hit)) return;
  const int32_t id = hit;
  if (IsSwitch(id)) {
    s.OneChange(id, s.core.Plain(id) != 0.0f ? 0.0f : 1.0f);
    return;
  }
  if (ValueBox(id).Contains(x, y)) {
    if (s.editing != id) s.StartEditing(id);
    s.hasLastDown = false;
    return;
  }
  if (doubleClick) {
    s.OneChange(id, s.core.ProgramValue(s.core.CurrentProgram(), id));
    s.hasLastDown = false;
    return;
  }
  // A press starts a gesture; a picker opens its list if the press ends
  // without a drag.
  s.dragging = id;
  s.dragStartY = s.dragLastY = y;
  s.dragPlain = s.core.Plain(id);
  s.dragStartN = s.dragN = s.core.Normalized(id);
  s.dragFine = (modifiers & kModShift) != 0;
  s.controller.BeginGesture(id);
  s.DirtyControl(id);
}

void cEditorView::MouseMove(int px, int py, uint32_t modifiers) {
  sImpl& s = *m;
  const float x = static_cast<float>(px / s.scale), y = static_cast<float>(py / s.scale);
  if (s.dragging < 0) {
    if (s.programListOpen) {
      const int32_t entry = s.HitListEntry(x, y);
      if (entry != s.listHover) s.Dirty(kListPanel);
      s.listHover = entry;
    } else if (s.pickerOpen >= 0) {
      const int32_t item = s.HitPickerItem(x, y);
      if (item != s.pickerHover) s.Dirty(PickerListBox(s.pickerOpen));
      s.pickerHover = item;
    } else {
      s.SetHover(s.HitControl(x, y));
    }
    return;
  }
  const int32_t id = s.dragging;
  // Shift switches to fine steps mid-drag without a jump.
  const bool fine = (modifiers & kModShift) != 0;
  if (fine != s.dragFine) {
    s.dragStartN = s.dragN;
    s.dragStartY = s.dragLastY;
    s.dragFine = fine;
  }
  s.dragLastY = y;
  const float dy = s.dragStartY - y;
  if (IsPicker(id)) {
    const int steps = static_cast<int>(dy / kStepPixels);
    const float plain = std::clamp(std::round(s.core.Parameter(id).NormalizedToPlain(s.dragStartN)) + steps,
                                   kParameterTable[id].min, kParameterTable[id].max);
    if (plain != s.dragPlain) s.Change(id, plain);
    return;
  }
  const float n = std::clamp(s.dragStartN + dy / kDragPixels * (fine ? 0.1f : 1.0f), 0.0f, 1.0f);
  if (n == s.dragN) return;
  s.dragN = n;
  const float plain = s.core.Parameter(id).NormalizedToPlain(n);
  if (plain != s.dragPlain) s.Change(id, plain);
}

void cEditorView::MouseUp(int px, int py, uint32_t modifiers) {
  sImpl& s = *m;
  if (s.dragging < 0) return;
  const int32_t id = s.dragging;
  const bool moved = s.dragPlain != s.core.Plain(id) || s.dragN != s.dragStartN ||
                     std::abs(s.dragLastY - s.dragStartY) >= kStepPixels;
  MouseMove(px, py, modifiers);
  s.EndDrag();
  if (IsPicker(id) && !moved) {
    s.pickerOpen = id;
    s.pickerHover = -1;
    s.Dirty(PickerListBox(id));
    s.DirtyControl(id);
  }
}

void cEditorView::Wheel(int px, int py, float steps, uint32_t modifiers) {
  sImpl& s = *m;
  if (s.dragging >= 0 || s.programListOpen || s.pickerOpen >= 0 || !std::isfinite(steps) || steps == 0.0f) return;
  const int32_t id = s.HitControl(static_cast<float>(px / s.scale), static_cast<float>(py / s.scale));
  if (!cReverbCore::IsParameter(id) || IsSwitch(id)) return;
  float plain = 0.0f;
  if (IsPicker(id)) {
    plain = s.StepPlain(id, s.core.Plain(id), steps > 0 ? 1 : -1);
  } else {
    const float n = s.core.Normalized(id) + steps * ((modifiers & kModShift) ? 0.002f : 0.02f);
    plain = s.core.Parameter(id).NormalizedToPlain(std::clamp(n, 0.0f, 1.0f));
  }
  if (plain != s.core.Plain(id)) s.OneChange(id, plain);
}

bool cEditorView::Key(eKey key, uint32_t /*modifiers*/) {
  sImpl& s = *m;
  if (s.editing < 0) {
    if (key != eKey::kEscape) return false;
    if (s.programListOpen || s.pickerOpen >= 0) {
      s.CloseOverlays();
      return true;
    }
    return false;
  }
  if (s.editAll && (key == eKey::kBackspace || key == eKey::kDelete)) {
    s.editText.clear();
    s.editCursor = 0;
  }
  const bool wasAll = s.editAll;
  s.editAll = false;
  switch (key) {
    case eKey::kEnter: s.CommitEditing(); return true;
    case eKey::kEscape: s.EndEditing(); return true;
    case eKey::kBackspace:
      if (wasAll) break;
      if (s.editCursor > 0) s.editText.erase(s.editText.begin() + static_cast<long>(--s.editCursor));
      break;
    case eKey::kDelete:
      if (wasAll) break;
      if (s.editCursor < s.editText.size()) s.editText.erase(s.editText.begin() + static_cast<long>(s.editCursor));
      break;
    case eKey::kLeft: s.editCursor -= s.editCursor > 0 ? 1 : 0; break;
    case eKey::kRight: s.editCursor += s.editCursor < s.editText.size() ? 1 : 0; break;
    case eKey::kHome: s.editCursor = 0; break;
    case eKey::kEnd: s.editCursor = s.editText.size(); break;
    default: return true;  // the field keeps the focus
  }
  s.editRefused = false;
  s.DirtyControl(s.editing);
  return true;
}

bool cEditorView::Text(uint32_t codePoint, uint32_t /*modifiers*/) {
  sImpl& s = *m;
  if (s.editing < 0) return false;
  constexpr size_t kMaxText = kValueTextSize - 1;
  if (codePoint < 0x20 || codePoint == 0x7F) return true;
  if (s.editAll) {
    s.editText.clear();
    s.editCursor = 0;
    s.editAll = false;
  }
  if (s.editText.size() >= kMaxText) return true;
  s.editText.insert(s.editText.begin() + static_cast<long>(s.editCursor++), codePoint);
  s.editRefused = false;
  s.DirtyControl(s.editing);
  return true;
}

void cEditorView::Leave() {
  m->EndDrag();
  m->SetHover(-1);
}

}  // namespace nimbo::editor
