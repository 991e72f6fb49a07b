// Fixed-size text fields and the few text rules every format shares.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace nimbo {

// Copies at most size bytes, stopping after the NUL and padding with NULs;
// a text that fills the field is left unterminated, as the host records expect.
inline void CopyPadded(char* dst, const char* src, size_t size) {
  size_t i = 0;
  for (; i < size && src[i] != '\0'; ++i) dst[i] = src[i];
  for (; i < size; ++i) dst[i] = '\0';
}

// The same into a field of size bytes that always ends in a NUL.
inline void CopyTerminated(char* dst, const char* src, size_t size) {
  if (size == 0) return;
  CopyPadded(dst, src, size - 1);
  dst[size - 1] = '\0';
}

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal but for the case of ASCII letters.
constexpr bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

constexpr std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A switch as people type it: "on" or "off" in any case, or 1 or 0; false
// for anything else.
constexpr bool ParseSwitch(std::string_view text, bool& on) {
  const std::string_view t = Trimmed(text);
  if (SameWord(t, "on") || t == "1") on = true;
  else if (SameWord(t, "off") || t == "0") on = false;
  else return false;
  return true;
}

}  // namespace nimbo
