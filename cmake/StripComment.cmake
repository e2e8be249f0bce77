# Run by CPack after it has installed the package's files into its staging
# folder and before the DEB generator splits their debug symbols off
# (CPACK_PRE_BUILD_SCRIPTS): drops the compiler's .comment section (its name
# and version, from every object and GCC's own start files) from every
# program, as Debian's dh_strip does. The debug files are split afterwards,
# so they carry no .comment either.
set(stage "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(NOT IS_DIRECTORY "${stage}")
  message(FATAL_ERROR "StripComment: no staging folder (${stage})")
endif()
find_program(objcopy NAMES objcopy REQUIRED)
file(GLOB_RECURSE files LIST_DIRECTORIES false "${stage}/*")
foreach(f IN LISTS files)
  if(IS_SYMLINK "${f}")
    continue()
  endif()
  file(READ "${f}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND "${objcopy}" --remove-section=.comment "${f}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
