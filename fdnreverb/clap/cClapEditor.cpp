#include "cClapEditor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "cClapReverb.h"

using namespace nimbo;
using nimbo::editor::cEditorView;
using nimbo::editor::cEditorWindow;

namespace {

constexpr uint32_t kTimerMs = 30;
constexpr eHostScale kScale = eHostScale::kPlainIfStepped;
#ifdef _WIN32
constexpr const char* kApi = CLAP_WINDOW_API_WIN32;
#else
constexpr const char* kApi = CLAP_WINDOW_API_X11;
#endif

cClapEditor* Editor(const clap_plugin_t* plugin) { return static_cast<cClapReverb*>(plugin->plugin_data)->Editor(); }

// ---- the extensions' tables, in the order their headers declare them --------------------

bool IsApiSupported(const clap_plugin_t*, const char* api, bool floating) {
  return api && !floating && std::strcmp(api, kApi) == 0;
}

bool GetPreferredApi(const clap_plugin_t*, const char** api, bool* floating) {
  if (!api || !floating) return false;
  *api = kApi;
  *floating = false;
  return true;
}

bool Create(const clap_plugin_t* plugin, const char* api, bool floating) { return Editor(plugin)->Create(api, floating); }
void Destroy(const clap_plugin_t* plugin) { Editor(plugin)->Destroy(); }
bool SetScale(const clap_plugin_t* plugin, double scale) { return Editor(plugin)->SetScale(scale); }
bool GetSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
  return Editor(plugin)->GetSize(width, height);
}
bool CanResize(const clap_plugin_t*) { return false; }

bool GetResizeHints(const clap_plugin_t*, clap_gui_resize_hints_t* hints) {
  if (!hints) return false;
  *hints = {};  // a fixed size at each scale
  return true;
}

bool AdjustSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
  // The one size there is, whatever was asked.
  return Editor(plugin)->GetSize(width, height);
}

bool SetSize(const clap_plugin_t* plugin, uint32_t width, uint32_t height) {
  return Editor(plugin)->SetSize(width, height);
}

bool SetParent(const clap_plugin_t* plugin, const clap_window_t* window) { return Editor(plugin)->SetParent(window); }
bool SetTransient(const clap_plugin_t*, const clap_window_t*) { return false; }  // embedded only
void SuggestTitle(const clap_plugin_t*, const char*) {}
bool Show(const clap_plugin_t* plugin) { return Editor(plugin)->Show(true); }
bool Hide(const clap_plugin_t* plugin) { return Editor(plugin)->Show(false); }

void OnTimer(const clap_plugin_t* plugin, clap_id timer) { Editor(plugin)->OnTimer(timer); }
void OnFd(const clap_plugin_t* plugin, int fd, clap_posix_fd_flags_t) { Editor(plugin)->OnFd(fd); }

const clap_plugin_gui_t kGui = {IsApiSupported, GetPreferredApi, Create,    Destroy,       SetScale,
                                GetSize,        CanResize,       GetResizeHints, AdjustSize, SetSize,
                                SetParent,      SetTransient,    SuggestTitle, Show,        Hide};
const clap_plugin_timer_support_t kTimerSupport = {OnTimer};
const clap_plugin_posix_fd_support_t kFdSupport = {OnFd};

template <class T>
const T* HostExtension(const clap_host_t* host, const char* id) {
  return host && host->get_extension ? static_cast<const T*>(host->get_extension(host, id)) : nullptr;
}

}  // namespace

// ---- queue --------------------------------------------------------------------------------------

bool cClapOutQueue::Push(eKind kind, clap_id id, double value) {
  const uint32_t write = m_Write.load(std::memory_order_relaxed);
  if (write - m_Read.load(std::memory_order_acquire) >= kCapacity) return false;
  m_Items[write % kCapacity] = {kind, id, value};
  m_Write.store(write + 1, std::memory_order_release);
  return true;
}

void cClapOutQueue::Drain(const clap_output_events_t* out) {
  if (!out || !out->try_push) return;
  uint32_t read = m_Read.load(std::memory_order_relaxed);
  const uint32_t write = m_Write.load(std::memory_order_acquire);
  for (; read != write; ++read) {
    const sItem& item = m_Items[read % kCapacity];
    bool taken;
    if (item.kind == eKind::kValue) {
      clap_event_param_value_t event{};
      event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
      event.param_id = item.id;
      event.note_id = event.port_index = event.channel = event.key = -1;
      event.value = item.value;
      taken = out->try_push(out, &event.header);
    } else {
      clap_event_param_gesture_t event{};
      const uint16_t type = item.kind == eKind::kGestureBegin ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END;
      event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID, type, 0};
      event.param_id = item.id;
      taken = out->try_push(out, &event.header);
    }
    if (!taken) break;  // the rest next time
  }
  m_Read.store(read, std::memory_order_release);
}

// ---- editor -------------------------------------------------------------------------------------

const void* cClapEditor::Extension(const char* id) {
  if (!std::strcmp(id, CLAP_EXT_GUI)) return &kGui;
  if (!std::strcmp(id, CLAP_EXT_TIMER_SUPPORT)) return &kTimerSupport;
  if (!std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT)) return &kFdSupport;
  return nullptr;
}

cClapEditor::cClapEditor(const clap_host_t* host, cReverbCore& core)
    : m_Host(host),
      m_Core(core),
      m_HostParams(HostExtension<clap_host_params_t>(host, CLAP_EXT_PARAMS)),
      m_HostGui(HostExtension<clap_host_gui_t>(host, CLAP_EXT_GUI)),
      m_HostTimer(HostExtension<clap_host_timer_support_t>(host, CLAP_EXT_TIMER_SUPPORT)),
      m_HostFd(HostExtension<clap_host_posix_fd_support_t>(host, CLAP_EXT_POSIX_FD_SUPPORT)) {
  m_HostPresetLoad = HostExtension<clap_host_preset_load_t>(host, CLAP_EXT_PRESET_LOAD);
  if (!m_HostPresetLoad) m_HostPresetLoad = HostExtension<clap_host_preset_load_t>(host, CLAP_EXT_PRESET_LOAD_COMPAT);
}

cClapEditor::~cClapEditor() {
  // The plugin goes: no gesture to close, nothing more to tell the host.
  CloseWindow();
}

cEditorView& cClapEditor::View() {
  if (!m_View) {
    m_View = std::make_unique<cEditorView>(m_Core, *this);
    m_View->SetScale(m_Scale);
  }
  return *m_View;
}

bool cClapEditor::Create(const char* api, bool floating) {
  if (!IsApiSupported(nullptr, api, floating)) return false;
  // A host that creates again without destroying gets a fresh editor.
  if (m_bCreated) Destroy();
  // Under X11 nothing would ever paint without the host's timer.
  const bool timers = m_HostTimer && m_HostTimer->register_timer && m_HostTimer->unregister_timer;
  if (std::strcmp(api, CLAP_WINDOW_API_X11) == 0 && !timers) return false;
  try {
    View();
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_bCreated = true;
  return true;
}

void cClapEditor::Destroy() {
  CloseWindow();
  // A drag in progress ends as a gesture the host sees closed.
  if (m_View) m_View->Leave();
  m_View.reset();
  m_bCreated = false;
}

void cClapEditor::CloseWindow() {
  if (m_Timer != CLAP_INVALID_ID) m_HostTimer->unregister_timer(m_Host, m_Timer);
  m_Timer = CLAP_INVALID_ID;
  if (m_Fd >= 0) m_HostFd->unregister_fd(m_Host, m_Fd);
  m_Fd = -1;
  m_Window.reset();
}

bool cClapEditor::SetScale(double scale) {
  if (!(scale > 0.0)) return false;
  m_bHostScale = true;
  ApplyScale(scale);
  return true;
}

void cClapEditor::ApplyScale(double scale) {
  m_Scale = std::clamp(scale, 1.0, 4.0);
  if (!m_View) return;
  const int width = m_View->PixelWidth();
  m_View->SetScale(m_Scale);
  if (!m_Window || m_View->PixelWidth() == width) return;
  m_Window->FollowViewSize();
  if (m_HostGui && m_HostGui->request_resize)
    m_HostGui->request_resize(m_Host, static_cast<uint32_t>(m_View->PixelWidth()),
                              static_cast<uint32_t>(m_View->PixelHeight()));
}

bool cClapEditor::GetSize(uint32_t* width, uint32_t* height) {
  if (!width || !height) return false;
  try {
    *width = static_cast<uint32_t>(View().PixelWidth());
    *height = static_cast<uint32_t>(View().PixelHeight());
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool cClapEditor::SetSize(uint32_t width, uint32_t height) const {
  return m_View && width == static_cast<uint32_t>(m_View->PixelWidth()) &&
         height == static_cast<uint32_t>(m_View->PixelHeight());
}

bool cClapEditor::SetParent(const clap_window_t* window) {
  if (!m_bCreated || !window || !window->api || std::strcmp(window->api, kApi) != 0) return false;
  CloseWindow();  // a second parent: the editor moves there
  m_Window = cEditorWindow::Create(window->uptr, *m_View);
  if (!m_Window) return false;
  if (const double system = m_Window->SystemScale(); !m_bHostScale && system > 0.0) ApplyScale(system);
  m_Window->OnSystemScaleChange([this](double scale) {
    if (!m_bHostScale) ApplyScale(scale);
  });
  // Where the system delivers no events itself, the host's run loop drives the window.
  if (const int fd = m_Window->EventFd(); fd >= 0) {
    if (!m_HostTimer->register_timer(m_Host, kTimerMs, &m_Timer)) m_Timer = CLAP_INVALID_ID;
    if (m_HostFd && m_HostFd->register_fd && m_HostFd->unregister_fd &&
        m_HostFd->register_fd(m_Host, fd, CLAP_POSIX_FD_READ | CLAP_POSIX_FD_ERROR))
      m_Fd = fd;
    if (m_Timer == CLAP_INVALID_ID) {
      CloseWindow();
      return false;
    }
  }
  m_Window->Pump();
  return true;
}

bool cClapEditor::Show(bool visible) {
  if (!m_Window) return false;
  m_Window->Show(visible);
  return true;
}

void cClapEditor::OnTimer(clap_id timer) {
  if (m_Window && timer == m_Timer) m_Window->Pump();
}

void cClapEditor::OnFd(int fd) {
  if (m_Window && fd == m_Fd) m_Window->Pump();
}

// ---- changes to the host --------------------------------------------------------------------------

void cClapEditor::RequestFlush() {
  // The host then calls process or flush, whichever fits: asleep, the plugin is not processed.
  if (m_HostParams && m_HostParams->request_flush) m_HostParams->request_flush(m_Host);
}

void cClapEditor::Send(cClapOutQueue::eKind kind, int32_t id) {
  const double value = kind == cClapOutQueue::eKind::kValue ? m_Core.HostValue(id, kScale) : 0.0;
  m_Changes.Push(kind, static_cast<clap_id>(id), value);
}

void cClapEditor::BeginGesture(int32_t id) {
  if (!cReverbCore::IsHostValue(id)) return;
  Send(cClapOutQueue::eKind::kGestureBegin, id);
  RequestFlush();
}

void cClapEditor::SetValue(int32_t id, float plain) {
  if (!cReverbCore::IsHostValue(id) || !m_Core.SetHostValue(id, plain, eHostScale::kPlain)) return;
  Send(cClapOutQueue::eKind::kValue, id);
  RequestFlush();
}

void cClapEditor::EndGesture(int32_t id) {
  if (!cReverbCore::IsHostValue(id)) return;
  Send(cClapOutQueue::eKind::kGestureEnd, id);
  RequestFlush();
}

void cClapEditor::SelectProgram(int32_t index) {
  if (index < 0 || index >= kNumPrograms) return;
  // As the preset of that program loads from the host's browser; every value
  // it changes goes to the host as an edit of its own, so it can be undone.
  double before[kNumParameters];
  for (int32_t id = 0; id < kNumParameters; ++id) before[id] = m_Core.HostValue(id, kScale);
  m_Core.LoadProgram(index);
  for (int32_t id = 0; id < kNumParameters; ++id) {
    if (m_Core.HostValue(id, kScale) == before[id]) continue;
    Send(cClapOutQueue::eKind::kGestureBegin, id);
    Send(cClapOutQueue::eKind::kValue, id);
    Send(cClapOutQueue::eKind::kGestureEnd, id);
  }
  if (m_HostParams && m_HostParams->rescan) m_HostParams->rescan(m_Host, CLAP_PARAM_RESCAN_VALUES);
  if (m_HostPresetLoad && m_HostPresetLoad->loaded) {
    char key[8];
    std::snprintf(key, sizeof key, "%d", static_cast<int>(index));
    m_HostPresetLoad->loaded(m_Host, CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, key);
  }
  RequestFlush();
}

void cClapEditor::SetBypass(bool on) {
  if (!m_Core.SetHostValue(kBypassId, on ? 1.0 : 0.0, eHostScale::kPlain)) return;
  Send(cClapOutQueue::eKind::kGestureBegin, kBypassId);
  Send(cClapOutQueue::eKind::kValue, kBypassId);
  Send(cClapOutQueue::eKind::kGestureEnd, kBypassId);
  RequestFlush();
}
