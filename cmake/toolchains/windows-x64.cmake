# Cross-builds for Windows x64 with zig (see windows-zig.cmake): the compiler
# and runtimes of the ARM64 product, so the DLL tested under x64 Wine is its
# twin.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(kez_zig_target x86_64-windows-gnu)
set(kez_windows_target x64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-zig.cmake)
