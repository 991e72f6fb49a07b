// The editor as an LV2 UI: an X11 child window in the host's, speaking to the
// plugin only through its control ports, so the host may run it in another
// process. It keeps a core of its own as a mirror of the ports, which the view
// reads as it would read the plugin.
//
// Threads: the host calls everything here on its UI thread.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "../../cReverbCore.h"
#include "../../editor/cEditorView.h"
#include "../../editor/cEditorWindow.h"
#include "../Lv2Ports.h"

namespace {

using namespace nimbolv2;
using namespace nimbo;

const void* Feature(const LV2_Feature* const* features, const char* uri) {
  for (; features && *features; ++features)
    if (std::strcmp((*features)->URI, uri) == 0) return (*features)->data;
  return nullptr;
}

class cLv2Editor final : public editor::iEditorController {
 public:
  cLv2Editor(LV2UI_Write_Function write, LV2UI_Controller controller) : m_Write(write), m_Controller(controller) {}
  // False when the host gave no window to live in or it cannot be made.
  bool Open(const LV2_Feature* const* features, LV2UI_Widget* widget);
  void PortEvent(uint32_t port, float value);
  int Idle();
  // From the host's options: a new scale factor.
  void TakeOptions(const LV2_Options_Option* options);

  void BeginGesture(int32_t id) override { Touch(static_cast<uint32_t>(id), true); }
  void SetValue(int32_t id, float plain) override;
  void EndGesture(int32_t id) override { Touch(static_cast<uint32_t>(id), false); }
  void SelectProgram(int32_t index) override;
  bool HasBypass() const override { return true; }
  void SetBypass(bool on) override;

 private:
  void Write(uint32_t port, float value) { m_Write(m_Controller, port, sizeof value, 0, &value); }
  void Touch(uint32_t port, bool grabbed) {
    if (m_Touch) m_Touch->touch(m_Touch->handle, port, grabbed);
  }
  void TellSize() {
    if (m_Resize) m_Resize->ui_resize(m_Resize->handle, m_View->PixelWidth(), m_View->PixelHeight());
  }
  // After the host changed ports: the program whose stored values they all
  // are becomes the one shown (a preset loaded by the host), the current one first.
  void FollowPrograms();
  bool MatchesProgram(int32_t program) const;

  LV2UI_Write_Function m_Write;
  LV2UI_Controller m_Controller;
  const LV2UI_Touch* m_Touch = nullptr;
  const LV2UI_Resize* m_Resize = nullptr;
  LV2_URID m_ScaleFactorUrid = 0;
  LV2_URID m_FloatUrid = 0;
  bool m_bPortsChanged = false;
  bool m_bHostScale = false;  // the host set a scale factor: the system's is not asked
  // Destroyed in reverse: the window before the view, the view before what it reads.
  cReverbCore m_Mirror;
  std::unique_ptr<editor::cEditorView> m_View;
  std::unique_ptr<editor::cEditorWindow> m_Window;
};

bool cLv2Editor::Open(const LV2_Feature* const* features, LV2UI_Widget* widget) {
  const void* parent = Feature(features, LV2_UI__parent);
  if (!parent) return false;
  m_Touch = static_cast<const LV2UI_Touch*>(Feature(features, LV2_UI__touch));
  m_Resize = static_cast<const LV2UI_Resize*>(Feature(features, LV2_UI__resize));
  if (const auto* map = static_cast<const LV2_URID_Map*>(Feature(features, LV2_URID__map))) {
    m_ScaleFactorUrid = map->map(map->handle, LV2_UI__scaleFactor);
    m_FloatUrid = map->map(map->handle, LV2_ATOM__Float);
  }
  m_View = std::make_unique<editor::cEditorView>(m_Mirror, *this);
  TakeOptions(static_cast<const LV2_Options_Option*>(Feature(features, LV2_OPTIONS__options)));
  m_Window = editor::cEditorWindow::Create(reinterpret_cast<uintptr_t>(parent), *m_View);
  if (!m_Window) return false;
  if (const double system = m_Window->SystemScale(); !m_bHostScale && system >= 1.0) {
    m_View->SetScale(std::min(4.0, system));
    m_Window->FollowViewSize();
  }
  *widget = reinterpret_cast<LV2UI_Widget>(m_Window->Handle());
  TellSize();
  m_Window->Show(true);
  return true;
}

void cLv2Editor::TakeOptions(const LV2_Options_Option* options) {
  if (!m_ScaleFactorUrid) return;
  for (; options && options->key; ++options) {
    if (options->key != m_ScaleFactorUrid || options->type != m_FloatUrid || options->size != sizeof(float)) continue;
    const float scale = *static_cast<const float*>(options->value);
    if (!(scale >= 1.0f)) continue;  // NaN too
    m_bHostScale = true;
    const double was = m_View->Scale();
    m_View->SetScale(std::min(4.0, double(scale)));
    if (m_View->Scale() == was) continue;
    if (m_Window) {
      m_Window->FollowViewSize();
      TellSize();
    }
  }
}

void cLv2Editor::PortEvent(uint32_t port, float value) {
  if (value != value) return;
  // As the plugin applies them: bounded to what programs store, "enabled" the bypass reversed.
  if (port < kEnabledPort) m_bPortsChanged |= m_Mirror.SetHostValue(static_cast<int32_t>(port), value, eHostScale::kPlain);
  else if (port == kEnabledPort) m_Mirror.SetHostValue(kBypassId, value > 0.0f ? 0.0 : 1.0, eHostScale::kPlain);
}

bool cLv2Editor::MatchesProgram(int32_t program) const {
  for (int32_t id = 0; id < kNumParameters; ++id)
    if (cReverbCore::IsProgramParameter(id) && m_Mirror.ProgramValue(program, id) != m_Mirror.Plain(id)) return false;
  return true;
}

void cLv2Editor::FollowPrograms() {
  // The mirror only ever loads programs as the factory made them, so its bank stays the factory's.
  if (MatchesProgram(m_Mirror.CurrentProgram())) return;
  for (int32_t k = 0; k < kNumPrograms; ++k) {
    if (!MatchesProgram(k)) continue;
    m_Mirror.LoadProgram(k);
    return;
  }
}

int cLv2Editor::Idle() {
  if (m_bPortsChanged) {
    m_bPortsChanged = false;
    FollowPrograms();
  }
  m_View->Poll();
  m_Window->Pump();
  return 0;
}

void cLv2Editor::SetValue(int32_t id, float plain) {
  if (!cReverbCore::IsParameter(id) || !m_Mirror.SetHostValue(id, plain, eHostScale::kPlain)) return;
  Write(static_cast<uint32_t>(id), static_cast<float>(m_Mirror.HostValue(id, eHostScale::kPlain)));
}

void cLv2Editor::SelectProgram(int32_t index) {
  if (index < 0 || index >= kNumPrograms) return;
  // What loading the preset of that program in the host would do: its ports, not the switches.
  m_Mirror.LoadProgram(index);
  for (int32_t id = 0; id < kNumParameters; ++id) {
    if (!cReverbCore::IsProgramParameter(id)) continue;
    const auto port = static_cast<uint32_t>(id);
    Touch(port, true);
    Write(port, m_Mirror.ProgramValue(index, id));
    Touch(port, false);
  }
}

void cLv2Editor::SetBypass(bool on) {
  if (!m_Mirror.SetHostValue(kBypassId, on ? 1.0 : 0.0, eHostScale::kPlain)) return;
  Touch(kEnabledPort, true);
  Write(kEnabledPort, on ? 0.0f : 1.0f);
  Touch(kEnabledPort, false);
}

// ---- the descriptor's entries --------------------------------------------------

cLv2Editor* Self(LV2UI_Handle ui) { return static_cast<cLv2Editor*>(ui); }

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
  if (!pluginUri || std::strcmp(pluginUri, kPluginUri) != 0 || !write || !widget) return nullptr;
  auto* ui = new (std::nothrow) cLv2Editor(write, controller);
  if (ui && ui->Open(features, widget)) return ui;
  delete ui;
  return nullptr;
}

void Cleanup(LV2UI_Handle ui) { delete Self(ui); }

void PortEvent(LV2UI_Handle ui, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
  if (format != 0 || size != sizeof(float) || !buffer) return;
  float value;
  std::memcpy(&value, buffer, sizeof value);
  Self(ui)->PortEvent(port, value);
}

int Idle(LV2UI_Handle ui) { return Self(ui)->Idle(); }

uint32_t GetOptions(LV2_Handle, LV2_Options_Option*) { return LV2_OPTIONS_ERR_UNKNOWN; }

uint32_t SetOptions(LV2_Handle ui, const LV2_Options_Option* options) {
  Self(ui)->TakeOptions(options);
  return LV2_OPTIONS_SUCCESS;
}

const LV2UI_Idle_Interface kIdle = {Idle};
const LV2_Options_Interface kOptions = {GetOptions, SetOptions};

const void* ExtensionData(const char* uri) {
  if (std::strcmp(uri, LV2_UI__idleInterface) == 0) return &kIdle;
  if (std::strcmp(uri, LV2_OPTIONS__interface) == 0) return &kOptions;
  return nullptr;
}

const LV2UI_Descriptor kDescriptor = {kEditorUri, Instantiate, Cleanup, PortEvent, ExtensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
  return index == 0 ? &kDescriptor : nullptr;
}
