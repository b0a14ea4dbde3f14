# Cross-builds for Windows on ARM64 with zig (see windows-zig.cmake).
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(kez_zig_target aarch64-windows-gnu)
set(kez_windows_target arm64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-zig.cmake)
