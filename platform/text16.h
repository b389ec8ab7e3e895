// Small routines on NUL-terminated UCS-2 text, usable at compile time, so
// that constant tables can check their own texts.
#pragma once

namespace kvq {

constexpr int text_length(const char16_t* text) {
  int n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Equal texts; two null pointers are equal, a null and a text are not.
constexpr bool same_text(const char16_t* a, const char16_t* b) {
  if (a == nullptr || b == nullptr) return a == b;
  for (; *a != 0 && *a == *b; ++a) ++b;
  return *a == *b;
}

}  // namespace kvq
