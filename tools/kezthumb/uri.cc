#include "uri.h"

namespace kezthumb {
namespace {

// The bytes a path segment may hold unescaped, with '/' between segments; the
// same set the desktop's file managers use, so both sides hash the same URI.
bool StaysUnescaped(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',':
    case '-': case '.': case '/': case ':': case '=': case '@': case '_': case '~':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string EscapePath(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (StaysUnescaped(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string FileUri(std::string_view absolutePath) {
  std::string uri = "file://";
  if (absolutePath.empty() || absolutePath.front() != '/') uri.push_back('/');
  return uri + EscapePath(absolutePath);
}

}  // namespace kezthumb
