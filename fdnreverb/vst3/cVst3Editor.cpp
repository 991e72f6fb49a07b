#include "cVst3Editor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cVst3Reverb.h"

namespace nimbovst3 {

using namespace vst3;
using namespace nimbo;
using nimbo::editor::cEditorView;
using nimbo::editor::cEditorWindow;
using nimbo::editor::eKey;

namespace {

constexpr Linux::TimerInterval kTimerMs = 30;

// The virtual key codes and modifier bits hosts pass to onKeyDown.
eKey KeyOf(int16 keyCode) {
  switch (keyCode) {
    case 1: return eKey::kBackspace;
    case 2: return eKey::kTab;
    case 4: case 19: return eKey::kEnter;  // return, keypad enter
    case 6: return eKey::kEscape;
    case 9: return eKey::kEnd;
    case 10: return eKey::kHome;
    case 11: return eKey::kLeft;
    case 12: return eKey::kUp;
    case 13: return eKey::kRight;
    case 14: return eKey::kDown;
    case 22: return eKey::kDelete;
    default: return eKey::kNone;
  }
}

uint32_t Modifiers(int16 modifiers) {
  uint32_t result = 0;
  if (modifiers & (1 << 0)) result |= editor::kModShift;
  if (modifiers & (1 << 1)) result |= editor::kModAlt;
  if (modifiers & (1 << 3)) result |= editor::kModControl;
  return result;
}

bool Supported(FIDString type) {
  if (!type) return false;
#ifdef _WIN32
  return std::strcmp(type, kPlatformTypeHWND) == 0;
#else
  return std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0;
#endif
}

}  // namespace

cVst3Editor* cVst3Editor::Create(cVst3Reverb& controller) {
  try {
    return new cVst3Editor(controller);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

cVst3Editor::cVst3Editor(cVst3Reverb& controller) : m_Controller(controller) {
  m_View = std::make_unique<cEditorView>(m_Controller.m_Core, *this);
  m_Controller.addRef();
}

cVst3Editor::~cVst3Editor() {
  CloseWindow();
  m_View.reset();
  m_Controller.release();
}

tresult PLUGIN_API cVst3Editor::queryInterface(const TUID interfaceId, void** obj) {
  if (!obj) return kInvalidArgument;
  *obj = nullptr;
  if (IidEqual(interfaceId, FUnknown::iid) || IidEqual(interfaceId, IPlugView::iid))
    *obj = static_cast<IPlugView*>(this);
  else if (IidEqual(interfaceId, IPlugViewContentScaleSupport::iid))
    *obj = static_cast<IPlugViewContentScaleSupport*>(this);
  else if (IidEqual(interfaceId, Linux::ITimerHandler::iid))
    *obj = static_cast<Linux::ITimerHandler*>(this);
  else if (IidEqual(interfaceId, Linux::IEventHandler::iid))
    *obj = static_cast<Linux::IEventHandler*>(this);
  if (!*obj) return kNoInterface;
  addRef();
  return kResultOk;
}

uint32 PLUGIN_API cVst3Editor::release() {
  const uint32 count = --m_RefCount;
  if (count == 0) delete this;
  return count;
}

// ---- IPlugView ------------------------------------------------------------------------------

tresult PLUGIN_API cVst3Editor::isPlatformTypeSupported(FIDString type) {
  return Supported(type) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API cVst3Editor::attached(void* parent, FIDString type) {
  if (!parent || !Supported(type)) return kResultFalse;
  // Attached again without being removed: the editor moves to the new parent.
  CloseWindow();
  m_Window = cEditorWindow::Create(reinterpret_cast<uintptr_t>(parent), *m_View);
  if (!m_Window) return kResultFalse;
  if (const double system = m_Window->SystemScale(); !m_bHostScale && system > 0.0) ApplyScale(system);
  m_Window->OnSystemScaleChange([this](double scale) {
    if (!m_bHostScale) ApplyScale(scale);
  });
  // Where the system delivers no events itself, the host's run loop drives the window.
  if (const int fd = m_Window->EventFd(); fd >= 0) {
    void* loop = nullptr;
    if (m_Frame && m_Frame->queryInterface(Linux::IRunLoop::iid.data(), &loop) == kResultOk && loop)
      m_RunLoop = static_cast<Linux::IRunLoop*>(loop);
    m_bTimer = m_RunLoop && m_RunLoop->registerTimer(this, kTimerMs) == kResultOk;
    if (!m_bTimer) {
      CloseWindow();  // nothing would ever paint
      return kResultFalse;
    }
    m_bEventHandler = m_RunLoop->registerEventHandler(this, fd) == kResultOk;
  }
  m_Window->Pump();
  return kResultOk;
}

void cVst3Editor::CloseWindow() {
  if (m_RunLoop) {
    if (m_bEventHandler) m_RunLoop->unregisterEventHandler(this);
    if (m_bTimer) m_RunLoop->unregisterTimer(this);
    m_RunLoop->release();
  }
  m_RunLoop = nullptr;
  m_bTimer = m_bEventHandler = false;
  m_Window.reset();
}

tresult PLUGIN_API cVst3Editor::removed() {
  CloseWindow();
  // A drag in progress ends as a gesture the host sees closed.
  m_View->Leave();
  return kResultOk;
}

tresult PLUGIN_API cVst3Editor::onWheel(float) {
  return kResultFalse;  // the window has the wheel itself, where the pointer is
}

tresult PLUGIN_API cVst3Editor::onKeyDown(char16 key, int16 keyCode, int16 modifiers) {
  bool used = false;
  if (const eKey named = KeyOf(keyCode); named != eKey::kNone) used = m_View->Key(named, Modifiers(modifiers));
  else if (key >= 0x20 && key != 0x7F && (key < 0xD800 || key >= 0xE000)) used = m_View->Text(key, Modifiers(modifiers));
  if (used && m_Window) m_Window->Pump();
  return used ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API cVst3Editor::onKeyUp(char16, int16, int16) { return kResultFalse; }

ViewRect cVst3Editor::Size() const {
  ViewRect size;
  size.right = m_View->PixelWidth();
  size.bottom = m_View->PixelHeight();
  return size;
}

tresult PLUGIN_API cVst3Editor::getSize(ViewRect* size) {
  if (!size) return kInvalidArgument;
  *size = Size();
  return kResultOk;
}

tresult PLUGIN_API cVst3Editor::onSize(ViewRect* newSize) {
  // One size per scale: the window keeps it whatever the host's frame does.
  return newSize ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API cVst3Editor::onFocus(TBool state) {
  if (!state) m_View->Leave();
  return kResultOk;
}

tresult PLUGIN_API cVst3Editor::setFrame(IPlugFrame* frame) {
  m_Frame = frame;
  return kResultOk;
}

tresult PLUGIN_API cVst3Editor::canResize() { return kResultFalse; }

tresult PLUGIN_API cVst3Editor::checkSizeConstraint(ViewRect* rect) {
  if (!rect) return kInvalidArgument;
  const ViewRect size = Size();
  rect->right = rect->left + size.getWidth();
  rect->bottom = rect->top + size.getHeight();
  return kResultTrue;
}

// ---- scale ----------------------------------------------------------------------------------

tresult PLUGIN_API cVst3Editor::setContentScaleFactor(ScaleFactor factor) {
  if (!(factor > 0.0f)) return kResultFalse;
  m_bHostScale = true;
  ApplyScale(factor);
  return kResultTrue;
}

void cVst3Editor::ApplyScale(double scale) {
  const int width = m_View->PixelWidth();
  m_View->SetScale(std::clamp(scale, 1.0, 4.0));
  if (!m_Window || m_View->PixelWidth() == width) return;
  m_Window->FollowViewSize();
  ViewRect size = Size();
  if (m_Frame) m_Frame->resizeView(this, &size);
}

// ---- run loop -------------------------------------------------------------------------------

void PLUGIN_API cVst3Editor::onTimer() {
  if (m_Window) m_Window->Pump();
}

void PLUGIN_API cVst3Editor::onFDIsSet(Linux::FileDescriptor) {
  if (m_Window) m_Window->Pump();
}

// ---- changes to the host --------------------------------------------------------------------

void cVst3Editor::BeginGesture(int32_t id) {
  if (cReverbCore::IsHostValue(id) && m_Controller.m_Handler) m_Controller.m_Handler->beginEdit(static_cast<Vst::ParamID>(id));
}

void cVst3Editor::SetValue(int32_t id, float plain) {
  if (!cReverbCore::IsHostValue(id) || !m_Controller.m_Core.SetHostValue(id, plain, eHostScale::kPlain)) return;
  // The host knows it from here on: process() reports no change back.
  const float normalized = m_Controller.CurrentNormalized(id);
  m_Controller.m_HostView[static_cast<size_t>(id)].store(normalized, std::memory_order_relaxed);
  if (m_Controller.m_Handler) m_Controller.m_Handler->performEdit(static_cast<Vst::ParamID>(id), normalized);
}

void cVst3Editor::EndGesture(int32_t id) {
  if (cReverbCore::IsHostValue(id) && m_Controller.m_Handler) m_Controller.m_Handler->endEdit(static_cast<Vst::ParamID>(id));
}

void cVst3Editor::SelectProgram(int32_t index) {
  if (index < 0 || index >= kNumPrograms) return;
  // Through the program-change parameter, as the host's own program list does.
  const double normalized = static_cast<double>(index) / (kNumPrograms - 1);
  m_Controller.Apply(kProgramChangeId, normalized, false);
  if (Vst::IComponentHandler* handler = m_Controller.m_Handler) {
    const auto id = static_cast<Vst::ParamID>(kProgramChangeId);
    handler->beginEdit(id);
    handler->performEdit(id, normalized);
    handler->endEdit(id);
    // Called from the editor, never from inside one of the host's calls.
    handler->restartComponent(Vst::kParamValuesChanged);
  }
}

void cVst3Editor::SetBypass(bool on) {
  BeginGesture(kBypassId);
  SetValue(kBypassId, on ? 1.0f : 0.0f);
  EndGesture(kBypassId);
}

}  // namespace nimbovst3
