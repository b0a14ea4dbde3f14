# Shared by the Windows toolchain files: zig 0.11.0 as the C and C++ compiler
# (clang 16, MinGW-w64 headers and CRT, libc++ and libc++abi), installed
# outside the source tree by scripts/bootstrap-windows and run through the
# wrappers in cmake/zig/ (resource scripts go through MinGW's windres, see
# zig-windres). The including file sets CMAKE_SYSTEM_PROCESSOR, kez_zig_target
# (the triple, which CMake passes as --target= on every compile and link) and
# kez_windows_target.
#
# zig links libc++, libunwind and compiler-rt statically and the CRT through
# Windows' own DLLs, so kezthumb.dll and kezthumb.exe import only system DLLs
# (and, with the libunwind that scripts/bootstrap-windows adjusts, export only
# their own functions). Release builds are made with -g, for the PDB the
# linker then writes beside each product (kez_strip_debug).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)

get_filename_component(kez_zig_dir "${CMAKE_CURRENT_LIST_DIR}/../zig" ABSOLUTE)
set(CMAKE_C_COMPILER "${kez_zig_dir}/zig-cc")
set(CMAKE_CXX_COMPILER "${kez_zig_dir}/zig-c++")
set(CMAKE_ASM_COMPILER "${kez_zig_dir}/zig-cc")
set(CMAKE_RC_COMPILER "${kez_zig_dir}/zig-windres")
set(CMAKE_AR "${kez_zig_dir}/zig-ar" CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB "${kez_zig_dir}/zig-ranlib" CACHE FILEPATH "Archive indexer")
# zig builds its C and C++ runtimes once per optimisation level, the first time
# a program is linked. CMake's compiler checks would link unoptimised programs
# and cost a second build of them: with a target named, CMake identifies the
# compiler from an object file, and its other checks link as Release does.
set(CMAKE_C_COMPILER_TARGET ${kez_zig_target})
set(CMAKE_CXX_COMPILER_TARGET ${kez_zig_target})
set(CMAKE_ASM_COMPILER_TARGET ${kez_zig_target})
set(CMAKE_TRY_COMPILE_CONFIGURATION Release)
set(CMAKE_C_FLAGS_RELEASE_INIT "-O3 -DNDEBUG -g")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O3 -DNDEBUG -g")
# Exploit mitigations for every object, the libraries built from source
# included: stack cookies and Control Flow Guard's checks of indirect calls.
# Not ARM64's signed return addresses (-mbranch-protection): clang signs them
# and records it in the unwind codes, but the Wine that runs the ARM64 tests
# cannot unwind through such a frame, so a C++ exception thrown in the DLL
# never reaches its handler there. Source paths are kept relative to the
# tree and the compiler's command lines stay out of the debug records, so
# that two folders give the same bytes (the PDB's signature is a hash of
# it). The load configuration Windows reads the cookie and the guard's
# tables from is src/hardening's; zig-link gives the linker what zig's
# driver cannot.
get_filename_component(kez_tree "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(kez_hardening "-fstack-protector-strong -mguard=cf -ffile-prefix-map=${kez_tree}=. -gno-codeview-command-line")
set(CMAKE_C_FLAGS_INIT "${kez_hardening}")
set(CMAKE_CXX_FLAGS_INIT "${kez_hardening}")
set(CMAKE_C_COMPILER_LAUNCHER "${kez_zig_dir}/zig-compile")
set(CMAKE_CXX_COMPILER_LAUNCHER "${kez_zig_dir}/zig-compile")
set(CMAKE_C_LINKER_LAUNCHER "${kez_zig_dir}/zig-link")
set(CMAKE_CXX_LINKER_LAUNCHER "${kez_zig_dir}/zig-link")

include(${CMAKE_CURRENT_LIST_DIR}/windows-deps.cmake)
