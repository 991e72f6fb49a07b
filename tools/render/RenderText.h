// Text helpers of the renderer: plugin texts to UTF-8, trimming, number
// parsing and the unit prefixes a host shows in front of a unit.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nimborender {

// A plugin text as UTF-8: text that already is valid UTF-8 passes unchanged,
// anything else is taken as Windows-1252, the code page VST 2.x texts use.
std::string PluginTextToUtf8(const std::string& text);

std::string Trim(std::string_view text);
std::string ToLower(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Code points, for aligning UTF-8 columns.
size_t DisplayWidth(std::string_view utf8);

// A whole text as a finite number (blanks around it allowed).
std::optional<double> ParseNumber(std::string_view text);

// A number followed by an optional unit: "25", "25ms", "-3.5 dB", "40 %".
struct sQuantity {
  double number = 0.0;
  std::string unit;  // trimmed, may be empty
};
std::optional<sQuantity> ParseQuantity(std::string_view text);

// The factor of an SI prefix letter ("m" 1e-3, "k" 1e3, "µ" 1e-6...), if it is one.
std::optional<double> PrefixFactor(std::string_view prefix);

// Splits a unit such as "ms" or "kHz" into prefix factor and base unit, given
// the base unit the parameter is known to use: "ms" with base "s" gives 1e-3.
std::optional<double> UnitFactor(std::string_view unit, std::string_view base);

}  // namespace nimborender
