# Cross-builds for Windows x64 with Debian's MinGW-w64 (posix threads).
#
# The C and C++ runtimes and winpthread are linked statically, so kezthumb.dll
# and kezthumb.exe import only Windows' own DLLs. Libraries are looked up only
# below KEZ_WINDOWS_DEPS (scripts/build-windows-deps fills it), never in the
# host's /usr; programs (flatc) are the host's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB x86_64-w64-mingw32-ranlib CACHE FILEPATH "Archive indexer")

set(kez_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${kez_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${kez_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${kez_static_runtime}")
# Release binaries without the symbol table (half their size); zig leaves it out.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_RELEASE_INIT "-s")
  set(CMAKE_${kind}_LINKER_FLAGS_MINSIZEREL_INIT "-s")
endforeach()

set(kez_windows_target x64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-deps.cmake)
