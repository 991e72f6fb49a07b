// An X11 host for the editors of the CLAP plugin and the VST3 module: loads
// them through their entries, embeds each instance's editor in a top-level
// window of its own, and runs one poll() loop serving the plugins' timers and
// descriptors (CLAP timer-support and posix-fd-support, the VST3 IRunLoop).
// With --audio a thread processes every instance meanwhile, as a DAW's does.
//
//   nimbohall-editorhost (--clap FILE | --vst3 BUNDLE) [--instances N] [--audio]
//                        [--render FILE BLOCKS] COMMAND...
//
// Commands, run in order on every instance:
//   size             prints "size I W H" (hosts ask before opening, too)
//   scale S          sets the editor's scale (before opening, or while open)
//   open             creates the editor and embeds it: "editor I X Y W H" (root coordinates),
//                    and "embed I ..." with what its window tells embedders
//   embed            prints "embed I ..." again for the open editors
//   close            takes the editor out and destroys it
//   cycle N          opens and closes N times
//   wait MS          serves the loop for MS milliseconds
//   until FILE MS    serves it until FILE exists, for at most MS milliseconds
//   values           prints "value I ID VALUE" for every parameter, as the host reads it
//   events           prints the changes the plugin told the host: "event I begin|value|end ID [VALUE]"
// At the end: "audio-allocations N" (allocations of the audio thread while
// processing) with --audio, and "done".
//
// --render writes the first output channel of instance 0 for BLOCKS blocks
// of a fixed input as raw floats: the same with and without an editor.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CountingAllocator.h"
#include "cClapHost.h"
#include "cVst3Host.h"
#include "clap/ext/gui.h"
#include "clap/ext/timer-support.h"

namespace {

using namespace std::chrono_literals;
using tClock = std::chrono::steady_clock;

constexpr const char* kClapId = "com.brannoch.nimbohall";
constexpr double kSampleRate = 48000.0;
constexpr uint32_t kBlock = 256;
constexpr size_t kMaxEvents = 4096;

// ---- the run loop ------------------------------------------------------------------------

// Timers and descriptors of the plugins, served from one poll() with the host's display.
class cRunLoop {
 public:
  struct sTimer {
    uint32_t id;
    void* owner;
    std::chrono::milliseconds period;
    tClock::time_point due;
  };
  struct sFd {
    int fd;
    void* owner;
  };
  using tFire = void (*)(void* owner, uint32_t timerId);
  using tReady = void (*)(void* owner, int fd);

  uint32_t AddTimer(void* owner, uint32_t periodMs) {
    const auto period = std::chrono::milliseconds(std::max<uint32_t>(periodMs, 1));
    m_Timers.push_back({++m_LastTimer, owner, period, tClock::now() + period});
    return m_LastTimer;
  }
  bool RemoveTimer(void* owner, uint32_t id) {
    return std::erase_if(m_Timers, [&](const sTimer& t) { return t.owner == owner && t.id == id; }) > 0;
  }
  bool RemoveTimersOf(void* owner) { return std::erase_if(m_Timers, [&](const sTimer& t) { return t.owner == owner; }) > 0; }
  void AddFd(void* owner, int fd) { m_Fds.push_back({fd, owner}); }
  bool RemoveFd(void* owner, int fd) {
    return std::erase_if(m_Fds, [&](const sFd& f) { return f.owner == owner && (fd < 0 || f.fd == fd); }) > 0;
  }
  size_t Registered(void* owner) const {
    return std::count_if(m_Timers.begin(), m_Timers.end(), [&](const sTimer& t) { return t.owner == owner; }) +
           std::count_if(m_Fds.begin(), m_Fds.end(), [&](const sFd& f) { return f.owner == owner; });
  }

  // Serves until `end`; the callbacks say what a timer or a descriptor reaches.
  void Run(tClock::time_point end, Display* display, tFire fire, tReady ready) {
    for (;;) {
      const auto now = tClock::now();
      if (now >= end) return;
      auto next = end;
      for (const sTimer& t : m_Timers) next = std::min(next, t.due);
      std::vector<pollfd> fds{{ConnectionNumber(display), POLLIN, 0}};
      for (const sFd& f : m_Fds) fds.push_back({f.fd, POLLIN, 0});
      // Xlib may hold events it has read already: no waiting then.
      const bool pending = XPending(display) > 0;
      // Rounded up: a timer due within the millisecond must not make a busy wait.
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      poll(fds.data(), fds.size(), pending ? 0 : static_cast<int>(std::clamp<long long>(wait, 0, 100)));
      while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
      }
      // Callbacks may change the lists: each is looked up again before it runs.
      for (size_t k = 1; k < fds.size(); ++k) {
        if (!(fds[k].revents & (POLLIN | POLLERR | POLLHUP))) continue;
        for (const sFd& f : m_Fds)
          if (f.fd == fds[k].fd) {
            ready(f.owner, f.fd);
            break;
          }
      }
      const auto after = tClock::now();
      std::vector<std::pair<void*, uint32_t>> fired;
      for (sTimer& t : m_Timers)
        if (t.due <= after) {
          fired.emplace_back(t.owner, t.id);
          t.due = after + t.period;
        }
      for (const auto& timer : fired)
        if (std::any_of(m_Timers.begin(), m_Timers.end(),
                        [&](const sTimer& t) { return t.owner == timer.first && t.id == timer.second; }))
          fire(timer.first, timer.second);
    }
  }

 private:
  std::vector<sTimer> m_Timers;
  std::vector<sFd> m_Fds;
  uint32_t m_LastTimer = 0;
};

// ---- one embedded plugin -------------------------------------------------------------------

// What a host tells a plugin's output events (or component handler) apart by.
struct sChange {
  enum eKind : uint8_t { kBegin, kValue, kEnd } kind;
  uint32_t id;
  double value;
};

class cEmbedded {
 public:
  virtual ~cEmbedded() = default;
  virtual bool Open(Window parent) = 0;
  virtual void Close() = 0;
  virtual bool Size(uint32_t& width, uint32_t& height) = 0;
  virtual bool Scale(double scale) = 0;
  virtual std::vector<std::pair<uint32_t, double>> Values() = 0;
  virtual std::vector<sChange> Changes() = 0;
  // [audio thread] One block; false when processing is not running.
  virtual bool Process(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) = 0;
  virtual void StartProcessing() = 0;
  virtual void StopProcessing() = 0;
  // [main thread] What the loop hands over.
  virtual void OnTimer(uint32_t) {}
  virtual void OnFd(int) {}
  virtual void Idle() {}
};

cRunLoop* gLoop = nullptr;  // the host's one loop, for the plugins' callbacks
std::thread::id gMainThread;

// ---- CLAP ----

class cClapEmbedded final : public cEmbedded {
 public:
  explicit cClapEmbedded(const nimbohost::cClapLibrary& library) {
    m_Host = {.clap_version = CLAP_VERSION_INIT,
              .host_data = this,
              .name = "nimbohall-editorhost",
              .vendor = "nimbohall tests",
              .url = "",
              .version = "1",
              .get_extension = HostExtension,
              .request_restart = [](const clap_host_t*) {},
              .request_process = [](const clap_host_t*) {},
              .request_callback = [](const clap_host_t*) {}};
    const clap_plugin_factory_t* factory = library.PluginFactory();
    m_Plugin = factory ? factory->create_plugin(factory, &m_Host, kClapId) : nullptr;
    if (m_Plugin && !m_Plugin->init(m_Plugin)) {
      m_Plugin->destroy(m_Plugin);
      m_Plugin = nullptr;
    }
    if (!m_Plugin) return;
    m_Params = static_cast<const clap_plugin_params_t*>(m_Plugin->get_extension(m_Plugin, CLAP_EXT_PARAMS));
    m_Gui = static_cast<const clap_plugin_gui_t*>(m_Plugin->get_extension(m_Plugin, CLAP_EXT_GUI));
    m_Timer = static_cast<const clap_plugin_timer_support_t*>(m_Plugin->get_extension(m_Plugin, CLAP_EXT_TIMER_SUPPORT));
    m_Fd = static_cast<const clap_plugin_posix_fd_support_t*>(m_Plugin->get_extension(m_Plugin, CLAP_EXT_POSIX_FD_SUPPORT));
    m_Plugin->activate(m_Plugin, kSampleRate, 1, kBlock);
  }
  ~cClapEmbedded() override {
    if (!m_Plugin) return;
    Close();
    m_Plugin->deactivate(m_Plugin);
    m_Plugin->destroy(m_Plugin);
    // What the plugin left registered outlives it: a fault of the plugin's.
    if (gLoop->Registered(this) > 0) std::printf("leftover registrations %zu\n", gLoop->Registered(this));
  }
  bool Ready() const { return m_Plugin && m_Params && m_Gui && m_Timer && m_Fd; }

  bool Open(Window parent) override {
    if (!m_Gui->is_api_supported(m_Plugin, CLAP_WINDOW_API_X11, false) || !m_Gui->create(m_Plugin, CLAP_WINDOW_API_X11, false))
      return false;
    m_bCreated = true;
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_X11;
    window.x11 = parent;
    return m_Gui->set_parent(m_Plugin, &window) && m_Gui->show(m_Plugin);
  }
  void Close() override {
    if (!m_bCreated) return;
    m_Gui->hide(m_Plugin);
    m_Gui->destroy(m_Plugin);
    m_bCreated = false;
    if (gLoop->Registered(this) > 0) std::printf("registrations left after destroy %zu\n", gLoop->Registered(this));
  }
  bool Size(uint32_t& width, uint32_t& height) override { return m_Gui->get_size(m_Plugin, &width, &height); }
  bool Scale(double scale) override { return m_Gui->set_scale(m_Plugin, scale); }

  std::vector<std::pair<uint32_t, double>> Values() override {
    std::vector<std::pair<uint32_t, double>> values;
    for (uint32_t k = 0; k < m_Params->count(m_Plugin); ++k) {
      clap_param_info_t info{};
      double value = 0.0;
      if (m_Params->get_info(m_Plugin, k, &info) && m_Params->get_value(m_Plugin, info.id, &value))
        values.emplace_back(info.id, value);
    }
    return values;
  }
  std::vector<sChange> Changes() override {
    const size_t count = std::min(m_ChangeCount.load(std::memory_order_acquire), kMaxEvents);
    return {m_Changes.begin(), m_Changes.begin() + static_cast<std::ptrdiff_t>(count)};
  }

  void StartProcessing() override { m_bProcessing = m_Plugin->start_processing(m_Plugin); }
  void StopProcessing() override {
    if (m_bProcessing) m_Plugin->stop_processing(m_Plugin);
    m_bProcessing = false;
  }
  bool Process(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override {
    if (!m_bProcessing) return false;
    float* inputs[2] = {const_cast<float*>(inL), const_cast<float*>(inR)};
    float* outputs[2] = {outL, outR};
    const clap_audio_buffer_t input = {inputs, nullptr, 2, 0, 0};
    clap_audio_buffer_t output = {outputs, nullptr, 2, 0, 0};
    const clap_input_events_t in = {nullptr, [](const clap_input_events_t*) -> uint32_t { return 0; },
                                    [](const clap_input_events_t*, uint32_t) -> const clap_event_header_t* { return nullptr; }};
    const clap_output_events_t out = {this, TakeEvent};
    const clap_process_t process = {.steady_time = m_SteadyTime,
                                    .frames_count = frames,
                                    .transport = nullptr,
                                    .audio_inputs = &input,
                                    .audio_outputs = &output,
                                    .audio_inputs_count = 1,
                                    .audio_outputs_count = 1,
                                    .in_events = &in,
                                    .out_events = &out};
    m_SteadyTime += frames;
    m_Plugin->process(m_Plugin, &process);
    return true;
  }

  void OnTimer(uint32_t id) override { m_Timer->on_timer(m_Plugin, id); }
  void OnFd(int fd) override { m_Fd->on_fd(m_Plugin, fd, CLAP_POSIX_FD_READ); }
  void Idle() override {
    // Asked for a flush while nothing processes: the main thread does it.
    if (!m_bProcessing && m_bFlushRequested.exchange(false)) {
      const clap_input_events_t in = {nullptr, [](const clap_input_events_t*) -> uint32_t { return 0; },
                                      [](const clap_input_events_t*, uint32_t) -> const clap_event_header_t* { return nullptr; }};
      const clap_output_events_t out = {this, TakeEvent};
      m_Params->flush(m_Plugin, &in, &out);
    }
  }

 private:
  static cClapEmbedded* From(const clap_host_t* host) { return static_cast<cClapEmbedded*>(host->host_data); }

  // [audio thread, or main while not processing] Records into fixed storage.
  static bool TakeEvent(const clap_output_events_t* list, const clap_event_header_t* event) {
    auto* self = static_cast<cClapEmbedded*>(list->ctx);
    const size_t at = self->m_ChangeCount.load(std::memory_order_relaxed);
    if (at >= kMaxEvents || event->space_id != CLAP_CORE_EVENT_SPACE_ID) return at < kMaxEvents;
    sChange change{};
    if (event->type == CLAP_EVENT_PARAM_VALUE) {
      const auto* value = reinterpret_cast<const clap_event_param_value_t*>(event);
      change = {sChange::kValue, value->param_id, value->value};
    } else if (event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN || event->type == CLAP_EVENT_PARAM_GESTURE_END) {
      const auto* gesture = reinterpret_cast<const clap_event_param_gesture_t*>(event);
      change = {event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN ? sChange::kBegin : sChange::kEnd, gesture->param_id, 0.0};
    } else {
      return true;
    }
    self->m_Changes[at] = change;
    self->m_ChangeCount.store(at + 1, std::memory_order_release);
    return true;
  }

  static const void* HostExtension(const clap_host_t*, const char* name) {
    static const clap_host_params_t kParams = {
        .rescan = [](const clap_host_t*, clap_param_rescan_flags) {},
        .clear = [](const clap_host_t*, clap_id, clap_param_clear_flags) {},
        .request_flush = [](const clap_host_t* h) { From(h)->m_bFlushRequested = true; }};
    static const clap_host_gui_t kGui = {
        .resize_hints_changed = [](const clap_host_t*) {},
        .request_resize = [](const clap_host_t*, uint32_t, uint32_t) { return false; },
        .request_show = [](const clap_host_t*) { return false; },
        .request_hide = [](const clap_host_t*) { return false; },
        .closed = [](const clap_host_t*, bool) {}};
    static const clap_host_timer_support_t kTimers = {
        .register_timer =
            [](const clap_host_t* h, uint32_t period, clap_id* id) {
              if (!id || std::this_thread::get_id() != gMainThread) return false;
              *id = gLoop->AddTimer(From(h), period);
              return true;
            },
        .unregister_timer = [](const clap_host_t* h, clap_id id) { return gLoop->RemoveTimer(From(h), id); }};
    static const clap_host_posix_fd_support_t kFds = {
        .register_fd =
            [](const clap_host_t* h, int fd, clap_posix_fd_flags_t) {
              gLoop->AddFd(From(h), fd);
              return true;
            },
        .modify_fd = [](const clap_host_t*, int, clap_posix_fd_flags_t) { return true; },
        .unregister_fd = [](const clap_host_t* h, int fd) { return gLoop->RemoveFd(From(h), fd); }};
    static const clap_host_thread_check_t kThreadCheck = {
        .is_main_thread = [](const clap_host_t*) { return std::this_thread::get_id() == gMainThread; },
        .is_audio_thread = [](const clap_host_t*) { return std::this_thread::get_id() != gMainThread; }};
    if (!name) return nullptr;
    if (!std::strcmp(name, CLAP_EXT_PARAMS)) return &kParams;
    if (!std::strcmp(name, CLAP_EXT_GUI)) return &kGui;
    if (!std::strcmp(name, CLAP_EXT_TIMER_SUPPORT)) return &kTimers;
    if (!std::strcmp(name, CLAP_EXT_POSIX_FD_SUPPORT)) return &kFds;
    if (!std::strcmp(name, CLAP_EXT_THREAD_CHECK)) return &kThreadCheck;
    return nullptr;
  }

  clap_host_t m_Host{};
  const clap_plugin_t* m_Plugin = nullptr;
  const clap_plugin_params_t* m_Params = nullptr;
  const clap_plugin_gui_t* m_Gui = nullptr;
  const clap_plugin_timer_support_t* m_Timer = nullptr;
  const clap_plugin_posix_fd_support_t* m_Fd = nullptr;
  bool m_bCreated = false;
  std::atomic<bool> m_bProcessing{false};
  std::atomic<bool> m_bFlushRequested{false};
  int64_t m_SteadyTime = 0;
  std::vector<sChange> m_Changes = std::vector<sChange>(kMaxEvents);
  std::atomic<size_t> m_ChangeCount{0};
};

// ---- VST3 ----

// The host's side of a view: its frame, which also offers the run loop.
class cPlugFrame final : public nimbohost::tHostObject<vst3::IPlugFrame, vst3::Linux::IRunLoop> {
 public:
  static nimbohost::tRef<cPlugFrame> Make() { return nimbohost::tRef<cPlugFrame>(new cPlugFrame()); }
  vst3::tresult PLUGIN_API resizeView(vst3::IPlugView* view, vst3::ViewRect* size) override {
    return view && size ? view->onSize(size) : vst3::kInvalidArgument;
  }
  vst3::tresult PLUGIN_API registerEventHandler(vst3::Linux::IEventHandler* handler, vst3::Linux::FileDescriptor fd) override {
    if (!handler) return vst3::kInvalidArgument;
    handler->addRef();
    gLoop->AddFd(handler, fd);
    return vst3::kResultOk;
  }
  vst3::tresult PLUGIN_API unregisterEventHandler(vst3::Linux::IEventHandler* handler) override {
    if (!handler || !gLoop->RemoveFd(handler, -1)) return vst3::kResultFalse;
    handler->release();
    return vst3::kResultOk;
  }
  vst3::tresult PLUGIN_API registerTimer(vst3::Linux::ITimerHandler* handler, vst3::Linux::TimerInterval ms) override {
    if (!handler) return vst3::kInvalidArgument;
    handler->addRef();
    gLoop->AddTimer(handler, static_cast<uint32_t>(ms));
    return vst3::kResultOk;
  }
  vst3::tresult PLUGIN_API unregisterTimer(vst3::Linux::ITimerHandler* handler) override {
    if (!handler || !gLoop->RemoveTimersOf(handler)) return vst3::kResultFalse;
    handler->release();
    return vst3::kResultOk;
  }

  static void Fire(void* owner, uint32_t) { static_cast<vst3::Linux::ITimerHandler*>(owner)->onTimer(); }
  static void Ready(void* owner, int fd) { static_cast<vst3::Linux::IEventHandler*>(owner)->onFDIsSet(fd); }

 private:
  cPlugFrame() = default;
};

class cVst3Embedded final : public cEmbedded {
 public:
  explicit cVst3Embedded(const std::string& bundle) : m_Buffers(2, 2, kBlock) {
    std::string error;
    auto module = nimbohost::cVst3Module::Load(bundle, &error);
    const nimbohost::sClassInfo* effect = module ? module->FindClass(vst3::Vst::kVstAudioEffectClass) : nullptr;
    if (effect) m_Plugin = nimbohost::cVst3Plugin::Create(module, effect->cid, &error);
    if (!m_Plugin) {
      std::fprintf(stderr, "vst3: %s\n", error.c_str());
      return;
    }
    m_Plugin->Setup(kSampleRate, kBlock);
    m_Plugin->SetActive(true);
  }
  ~cVst3Embedded() override {
    Close();
    if (m_Plugin) m_Plugin->SetActive(false);
  }
  bool Ready() const { return m_Plugin != nullptr; }

  bool Open(Window parent) override {
    // Opened again without closing: the same view is attached once more.
    if (!m_View) m_View = nimbohost::tRef<vst3::IPlugView>(m_Plugin->Controller()->createView(vst3::Vst::ViewType::kEditor));
    if (!m_View || m_View->isPlatformTypeSupported(vst3::kPlatformTypeX11EmbedWindowID) != vst3::kResultTrue) return false;
    if (!m_Frame) {
      m_Frame = cPlugFrame::Make();
      m_View->setFrame(m_Frame.get());
    }
    if (m_View->attached(reinterpret_cast<void*>(parent), vst3::kPlatformTypeX11EmbedWindowID) != vst3::kResultOk)
      return false;
    m_bAttached = true;
    return true;
  }
  void Close() override {
    if (!m_View) return;
    if (m_bAttached) m_View->removed();
    m_bAttached = false;
    m_View->setFrame(nullptr);
    m_View = {};
    // Every handler the view registered must be gone with it: only the frame's own reference is left.
    if (m_Frame && m_Frame->RefCount() != 1) std::printf("frame references left %u\n", m_Frame->RefCount());
    m_Frame = {};
  }
  bool Size(uint32_t& width, uint32_t& height) override {
    // Hosts ask a view they have not attached yet, too.
    nimbohost::tRef<vst3::IPlugView> view = m_View;
    if (!view) view = nimbohost::tRef<vst3::IPlugView>(m_Plugin->Controller()->createView(vst3::Vst::ViewType::kEditor));
    vst3::ViewRect rect;
    if (!view || view->getSize(&rect) != vst3::kResultOk) return false;
    width = static_cast<uint32_t>(rect.getWidth());
    height = static_cast<uint32_t>(rect.getHeight());
    return true;
  }
  bool Scale(double scale) override {
    if (!m_View) m_View = nimbohost::tRef<vst3::IPlugView>(m_Plugin->Controller()->createView(vst3::Vst::ViewType::kEditor));
    auto scaling = nimbohost::Query<vst3::IPlugViewContentScaleSupport>(m_View.get());
    return scaling && scaling->setContentScaleFactor(static_cast<float>(scale)) == vst3::kResultTrue;
  }
  std::vector<std::pair<uint32_t, double>> Values() override {
    std::vector<std::pair<uint32_t, double>> values;
    for (vst3::int32 k = 0; k < m_Plugin->ParameterCount(); ++k)
      if (const auto info = m_Plugin->Parameter(k)) values.emplace_back(info->id, m_Plugin->Normalized(info->id));
    return values;
  }
  std::vector<sChange> Changes() override {
    std::vector<sChange> changes;
    using tCall = nimbohost::cComponentHandler::sCall;
    for (const tCall& call : m_Plugin->Handler().Calls()) {
      const auto id = static_cast<uint32_t>(call.id);
      if (call.kind == tCall::kBeginEdit) changes.push_back({sChange::kBegin, id, 0.0});
      else if (call.kind == tCall::kPerformEdit) changes.push_back({sChange::kValue, id, call.value});
      else if (call.kind == tCall::kEndEdit) changes.push_back({sChange::kEnd, id, 0.0});
    }
    return changes;
  }
  void StartProcessing() override { m_bProcessing = m_Plugin->SetProcessing(true) == vst3::kResultOk; }
  void StopProcessing() override {
    if (m_bProcessing) m_Plugin->SetProcessing(false);
    m_bProcessing = false;
  }
  bool Process(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override {
    if (!m_bProcessing) return false;
    std::copy(inL, inL + frames, m_Buffers.Input(0));
    std::copy(inR, inR + frames, m_Buffers.Input(1));
    m_Plugin->Process(m_Buffers.Call(static_cast<vst3::int32>(frames)));
    std::copy(m_Buffers.Output(0), m_Buffers.Output(0) + frames, outL);
    std::copy(m_Buffers.Output(1), m_Buffers.Output(1) + frames, outR);
    return true;
  }

 private:
  std::unique_ptr<nimbohost::cVst3Plugin> m_Plugin;
  nimbohost::cBusBuffers m_Buffers;
  nimbohost::tRef<vst3::IPlugView> m_View;
  nimbohost::tRef<cPlugFrame> m_Frame;
  bool m_bAttached = false;
  std::atomic<bool> m_bProcessing{false};
};

// ---- the host ---------------------------------------------------------------------------------

struct sInstance {
  std::unique_ptr<cEmbedded> plugin;
  Window frame = 0;
  bool open = false;
};

// The audio thread: every instance, block after block, at about real time.
class cAudio {
 public:
  cAudio(std::vector<sInstance>& instances, const char* renderPath, long renderBlocks)
      : m_Instances(instances), m_RenderPath(renderPath), m_RenderBlocks(renderBlocks) {
    m_Rendered.reserve(static_cast<size_t>(std::max(0L, renderBlocks)) * kBlock);
    m_Thread = std::thread([this] { Run(); });
  }
  ~cAudio() { Stop(); }
  // Joins the thread and stops processing; the thread's allocations while processing.
  long Stop() {
    if (m_Thread.joinable()) {
      // A render is whole however slowly the machine runs.
      while (m_RenderPath && m_Blocks.load() < m_RenderBlocks) std::this_thread::sleep_for(10ms);
      m_bStop = true;
      m_Thread.join();
      if (m_RenderPath) {
        std::ofstream file(m_RenderPath, std::ios::binary);
        file.write(reinterpret_cast<const char*>(m_Rendered.data()), static_cast<std::streamsize>(m_Rendered.size() * sizeof(float)));
      }
    }
    return m_Allocations;
  }

 private:
  void Run() {
    float inL[kBlock], inR[kBlock], outL[kBlock], outR[kBlock];
    uint32_t seed = 12345;
    for (sInstance& each : m_Instances) each.plugin->StartProcessing();
    for (long block = 0; !m_bStop; ++block) {
      // A click, then quiet noise: the reverb has something to work on and never sleeps.
      for (uint32_t k = 0; k < kBlock; ++k) {
        seed = seed * 1664525u + 1013904223u;
        const float noise = (static_cast<float>(seed >> 9) / 8388608.0f - 0.5f) * 0.02f;
        inL[k] = inR[k] = (block == 0 && k == 0 ? 1.0f : noise);
      }
      for (size_t i = 0; i < m_Instances.size(); ++i) {
        const bool rendering = i == 0 && m_RenderPath;
        if (rendering && block >= m_RenderBlocks) continue;
        const long before = testsupport::ThreadAllocations();
        m_Instances[i].plugin->Process(inL, inR, outL, outR, kBlock);
        // The first block may set up what the plugin keeps; from then on nothing.
        if (block > 0) m_Allocations += testsupport::ThreadAllocations() - before;
        if (rendering) m_Rendered.insert(m_Rendered.end(), outL, outL + kBlock);
      }
      m_Blocks = block + 1;
      std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(1e6 * kBlock / kSampleRate)));
    }
    for (sInstance& each : m_Instances) each.plugin->StopProcessing();
  }

  std::vector<sInstance>& m_Instances;
  const char* m_RenderPath;
  long m_RenderBlocks;
  std::vector<float> m_Rendered;
  std::atomic<bool> m_bStop{false};
  std::atomic<long> m_Blocks{0};
  long m_Allocations = 0;
  std::thread m_Thread;
};

void Fire(void* owner, uint32_t id);
void Ready(void* owner, int fd);

bool gVst3 = false;

void Fire(void* owner, uint32_t id) {
  if (gVst3) cPlugFrame::Fire(owner, id);
  else static_cast<cEmbedded*>(owner)->OnTimer(id);
}
void Ready(void* owner, int fd) {
  if (gVst3) cPlugFrame::Ready(owner, fd);
  else static_cast<cEmbedded*>(owner)->OnFd(fd);
}

void Serve(Display* display, std::vector<sInstance>& instances, tClock::time_point end,
           const std::filesystem::path& stopFile = {}) {
  while (tClock::now() < end) {
    gLoop->Run(std::min(end, tClock::now() + 20ms), display, Fire, Ready);
    for (sInstance& each : instances) each.plugin->Idle();
    if (!stopFile.empty() && std::filesystem::exists(stopFile)) return;
  }
}

Window MakeFrame(Display* display, int index) {
  const int screen = DefaultScreen(display);
  const Window frame = XCreateSimpleWindow(display, RootWindow(display, screen), 0, index * 600, 400, 300, 0,
                                           BlackPixel(display, screen), BlackPixel(display, screen));
  XStoreName(display, frame, "nimbohall-editorhost");
  XSelectInput(display, frame, StructureNotifyMask);
  XMapWindow(display, frame);
  for (XEvent event;;) {
    XNextEvent(display, &event);
    if (event.type == MapNotify && event.xmap.window == frame) break;
  }
  return frame;
}

// What strict embedders read of the plugin's window: "embed I VERSION FLAGS
// MINW MINH MAXW MAXH BASEW BASEH" (-1 where a property or hint is missing).
void PrintEmbedding(Display* display, int index, Window frame) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, frame, &root, &parent, &children, &count) || count != 1) {
    std::printf("embed %d: %u child windows\n", index, count);
    if (children) XFree(children);
    return;
  }
  const Window child = children[0];
  XFree(children);
  long info[2] = {-1, -1};
  const Atom xembed = XInternAtom(display, "_XEMBED_INFO", False);
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, child, xembed, 0, 2, False, xembed, &type, &format, &items, &remaining, &data) ==
          Success && data && format == 32 && items == 2)
    std::memcpy(info, data, sizeof info);
  if (data) XFree(data);
  XSizeHints hints{};
  long supplied = 0;
  if (!XGetWMNormalHints(display, child, &hints, &supplied)) hints.flags = 0;
  auto hint = [&](long flag, int value) { return hints.flags & flag ? value : -1; };
  std::printf("embed %d %ld %ld %d %d %d %d %d %d\n", index, info[0], info[1], hint(PMinSize, hints.min_width),
              hint(PMinSize, hints.min_height), hint(PMaxSize, hints.max_width), hint(PMaxSize, hints.max_height),
              hint(PBaseSize, hints.base_width), hint(PBaseSize, hints.base_height));
}

int Usage() {
  std::fprintf(stderr,
               "usage: nimbohall-editorhost (--clap FILE | --vst3 BUNDLE) [--instances N] [--audio] "
               "[--render FILE BLOCKS] COMMAND...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  gMainThread = std::this_thread::get_id();
  const char* clapPath = nullptr;
  const char* vst3Path = nullptr;
  const char* renderPath = nullptr;
  long renderBlocks = 0;
  int count = 1;
  bool audio = false;
  int arg = 1;
  for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
    const std::string option = argv[arg];
    const bool hasValue = arg + 1 < argc;
    if (option == "--clap" && hasValue) clapPath = argv[++arg];
    else if (option == "--vst3" && hasValue) vst3Path = argv[++arg];
    else if (option == "--instances" && hasValue) count = std::max(1, std::atoi(argv[++arg]));
    else if (option == "--audio") audio = true;
    else if (option == "--render" && arg + 2 < argc) {
      renderPath = argv[++arg];
      renderBlocks = std::atol(argv[++arg]);
      audio = true;
    } else return Usage();
  }
  if (!clapPath == !vst3Path) return Usage();
  gVst3 = vst3Path != nullptr;

  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "no display\n");
    return 3;
  }
  cRunLoop loop;
  gLoop = &loop;
  std::unique_ptr<nimbohost::cClapLibrary> library;
  if (clapPath) library = std::make_unique<nimbohost::cClapLibrary>(clapPath);
  std::vector<sInstance> instances;
  for (int i = 0; i < count; ++i) {
    sInstance each;
    if (clapPath) {
      auto clap = std::make_unique<cClapEmbedded>(*library);
      if (!clap->Ready()) {
        std::fprintf(stderr, "clap: no plugin with gui, timer-support and posix-fd-support (%s)\n", library->Error().c_str());
        return 4;
      }
      each.plugin = std::move(clap);
    } else {
      auto vst3 = std::make_unique<cVst3Embedded>(vst3Path);
      if (!vst3->Ready()) return 4;
      each.plugin = std::move(vst3);
    }
    each.frame = MakeFrame(display, i);
    instances.push_back(std::move(each));
  }
  std::unique_ptr<cAudio> audioThread;
  if (audio) audioThread = std::make_unique<cAudio>(instances, renderPath, renderBlocks);

  int status = 0;
  auto open = [&](int i, sInstance& each) {
    if (!each.plugin->Open(each.frame)) {
      std::printf("open %d failed\n", i);
      status = 5;
      return;
    }
    each.open = true;
    uint32_t width = 0, height = 0;
    each.plugin->Size(width, height);
    XResizeWindow(display, each.frame, width, height);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, each.frame, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    std::printf("editor %d %d %d %u %u\n", i, x, y, width, height);
    PrintEmbedding(display, i, each.frame);
  };
  auto close = [&](sInstance& each) {
    each.plugin->Close();
    each.open = false;
  };

  for (; arg < argc && status == 0; ++arg) {
    const std::string command = argv[arg];
    auto number = [&]() { return arg + 1 < argc ? std::atol(argv[++arg]) : 0L; };
    if (command == "size") {
      for (size_t i = 0; i < instances.size(); ++i) {
        uint32_t width = 0, height = 0;
        if (!instances[i].plugin->Size(width, height)) status = 5;
        std::printf("size %zu %u %u\n", i, width, height);
      }
    } else if (command == "scale" && arg + 1 < argc) {
      const double scale = std::atof(argv[++arg]);
      for (sInstance& each : instances)
        if (!each.plugin->Scale(scale)) status = 5;
    } else if (command == "open") {
      for (size_t i = 0; i < instances.size(); ++i) open(static_cast<int>(i), instances[i]);
    } else if (command == "close") {
      for (sInstance& each : instances) close(each);
    } else if (command == "cycle") {
      const long cycles = number();
      for (long c = 0; c < cycles && status == 0; ++c) {
        for (size_t i = 0; i < instances.size(); ++i) open(static_cast<int>(i), instances[i]);
        Serve(display, instances, tClock::now() + 40ms);
        for (sInstance& each : instances) close(each);
      }
    } else if (command == "wait") {
      Serve(display, instances, tClock::now() + std::chrono::milliseconds(number()));
    } else if (command == "until" && arg + 2 < argc) {
      const std::filesystem::path stop = argv[++arg];
      Serve(display, instances, tClock::now() + std::chrono::milliseconds(number()), stop);
    } else if (command == "embed") {
      for (size_t i = 0; i < instances.size(); ++i)
        if (instances[i].open) PrintEmbedding(display, static_cast<int>(i), instances[i].frame);
    } else if (command == "values") {
      for (size_t i = 0; i < instances.size(); ++i)
        for (const auto& [id, value] : instances[i].plugin->Values()) std::printf("value %zu %u %.9g\n", i, id, value);
    } else if (command == "events") {
      static const char* const kKinds[] = {"begin", "value", "end"};
      for (size_t i = 0; i < instances.size(); ++i)
        for (const sChange& change : instances[i].plugin->Changes()) {
          if (change.kind == sChange::kValue) std::printf("event %zu value %u %.9g\n", i, change.id, change.value);
          else std::printf("event %zu %s %u\n", i, kKinds[change.kind], change.id);
        }
    } else {
      std::fprintf(stderr, "unknown command %s\n", command.c_str());
      status = 2;
    }
    std::fflush(stdout);
  }

  if (audioThread) std::printf("audio-allocations %ld\n", audioThread->Stop());
  audioThread.reset();
  for (sInstance& each : instances) close(each);
  for (sInstance& each : instances) {
    each.plugin.reset();
    XDestroyWindow(display, each.frame);
  }
  library.reset();
  XCloseDisplay(display);
  std::printf("done\n");
  return status;
}
