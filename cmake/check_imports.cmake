# Lists the DLLs a Windows executable or DLL imports and fails unless every one
# ships with Windows, so a runtime left dynamic (libstdc++-6.dll,
# libwinpthread-1.dll, libc++.dll, zlib1.dll...) is caught at build time.
# Reads the PE import table itself: no objdump knows both x64 and ARM64.
#
#   cmake -DFILE=kezthumb.dll -P cmake/check_imports.cmake

cmake_minimum_required(VERSION 3.25)

if(NOT FILE)
  message(FATAL_ERROR "usage: cmake -DFILE=<exe or dll> -P check_imports.cmake")
endif()

# Windows' own DLLs (lower case); api-ms-win-* API sets are allowed as well.
set(system_dlls
  advapi32.dll bcrypt.dll combase.dll comctl32.dll comdlg32.dll crypt32.dll
  dbghelp.dll gdi32.dll gdiplus.dll kernel32.dll kernelbase.dll msvcrt.dll
  ntdll.dll ole32.dll oleaut32.dll propsys.dll psapi.dll rpcrt4.dll
  shell32.dll shlwapi.dll ucrtbase.dll user32.dll userenv.dll uxtheme.dll
  version.dll windowscodecs.dll ws2_32.dll)

# Little-endian unsigned integer of `size` bytes at `offset` (an expression).
function(read_le out offset size)
  math(EXPR offset "${offset}")
  file(READ "${FILE}" hex OFFSET ${offset} LIMIT ${size} HEX)
  set(value "")
  math(EXPR last "${size} - 1")
  foreach(i RANGE ${last} 0 -1)
    math(EXPR at "${i} * 2")
    string(SUBSTRING "${hex}" ${at} 2 byte)
    string(APPEND value "${byte}")
  endforeach()
  math(EXPR value "0x${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# NUL-terminated string at `offset`.
function(read_name out offset)
  file(READ "${FILE}" hex OFFSET ${offset} LIMIT 256 HEX)
  set(name "")
  string(LENGTH "${hex}" length)
  set(at 0)
  while(at LESS length)
    string(SUBSTRING "${hex}" ${at} 2 byte)
    math(EXPR code "0x${byte}")
    if(code EQUAL 0)
      break()
    endif()
    string(ASCII ${code} char)
    string(APPEND name "${char}")
    math(EXPR at "${at} + 2")
  endwhile()
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

file(READ "${FILE}" mz LIMIT 2 HEX)
if(NOT mz STREQUAL "4d5a")
  message(FATAL_ERROR "${FILE}: not a Windows executable")
endif()
read_le(pe 60 4)
read_le(section_count "${pe}+6" 2)
read_le(optional_size "${pe}+20" 2)
math(EXPR optional "${pe} + 24")
read_le(magic ${optional} 2)
if(magic EQUAL 523)        # PE32+
  math(EXPR directories "${optional} + 112")
else()                     # PE32
  math(EXPR directories "${optional} + 96")
endif()
read_le(import_rva "${directories}+8" 4)

# Maps a relative virtual address to its place in the file.
math(EXPR sections "${optional} + ${optional_size}")
function(rva_to_offset out rva)
  math(EXPR last "${section_count} - 1")
  foreach(i RANGE 0 ${last})
    math(EXPR header "${sections} + ${i} * 40")
    read_le(virtual_size "${header}+8" 4)
    read_le(virtual_address "${header}+12" 4)
    read_le(raw_size "${header}+16" 4)
    read_le(raw_pointer "${header}+20" 4)
    if(virtual_size LESS raw_size)
      set(virtual_size ${raw_size})
    endif()
    math(EXPR end "${virtual_address} + ${virtual_size}")
    if(rva GREATER_EQUAL virtual_address AND rva LESS end)
      math(EXPR offset "${rva} - ${virtual_address} + ${raw_pointer}")
      set(${out} ${offset} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${FILE}: address ${rva} is in no section")
endfunction()

set(imports "")
if(import_rva GREATER 0)
  rva_to_offset(descriptor ${import_rva})
  while(TRUE)
    read_le(name_rva "${descriptor}+12" 4)
    if(name_rva EQUAL 0)
      break()
    endif()
    rva_to_offset(name_offset ${name_rva})
    read_name(name ${name_offset})
    list(APPEND imports "${name}")
    math(EXPR descriptor "${descriptor} + 20")
  endwhile()
endif()

set(foreign "")
foreach(name IN LISTS imports)
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-")
    list(APPEND foreign "${name}")
  endif()
endforeach()
list(JOIN imports " " shown)
message("${FILE}: imports ${shown}")
if(foreign)
  list(JOIN foreign " " shown)
  message(FATAL_ERROR "${FILE}: imports DLLs that are not Windows' own: ${shown}")
endif()
