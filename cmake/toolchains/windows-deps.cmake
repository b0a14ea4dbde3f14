# Shared by the Windows toolchain files: libraries are looked up only below
# KEZ_WINDOWS_DEPS (scripts/build-windows-deps fills it for kez_windows_target),
# never in the host's /usr; programs (flatc) are the host's.
if(NOT KEZ_WINDOWS_DEPS)
  get_filename_component(KEZ_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../../build/windows-deps/${kez_windows_target}"
                         ABSOLUTE)
endif()
set(CMAKE_FIND_ROOT_PATH "${KEZ_WINDOWS_DEPS}")
list(APPEND CMAKE_PREFIX_PATH "${KEZ_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
