// The tool's version: the CMake project version, passed in by the build.
#pragma once

#ifndef KEZTHUMB_VERSION
#define KEZTHUMB_VERSION "0.0.0-unknown"
#endif

namespace kezthumb {

inline constexpr const char kVersion[] = KEZTHUMB_VERSION;

}  // namespace kezthumb
