// The editor of the VST3 controller: an IPlugView over the format-neutral view
// and child window. On Linux the host's run loop drives the window (a timer and
// the display connection's descriptor, registered in attached and gone in
// removed); on Windows the window has its own timer. Changes the view makes
// apply to the effect at once and reach the host as beginEdit, performEdit and
// endEdit with the normalized values the controller reports.
//
// Threads: the host's UI thread only.
#pragma once

#include <atomic>
#include <memory>

#include "../editor/cEditorView.h"
#include "../editor/cEditorWindow.h"
#include "vst3.h"

namespace nimbovst3 {

class cVst3Reverb;

class cVst3Editor final : public vst3::IPlugView,
                          public vst3::IPlugViewContentScaleSupport,
                          public vst3::Linux::ITimerHandler,
                          public vst3::Linux::IEventHandler,
                          public nimbo::editor::iEditorController {
 public:
  // A new view holding one reference (and one of the controller); null when memory is short.
  static cVst3Editor* Create(cVst3Reverb& controller);

  // ---- FUnknown ----
  vst3::tresult PLUGIN_API queryInterface(const vst3::TUID interfaceId, void** obj) override;
  vst3::uint32 PLUGIN_API addRef() override { return ++m_RefCount; }
  vst3::uint32 PLUGIN_API release() override;

  // ---- IPlugView ----
  vst3::tresult PLUGIN_API isPlatformTypeSupported(vst3::FIDString type) override;
  vst3::tresult PLUGIN_API attached(void* parent, vst3::FIDString type) override;
  vst3::tresult PLUGIN_API removed() override;
  vst3::tresult PLUGIN_API onWheel(float distance) override;
  vst3::tresult PLUGIN_API onKeyDown(vst3::char16 key, vst3::int16 keyCode, vst3::int16 modifiers) override;
  vst3::tresult PLUGIN_API onKeyUp(vst3::char16 key, vst3::int16 keyCode, vst3::int16 modifiers) override;
  vst3::tresult PLUGIN_API getSize(vst3::ViewRect* size) override;
  vst3::tresult PLUGIN_API onSize(vst3::ViewRect* newSize) override;
  vst3::tresult PLUGIN_API onFocus(vst3::TBool state) override;
  vst3::tresult PLUGIN_API setFrame(vst3::IPlugFrame* frame) override;
  vst3::tresult PLUGIN_API canResize() override;
  vst3::tresult PLUGIN_API checkSizeConstraint(vst3::ViewRect* rect) override;

  // ---- IPlugViewContentScaleSupport ----
  vst3::tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) override;

  // ---- the host's run loop (Linux) ----
  void PLUGIN_API onTimer() override;
  void PLUGIN_API onFDIsSet(vst3::Linux::FileDescriptor fd) override;

  // ---- iEditorController ----
  void BeginGesture(int32_t id) override;
  void SetValue(int32_t id, float plain) override;
  void EndGesture(int32_t id) override;
  void SelectProgram(int32_t index) override;
  bool HasBypass() const override { return true; }
  void SetBypass(bool on) override;

 private:
  explicit cVst3Editor(cVst3Reverb& controller);
  ~cVst3Editor();
  // Handlers leave the run loop before the window they serve goes.
  void CloseWindow();
  void ApplyScale(double scale);
  vst3::ViewRect Size() const;

  cVst3Reverb& m_Controller;
  std::atomic<vst3::uint32> m_RefCount{1};
  vst3::IPlugFrame* m_Frame = nullptr;        // the host's, not counted (it outlives the view's attachment)
  vst3::Linux::IRunLoop* m_RunLoop = nullptr;  // counted while the window is attached
  bool m_bTimer = false;
  bool m_bEventHandler = false;
  bool m_bHostScale = false;  // the host set a scale: the system's is not asked
  // Destroyed in reverse: the window before the view it shows.
  std::unique_ptr<nimbo::editor::cEditorView> m_View;
  std::unique_ptr<nimbo::editor::cEditorWindow> m_Window;
};

}  // namespace nimbovst3
