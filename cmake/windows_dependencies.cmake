# The third-party libraries on Windows, where there is no pkg-config: found
# below CMAKE_PREFIX_PATH (the cross toolchains point it at
# build/windows-deps/<target>; on a Windows machine it names the folders the
# libraries were installed to) and given the target names the Linux build uses,
# so the rest of the build is the same everywhere.

find_package(ZLIB REQUIRED)                 # ZLIB::ZLIB
find_package(PNG REQUIRED)                  # PNG::PNG, which links ZLIB::ZLIB
find_package(Boost REQUIRED)                # Boost::headers

# Makes an imported library target out of one header and one library file.
function(kez_import_library target header)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "NAMES;DEFINITIONS")
  string(MAKE_C_IDENTIFIER "${target}" var)
  find_path(${var}_INCLUDE_DIR ${header} REQUIRED)
  find_library(${var}_LIBRARY NAMES ${arg_NAMES} REQUIRED)
  add_library(${target} UNKNOWN IMPORTED)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION "${${var}_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${${var}_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS "${arg_DEFINITIONS}")
  message(STATUS "${target}: ${${var}_LIBRARY}")
endfunction()

# zstd's own CMake build names its static library zstd_static under MSVC.
kez_import_library(PkgConfig::ZSTD zstd.h NAMES zstd_static zstd libzstd_static libzstd)
# The library is built with TIXML_USE_STL (Debian's header forces it too); a
# consumer that disagreed would see other class layouts.
kez_import_library(PkgConfig::TINYXML tinyxml.h NAMES tinyxml tinyxmlSTL DEFINITIONS TIXML_USE_STL)

# FlatBuffers is header-only: the generated root-record code includes
# <flatbuffers/flatbuffers.h>, which must be the same version as flatc.
find_path(KEZ_FLATBUFFERS_INCLUDE_DIR flatbuffers/flatbuffers.h REQUIRED)
include_directories(SYSTEM ${KEZ_FLATBUFFERS_INCLUDE_DIR})
