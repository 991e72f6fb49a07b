#include "RenderText.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "cVstHost.h"

namespace nimborender {

namespace {

bool IsValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || (length == 2 && c < 0xC2) || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::string PluginTextToUtf8(const std::string& text) {
  return IsValidUtf8(text) ? text : nimbohost::Cp1252ToUtf8(text);
}

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) { return ToLower(a) == ToLower(b); }

size_t DisplayWidth(std::string_view utf8) {
  size_t width = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  }
  return width;
}

namespace {

// strtod without locale surprises for the plain forms users and plugins write.
std::optional<std::pair<double, size_t>> LeadingNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const char first = text[0];
  if (!(std::isdigit(static_cast<unsigned char>(first)) || first == '-' || first == '+' || first == '.')) {
    return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
  return std::make_pair(value, static_cast<size_t>(end - text.c_str()));
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  const std::string trimmed = Trim(text);
  const auto number = LeadingNumber(trimmed);
  if (!number || number->second != trimmed.size()) return std::nullopt;
  return number->first;
}

std::optional<sQuantity> ParseQuantity(std::string_view text) {
  const std::string trimmed = Trim(text);
  const auto number = LeadingNumber(trimmed);
  if (!number) return std::nullopt;
  sQuantity quantity;
  quantity.number = number->first;
  quantity.unit = Trim(std::string_view(trimmed).substr(number->second));
  // "1e" or "2x3" are not a number with a unit.
  if (!quantity.unit.empty() && std::isdigit(static_cast<unsigned char>(quantity.unit[0]))) return std::nullopt;
  return quantity;
}

std::optional<double> PrefixFactor(std::string_view prefix) {
  static const std::array<std::pair<std::string_view, double>, 14> kPrefixes = {{
      {"f", 1e-15}, {"p", 1e-12}, {"n", 1e-9}, {"\xC2\xB5", 1e-6}, {"\xCE\xBC", 1e-6}, {"u", 1e-6}, {"m", 1e-3},
      {"k", 1e3}, {"M", 1e6}, {"G", 1e9}, {"T", 1e12}, {"P", 1e15}, {"E", 1e18}, {"Z", 1e21},
  }};
  for (const auto& [text, factor] : kPrefixes) {
    if (prefix == text) return factor;
  }
  return std::nullopt;
}

namespace {

// "ms" with root "s" gives 1e-3.
std::optional<double> PrefixedFactor(std::string_view unit, std::string_view root) {
  if (root.empty() || unit.size() <= root.size() || unit.substr(unit.size() - root.size()) != root) {
    return std::nullopt;
  }
  return PrefixFactor(unit.substr(0, unit.size() - root.size()));
}

}  // namespace

std::optional<double> UnitFactor(std::string_view unit, std::string_view base) {
  if (unit == base) return 1.0;
  if (const auto factor = PrefixedFactor(unit, base)) return factor;
  // The base carries a prefix itself ("ms"): go through the bare unit.
  for (size_t split = 1; split < base.size(); ++split) {
    const std::string_view root = base.substr(split);
    const auto baseFactor = PrefixFactor(base.substr(0, split));
    if (!baseFactor) continue;
    if (unit == root) return 1.0 / *baseFactor;
    if (const auto unitFactor = PrefixedFactor(unit, root)) return *unitFactor / *baseFactor;
  }
  return std::nullopt;
}

}  // namespace nimborender
