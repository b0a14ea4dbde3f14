# kez_strip_debug(TARGET): a shipped Windows program or DLL built with zig
# carries no debug sections. Its symbols are in the PDB the linker writes
# beside it (Release builds use -g), which the file names for crash analysis;
# the DWARF sections left in it come from the C runtime's own objects.
# MSVC and clang-cl write a PDB alone.
find_program(KEZ_OBJCOPY NAMES llvm-objcopy llvm-objcopy-16 llvm-objcopy-15 llvm-objcopy-14)
function(kez_strip_debug target)
  if(NOT WIN32 OR MSVC OR NOT KEZ_OBJCOPY)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD COMMAND ${KEZ_OBJCOPY} --strip-debug $<TARGET_FILE:${target}> VERBATIM)
endfunction()
