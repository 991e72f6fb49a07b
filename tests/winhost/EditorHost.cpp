// A Win32 host for the editors of the Windows builds: loads the CLAP plugin
// and the VST3 module through their entries, embeds each editor in a window
// of its own, runs the message loop, and closes everything in the order a
// DAW does (editor, then plugin, then module). Both editors may be open at
// once: two modules of the plugin in one process.
//
//   editorhost [--clap FILE.clap] [--vst3 BUNDLE] [--cycles N] [--seconds S] [--stop FILE]
//
// Each editor is first opened and closed N times, then opened for good; the
// host prints "editor FORMAT X Y WIDTH HEIGHT" with its place on the screen,
// pumps messages until the stop file exists (at most S seconds), prints
// "value FORMAT ID TEXT" for the first parameter, closes and prints "closed".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cClapHost.h"
#include "cVst3Host.h"
#include "clap/ext/gui.h"

namespace {

constexpr const char* kClapId = "com.brannoch.nimbohall";
constexpr const wchar_t* kFrameClass = L"NimbohallEditorHostFrame";

// One plugin with an editor; the frame is the host's window it lives in.
class cEmbedded {
 public:
  virtual ~cEmbedded() = default;
  virtual const char* Format() const = 0;
  // Makes the editor and embeds it into the frame, sized as it asks.
  virtual bool Open(HWND frame) = 0;
  virtual void Close() = 0;
  virtual std::string FirstValue() = 0;
};

class cClapEditor final : public cEmbedded {
 public:
  explicit cClapEditor(const std::string& path) : m_Library(path) {}
  ~cClapEditor() override { Close(); }

  bool Load() {
    std::string error;
    m_Instance = nimbohost::cClapInstance::Create(m_Library, kClapId, &error);
    if (!m_Instance) return Fail("no plugin: " + m_Library.Error() + " " + error);
    const clap_plugin_t* plugin = m_Instance->Plugin();
    m_Gui = static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
    if (!m_Gui) return Fail("no gui extension");
    if (!m_Gui->is_api_supported(plugin, CLAP_WINDOW_API_WIN32, false)) return Fail("win32 embedding refused");
    return true;
  }
  const char* Format() const override { return "clap"; }

  bool Open(HWND frame) override {
    const clap_plugin_t* plugin = m_Instance->Plugin();
    if (!m_Gui->create(plugin, CLAP_WINDOW_API_WIN32, false)) return Fail("gui.create failed");
    m_bCreated = true;
    uint32_t width = 0, height = 0;
    if (!m_Gui->get_size(plugin, &width, &height) || width == 0 || height == 0) return Fail("gui.get_size failed");
    SetClientSize(frame, width, height);
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_WIN32;
    window.win32 = frame;
    if (!m_Gui->set_parent(plugin, &window)) return Fail("gui.set_parent failed");
    if (!m_Gui->show(plugin)) return Fail("gui.show failed");
    return true;
  }

  void Close() override {
    if (!m_bCreated) return;
    m_Gui->hide(m_Instance->Plugin());
    m_Gui->destroy(m_Instance->Plugin());
    m_bCreated = false;
  }

  std::string FirstValue() override {
    const auto infos = m_Instance->ParamInfos();
    if (infos.empty()) return "(no parameters)";
    const auto value = m_Instance->Value(infos[0].id);
    const auto text = value ? m_Instance->ValueText(infos[0].id, *value) : std::nullopt;
    return std::to_string(infos[0].id) + " " + text.value_or("(none)");
  }

  static void SetClientSize(HWND frame, uint32_t width, uint32_t height) {
    RECT rect{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongPtrW(frame, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(frame, GWL_EXSTYLE)));
    SetWindowPos(frame, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

 private:
  bool Fail(const std::string& why) {
    std::fprintf(stderr, "clap: %s\n", why.c_str());
    return false;
  }

  nimbohost::cClapLibrary m_Library;
  std::unique_ptr<nimbohost::cClapInstance> m_Instance;
  const clap_plugin_gui_t* m_Gui = nullptr;
  bool m_bCreated = false;
};

// The host's side of a VST3 view: resizes the window it lives in.
class cPlugFrame final : public nimbohost::tHostObject<vst3::IPlugFrame> {
 public:
  static nimbohost::tRef<cPlugFrame> Make(HWND window) { return nimbohost::tRef<cPlugFrame>(new cPlugFrame(window)); }
  vst3::tresult PLUGIN_API resizeView(vst3::IPlugView* view, vst3::ViewRect* size) override {
    if (!view || !size) return vst3::kInvalidArgument;
    cClapEditor::SetClientSize(m_Window, size->getWidth(), size->getHeight());
    return view->onSize(size);
  }

 private:
  explicit cPlugFrame(HWND window) : m_Window(window) {}
  HWND m_Window;
};

class cVst3Editor final : public cEmbedded {
 public:
  ~cVst3Editor() override { Close(); }

  bool Load(const std::string& bundle) {
    std::string error;
    const auto module = nimbohost::cVst3Module::Load(bundle, &error);
    const nimbohost::sClassInfo* effect = module ? module->FindClass(vst3::Vst::kVstAudioEffectClass) : nullptr;
    if (!effect) return Fail("no effect class: " + error);
    m_Plugin = nimbohost::cVst3Plugin::Create(module, effect->cid, &error);
    if (!m_Plugin) return Fail("no plugin: " + error);
    return true;
  }
  const char* Format() const override { return "vst3"; }

  bool Open(HWND frame) override {
    m_View = nimbohost::tRef<vst3::IPlugView>(m_Plugin->Controller()->createView("editor"));
    if (!m_View) return Fail("createView made no view");
    if (m_View->isPlatformTypeSupported(vst3::kPlatformTypeHWND) != vst3::kResultTrue)
      return Fail("HWND embedding refused");
    vst3::ViewRect size;
    if (m_View->getSize(&size) != vst3::kResultOk || size.getWidth() <= 0 || size.getHeight() <= 0)
      return Fail("getSize failed");
    cClapEditor::SetClientSize(frame, size.getWidth(), size.getHeight());
    m_Frame = cPlugFrame::Make(frame);
    m_View->setFrame(m_Frame.get());
    if (m_View->attached(frame, vst3::kPlatformTypeHWND) != vst3::kResultOk) return Fail("attached failed");
    m_bAttached = true;
    return true;
  }

  void Close() override {
    if (!m_View) return;
    if (m_bAttached) m_View->removed();
    m_bAttached = false;
    m_View->setFrame(nullptr);
    m_View = {};
    m_Frame = {};
  }

  std::string FirstValue() override {
    const auto info = m_Plugin->Parameter(0);
    if (!info) return "(no parameters)";
    return std::to_string(info->id) + " " + m_Plugin->ValueText(info->id, m_Plugin->Normalized(info->id)).value_or("(none)");
  }

 private:
  bool Fail(const std::string& why) {
    std::fprintf(stderr, "vst3: %s\n", why.c_str());
    return false;
  }

  std::unique_ptr<nimbohost::cVst3Plugin> m_Plugin;
  nimbohost::tRef<vst3::IPlugView> m_View;
  nimbohost::tRef<cPlugFrame> m_Frame;
  bool m_bAttached = false;
};

HWND MakeFrame(const char* title, int y) {
  static bool bRegistered = false;
  const HINSTANCE module = GetModuleHandleW(nullptr);
  if (!bRegistered) {
    WNDCLASSEXW frameClass{};
    frameClass.cbSize = sizeof frameClass;
    frameClass.lpfnWndProc = DefWindowProcW;
    frameClass.hInstance = module;
    frameClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    frameClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    frameClass.lpszClassName = kFrameClass;
    bRegistered = RegisterClassExW(&frameClass) != 0;
  }
  const std::wstring name(title, title + std::strlen(title));
  return CreateWindowExW(0, kFrameClass, name.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, y, 400, 300,
                         nullptr, nullptr, module, nullptr);
}

// Runs the message loop until the stop file exists or the time is up.
void Pump(DWORD milliseconds, const char* stopFile) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (stopFile && GetFileAttributesA(stopFile) != INVALID_FILE_ATTRIBUTES) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

struct sOpen {
  std::unique_ptr<cEmbedded> plugin;
  HWND frame = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  // Tests read the editors' places while the host runs.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const char* clapPath = nullptr;
  const char* vst3Path = nullptr;
  const char* stopFile = nullptr;
  int cycles = 2;
  double seconds = 5.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--clap")) clapPath = argv[i + 1];
    else if (!std::strcmp(argv[i], "--vst3")) vst3Path = argv[i + 1];
    else if (!std::strcmp(argv[i], "--cycles")) cycles = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--stop")) stopFile = argv[i + 1];
    else {
      std::fprintf(stderr, "editorhost: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  std::vector<sOpen> open;
  if (clapPath) {
    auto clap = std::make_unique<cClapEditor>(clapPath);
    if (!clap->Load()) return 3;
    open.push_back({std::move(clap)});
  }
  if (vst3Path) {
    auto vst3 = std::make_unique<cVst3Editor>();
    if (!vst3->Load(vst3Path)) return 3;
    open.push_back({std::move(vst3)});
  }
  if (open.empty()) {
    std::fprintf(stderr, "usage: editorhost [--clap FILE.clap] [--vst3 BUNDLE] [--cycles N] [--seconds S] [--stop FILE]\n");
    return 2;
  }

  int y = 0;
  for (sOpen& each : open) {
    each.frame = MakeFrame(each.plugin->Format(), y);
    if (!each.frame) return 4;
    // Opened and closed before the editor that stays: what hosts do when
    // the user toggles the editor, and the module's window class comes and goes.
    for (int cycle = 0; cycle < cycles; ++cycle) {
      if (!each.plugin->Open(each.frame)) return 5;
      Pump(50, nullptr);
      each.plugin->Close();
    }
    if (!each.plugin->Open(each.frame)) return 5;
    ShowWindow(each.frame, SW_SHOWNORMAL);
    UpdateWindow(each.frame);
    RECT client;
    GetClientRect(each.frame, &client);
    POINT origin{0, 0};
    ClientToScreen(each.frame, &origin);
    std::printf("editor %s %ld %ld %ld %ld\n", each.plugin->Format(), origin.x, origin.y, client.right,
                client.bottom);
    RECT outer;
    GetWindowRect(each.frame, &outer);
    y = outer.bottom;
  }
  std::fflush(stdout);
  Pump(static_cast<DWORD>(seconds * 1000), stopFile);

  for (sOpen& each : open) {
    std::printf("value %s %s\n", each.plugin->Format(), each.plugin->FirstValue().c_str());
    each.plugin->Close();
    DestroyWindow(each.frame);
    each.plugin.reset();
  }
  std::printf("closed\n");
  return 0;
}
