// A child window in the host's window showing a view: an X11 window on Linux,
// a Win32 window on Windows. Thin: it turns the system's events into the
// view's and copies what the view painted to the screen.
//
// Threads: create, pump and destroy on the host's UI thread. No threads of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "cEditorView.h"

namespace nimbo::editor {

class cEditorWindow {
 public:
  // parent: the host's X11 Window ID or HWND. Null when the window cannot be
  // made (no display, a parent that is not a window).
  static std::unique_ptr<cEditorWindow> Create(uintptr_t parent, cEditorView& view);
  virtual ~cEditorWindow() = default;

  // The system's window (X11 Window ID or HWND).
  virtual uintptr_t Handle() const = 0;
  // X11: the display connection's descriptor, which hosts watch for the
  // editor; -1 where the system delivers events itself (Windows).
  virtual int EventFd() const = 0;
  // Handles whatever events are pending and shows what the view painted;
  // from the host's timer or fd callback (Windows: also from a timer).
  virtual void Pump() = 0;
  // The view's pixel size changed (a new scale): resize the window to it.
  virtual void FollowViewSize() = 0;
  virtual void Show(bool visible) = 0;
  // The scale the system asks for where the window is (Windows: the monitor's
  // DPI / 96), for hosts that set none; 0 where the system has nothing to say.
  virtual double SystemScale() const { return 0.0; }
  // Called with the new SystemScale when it changes while the window is open
  // (Windows: moved to a monitor of another DPI); never where it cannot change.
  virtual void OnSystemScaleChange(std::function<void(double)> changed) { (void)changed; }
};

}  // namespace nimbo::editor
