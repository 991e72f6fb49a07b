// The editor as every format shows it: layout, widgets, hit testing, gestures
// and keys, painted in software into a pixel buffer. It reads values, texts
// and programs from a core (the plugin's own, or a mirror of the host's ports
// where the UI runs apart) and writes only through its controller.
//
// Threads: everything here runs on the host's UI thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "../cReverbCore.h"

namespace nimbo::editor {

// What the view asks of the format it lives in. Values are plain, as the
// parameter table has them; the format turns them into what its host takes.
class iEditorController {
 public:
  virtual ~iEditorController() = default;
  // A change of one parameter, as a gesture: begin, any number of values, end.
  virtual void BeginGesture(int32_t id) = 0;
  virtual void SetValue(int32_t id, float plain) = 0;
  virtual void EndGesture(int32_t id) = 0;
  // Loads a program the way the format loads presets, telling the host.
  virtual void SelectProgram(int32_t index) = 0;
  // The bypass, where the format has one.
  virtual bool HasBypass() const { return false; }
  virtual void SetBypass(bool /*on*/) {}
};

enum eModifier : uint32_t { kModShift = 1, kModControl = 2, kModAlt = 4 };

// Keys other than text; text arrives as Unicode code points.
enum class eKey { kNone, kEnter, kEscape, kBackspace, kDelete, kLeft, kRight, kHome, kEnd, kTab, kUp, kDown };

struct sRect {
  int x = 0, y = 0, w = 0, h = 0;
  bool Empty() const { return w <= 0 || h <= 0; }
};

class cEditorView {
 public:
  // The default size in logical pixels; the scale multiplies it.
  static constexpr int kLogicalWidth = 900;
  static constexpr int kLogicalHeight = 560;

  cEditorView(const cReverbCore& model, iEditorController& controller);
  ~cEditorView();
  cEditorView(const cEditorView&) = delete;
  cEditorView& operator=(const cEditorView&) = delete;

  // 1 to 4; the pixel size follows and everything is painted again.
  void SetScale(double scale);
  double Scale() const;
  int PixelWidth() const;
  int PixelHeight() const;

  // Looks at the model for changes the host made (automation, programs,
  // bypass). True when something must be painted.
  bool Poll();
  // Paints what changed since the last paint; the rectangle that changed
  // (empty: nothing). Pixels are 0xAARRGGBB words, row by row, PixelWidth()
  // per row: what a 32-bit X11 image and a Windows DIB both take.
  sRect Paint();
  const uint32_t* Pixels() const;
  // Everything is painted again at the next Paint (an expose).
  void Invalidate();

  // Where a parameter's control and its value text are, in pixels (empty for
  // IDs without one): for tests and hosts' accessibility hints.
  sRect ControlRect(int32_t id) const;
  sRect ValueRect(int32_t id) const;
  // The texts last painted (UTF-8): a parameter's value as the host shows it,
  // and the program header's number and name; for tests and accessibility.
  std::string ShownText(int32_t id) const;
  std::string ShownProgram() const;

  // Pointer in pixels of the buffer; timeMs orders clicks into double clicks.
  void MouseDown(int x, int y, uint32_t modifiers, uint32_t timeMs);
  void MouseMove(int x, int y, uint32_t modifiers);
  void MouseUp(int x, int y, uint32_t modifiers);
  // Wheel steps: positive away from the user (up).
  void Wheel(int x, int y, float steps, uint32_t modifiers);
  // True when the view used the key (the host may take the rest).
  bool Key(eKey key, uint32_t modifiers);
  bool Text(uint32_t codePoint, uint32_t modifiers);
  // The pointer left, or the window lost the focus: ends any gesture.
  void Leave();

 private:
  struct sImpl;
  std::unique_ptr<sImpl> m;
};

}  // namespace nimbo::editor
