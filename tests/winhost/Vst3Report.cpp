// Reports what a VST3 host sees of a bundle: module entry, factory and class
// descriptions, and what an instance of each audio effect class answers.
// Built for Windows with mingw (run under Wine) and natively for Linux, so a
// test can hold the reports of both modules side by side.
//
//   vst3report BUNDLE REPORT.txt
//
// Texts are escaped byte by byte (UTF-16 fields as UTF-8 first), so two
// reports are equal exactly when the modules said exactly the same.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "cVst3Host.h"

namespace {

using namespace vst3;
using namespace vst3::Vst;
using nimbohost::FieldText;

std::string Escape(const std::string& text) {
  std::string out = "\"";
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

template <typename T>
std::string Text(const T& field) {
  return Escape(FieldText(field));
}

void ReportClass(std::FILE* out, int index, const nimbohost::sClassInfo& c) {
  std::fprintf(out, "class %d cid=%s cardinality=%" PRId32 " category=%s name=%s\n", index,
               nimbohost::UidString(c.info.cid).c_str(), c.info.cardinality, Text(c.info.category).c_str(),
               Text(c.info.name).c_str());
  if (c.info2) {
    const PClassInfo2& i = *c.info2;
    std::fprintf(out, "class %d info2 cid=%s flags=%08" PRIX32 " subCategories=%s vendor=%s version=%s sdk=%s\n", index,
                 nimbohost::UidString(i.cid).c_str(), i.classFlags, Text(i.subCategories).c_str(),
                 Text(i.vendor).c_str(), Text(i.version).c_str(), Text(i.sdkVersion).c_str());
  }
  if (c.infoW) {
    const PClassInfoW& i = *c.infoW;
    std::fprintf(
        out, "class %d infoW cid=%s name=%s flags=%08" PRIX32 " subCategories=%s vendor=%s version=%s sdk=%s\n", index,
        nimbohost::UidString(i.cid).c_str(), Text(i.name).c_str(), i.classFlags, Text(i.subCategories).c_str(),
        Text(i.vendor).c_str(), Text(i.version).c_str(), Text(i.sdkVersion).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vst3report BUNDLE REPORT.txt\n");
    return 2;
  }
  std::string error;
  auto module = nimbohost::cVst3Module::Load(argv[1], &error);
  if (!module) {
    std::fprintf(stderr, "vst3report: %s\n", error.c_str());
    return 3;
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 1;
  PFactoryInfo factory{};
  const tresult answer = module->FactoryInfo(factory);
  std::fprintf(out, "module entry=%s factory2=%s factory3=%s\n", module->HadEntry() ? "yes" : "no",
               module->Factory2() ? "yes" : "no", module->Factory3() ? "yes" : "no");
  std::fprintf(out, "factory answer=%s vendor=%s url=%s email=%s flags=%08" PRIX32 "\n",
               answer == kResultOk ? "ok" : "error", Text(factory.vendor).c_str(), Text(factory.url).c_str(),
               Text(factory.email).c_str(), static_cast<uint32_t>(factory.flags));
  int index = 0;
  for (const auto& c : module->Classes()) ReportClass(out, index++, c);
  index = 0;
  for (const auto& c : module->Classes()) {
    if (FieldText(c.info.category) == kVstAudioEffectClass) {
      auto plugin = nimbohost::cVst3Plugin::Create(module, c.cid, &error);
      std::fprintf(out, "class %d instance=%s\n", index, plugin ? "created" : Escape(error).c_str());
    }
    ++index;
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
