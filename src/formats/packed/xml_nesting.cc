#include "formats/packed/xml_nesting.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace packed {

namespace {

bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool IsHexLetter(std::uint8_t c) { return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsSpace(std::uint8_t c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
bool IsAsciiAlpha(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// The parser takes every byte from 127 up as a letter.
bool IsNameStart(std::uint8_t c) { return c >= 127 || IsAsciiAlpha(c) || c == '_'; }
bool IsNameChar(std::uint8_t c) { return IsNameStart(c) || IsDigit(c) || c == '-' || c == '.' || c == ':'; }

class NestingScanner {
 public:
  // The certain reading ends at the first zero byte (`end`); the parser may
  // still jump over it after a malformed character, so the count of possible
  // element starts runs over the whole buffer (`size`).
  NestingScanner(const std::uint8_t* text, std::size_t end, std::size_t size)
      : m_text(text), m_size(end), m_bufferSize(size) {}

  std::size_t Run() {
    if (StartsWith("\xEF\xBB\xBF")) m_at = 3;  // a leading byte order mark is skipped
    for (;;) {
      m_mark = m_at;
      m_markDepth = m_depth;
      if (!SkipSpace()) break;
      if (m_at >= m_size) return m_max;
      if (At(m_at) != '<') {
        if (m_depth == 0 || !Text()) break;  // the parser stops at text outside every element
        continue;
      }
      if (m_depth > 0 && StartsWith("</")) {
        if (!EndTag()) break;
        continue;
      }
      bool sure;
      if (StartsWith("<?xml", true)) {
        sure = Declaration();
      } else if (StartsWith("<!--")) {
        m_at += 4;
        sure = SkipPast("-->");
      } else if (StartsWith("<![CDATA[")) {
        m_at += 9;
        sure = SkipPast("]]>");
      } else if (IsNameStart(At(m_at + 1))) {
        sure = StartTag();
      } else {
        m_at += 1;
        sure = SkipPast(">");  // anything else is an unknown node up to the next '>'
      }
      if (!sure) break;
    }
    return Uncertain();
  }

 private:
  std::uint8_t At(std::size_t i) const { return i < m_size ? m_text[i] : 0; }

  bool StartsWith(const char* s, bool ignoreCase = false) const {
    for (std::size_t k = 0; s[k] != '\0'; ++k) {
      std::uint8_t c = At(m_at + k);
      std::uint8_t e = static_cast<std::uint8_t>(s[k]);
      if (ignoreCase && c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
      if (c != e) return false;
    }
    return true;
  }

  // False where the parser's whitespace depends on the encoding (it skips
  // byte order marks only in UTF-8).
  bool SkipSpace() {
    while (m_at < m_size && IsSpace(At(m_at))) ++m_at;
    return At(m_at) != 0xEF;
  }

  // Byte-wise up to and past `terminator`; false at the end of the text.
  bool SkipPast(const char* terminator) {
    const std::size_t length = std::strlen(terminator);
    while (m_at < m_size) {
      if (StartsWith(terminator)) {
        m_at += length;
        return true;
      }
      ++m_at;
    }
    return false;
  }

  // Whether the character at m_at is one the parser steps over exactly as
  // this scan does: well-formed UTF-8 and character references do not hide
  // any markup byte; a malformed one may make the parser jump over some.
  bool PlainCharacter() const {
    const std::uint8_t c = At(m_at);
    if (c >= 0xC0) {
      const std::size_t length = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      for (std::size_t k = 1; k < length; ++k)
        if ((At(m_at + k) & 0xC0) != 0x80) return false;
    }
    if (c == '&' && At(m_at + 1) == '#') {
      const bool hex = At(m_at + 2) == 'x';
      std::size_t k = m_at + (hex ? 3 : 2);
      while (IsDigit(At(k)) || (hex && IsHexLetter(At(k)))) ++k;
      if (At(k) != ';') return false;
    }
    return true;
  }

  // Text up to (not past) `stop`; false at the end or at a doubtful character.
  bool CharactersUntil(std::uint8_t stop) {
    while (m_at < m_size && At(m_at) != stop) {
      if (!PlainCharacter()) return false;
      ++m_at;
    }
    return m_at < m_size;
  }

  bool Text() { return CharactersUntil('<'); }

  bool EndTag() {
    m_at += 2;
    while (IsNameChar(At(m_at))) ++m_at;
    if (!SkipSpace() || At(m_at) != '>') return false;
    ++m_at;
    --m_depth;
    return true;
  }

  // name = "value", name = 'value' or name = value, as the parser reads them.
  bool Attribute() {
    if (!IsNameStart(At(m_at))) return false;
    while (IsNameChar(At(m_at))) ++m_at;
    if (!SkipSpace() || At(m_at) != '=') return false;
    ++m_at;
    if (!SkipSpace() || m_at >= m_size) return false;
    const std::uint8_t quote = At(m_at);
    if (quote == '"' || quote == '\'') {
      ++m_at;
      if (!CharactersUntil(quote)) return false;
      ++m_at;
      return true;
    }
    while (m_at < m_size && !IsSpace(At(m_at)) && At(m_at) != '/' && At(m_at) != '>') {
      if (At(m_at) == '"' || At(m_at) == '\'') return false;
      ++m_at;
    }
    return true;
  }

  bool StartTag() {
    ++m_at;
    ++m_depth;
    m_max = std::max(m_max, m_depth);
    while (IsNameChar(At(m_at))) ++m_at;
    for (;;) {
      if (!SkipSpace() || m_at >= m_size) return false;
      if (At(m_at) == '/') {
        if (At(m_at + 1) != '>') return false;
        m_at += 2;
        --m_depth;
        return true;
      }
      if (At(m_at) == '>') {
        ++m_at;
        return true;
      }
      if (!Attribute()) return false;
    }
  }

  // The parser reads version, encoding and standalone as attributes and
  // steps over any other word.
  bool Declaration() {
    m_at += 5;
    for (;;) {
      if (m_at >= m_size) return false;
      if (At(m_at) == '>') {
        ++m_at;
        return true;
      }
      if (!SkipSpace()) return false;
      if (StartsWith("version", true) || StartsWith("encoding", true) || StartsWith("standalone", true)) {
        if (!Attribute()) return false;
      } else {
        while (m_at < m_size && At(m_at) != '>' && !IsSpace(At(m_at))) ++m_at;
      }
    }
  }

  // From the last certain point on, every '<' that could open an element
  // counts as one more level.
  std::size_t Uncertain() const {
    std::size_t opens = 0;
    for (std::size_t i = m_mark; i + 1 < m_bufferSize; ++i)
      if (m_text[i] == '<' && IsNameStart(m_text[i + 1])) ++opens;
    return std::max(m_max, m_markDepth + opens);
  }

  const std::uint8_t* m_text;
  std::size_t m_size;
  std::size_t m_bufferSize;
  std::size_t m_at = 0;
  std::size_t m_depth = 0;
  std::size_t m_max = 0;
  std::size_t m_mark = 0;  // where the current construct began, at depth m_markDepth
  std::size_t m_markDepth = 0;
};

}  // namespace

std::size_t XmlNestingBound(const char* text, std::size_t size) {
  const void* zero = std::memchr(text, 0, size);
  const std::size_t end = zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : size;
  return NestingScanner(reinterpret_cast<const std::uint8_t*>(text), end, size).Run();
}

}  // namespace packed
