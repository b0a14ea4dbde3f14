# kez_split_debug(TARGET): on Windows builds with DWARF (zig), the debug
# information of a shipped program or DLL goes into TARGET_FILE.debug beside
# it, which the stripped file names (.gnu_debuglink) for crash analysis.
# MSVC and clang-cl keep theirs in a PDB already.
find_program(KEZ_OBJCOPY NAMES llvm-objcopy llvm-objcopy-16 llvm-objcopy-15 llvm-objcopy-14)
function(kez_split_debug target)
  if(NOT WIN32 OR MSVC OR NOT KEZ_OBJCOPY)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${KEZ_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${KEZ_OBJCOPY} --strip-debug --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
