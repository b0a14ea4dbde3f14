# kez_windows_binary(TARGET): a Windows program or DLL built with zig links
# the load configuration of src/hardening (the stack cookie, Control Flow
# Guard's tables and defaults) and carries no debug sections
# (kez_strip_debug). MSVC and clang-cl give both themselves.
function(kez_windows_binary target)
  if(NOT WIN32 OR MSVC)
    return()
  endif()
  target_link_libraries(${target} PRIVATE kez_load_config)
  kez_strip_debug(${target})
endfunction()
