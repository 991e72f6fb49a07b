// Text into the fixed fields of VST3 records.
#pragma once

#include <cstddef>
#include <string_view>

namespace nimbovst3 {

// ASCII or UTF-8 bytes, cut to fit and always terminated.
template <size_t N>
void CopyText(char (&dst)[N], std::string_view text) {
  size_t i = 0;
  for (; i < text.size() && i + 1 < N; ++i) dst[i] = text[i];
  for (; i < N; ++i) dst[i] = '\0';
}

// UTF-8 as UTF-16, cut to fit at a whole character and always terminated.
// Malformed bytes come out as U+FFFD.
template <size_t N>
void CopyText(char16_t (&dst)[N], std::string_view utf8) {
  size_t out = 0;
  auto put = [&](char32_t c) {
    const size_t units = c >= 0x10000 ? 2 : 1;
    if (out + units + 1 > N) return false;
    if (units == 2) {
      dst[out++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      dst[out++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      dst[out++] = static_cast<char16_t>(c);
    }
    return true;
  };
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const size_t length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    bool valid = length != 0 && i + length <= utf8.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      valid = (next >> 6) == 2;
      c = (c << 6) | (next & 0x3F);
    }
    if (!put(valid ? c : U'\uFFFD')) break;
    i += valid ? length : 1;
  }
  for (; out < N; ++out) dst[out] = u'\0';
}

}  // namespace nimbovst3
