// Paints the editor with the software renderer into a PNG: the README's
// picture comes from this, so it always shows what the build draws.
//
//   nimbohall-editor-shot OUT.png [--program N] [--scale S]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "EditorShot.h"

int main(int argc, char** argv) {
  std::string out;
  int program = nimbo::editor::kShotProgram;
  double scale = 1.0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    char* end = nullptr;
    if (arg == "--program" && i + 1 < argc) {
      program = static_cast<int>(std::strtol(argv[++i], &end, 10));
      if (*end) program = -1;
    } else if (arg == "--scale" && i + 1 < argc) {
      scale = std::strtod(argv[++i], &end);
      if (*end) scale = 0.0;
    }
    else if (out.empty() && arg[0] != '-') out = arg;
    else {
      std::fprintf(stderr, "usage: nimbohall-editor-shot OUT.png [--program 0..63] [--scale 1..4]\n");
      return 2;
    }
  }
  if (out.empty() || program < 0 || program >= 64 || !(scale >= 1.0 && scale <= 4.0)) {
    std::fprintf(stderr, "usage: nimbohall-editor-shot OUT.png [--program 0..63] [--scale 1..4]\n");
    return 2;
  }
  int width = 0, height = 0;
  const std::vector<uint8_t> rgba = nimbo::editor::ShotRgba(program, scale, width, height);
  if (!nimbo::editor::WritePng(out, rgba, width, height)) {
    std::fprintf(stderr, "nimbohall-editor-shot: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
