// The report hosts' texts: every byte a plugin said, escaped, so two reports
// are equal exactly when the plugins said exactly the same.
#pragma once

#include <cstdio>
#include <string>

inline std::string Escape(const char* bytes, size_t length) {
  std::string out = "\"";
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
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

inline std::string Escape(const std::string& text) { return Escape(text.data(), text.size()); }
