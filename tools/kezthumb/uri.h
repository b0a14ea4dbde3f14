// File URIs as the freedesktop thumbnail cache keys them.
#pragma once

#include <string>
#include <string_view>

namespace kezthumb {

// Percent-encodes the bytes of a path for a URI: letters, digits and
// "!$&'()*+,-./:=@_~" stay, every other byte becomes %XX (upper-case hex).
std::string EscapePath(std::string_view path);

// "file://" + the escaped absolute path. `absolutePath` is in generic form
// ('/' separators); a path that does not start with '/' (a Windows drive,
// "C:/x") gets one in front, as file URIs want.
std::string FileUri(std::string_view absolutePath);

}  // namespace kezthumb
