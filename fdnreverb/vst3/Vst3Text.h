// Text into the fixed fields of VST3 records.
#pragma once

#include <cstddef>
#include <string>

#include "../../nimbolib/Text.h"
#include "../../nimbolib/TextEncoding.h"

namespace nimbovst3 {

// ASCII or UTF-8 bytes, cut to fit, padded and always terminated.
template <size_t N>
void CopyText(char (&dst)[N], const char* text) {
  nimbo::CopyTerminated(dst, text, N);
}

// Our texts (Windows-1252, of which ASCII is a part) as UTF-16, cut to fit
// and always terminated.
template <size_t N>
void CopyText(char16_t (&dst)[N], const char* text) {
  nimbo::Cp1252ToUtf16(text, dst, N);
  for (size_t i = std::char_traits<char16_t>::length(dst); i < N; ++i) dst[i] = u'\0';
}

}  // namespace nimbovst3
