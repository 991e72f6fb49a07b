// Windows-1252, the encoding of every text the effect keeps, and the
// encodings other plugin formats speak: UTF-8 and UTF-16. Writers stop at the
// buffer's end and always terminate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbo {

// Code point of a Windows-1252 byte; U+FFFD for the five unassigned ones.
constexpr char32_t Cp1252CodePoint(unsigned char c) {
  // 0x80..0x9F differ from Latin-1; the rest of the upper half is U+00A0..U+00FF.
  constexpr char16_t kHigh[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                  0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c;
}

// Writes text as UTF-8 into out (size bytes, NUL included); a character that
// does not fit whole is left out with everything after it.
inline void Cp1252ToUtf8(const char* text, char* out, size_t size) {
  if (size == 0) return;
  size_t n = 0;
  for (; *text; ++text) {
    const char32_t u = Cp1252CodePoint(static_cast<unsigned char>(*text));
    char bytes[3];
    size_t count = 0;
    if (u < 0x80) {
      bytes[count++] = static_cast<char>(u);
    } else if (u < 0x800) {
      bytes[count++] = static_cast<char>(0xC0 | (u >> 6));
      bytes[count++] = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      bytes[count++] = static_cast<char>(0xE0 | (u >> 12));
      bytes[count++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      bytes[count++] = static_cast<char>(0x80 | (u & 0x3F));
    }
    if (n + count >= size) break;
    for (size_t i = 0; i < count; ++i) out[n++] = bytes[i];
  }
  out[n] = '\0';
}

inline std::string Cp1252ToUtf8(const std::string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  Cp1252ToUtf8(text.c_str(), out.data(), out.size());
  out.resize(std::char_traits<char>::length(out.c_str()));
  return out;
}

// Every code point of Windows-1252 lies in the basic plane: one UTF-16 unit each.
inline void Cp1252ToUtf16(const char* text, char16_t* out, size_t size) {
  if (size == 0) return;
  size_t n = 0;
  for (; *text && n + 1 < size; ++text) out[n++] = static_cast<char16_t>(Cp1252CodePoint(static_cast<unsigned char>(*text)));
  out[n] = u'\0';
}

// UTF-8 or UTF-16 text as Windows-1252; characters it cannot hold become '?'.
// Malformed UTF-8 is taken byte by byte as Windows-1252, as older hosts send it.
inline unsigned char Cp1252FromCodePoint(char32_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<unsigned char>(u);
  for (unsigned c = 0x80; c < 0xA0; ++c)
    if (Cp1252CodePoint(static_cast<unsigned char>(c)) == u && u != 0xFFFD) return static_cast<unsigned char>(c);
  return '?';
}

inline std::string Utf8ToCp1252(const char* text) {
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s) {
    const unsigned char c = *s;
    int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
    if (c >= 0xF8) extra = 0;
    char32_t u = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : c & 0x1F;
    bool valid = extra > 0;
    for (int i = 1; valid && i <= extra; ++i) {
      if ((s[i] & 0xC0) != 0x80) valid = false;
      else u = (u << 6) | (s[i] & 0x3F);
    }
    if (valid) {
      out += static_cast<char>(Cp1252FromCodePoint(u));
      s += extra + 1;
    } else {
      out += static_cast<char>(c);
      ++s;
    }
  }
  return out;
}

inline std::string Utf16ToCp1252(const char16_t* text, size_t maxUnits) {
  std::string out;
  for (size_t i = 0; i < maxUnits && text[i]; ++i) {
    const char16_t u = text[i];
    out += static_cast<char>(u >= 0xD800 && u < 0xE000 ? '?' : Cp1252FromCodePoint(u));
  }
  return out;
}

}  // namespace nimbo
