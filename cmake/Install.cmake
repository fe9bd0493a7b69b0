# What `cmake --install` puts where: the three programs, their manual pages
# and bash completions, the updater's desktop entry and icons, and the
# package's copyright and changelog. Standard GNUInstallDirs locations, so a
# distribution's prefix and DESTDIR work as users expect. The updater's
# message catalogs are compiled into the program and are not installed.
include(GNUInstallDirs)
include(${CMAKE_SOURCE_DIR}/cmake/Package.cmake)

find_program(VREXA_GZIP gzip)
if(NOT VREXA_GZIP)
  message(STATUS "gzip not found: manual pages and the changelog are not installed")
endif()

# Compresses FILE to FILE.gz the way Debian wants it: best compression and no
# name or time stamp, so the same page makes the same bytes.
function(vrexa_gzip_command out file)
  set(${out}
      COMMAND ${VREXA_GZIP} -9nkf ${file}
      PARENT_SCOPE)
endfunction()

set(_vrexa_doc_outputs)

# The installed programs read what the network sends: their relocations are
# resolved at start and then made read-only, so a stray write cannot redirect
# a library call.
foreach(_program vrexa vrexa-publish orbiq-update)
  if(TARGET ${_program})
    target_link_options(${_program} PRIVATE LINKER:-z,relro,-z,now)
  endif()
endforeach()
set(_vrexa_man_dir ${CMAKE_BINARY_DIR}/share/man/man1)
set(_vrexa_completion_dir ${CMAKE_BINARY_DIR}/share/bash-completion/completions)

# A program that prints its own manual page and completion from its option
# table: both are made at build time from the program just built, so they
# never fall behind its options.
function(vrexa_install_self_documented target)
  if(NOT TARGET ${target})
    return()
  endif()
  set(_page ${_vrexa_man_dir}/${target}.1)
  set(_completion ${_vrexa_completion_dir}/${target})
  vrexa_gzip_command(_gzip ${_page})
  add_custom_command(
    OUTPUT ${_page} ${_page}.gz
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DARGUMENT=--help-man -DOUTPUT=${_page} -P
            ${CMAKE_SOURCE_DIR}/cmake/CaptureOutput.cmake
    ${_gzip}
    DEPENDS ${target} ${CMAKE_SOURCE_DIR}/cmake/CaptureOutput.cmake
    COMMENT "Writing the manual page of ${target}")
  add_custom_command(
    OUTPUT ${_completion}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DARGUMENT=--help-completion -DOUTPUT=${_completion}
            -P ${CMAKE_SOURCE_DIR}/cmake/CaptureOutput.cmake
    DEPENDS ${target} ${CMAKE_SOURCE_DIR}/cmake/CaptureOutput.cmake
    COMMENT "Writing the bash completion of ${target}")
  set(_vrexa_doc_outputs ${_vrexa_doc_outputs} ${_page}.gz ${_completion} PARENT_SCOPE)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${_completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endfunction()

if(VREXA_GZIP)
  vrexa_install_self_documented(vrexa)
  vrexa_install_self_documented(vrexa-publish)
endif()

if(TARGET orbiq-update)
  install(TARGETS orbiq-update RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(VREXA_GZIP)
    # The updater takes no options of its own, so its page is written by hand.
    set(_page ${_vrexa_man_dir}/orbiq-update.1)
    configure_file(${CMAKE_SOURCE_DIR}/resources/man/orbiq-update.1.in ${_page} @ONLY)
    vrexa_gzip_command(_gzip ${_page})
    add_custom_command(
      OUTPUT ${_page}.gz
      ${_gzip}
      DEPENDS ${_page}
      COMMENT "Compressing the manual page of orbiq-update")
    list(APPEND _vrexa_doc_outputs ${_page}.gz)
    install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  # The desktop entry and the icon theme the updater's build draws; a build
  # that does not make them installs the program alone.
  if(DEFINED VREXA_DESKTOP_ENTRY)
    install(FILES ${VREXA_DESKTOP_ENTRY} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  endif()
  if(DEFINED VREXA_ICON_THEME_DIR)
    install(DIRECTORY ${VREXA_ICON_THEME_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
  endif()
endif()

# The copyright statement and the changelog every Debian package carries.
if(VREXA_GZIP)
  set(_doc_dir ${CMAKE_BINARY_DIR}/share/doc/vrexa)
  configure_file(${CMAKE_SOURCE_DIR}/resources/debian/changelog.in ${_doc_dir}/changelog @ONLY)
  vrexa_gzip_command(_gzip ${_doc_dir}/changelog)
  add_custom_command(
    OUTPUT ${_doc_dir}/changelog.gz
    ${_gzip}
    DEPENDS ${_doc_dir}/changelog
    COMMENT "Compressing the changelog")
  list(APPEND _vrexa_doc_outputs ${_doc_dir}/changelog.gz)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/debian/copyright ${_doc_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

add_custom_target(vrexa-install-files ALL DEPENDS ${_vrexa_doc_outputs})
