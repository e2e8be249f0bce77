# Each command-line program's --help is the one source of its man page.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(NOT HELP2MAN OR NOT GZIP)
  message(STATUS "help2man or gzip not found: no man pages")
  return()
endif()

set(man_pages)
# data/man/PROGRAM.h2m adds what --help does not say: the licence, the pages to
# see next.
function(tarvanix_man_page target section summary)
  set(page ${CMAKE_BINARY_DIR}/man/${target}.${section})
  set(include ${PROJECT_SOURCE_DIR}/data/man/${target}.h2m)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${HELP2MAN} --no-info --section=${section} --name=${summary}
            --version-string=${PROJECT_VERSION} --include=${include} --output=${page}
            $<TARGET_FILE:${target}>
    COMMAND ${GZIP} -9nf ${page}
    DEPENDS ${target} ${include}
    COMMENT "Man page of ${target}"
    VERBATIM)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  set(man_pages ${man_pages} ${page}.gz PARENT_SCOPE)
endfunction()

# The utility's page is written by hand: its --help says little, and running
# the windowed program at build time is not wanted.
function(tarvanix_written_man_page name section)
  set(page ${CMAKE_BINARY_DIR}/man/${name}.${section})
  configure_file(${PROJECT_SOURCE_DIR}/data/${name}.${section}.in ${page} @ONLY)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${GZIP} -9nc ${page} > ${page}.gz
    DEPENDS ${page}
    COMMENT "Man page of ${name}")
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  set(man_pages ${man_pages} ${page}.gz PARENT_SCOPE)
endfunction()

tarvanix_written_man_page(tarvanix-utility 1)
if(TARGET tarvanix-cli)
  tarvanix_man_page(tarvanix-cli 1 "find, read, set, reboot and upgrade device-server modules and bridge their serial ports")
endif()
tarvanix_man_page(tarvanix-modsim 1 "simulated serial-to-Ethernet device-server modules")
tarvanix_man_page(tarvanix-netpin 8 "pin the ARP entry and host route that reach a module")
add_custom_target(man_pages ALL DEPENDS ${man_pages})
