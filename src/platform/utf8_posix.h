// File names between the Windows side (wide text) and POSIX (bytes, UTF-8 by
// convention). Bytes that are not UTF-8 travel as U+DC80..U+DCFF and come back
// as the same bytes, so every name on disk survives the round trip whatever
// the locale.
#pragma once

#include <string>

namespace platform {

inline std::wstring Utf8ToWide(const char* text) {
  std::wstring out;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s != 0) {
    const unsigned char lead = *s;
    int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
    char32_t cp = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
    bool valid = extra >= 0;
    for (int i = 1; valid && i <= extra; ++i) {
      if ((s[i] & 0xC0) != 0x80) valid = false;
      else cp = (cp << 6) | (s[i] & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (valid && (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
    if (!valid) {
      out.push_back(static_cast<wchar_t>(0xDC00 + lead));
      ++s;
      continue;
    }
    out.push_back(static_cast<wchar_t>(cp));
    s += extra + 1;
  }
  return out;
}

inline std::string WideToUtf8(const wchar_t* text) {
  std::string out;
  for (; *text != L'\0'; ++text) {
    auto cp = static_cast<char32_t>(*text);
    if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back(static_cast<char>(cp - 0xDC00));
      continue;
    }
    // What no UTF-8 can carry becomes U+FFFD.
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace platform
