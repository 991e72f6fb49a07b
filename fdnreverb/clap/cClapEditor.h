// The editor of the CLAP plugin: the gui extension over the format-neutral
// view and child window, driven on Linux by the host's timer and by the
// display connection's descriptor. Changes the view makes apply to the core at
// once and reach the host as gestures and value events of the plugin's output.
//
// Threads: everything is [main-thread] except the queue's Drain, which runs
// where the host takes output events (process, or params.flush).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "../cReverbCore.h"
#include "../editor/cEditorView.h"
#include "../editor/cEditorWindow.h"
#include "clap/events.h"
#include "clap/ext/gui.h"
#include "clap/ext/params.h"
#include "clap/ext/timer-support.h"
#include "clap_additions.h"

// Changes on their way to the host: written on the main thread, read by the
// one thread that has the host's output events. Fixed storage, no locks.
class cClapOutQueue {
 public:
  enum class eKind : uint8_t { kGestureBegin, kValue, kGestureEnd };
  // [main-thread] False when full (a host that takes no events for a long time).
  bool Push(eKind kind, clap_id id, double value = 0.0);
  // [audio-thread, or main-thread while not processing] Hands over what the host takes.
  void Drain(const clap_output_events_t* out);

 private:
  struct sItem {
    eKind kind;
    clap_id id;
    double value;
  };
  static constexpr uint32_t kCapacity = 1024;  // a power of two
  std::array<sItem, kCapacity> m_Items{};
  std::atomic<uint32_t> m_Write{0};
  std::atomic<uint32_t> m_Read{0};
};

class cClapEditor final : public nimbo::editor::iEditorController {
 public:
  cClapEditor(const clap_host_t* host, nimbo::cReverbCore& core);
  ~cClapEditor() override;
  cClapEditor(const cClapEditor&) = delete;
  cClapEditor& operator=(const cClapEditor&) = delete;

  cClapOutQueue& Changes() { return m_Changes; }

  // clap.gui, clap.timer-support and clap.posix-fd-support for a plugin whose
  // plugin_data is a cClapReverb; null for other IDs.
  static const void* Extension(const char* id);

  // The gui extension's calls.
  bool Create(const char* api, bool floating);
  void Destroy();
  bool SetScale(double scale);
  bool GetSize(uint32_t* width, uint32_t* height);
  bool SetSize(uint32_t width, uint32_t height) const;
  bool SetParent(const clap_window_t* window);
  bool Show(bool visible);
  void OnTimer(clap_id timer);
  void OnFd(int fd);

  // iEditorController
  void BeginGesture(int32_t id) override;
  void SetValue(int32_t id, float plain) override;
  void EndGesture(int32_t id) override;
  void SelectProgram(int32_t index) override;
  bool HasBypass() const override { return true; }
  void SetBypass(bool on) override;

 private:
  // The view, made at the first need (hosts may ask its size before create).
  nimbo::editor::cEditorView& View();
  // Timers and descriptor handlers go before the window they serve.
  void CloseWindow();
  void ApplyScale(double scale);
  void Send(cClapOutQueue::eKind kind, int32_t id);
  void RequestFlush();

  const clap_host_t* m_Host;
  nimbo::cReverbCore& m_Core;
  const clap_host_params_t* m_HostParams = nullptr;
  const clap_host_gui_t* m_HostGui = nullptr;
  const clap_host_timer_support_t* m_HostTimer = nullptr;
  const clap_host_posix_fd_support_t* m_HostFd = nullptr;
  const clap_host_preset_load_t* m_HostPresetLoad = nullptr;

  cClapOutQueue m_Changes;
  bool m_bCreated = false;
  bool m_bHostScale = false;  // the host set a scale: the system's is not asked
  double m_Scale = 1.0;
  clap_id m_Timer = CLAP_INVALID_ID;
  int m_Fd = -1;
  // Destroyed in reverse: the window before the view it shows.
  std::unique_ptr<nimbo::editor::cEditorView> m_View;
  std::unique_ptr<nimbo::editor::cEditorWindow> m_Window;
};
