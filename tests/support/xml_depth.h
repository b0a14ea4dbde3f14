// The element depth of a parsed XML tree, walked without recursion: what the
// nesting bound of the packed reader must never fall below.
#pragma once

#include <tinyxml.h>

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace kez::testing {

inline std::size_t ParsedXmlDepth(const TiXmlDocument& document) {
  std::size_t deepest = 0;
  std::vector<std::pair<const TiXmlNode*, std::size_t>> pending = {{&document, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    deepest = std::max(deepest, depth);
    for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling())
      pending.emplace_back(child, depth + (child->ToElement() != nullptr ? 1 : 0));
  }
  return deepest;
}

}  // namespace kez::testing
