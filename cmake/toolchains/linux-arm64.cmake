# Linux on ARM64 with Debian's cross compiler (g++-aarch64-linux-gnu) and the
# arm64 libraries of Debian multiarch (scripts/bootstrap arm64 installs both).
# The programs it builds run here under user-mode qemu: CMake runs test
# discovery and ctest through the emulator, and the arm64 C library puts the
# dynamic loader where the programs look for it, so no sysroot is needed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

find_program(KEZ_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KEZ_QEMU_AARCH64})

# pkg-config reads the arm64 .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
