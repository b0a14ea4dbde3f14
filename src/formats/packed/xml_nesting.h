// An upper bound on how deeply the XML parser will nest elements for a text,
// found without recursion before the parser (which recurses once per level
// and would run out of stack on a deeply nested header) is let loose on it.
#pragma once

#include <cstddef>

namespace packed {

// `text` holds `size` bytes; like the parser, the certain reading ends at a
// zero byte, but after a malformed character the parser can jump over one,
// so possible element starts are counted up to `size`.
// The bound follows the parser's own reading of the text while that reading
// is certain; from the first construct whose reading depends on details (the
// text encoding, malformed UTF-8 or character references) it counts every
// remaining '<' that could open an element as one more level.
std::size_t XmlNestingBound(const char* text, std::size_t size);

}  // namespace packed
