# Read by cpack before it makes a package (CPACK_PROJECT_CONFIG_FILE). For the Debian package it
# adds to the Depends field the Debian packages of the shared libraries the programs and their
# private libraries link, as dpkg-shlibdeps names them. cpack's own dependency scan would do the
# same, but it also writes postinst and postrm scripts that run ldconfig for any library one
# folder below /usr/lib; ours, in /usr/lib/brulin/, are found through the programs' run path
# and need no ldconfig.
#   BRULIN_DEB_ELF_FILES      the programs and libraries the package installs (build tree)
#   BRULIN_DEB_PRIVATE_DIRS   where dpkg-shlibdeps finds the private libraries
#   BRULIN_DEB_WORK_DIR       a scratch folder for dpkg-shlibdeps
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(BRULIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT BRULIN_DPKG_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps is needed to name the package's dependencies (package dpkg-dev)")
endif()
# dpkg-shlibdeps wants a debian/control beside it; an empty one does.
file(MAKE_DIRECTORY ${BRULIN_DEB_WORK_DIR}/debian)
file(WRITE ${BRULIN_DEB_WORK_DIR}/debian/control "")
set(search)
foreach(dir IN LISTS BRULIN_DEB_PRIVATE_DIRS)
  list(APPEND search "-l${dir}")
endforeach()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${BRULIN_DPKG_SHLIBDEPS} ${search} --ignore-missing-info -O ${BRULIN_DEB_ELF_FILES}
  WORKING_DIRECTORY ${BRULIN_DEB_WORK_DIR}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR NOT out MATCHES "^shlibs:Depends=(.+)$")
  message(FATAL_ERROR "dpkg-shlibdeps failed (${status}): ${err}")
endif()
if(CPACK_DEBIAN_PACKAGE_DEPENDS)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${CMAKE_MATCH_1}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
endif()
