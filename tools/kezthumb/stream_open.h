// Opening a document as the read-only IStream the provider is given, the way
// the shell does (SHCreateStreamOnFileEx).
#pragma once

#include <filesystem>
#include <string>

#include "platform/com.h"

namespace kezthumb {

// A read-only stream over the file at `path`, positioned at 0. Null with a
// reason ("No such file or directory", "Is a directory", ...) on failure.
IStream* OpenReadStream(const std::filesystem::path& path, std::string* error);

}  // namespace kezthumb
