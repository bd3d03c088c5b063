# What Debian asks of every package besides its files: a copyright file and
# a changelog (gzip -n, so builds repeat) in /usr/share/doc/PACKAGE.
#   mivo_package_docs(PACKAGE COMPONENT COPYRIGHT_FILE)
find_program(GZIP gzip REQUIRED)
set(mivo_changelog ${PROJECT_BINARY_DIR}/debian/changelog)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${mivo_changelog} @ONLY)
add_custom_command(OUTPUT ${mivo_changelog}.gz
  COMMAND ${GZIP} -9nkf ${mivo_changelog}
  DEPENDS ${mivo_changelog} VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${mivo_changelog}.gz)

function(mivo_package_docs package component copyright)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  install(FILES ${copyright} DESTINATION ${docdir} RENAME copyright COMPONENT ${component})
  install(FILES ${mivo_changelog}.gz DESTINATION ${docdir} RENAME changelog.gz
          COMPONENT ${component})
endfunction()
