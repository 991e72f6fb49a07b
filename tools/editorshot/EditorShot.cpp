#include "EditorShot.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wshadow"
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

#include "cEditorView.h"
#include "cReverbCore.h"

namespace nimbo::editor {

namespace {
struct sNoHost : iEditorController {
  void BeginGesture(int32_t) override {}
  void SetValue(int32_t, float) override {}
  void EndGesture(int32_t) override {}
  void SelectProgram(int32_t) override {}
};
}  // namespace

std::vector<uint8_t> ShotRgba(int program, double scale, int& width, int& height) {
  cReverbCore core;
  core.SetProgram(program);
  sNoHost host;
  cEditorView view(core, host);
  view.SetScale(scale);
  view.Paint();
  width = view.PixelWidth();
  height = view.PixelHeight();
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < rgba.size() / 4; ++i) {
    const uint32_t p = view.Pixels()[i];
    rgba[4 * i] = static_cast<uint8_t>(p >> 16);
    rgba[4 * i + 1] = static_cast<uint8_t>(p >> 8);
    rgba[4 * i + 2] = static_cast<uint8_t>(p);
    rgba[4 * i + 3] = 255;
  }
  return rgba;
}

bool WritePng(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height) {
  return stbi_write_png(path.c_str(), width, height, 4, rgba.data(), width * 4) != 0;
}

std::vector<uint8_t> ReadPng(const std::string& path, int& width, int& height) {
  int channels = 0;
  stbi_uc* data = stbi_load(path.c_str(), &width, &height, &channels, 4);
  if (!data) return {};
  std::vector<uint8_t> rgba(data, data + static_cast<size_t>(width) * height * 4);
  stbi_image_free(data);
  return rgba;
}

}  // namespace nimbo::editor
